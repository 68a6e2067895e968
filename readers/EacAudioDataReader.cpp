#include "EacAudioDataReader.h"

#include "ASTDataAccess.h"
#include "ASTLog.h"

namespace {

const uint16_t kSyncWord = 0x0B77;
const int32_t kFixedHeaderLength = 6;

// AC-3 and E-AC-3 rates by index; E-AC-3 reaches 4 to 6 through its second rate field.
const int32_t kSampleRates[8] = {48000, 44100, 32000, -1, 24000, 22050, 16000, -1};

// AC-3 frame sizes in 16-bit words by frame size code and rate index (48, 44.1, 32 kHz,
// reserved), as ATSC A/52 tabulates them.
const int16_t kAc3FrameSizes[38][4] = {
    {64, 69, 96, -1},       {64, 70, 96, -1},       {80, 87, 120, -1},      {80, 88, 120, -1},
    {96, 104, 144, -1},     {96, 105, 144, -1},     {112, 121, 168, -1},    {112, 122, 168, -1},
    {128, 139, 192, -1},    {128, 140, 192, -1},    {160, 174, 240, -1},    {160, 175, 240, -1},
    {192, 208, 288, -1},    {192, 209, 288, -1},    {224, 243, 336, -1},    {224, 244, 336, -1},
    {256, 278, 384, -1},    {256, 279, 384, -1},    {320, 348, 480, -1},    {320, 349, 480, -1},
    {384, 417, 576, -1},    {384, 418, 576, -1},    {448, 487, 672, -1},    {448, 488, 672, -1},
    {512, 557, 768, -1},    {512, 558, 768, -1},    {640, 696, 960, -1},    {640, 697, 960, -1},
    {768, 835, 1152, -1},   {768, 836, 1152, -1},   {896, 975, 1344, -1},   {896, 976, 1344, -1},
    {1024, 1114, 1536, -1}, {1024, 1115, 1536, -1}, {1152, 1253, 1728, -1}, {1152, 1254, 1728, -1},
    {1280, 1393, 1920, -1}, {1280, 1394, 1920, -1},
};

}  // namespace

EacAudioDataReader::EacAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int32_t EacAudioDataReader::parseHeaders() { return parseEacFixedHeader() ? 0 : -1; }

void EacAudioDataReader::mapSampleRate(uint32_t value) {
    mInfo.sampleFrequency = static_cast<uint32_t>(value < 8 ? kSampleRates[value] : -1);
}

int32_t EacAudioDataReader::getFrameLength() {
    if (mIsEac3) return (mFrameSize + 1) * 2;
    if (mFrameSizeIndex > 37) return -1;
    return 2 * kAc3FrameSizes[mFrameSizeIndex][mSamplingFrequencyIndex];
}

bool EacAudioDataReader::parseEacFixedHeader() {
    if (readFully(mFixedHeader, kFixedHeaderLength) != kFixedHeaderLength) return false;

    // The identifier decides how the rest of the header reads, so it is looked at first.
    mBitStreamId = mFixedHeader[5] >> 3;
    if (mBitStreamId == 9 || mBitStreamId == 10 || mBitStreamId > 16) {
        astLog("[AST][ERR]EAC file bit stream id error(bitStreamId=%d).\n", mBitStreamId);
        return false;
    }
    mIsEac3 = mBitStreamId > 10;

    ByteCursor c(mFixedHeader, kFixedHeaderLength);
    const uint32_t syncWord = c.bits(16);
    if (syncWord != kSyncWord) {
        astLog("[AST][ERR]EC3 file sync word error(syncWord=%03X).\n", syncWord);
        return false;
    }

    uint32_t rateIndex;
    if (mIsEac3) {
        c.bits(5);  // streamType, subStreamId
        mFrameSize = static_cast<uint16_t>(c.bits(11));
        mSamplingFrequencyIndex = static_cast<uint8_t>(c.bits(2));
        // numberBlockIndex, or the second rate field when the first says so
        const uint32_t second = c.bits(2);
        rateIndex = mSamplingFrequencyIndex == 3 ? second + 4u : mSamplingFrequencyIndex;
    } else {
        c.bits(16);  // crc1
        mSamplingFrequencyIndex = static_cast<uint8_t>(c.bits(2));
        mFrameSizeIndex = static_cast<uint8_t>(c.bits(6));
        rateIndex = mSamplingFrequencyIndex;
    }
    mapSampleRate(rateIndex);
    return true;
}

FrameBuffer* EacAudioDataReader::readFrame() {
    mFrame.length = 0;
    mInvalid = !parseEacFixedHeader();
    if (mInvalid) {
        astLog("[AST][ERR]Failed to parse EAC fixed header.\n");
        return &mFrame;
    }
    int32_t length = getFrameLength();
    if (length <= 5) {
        astLog("[AST][ERR]Invalid frame length(%d).\n", length);
        return &mFrame;
    }
    // At most 4096 bytes, whatever the header says, so no bound by the file is needed.
    if (!mFrame.reserve(length) || mFrame.capacity < length) return &mFrame;
    for (int32_t i = 0; i < kFixedHeaderLength; ++i) mFrame.data[i] = mFixedHeader[i];
    int32_t body = length - kFixedHeaderLength;
    int32_t got = readFully(mFrame.data + kFixedHeaderLength, body);
    if (got == body)
        mFrame.length = length;
    else if (mAccess->isEof())
        mFrame.length = (got > 0 ? got : 0) + kFixedHeaderLength;
    return &mFrame;
}
