#include "AacAudioDataReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ASTSignal.h"
#include "ClaimedBlock.h"

namespace {

const uint32_t kAdtsSyncWord = 0xFFF;
const uint32_t kLoasSyncWord = 0x2B7;
const int32_t kAdtsHeaderLength = 7;
const int32_t kLoasHeaderLength = 3;
const int32_t kLongestFrame = 8191 + kLoasHeaderLength;

// Indexed by samplingFrequencyIndex; 15 is the escape to an explicit frequency.
const uint32_t kSampleRates[15] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                   16000, 12000, 11025, 8000,  7350,  0,     0};

// The StreamMuxConfig fields the reader uses; only the first program's first layer is read. A
// payload too short for them reads zeros, which end nothing early; `complete` tells.
struct MuxConfig {
    uint32_t useSameStreamMux = 0, audioMuxVersionA = 0, numProgram = 0, numberLayer = 0;
    uint32_t samplingFrequencyIndex = 0, samplingFrequency = 0, channelConfiguration = 0;
    bool complete = false;
};

MuxConfig decodeMuxConfig(ByteCursor& c) {
    MuxConfig m;
    m.useSameStreamMux = c.bits(1);
    if (m.useSameStreamMux != 0) return m;
    const uint32_t audioMuxVersion = c.bits(1);
    if (audioMuxVersion == 1) {
        m.audioMuxVersionA = c.bits(1);
        if (m.audioMuxVersionA != 0) return m;
        c.bits(8 * (c.bits(2) + 1));  // taraBufferFullness
    }
    c.bits(7);  // allStreamsSameTimeFraming, numSubFrames
    m.numProgram = c.bits(4);
    m.numberLayer = c.bits(3);
    if (audioMuxVersion == 1) c.bits(8 * (c.bits(2) + 1));  // ascLen

    // AudioSpecificConfig
    if (c.bits(5) == 31) c.bits(6);  // audioObjectType, escaped
    m.samplingFrequencyIndex = c.bits(4);
    if (m.samplingFrequencyIndex == 15) m.samplingFrequency = c.bits(24);
    m.channelConfiguration = c.bits(4);
    m.complete = c.ok();
    return m;
}

// For the search: a header of layer 0 and a tabled rate whose length holds the header and its
// CRC, keyed by profile and rate.
int32_t probeAdts(const uint8_t* p, size_t, uint32_t* key) {
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return 0;
    ByteCursor c(p, kAdtsHeaderLength);
    c.bits(15);  // syncWord, id, layer
    const uint32_t protectionAbsent = c.bits(1);
    const uint32_t profile = c.bits(2);
    const uint32_t rateIndex = c.bits(4);
    c.bits(8);  // the private bit, channelConfiguration, originalCopy, home, copyright identification
    const int32_t length = static_cast<int32_t>(c.bits(13));
    if (rateIndex > 12 || length < kAdtsHeaderLength + (protectionAbsent ? 0 : 2)) return 0;
    *key = profile << 4 | rateIndex;
    return length;
}

// For the search: a sync layer with a payload. It carries nothing else to compare.
int32_t probeLoas(const uint8_t* p, size_t, uint32_t* key) {
    if (p[0] != 0x56 || (p[1] & 0xE0) != 0xE0) return 0;
    const int32_t muxLength = (p[1] & 0x1F) << 8 | p[2];
    *key = 0x100;
    return muxLength > 0 ? muxLength + kLoasHeaderLength : 0;
}

// Before the framing is known: either, each confirmed by its own kind.
int32_t probeEither(const uint8_t* p, size_t n, uint32_t* key) {
    const int32_t length = probeAdts(p, n, key);
    return length > 0 ? length : probeLoas(p, n, key);
}

// Where the stream starts, a LOAS frame must carry the config the reader takes, of one program
// and layer, a tabled rate and a channel configuration: an 11-bit sync word and a length are
// too little to tell a stream from other data.
int32_t probeStart(const uint8_t* p, size_t n, uint32_t* key) {
    int32_t length = probeAdts(p, n, key);
    if (length > 0) return length;
    length = probeLoas(p, n, key);
    if (length <= 0) return 0;
    ByteCursor c(p + kLoasHeaderLength, std::min(n, static_cast<size_t>(length)) - kLoasHeaderLength);
    const MuxConfig m = decodeMuxConfig(c);
    const bool usable = m.complete && m.numProgram == 0 && m.numberLayer == 0 && m.samplingFrequencyIndex <= 12 &&
                        m.channelConfiguration >= 1 && m.channelConfiguration <= 7;
    return usable ? length : 0;
}

const FrameSync kAdtsSync = {"AAC", kAdtsHeaderLength, probeAdts};
const FrameSync kLoasSync = {"AAC", kLoasHeaderLength, probeLoas};
const FrameSync kStartSync = {"AAC", kAdtsHeaderLength, probeStart, probeEither};

}  // namespace

AacAudioDataReader::AacAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int64_t AacAudioDataReader::parseHeaders() {
    if (readFully(mHeader, kAdtsHeaderLength) != kAdtsHeaderLength) return -1;

    int64_t first = 0;
    bool adts = parseAdtsHeader();
    if (!adts && !parseLoasHeader()) {
        // Junk where the stream should start: the first confirmed frame of either framing.
        first = mSearch.resynchronise(*mAccess, 0, kStartSync);
        if (first < 0 || readFully(mHeader, kAdtsHeaderLength) != kAdtsHeaderLength) return -1;
        adts = mHeader[0] == 0xFF;
        if (!(adts ? parseAdtsHeader() : parseLoasHeader())) return -1;
    }
    if (adts) {
        mVariant = VARIANT_ADTS;
        return first;
    }
    mVariant = VARIANT_LOAS;
    if (!seekTo(first + kLoasHeaderLength)) return -1;
    ByteCursor payload = readClaimed(mAudioMuxLength);
    AST_ASSERT(payload.holds(), "AacAudioDataReader", __LINE__, "AacAudioDataReader",
               "AacAudioDataReader::AacAudioDataReader(const char*)");
    if (!payload.ok() || !parseStreamMuxConfig(payload)) return -1;
    return first;
}

