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

bool knownBitStreamId(uint8_t id) { return id <= 8 || (id >= 11 && id <= 16); }

// The frame's length in bytes: E-AC-3 carries it, AC-3 takes it from the table.
int32_t frameLength(bool isEac3, uint16_t frameSize, uint8_t frameSizeIndex, uint8_t samplingFrequencyIndex) {
    if (isEac3) return (frameSize + 1) * 2;
    if (frameSizeIndex > 37) return -1;
    return 2 * kAc3FrameSizes[frameSizeIndex][samplingFrequencyIndex & 3];
}

// For the search: a known kind with a rate and a length beyond the fixed header, keyed by the
// rate (AC-3 and E-AC-3 frames of one programme may follow each other).
int32_t probeFrame(const uint8_t* p, size_t, uint32_t* key) {
    if (p[0] != 0x0B || p[1] != 0x77) return 0;
    const uint8_t id = p[5] >> 3;
    if (!knownBitStreamId(id)) return 0;
    const bool isEac3 = id > 10;
    const uint8_t rateIndex = p[4] >> 6;
    const uint32_t rate = rateIndex == 3 && isEac3 ? 4u + (p[4] >> 4 & 3) : rateIndex;
    const int32_t length = frameLength(isEac3, static_cast<uint16_t>((p[2] & 7) << 8 | p[3]), p[4] & 0x3F, rateIndex);
    if (kSampleRates[rate] < 0 || length <= kFixedHeaderLength) return 0;
    *key = rate;
    return length;
}

const FrameSync kEacSync = {"EAC", kFixedHeaderLength, probeFrame};

}  // namespace

EacAudioDataReader::EacAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int64_t EacAudioDataReader::parseHeaders() {
    if (parseEacFixedHeader()) return 0;
    // Junk where the stream should start.
    const int64_t first = mSearch.resynchronise(*mAccess, 0, kEacSync);
    return first >= 0 && parseEacFixedHeader() ? first : -1;
}

void EacAudioDataReader::mapSampleRate(uint32_t value) {
    mInfo.sampleFrequency = static_cast<uint32_t>(value < 8 ? kSampleRates[value] : -1);
}

int32_t EacAudioDataReader::getFrameLength() {
    return frameLength(mIsEac3, mFrameSize, mFrameSizeIndex, mSamplingFrequencyIndex);
}

bool EacAudioDataReader::parseEacFixedHeader() {
    if (readFully(mFixedHeader, kFixedHeaderLength) != kFixedHeaderLength) return false;

    // The identifier decides how the rest of the header reads, so it is looked at first.
    const uint8_t bitStreamId = mFixedHeader[5] >> 3;
    if (!knownBitStreamId(bitStreamId)) {
        astLog("[AST][ERR]EAC file bit stream id error(bitStreamId=%d).\n", bitStreamId);
        return false;
    }
    mIsEac3 = bitStreamId > 10;

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

int32_t EacAudioDataReader::nextFrameLength() {
    const int64_t at = mAccess->tell();
    bool parsed = parseEacFixedHeader();
    int32_t length = parsed ? getFrameLength() : 0;
    if (parsed && length <= 5) astLog("[AST][ERR]Invalid frame length(%d).\n", length);
    if ((!parsed || length <= 5) && at >= 0 && mSearch.resynchronise(*mAccess, at, kEacSync) >= 0) {
        parsed = parseEacFixedHeader();
        length = parsed ? getFrameLength() : 0;
    }
    mInvalid = !parsed;
    if (!parsed) astLog("[AST][ERR]Failed to parse EAC fixed header.\n");
    return parsed ? length : 0;
}

FrameBuffer* EacAudioDataReader::readFrame() {
    mFrame.length = 0;
    const int32_t length = nextFrameLength();
    if (length <= 5) return &mFrame;
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
