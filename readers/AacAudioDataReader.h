// AAC elementary streams in ADTS or LOAS/LATM framing, chosen once from the first bytes;
// one whole frame, header included, per call.
#pragma once

#include "AudioDataReader.h"
#include "FrameSearch.h"

class AacAudioDataReader : public AudioDataReader {
public:
    explicit AacAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

protected:
    int64_t parseHeaders() override;
    void describe() override;
    void mapSampleRate(uint32_t index) override;

private:
    enum : uint32_t { VARIANT_ADTS = 1, VARIANT_LOAS = 2 };

    // The length of the frame whose header is at the current position or, when that one does
    // not parse or gives no usable length, of the next confirmed one behind it; 0 at the end.
    int32_t nextFrameLength();
    bool parseAdtsHeader();
    bool parseLoasHeader();
    bool parseStreamMuxConfig(ByteCursor& c);

    uint8_t mHeader[7] = {};
    uint16_t mFrameLength = 0;  // ADTS: the whole frame
    uint16_t mAudioMuxLength = 0;
    uint32_t mSamplingFrequency = 0;  // explicit, for samplingFrequencyIndex 15
    uint32_t mVariant = VARIANT_ADTS;
    FrameSearch mSearch;
};
