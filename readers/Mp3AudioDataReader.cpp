#include "Mp3AudioDataReader.h"

#include <cstdlib>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ASTSignal.h"
#include "ClaimedBlock.h"

namespace {

const uint32_t kMagicId3 = 0x494433;  // "ID3"
const uint16_t kSyncWord = 0x7FF;

// Indexed by version * 4 + samplingFrequencyIndex; -1 where the combination is reserved.
const int32_t kSampleRates[16] = {
    11025, 12000, 8000,  -1,  // MPEG 2.5
    -1,    -1,    -1,    -1,  // reserved
    22050, 24000, 16000, -1,  // MPEG-2
    44100, 48000, 32000, -1,  // MPEG-1
};

// Indexed by version * 4 + layer (layer 1 is Layer III, 3 is Layer I).
const int16_t kSamplesPerFrame[16] = {
    -1, 576, 1152, 384, -1, -1, -1, -1, -1, 576, 1152, 384, -1, 1152, 1152, 384,
};

// kbit/s for bitRateIndex 1 to 14: MPEG-1 by layer, then the low-sampling-frequency rates of
// MPEG-2, which MPEG 2.5 shares (Layers II and III in one column).
enum { V1_L1, V1_L2, V1_L3, LSF_L1, LSF_L23 };
const int16_t kBitRates[14][5] = {
    {32, 32, 32, 32, 8},       {64, 48, 40, 48, 16},      {96, 56, 48, 56, 24},      {128, 64, 56, 64, 32},
    {160, 80, 64, 80, 40},     {192, 96, 80, 96, 48},     {224, 112, 96, 112, 56},   {256, 128, 112, 128, 64},
    {288, 160, 128, 144, 80},  {320, 192, 160, 160, 96},  {352, 224, 192, 176, 112}, {384, 256, 224, 192, 128},
    {416, 320, 256, 224, 144}, {448, 384, 320, 256, 160},
};

// 0 for free format, -1 for index 15, a reserved version or a reserved layer.
int32_t bitRate(uint32_t index, uint32_t version, uint32_t layer) {
    if (index == 0) return 0;
    if (index > 14 || version == 1 || version > 3 || layer == 0 || layer > 3) return -1;
    if (version == 3) return kBitRates[index - 1][layer == 3 ? V1_L1 : layer == 2 ? V1_L2 : V1_L3];
    return kBitRates[index - 1][layer == 3 ? LSF_L1 : LSF_L23];
}

// The frame's length in bytes; 3 or less when the header gives none.
int32_t frameLength(uint32_t version, uint32_t layer, uint32_t bitRateIndex, int32_t frequency, uint32_t padding) {
    const int32_t rate = bitRate(bitRateIndex, version, layer);
    const int32_t samples = kSamplesPerFrame[(version & 3) * 4 + (layer & 3)];
    const int32_t p = static_cast<int32_t>(padding);
    if (frequency <= 0) return -1;
    if (layer == 3) return 4 * ((12 * rate * 1000) / frequency + p);  // counted in 4-byte slots
    return ((rate * samples * 1000) >> 3) / frequency + p;
}

// For the search: a header of a known version, layer, rate and bit rate (no free format), keyed
// by the version, layer and rate, which every frame of a stream repeats.
int32_t probeFrame(const uint8_t* p, size_t, uint32_t* key) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    ByteCursor c(p, 4);
    c.bits(11);  // syncWord
    const uint32_t version = c.bits(2);
    const uint32_t layer = c.bits(2);
    c.bits(1);  // errorProtection
    const uint32_t bitRateIndex = c.bits(4);
    const uint32_t rateIndex = c.bits(2);
    const uint32_t padding = c.bits(1);
    if (bitRateIndex == 0) return 0;
    const int32_t length = frameLength(version, layer, bitRateIndex, kSampleRates[version * 4 + rateIndex], padding);
    *key = version << 4 | layer << 2 | rateIndex;
    return length > 3 ? length : 0;
}

const FrameSync kMp3Sync = {"MP3", 4, probeFrame};

// What every frame of a free-format stream repeats: sync, version, layer, bit-rate index, rate,
// and one channel or two (encoders switch between stereo modes).
uint32_t freeKey(uint32_t header) { return (header & 0xFFFEFC00) | ((header >> 6 & 3) == 3 ? 1 : 0); }
// The longest free-format frame looked for: far above any bit rate encoders write.
const int32_t kMaxFreeFrame = 8192;
const int32_t kMinFreeFrame = 16;

