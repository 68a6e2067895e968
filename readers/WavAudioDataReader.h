// WAV files and headerless PCM (described by the command line), in frames of a fixed duration.
#pragma once

#include "AudioDataReader.h"

class WavAudioDataReader : public AudioDataReader {
public:
    WavAudioDataReader(const char* path, const AudioInfo* rawPcmInfo, uint32_t frameDurationMs);

    FrameBuffer* readFrame() override;

protected:
    int32_t parseHeaders() override;
    void describe() override;
    int32_t getFrameLength() override;

private:
    // Header length (above 0) or -1.
    int32_t parseWavHeader();

    AudioInfo mRawPcmInfo;
    uint32_t mFrameDurationMs;
    int32_t mHeaderLength = 0;
};
