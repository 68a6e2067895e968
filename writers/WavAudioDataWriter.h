// PCM to a file, raw or behind a WAV header whose sizes are completed at the end: 44 bytes, or
// 80 with room for the ds64 chunk that an output past 4 GiB needs (it then becomes RF64).
#pragma once

#include "AudioDataWriter.h"

class WavAudioDataWriter : public AudioDataWriter {
public:
    WavAudioDataWriter(const char* path, const AudioInfo* info, bool isWav, bool roomForRf64 = false);
    ~WavAudioDataWriter() override;

    int32_t write(const FrameBuffer* frame) override;
    // Completes the WAV header (with isWav) for the bytes written, and closes the file.
    bool finish() override;

private:
    bool completeHeader();

    bool mIsWav;
    int32_t mHeaderLength;
    uint32_t mBlockAlign = 0;
    bool mGuarded = false;  // a fatal signal completes the header
    bool mFinished = false;
    bool mCompleted = false;
};