// Frame ids whose text is shown, three characters each for ID3v2.2, four for later versions.
const char kFrameIdsV22[] =
    "BUFCNTCOMCRACRMETCEQUGEOIPLLNKMCIMLLPICPOPREVRVASLTSTCTALTBPTCMTCOTCRTDATDYTENTFTTIMTKETLATLETMT"
    "TOATOFTOLTORTOTTP1TP2TP3TP4TPATPBTRCTRDTRKTSITSSTT1TT2TT3TXTTXXTYEUFIULTWAFWARWASWCMWCPWPBWXX";
const char kFrameIds[] =
    "AENCAPICCOMMCOMRENCREQUAETCOGEOBGRIDIPLSLINKMCDIMLLTOWNEPRIVPCNTPOPMPOSSRBUFRVADRVRBSYLTSYTCTALB"
    "TBPMTCOMTCONTCOPTDATTDLYTENCTEXTTFLTTIMETIT1TIT2TIT3TKEYTLANTLENTMEDTOALTOFNTOLYTOPETORYTOWNTPE1"
    "TPE2TPE3TPE4TPOSTPUBTRCKTRDATRSNTRSOTSIZTSRCTSSETYERTXXXUFIDUSERUSLTWCOMWCOPWOAFWOARWOASWORSWPAY"
    "WPUBWXXXASPIEQU2RVA2SEEKSIGNTDENTDORTDRCTDRLTDTGTIPLTMCLTMOOTPROTSOATSOPTSOTTSST";

// The id is compared as a big-endian word; three-character ids carry a zero last byte.
bool isKnownFrameId(uint32_t tagId, bool v22) {
    const char* ids = v22 ? kFrameIdsV22 : kFrameIds;
    const size_t width = v22 ? 3 : 4;
    const size_t count = (v22 ? sizeof(kFrameIdsV22) : sizeof(kFrameIds)) / width;
    for (size_t i = 0; i < count; ++i) {
        uint32_t known = 0;
        for (size_t c = 0; c < 4; ++c) known = known << 8 | (c < width ? static_cast<uint8_t>(ids[i * width + c]) : 0);
        if (known == tagId) return true;
    }
    return false;
}

}  // namespace

Mp3AudioDataReader::Mp3AudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int64_t Mp3AudioDataReader::parseHeaders() {
    int64_t position = 0;
    bool found;
    if (!parseId3v2Header()) {
        astLog("[AST][INF]Found no ID3V2 header, treat as raw data frame.\n");
        found = seekAndParse(position);
    } else {
        int32_t walked = walkId3v2Frames();
        if (walked < 0) return -1;
        position = walked + 10;
        found = seekAndParse(position);
        if (!found) {
            // Padding behind the last frame: the audio starts where the tag says it ends.
            astLog("[AST][INF]Skip fill bytes to find first data frame.\n");
            position = static_cast<int64_t>(mId3v2.headerSize) + 10;
            found = seekAndParse(position);
        }
    }
    if (!found) {
        // Junk where the audio should start.
        position = mSearch.resynchronise(*mAccess, position, kMp3Sync);
        if (position < 0 || !parseMp3DataFrameHeader()) return -1;
    }
    printSummary("parseMp3DataFrameHeader");

    // The ID3v1 tag, when there is one, is described after the stream. A pipe has no end to
    // look at: its tag, if any, ends the stream as bytes that are no frame.
    if (fileLength() < 0) return position;
    if (!seekTo(-128, 2)) return -1;
    if (readFully(mId3v1, sizeof(mId3v1)) == static_cast<int32_t>(sizeof(mId3v1))) parseId3v1();
    return position;
}

void Mp3AudioDataReader::mapSampleRate(uint32_t index) {
    mInfo.sampleFrequency = static_cast<uint32_t>(index < 4 ? kSampleRates[mVersion * 4 + index] : -1);
}

void Mp3AudioDataReader::mapChannel(uint8_t mode) { mInfo.channelMap = mode < 3 ? 2 : (mode == 3 ? 1 : 0); }

