#include "AacAudioDataReader.h"

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

}  // namespace

AacAudioDataReader::AacAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int32_t AacAudioDataReader::parseHeaders() {
    if (readFully(mHeader, kAdtsHeaderLength) != kAdtsHeaderLength) return -1;

    if (parseAdtsHeader()) {
        mVariant = VARIANT_ADTS;
        return 0;
    }
    if (!parseLoasHeader()) return -1;
    mVariant = VARIANT_LOAS;
    if (!seekTo(kLoasHeaderLength)) return -1;
    ByteCursor payload = readClaimed(mAudioMuxLength);
    AST_ASSERT(payload.holds(), "AacAudioDataReader", __LINE__, "AacAudioDataReader",
               "AacAudioDataReader::AacAudioDataReader(const char*)");
    if (!payload.ok() || !parseStreamMuxConfig(payload)) return -1;
    return 0;
}

void AacAudioDataReader::describe() { printSummary("parseAacHeader"); }

void AacAudioDataReader::mapSampleRate(uint32_t index) {
    mInfo.sampleFrequency = index < 15 ? kSampleRates[index] : (index == 15 ? mSamplingFrequency : 0);
}

FrameBuffer* AacAudioDataReader::readFrame() {
    mFrame.length = 0;
    int32_t length = 0;
    int32_t headerLength = 0;
    if (mVariant == VARIANT_ADTS) {
        if (readFully(mHeader, kAdtsHeaderLength) != kAdtsHeaderLength) return &mFrame;
        mInvalid = !parseAdtsHeader();
        if (mInvalid) {
            astLog("[AST][ERR]Failed to parse ADTS header.\n");
            return &mFrame;
        }
        length = mFrameLength;
        if (length <= 6) {
            astLog("[AST][ERR]Invalid frame length(%d).\n", length);
            return &mFrame;
        }
        headerLength = kAdtsHeaderLength;
    } else {
        if (readFully(mHeader, kLoasHeaderLength) != kLoasHeaderLength) return &mFrame;
        mInvalid = !parseLoasHeader();
        if (mInvalid) {
            astLog("[AST][ERR]Failed to parse LOAS header.\n");
            return &mFrame;
        }
        length = mAudioMuxLength + kLoasHeaderLength;
        headerLength = kLoasHeaderLength;
    }

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

// Only the first program's first layer is read. A payload too short for the fields reads them
// as zeros, which fail none of the checks on the way; the cursor tells at the end.
bool AacAudioDataReader::parseStreamMuxConfig(ByteCursor& c) {
    const uint32_t useSameStreamMux = c.bits(1);
    if (useSameStreamMux != 0) {
        astLog("[AST][ERR]Failed to parse LOAS frame, useSameStreamMux=%d.\n", useSameStreamMux);
        return false;
    }
    const uint32_t audioMuxVersion = c.bits(1);
    if (audioMuxVersion == 1) {
        const uint32_t audioMuxVersionA = c.bits(1);
        if (audioMuxVersionA != 0) {
            astLog("[AST][ERR]Failed to parse LOAS frame, audioMuxVersionA=%d.\n", audioMuxVersionA);
            return false;
        }
        c.bits(8 * (c.bits(2) + 1));  // taraBufferFullness
    }
    c.bits(14);  // allStreamsSameTimeFraming, numSubFrames, numProgram, numberLayer
    if (audioMuxVersion == 1) c.bits(8 * (c.bits(2) + 1));  // ascLen

    // AudioSpecificConfig
    if (c.bits(5) == 31) c.bits(6);  // audioObjectType, escaped
    const uint32_t samplingFrequencyIndex = c.bits(4);
    if (samplingFrequencyIndex == 15) mSamplingFrequency = c.bits(24);
    const uint32_t channelConfiguration = c.bits(4);

    if (!c.ok()) {
        astLog("[AST][ERR]LOAS frame too short for its StreamMuxConfig(audioMuxLength=%d).\n", mAudioMuxLength);
        return false;
    }
    mapSampleRate(samplingFrequencyIndex);
    mapChannel(static_cast<uint8_t>(channelConfiguration));
    if (static_cast<int32_t>(mInfo.sampleFrequency) >= 0) return true;
    astLog("[AST][ERR]Failed to map sample rate.\n");
    return false;
}
