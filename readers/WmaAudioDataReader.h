// WMA (codec 0x161) in ASF: one payload per frame, behind the 8-byte frame prefix the
// platform decoder takes. Fixed-layout packets only; compressed payloads are refused.
#pragma once

#include <memory>

#include "AudioDataReader.h"

// What the tool hands on of the audio stream's WAVE format record; the last two fields only for
// codec 0x161.
struct WmaStreamFormat {
    uint32_t codecId = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSecond = 0;
    uint32_t avgBytesPerSecond = 0;
    uint16_t blockAlignment = 0;
    uint16_t bitsPerSample = 0;
    uint32_t samplesPerBlock = 0;
    uint16_t encodeOptions = 0;
};

class WmaAudioDataReader : public AudioDataReader {
public:
    explicit WmaAudioDataReader(const char* path);

    FrameBuffer* readFrame() override;

protected:
    int64_t parseHeaders() override;
    int32_t getFrameLength() override;

private:
    // Size of the Header Object, or -1.
    int32_t parseHeaderObject();
    // False when the object is too short for the fields it announces.
    bool parseStreamProperties(ByteCursor& object);
    // 50, or -1.
    int32_t parseDataObjectHeader();
    // Header bytes consumed before the next payload's data, or -1.
    int32_t nextPayload();
    int32_t parsePayloadHeader();

    bool multiplePayloads() const { return (mLengthTypeFlags & 0x01) != 0; }
    uint8_t packetLengthType() const { return (mLengthTypeFlags >> 5) & 0x03; }

    int32_t mRemainingPackets = 0;
    std::unique_ptr<WmaStreamFormat> mFormat;
    uint8_t mLengthTypeFlags = 0;
    uint32_t mPaddingLength = 0;
    uint32_t mMediaObjectNumber = 0;
    uint32_t mReplicatedDataLength = 0;
    int32_t mPayloadsLeft = 0;
    uint8_t mFramePrefix[8] = {0x55, 0x55, 0xAA, 0xAA, 0, 0, 0, 0};
};