int32_t Mp3AudioDataReader::getFrameLength() {
    if (mBitRateIndex == 0) {
        if (mFreeLength == 0 || freeKey(headerWord()) != mFreeKey) return 0;
        return mFreeLength + mPadding * (mLayer == 3 ? 4 : 1);
    }
    return frameLength(mVersion, mLayer, mBitRateIndex, static_cast<int32_t>(mInfo.sampleFrequency), mPadding);
}

FrameBuffer* Mp3AudioDataReader::readFrame() {
    mFrame.length = 0;
    const int32_t length = nextFrameLength();
    if (length <= 3) return &mFrame;
    if (!mFrame.reserve(length) || mFrame.capacity < length) return &mFrame;
    memcpy(mFrame.data, mFrameHeader, sizeof(mFrameHeader));
    const int32_t body = length - 4;
    const int32_t got = readFully(mFrame.data + 4, body);
    if (got == body)
        mFrame.length = length;
    else if (got >= 0 && mAccess->isEof())
        mFrame.length = got + 4;  // the truncated last frame still goes out
    return &mFrame;
}

int32_t Mp3AudioDataReader::nextFrameLength() {
    const int64_t at = mAccess->tell();
    bool parsed = parseMp3DataFrameHeader();
    if (parsed && mBitRateIndex == 0 && at >= 0 && getFrameLength() == 0) findFreeFormatLength(at);
    int32_t length = parsed ? getFrameLength() : 0;
    if (parsed && length <= 3) astLog("[AST][ERR]Invalid frame length(%d).\n", length);
    if ((!parsed || length <= 3) && at >= 0 && mSearch.resynchronise(*mAccess, at, kMp3Sync) >= 0) {
        parsed = parseMp3DataFrameHeader();
        length = parsed ? getFrameLength() : 0;
    }
    mInvalid = !parsed;
    if (!parsed) astLog("[AST][ERR]Failed to parse MP3 data frame header.\n");
    return parsed ? length : 0;
}

bool Mp3AudioDataReader::parseMp3DataFrameHeader() {
    if (readFully(mFrameHeader, sizeof(mFrameHeader)) != static_cast<int32_t>(sizeof(mFrameHeader))) return false;

    ByteCursor c(mFrameHeader, sizeof(mFrameHeader));
    const uint32_t syncWord = c.bits(11);
    mVersion = c.bits(2);
    mLayer = c.bits(2);
    c.bits(1);  // errorProtection
    mBitRateIndex = static_cast<uint8_t>(c.bits(4));
    const uint32_t samplingFrequencyIndex = c.bits(2);
    mPadding = static_cast<uint8_t>(c.bits(1));
    c.bits(1);  // the private bit
    const uint32_t mode = c.bits(2);

    if (syncWord != kSyncWord) {
        astLog("[AST][INF]MP3 file sync word mismatch(%03X != %03X).\n", syncWord, kSyncWord);
        return false;
    }
    mapSampleRate(samplingFrequencyIndex);
    mapChannel(static_cast<uint8_t>(mode));
    mInfo.mpeg.layer = mLayer == 2 ? 1 : (mLayer == 3 ? 0 : 2);
    if (mInfo.channelMap != 0 && static_cast<int32_t>(mInfo.sampleFrequency) >= 0) return true;
    astLog("[AST][ERR]Failed to map channel and sample rate.\n");
    return false;
}

uint32_t Mp3AudioDataReader::headerWord() const {
    return uint32_t(mFrameHeader[0]) << 24 | uint32_t(mFrameHeader[1]) << 16 | uint32_t(mFrameHeader[2]) << 8 |
           mFrameHeader[3];
}

