// AC-3 and E-AC-3 elementary streams: one sync frame per unit, sized from its fixed header.
#pragma once

#include "AudioDataReader.h"
#include "FrameSearch.h"

class EacAudioDataReader : public AudioDataReader {
public:
    explicit EacAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

protected:
    int64_t parseHeaders() override;
    void mapSampleRate(uint32_t value) override;
    int32_t getFrameLength() override;

private:
    // The length of the frame whose header is at the current position or, when that one does
    // not parse or gives no usable length, of the next confirmed one behind it; 0 at the end.
    int32_t nextFrameLength();
    // Reads and decodes the first 6 bytes of a sync frame at the current position.
    bool parseEacFixedHeader();

    uint8_t mFixedHeader[6] = {};
    bool mIsEac3 = false;
    uint8_t mSamplingFrequencyIndex = 0;
    uint8_t mFrameSizeIndex = 0;
    uint16_t mFrameSize = 0;
    FrameSearch mSearch;
};
