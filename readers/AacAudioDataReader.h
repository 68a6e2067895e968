// AAC elementary streams in ADTS or LOAS/LATM framing, chosen once from the first bytes;
// one whole frame, header included, per call.
#pragma once

#include "AudioDataReader.h"

class AacAudioDataReader : public AudioDataReader {
public:
    enum Variant : uint32_t { VARIANT_ADTS = 1, VARIANT_LOAS = 2 };

    explicit AacAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

    Variant variant() const { return static_cast<Variant>(mVariant); }

protected:
    int32_t parseHeaders() override;
    void describe() override;
    void mapSampleRate(uint32_t index) override;

private:
    bool parseAdtsHeader();
    bool parseLoasHeader();
    bool parseStreamMuxConfig(const uint8_t* data, int32_t length);

    uint8_t mHeader[7] = {};

    struct {
        uint16_t syncWord;
        bool id;
        uint8_t layer;
        bool protectionAbsent;
        uint8_t profile;
        uint8_t samplingFrequencyIndex;
        bool reserved;
        uint8_t channelConfiguration;
        bool originalCopy;
        bool home;
        bool copyrightIdentificationBit;
        bool copyrightIdentificationStart;
        uint16_t frameLength;
        uint16_t adtsBufferFullness;
        uint8_t numberOfRawDataBlocksInFrame;
    } mAdts = {};

    uint16_t mLoasSyncWord = 0;
    uint16_t mAudioMuxLength = 0;

    struct {
        uint8_t useSameStreamMux;
        uint8_t audioMuxVersion;
        uint8_t audioMuxVersionA;
        uint8_t taraBytesForValue;
        uint8_t taraBytes[4];
        uint8_t allStreamsSameTimeFraming;
        uint8_t numSubFrames;
        uint8_t numProgram;
        uint8_t numberLayer;
        uint8_t ascLenBytesForValue;
        uint8_t ascLenBytes[4];
    } mMuxConfig = {};

    uint32_t mAudioObjectType = 0;
    uint32_t mSamplingFrequencyIndex = 0;
    uint32_t mSamplingFrequency = 0;
    uint32_t mChannelConfiguration = 0;
    uint32_t mVariant = VARIANT_ADTS;
};