void Mp3AudioDataReader::findFreeFormatLength(int64_t at) {
    const uint32_t key = freeKey(headerWord());
    const int32_t slot = mLayer == 3 ? 4 : 1;
    // A frame, the next and the header of the third.
    mFreeWindow.resize(size_t(2 * (kMaxFreeFrame + slot) + 4));
    // Read quietly: a short stream ends inside the window.
    const int32_t n = seekTo(at) ? mAccess->read(mFreeWindow.data(), int32_t(mFreeWindow.size())) : -1;
    const bool atEnd = n >= 0 && n < int32_t(mFreeWindow.size());
    auto matches = [&](int32_t i) {
        const uint8_t* p = mFreeWindow.data() + i;
        return freeKey(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
    };
    auto padding = [&](int32_t i) { return (mFreeWindow[size_t(i) + 2] >> 1 & 1) * slot; };
    for (int32_t d = kMinFreeFrame; d <= kMaxFreeFrame + slot && d + 4 <= n; ++d) {
        if (matches(d) != key) continue;
        const int32_t length = d - padding(0);
        const int32_t third = d + length + padding(d);
        const bool confirmed = third + 4 <= n ? matches(third) == key : atEnd && third >= n;
        if (length < kMinFreeFrame || !confirmed) continue;
        mFreeLength = length;
        mFreeKey = key;
        astLog("[AST][WRN]Free-format MP3 stream, frame length %d bytes found.\n", length);
        break;
    }
    seekTo(at + 4);
}

bool Mp3AudioDataReader::parseId3v2Header() {
    uint8_t header[10];
    if (readFully(header, sizeof(header)) != static_cast<int32_t>(sizeof(header))) return false;

    ByteCursor c(header, sizeof(header));
    const uint32_t magic = c.be(3);
    if (magic != kMagicId3) {
        astLog("[AST][INF]MP3 file magic(ID3) mismatch(%08X != %08X).\n", magic, kMagicId3);
        return false;
    }
    mId3v2.majorVersion = static_cast<uint8_t>(c.be(1));
    mId3v2.revision = static_cast<uint8_t>(c.be(1));
    c.skip(1);  // flags
    // Synchsafe: seven bits a byte.
    mId3v2.headerSize = 0;
    for (int i = 0; i < 4; ++i) mId3v2.headerSize = mId3v2.headerSize << 7 | (c.be(1) & 0x7F);
    astLog("[AST][INF]Version: ID3V2.%d.%d headerSize=%d\n", mId3v2.majorVersion, mId3v2.revision,
           static_cast<int32_t>(mId3v2.headerSize));
    return true;
}

int32_t Mp3AudioDataReader::walkId3v2Frames() {
    const bool v22 = mId3v2.majorVersion == 2;
    const int32_t headerLength = v22 ? 6 : 10;
    uint32_t consumed = 0;
    for (;;) {
        uint8_t header[10];
        if (readFully(header, headerLength) != headerLength) break;

        ByteCursor c(header, static_cast<size_t>(headerLength));
        const uint32_t tagId = c.be(4);
        // The id word holds the first of the three size bytes, so only sizes below 64 KiB match.
        const int32_t size = static_cast<int32_t>(v22 ? c.be(2) : c.be(4));
        // An unknown id is how the padding behind the last frame ends the walk.
        if (!isKnownFrameId(tagId, v22)) break;
        if (size < 1) break;

        ByteCursor text = readClaimed(size);
        AST_ASSERT(text.holds(), "walkId3v2Frames", __LINE__, "Mp3AudioDataReader",
                   "int32_t Mp3AudioDataReader::walkId3v2Frames()");
        if (!text.ok()) break;
        char title[5] = {};
        memcpy(title, header, v22 ? 3 : 4);
        printText(title, text.data(), static_cast<uint32_t>(size));
        consumed += static_cast<uint32_t>(headerLength + size);
    }
    return static_cast<int32_t>(consumed);
}

bool Mp3AudioDataReader::seekAndParse(int64_t position) {
    if (!seekTo(position)) return false;
    return parseMp3DataFrameHeader();
}

void Mp3AudioDataReader::parseId3v1() {
    if (memcmp(mId3v1, "TAG", 3) != 0) {
        astLog("[AST][ERR]Mismatched 'TAG' chunk:%s\n",
               escapeText(reinterpret_cast<const char*>(mId3v1), 3, true).c_str());
        return;
    }
    static const struct {
        const char* name;
        int offset;
        int width;
    } kTexts[] = {{"title", 3, 30}, {"artist", 33, 30}, {"album", 63, 30}, {"year", 93, 4}, {"comment", 97, 28}};
    for (const auto& t : kTexts) {
        const char* text = reinterpret_cast<const char*>(mId3v1 + t.offset);
        astLog("[AST][INF]ID3V1, %s:%.*s\n", t.name, static_cast<int>(strnlen(text, static_cast<size_t>(t.width))),
               text);
    }
    astLog("[AST][INF]ID3V1, track:%d\n", mId3v1[126]);
    astLog("[AST][INF]ID3V1, genre:%d\n", mId3v1[127]);
}
