// PCM to a file, raw or behind a 44-byte WAV header whose sizes are completed at the end.
#pragma once

#include "AudioDataWriter.h"

class WavAudioDataWriter : public AudioDataWriter {
public:
    WavAudioDataWriter(const char* path, const AudioInfo* info, bool isWav);
    ~WavAudioDataWriter() override;

    int32_t write(const FrameBuffer* frame) override;
    // Completes the WAV header (with isWav) for the bytes written.
    bool finish() override;

private:
    bool completeHeader();
    bool completeHeaderField(int32_t offset, uint32_t value);

    bool mIsWav;
    bool mGuarded = false;  // a fatal signal completes the header
    bool mFinished = false;
    bool mCompleted = false;
};
