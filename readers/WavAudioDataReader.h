// WAV files and headerless PCM (described by the command line), in frames of a fixed duration.
#pragma once

#include "AudioDataReader.h"

class WavAudioDataReader : public AudioDataReader {
public:
    WavAudioDataReader(const char* path, const AudioInfo* rawPcmInfo, uint32_t frameDurationMs);

    int32_t getFrameLength() override;
    FrameBuffer* readFrame() override;

    // Header length (above 0) or -1.
    int32_t parseWavHeader();

private:
    uint32_t mRiffSize = 0;
    uint32_t mFormatSize = 0;
    uint16_t mCompressionCode = 0;
    uint16_t mNumChannels = 0;
    uint32_t mSampleRate = 0;
    uint32_t mBytesPerSecond = 0;
    uint16_t mBlockAlign = 0;
    uint16_t mBitsPerSample = 0;
    uint32_t mDataSize = 0;
    uint32_t mFrameDurationMs = 0;
};