void AacAudioDataReader::describe() { printSummary("parseAacHeader"); }

void AacAudioDataReader::mapSampleRate(uint32_t index) {
    mInfo.sampleFrequency = index < 15 ? kSampleRates[index] : (index == 15 ? mSamplingFrequency : 0);
}

FrameBuffer* AacAudioDataReader::readFrame() {
    mFrame.length = 0;
    const int32_t headerLength = mVariant == VARIANT_ADTS ? kAdtsHeaderLength : kLoasHeaderLength;
    const int32_t length = nextFrameLength();
    if (length <= 0) return &mFrame;

    // Sized once for the longest frame either syntax can describe (13-bit lengths).
    if (!mFrame.reserve(kLongestFrame) || mFrame.capacity < length) return &mFrame;
    memcpy(mFrame.data, mHeader, static_cast<size_t>(headerLength));
    const int32_t body = length - headerLength;
    const int32_t got = readFully(mFrame.data + headerLength, body);
    if (got == body)
        mFrame.length = length;
    else if (got >= 0 && mAccess->isEof())
        mFrame.length = headerLength + got;  // the truncated last frame still goes out
    return &mFrame;
}

int32_t AacAudioDataReader::nextFrameLength() {
    const bool adts = mVariant == VARIANT_ADTS;
    const int32_t headerLength = adts ? kAdtsHeaderLength : kLoasHeaderLength;
    if (readFully(mHeader, headerLength) != headerLength) return 0;
    bool parsed = adts ? parseAdtsHeader() : parseLoasHeader();
    // Only an ADTS length can be shorter than its header.
    int32_t length = adts ? mFrameLength : mAudioMuxLength + kLoasHeaderLength;
    if (parsed && length < headerLength) astLog("[AST][ERR]Invalid frame length(%d).\n", length);
    if ((!parsed || length < headerLength) &&
        mSearch.resynchronise(*mAccess, mAccess->tell() - headerLength, adts ? kAdtsSync : kLoasSync) >= 0 &&
        readFully(mHeader, headerLength) == headerLength) {
        parsed = adts ? parseAdtsHeader() : parseLoasHeader();
        length = adts ? mFrameLength : mAudioMuxLength + kLoasHeaderLength;
    }
    mInvalid = !parsed;
    if (!parsed) astLog(adts ? "[AST][ERR]Failed to parse ADTS header.\n" : "[AST][ERR]Failed to parse LOAS header.\n");
    return parsed && length >= headerLength ? length : 0;
}

bool AacAudioDataReader::parseAdtsHeader() {
    ByteCursor c(mHeader, kAdtsHeaderLength);
    const uint32_t syncWord = c.bits(12);
    c.bits(6);  // id, layer, protectionAbsent, profile
    const uint32_t samplingFrequencyIndex = c.bits(4);
    c.bits(1);  // the private bit
    const uint32_t channelConfiguration = c.bits(3);
    c.bits(4);  // originalCopy, home, copyright identification
    mFrameLength = static_cast<uint16_t>(c.bits(13));

    if (syncWord != kAdtsSyncWord) {
        astLog("[AST][ERR]AAC file ADTS sync word error(syncWord=%03X).\n", syncWord);
        return false;
    }
    mapSampleRate(samplingFrequencyIndex);
    mapChannel(static_cast<uint8_t>(channelConfiguration));
    if (static_cast<int32_t>(mInfo.sampleFrequency) >= 0) return true;
    astLog("[AST][ERR]Failed to map sample rate.\n");
    return false;
}

bool AacAudioDataReader::parseLoasHeader() {
    ByteCursor c(mHeader, kLoasHeaderLength);
    const uint32_t syncWord = c.bits(11);
    if (syncWord != kLoasSyncWord) {
        astLog("[AST][ERR]AAC file LOAS sync word error(syncWord=%03X).\n", syncWord);
        return false;
    }
    mAudioMuxLength = static_cast<uint16_t>(c.bits(13));
    return true;
}

bool AacAudioDataReader::parseStreamMuxConfig(ByteCursor& c) {
    const MuxConfig m = decodeMuxConfig(c);
    if (m.useSameStreamMux != 0) {
        astLog("[AST][ERR]Failed to parse LOAS frame, useSameStreamMux=%d.\n", m.useSameStreamMux);
        return false;
    }
    if (m.audioMuxVersionA != 0) {
        astLog("[AST][ERR]Failed to parse LOAS frame, audioMuxVersionA=%d.\n", m.audioMuxVersionA);
        return false;
    }
    if (!m.complete) {
        astLog("[AST][ERR]LOAS frame too short for its StreamMuxConfig(audioMuxLength=%d).\n", mAudioMuxLength);
        return false;
    }
    mSamplingFrequency = m.samplingFrequency;
    mapSampleRate(m.samplingFrequencyIndex);
    mapChannel(static_cast<uint8_t>(m.channelConfiguration));
    if (static_cast<int32_t>(mInfo.sampleFrequency) >= 0) return true;
    astLog("[AST][ERR]Failed to map sample rate.\n");
    return false;
}
