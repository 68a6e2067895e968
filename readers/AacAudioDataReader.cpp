#include "AacAudioDataReader.h"

#include <cstdlib>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ASTSignal.h"
#include "ClaimedBlock.h"
#include "FieldCodec.h"

namespace {

const uint32_t kAdtsSyncWord = 0xFFF;
const uint32_t kLoasSyncWord = 0x2B7;
const int32_t kAdtsHeaderLength = 7;
const int32_t kLoasHeaderLength = 3;
const int32_t kLongestFrame = 8191 + kLoasHeaderLength;
// The most a StreamMuxConfig up to the channel configuration can take (128 bits).
const int32_t kMuxConfigMaxBytes = 16;

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
    ByteCursor payload = readClaimed(mAudioMuxLength, kMuxConfigMaxBytes);
    AST_ASSERT(payload.holds(), "AacAudioDataReader", __LINE__, "AacAudioDataReader",
               "AacAudioDataReader::AacAudioDataReader(const char*)");
    if (!payload.ok() || !parseStreamMuxConfig(payload.data(), mAudioMuxLength)) return -1;
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
        length = mAdts.frameLength;
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
    const uint8_t* p = mHeader;
    uint8_t bits = 8;
    mAdts.syncWord = static_cast<uint16_t>(readBitField(p, 12, bits));
    mAdts.id = readBitField(p, 1, bits) != 0;
    mAdts.layer = static_cast<uint8_t>(readBitField(p, 2, bits));
    mAdts.protectionAbsent = readBitField(p, 1, bits) != 0;
    mAdts.profile = static_cast<uint8_t>(readBitField(p, 2, bits));
    mAdts.samplingFrequencyIndex = static_cast<uint8_t>(readBitField(p, 4, bits));
    mAdts.reserved = readBitField(p, 1, bits) != 0;
    mAdts.channelConfiguration = static_cast<uint8_t>(readBitField(p, 3, bits));
    mAdts.originalCopy = readBitField(p, 1, bits) != 0;
    mAdts.home = readBitField(p, 1, bits) != 0;
    mAdts.copyrightIdentificationBit = readBitField(p, 1, bits) != 0;
    mAdts.copyrightIdentificationStart = readBitField(p, 1, bits) != 0;
    mAdts.frameLength = static_cast<uint16_t>(readBitField(p, 13, bits));
    mAdts.adtsBufferFullness = static_cast<uint16_t>(readBitField(p, 11, bits));
    mAdts.numberOfRawDataBlocksInFrame = static_cast<uint8_t>(readBitField(p, 2, bits));

    if (mAdts.syncWord != kAdtsSyncWord) {
        astLog("[AST][ERR]AAC file ADTS sync word error(syncWord=%03X).\n", mAdts.syncWord);
        return false;
    }
    mapSampleRate(mAdts.samplingFrequencyIndex);
    mapChannel(mAdts.channelConfiguration);
    if (static_cast<int32_t>(mInfo.sampleFrequency) >= 0) return true;
    astLog("[AST][ERR]Failed to map sample rate.\n");
    return false;
}

bool AacAudioDataReader::parseLoasHeader() {
    const uint8_t* p = mHeader;
    uint8_t bits = 8;
    mLoasSyncWord = static_cast<uint16_t>(readBitField(p, 11, bits));
    if (mLoasSyncWord != kLoasSyncWord) {
        astLog("[AST][ERR]AAC file LOAS sync word error(syncWord=%03X).\n", mLoasSyncWord);
        return false;
    }
    mAudioMuxLength = static_cast<uint16_t>(readBitField(p, 13, bits));
    return true;
}

// `data` holds `length` bytes followed by kMuxConfigMaxBytes zero bytes, so the fields can be
// read first and their extent checked against the payload afterwards.
bool AacAudioDataReader::parseStreamMuxConfig(const uint8_t* data, int32_t length) {
    const uint8_t* p = data;
    uint8_t bits = 8;
    mMuxConfig.useSameStreamMux = static_cast<uint8_t>(readBitField(p, 1, bits));
    if (mMuxConfig.useSameStreamMux != 0) {
        astLog("[AST][ERR]Failed to parse LOAS frame, useSameStreamMux=%d.\n", mMuxConfig.useSameStreamMux);
        return false;
    }
    mMuxConfig.audioMuxVersion = static_cast<uint8_t>(readBitField(p, 1, bits));
    mMuxConfig.audioMuxVersionA = 0;
    if (mMuxConfig.audioMuxVersion == 1) {
        mMuxConfig.audioMuxVersionA = static_cast<uint8_t>(readBitField(p, 1, bits));
        if (mMuxConfig.audioMuxVersionA != 0) {
            astLog("[AST][ERR]Failed to parse LOAS frame, audioMuxVersionA=%d.\n", mMuxConfig.audioMuxVersionA);
            return false;
        }
        mMuxConfig.taraBytesForValue = static_cast<uint8_t>(readBitField(p, 2, bits));
        for (int i = 0; i <= mMuxConfig.taraBytesForValue; ++i)
            mMuxConfig.taraBytes[i] = static_cast<uint8_t>(readBitField(p, 8, bits));
    }
    mMuxConfig.allStreamsSameTimeFraming = static_cast<uint8_t>(readBitField(p, 1, bits));
    mMuxConfig.numSubFrames = static_cast<uint8_t>(readBitField(p, 6, bits));
    mMuxConfig.numProgram = static_cast<uint8_t>(readBitField(p, 4, bits));
    mMuxConfig.numberLayer = static_cast<uint8_t>(readBitField(p, 3, bits));
    if (mMuxConfig.audioMuxVersion == 1) {
        mMuxConfig.ascLenBytesForValue = static_cast<uint8_t>(readBitField(p, 2, bits));
        for (int i = 0; i <= mMuxConfig.ascLenBytesForValue; ++i)
            mMuxConfig.ascLenBytes[i] = static_cast<uint8_t>(readBitField(p, 8, bits));
    }

    mAudioObjectType = readBitField(p, 5, bits);
    if (mAudioObjectType == 31) mAudioObjectType = 32 + readBitField(p, 6, bits);
    mSamplingFrequencyIndex = readBitField(p, 4, bits);
    if (mSamplingFrequencyIndex == 15) mSamplingFrequency = readBitField(p, 24, bits);
    mChannelConfiguration = readBitField(p, 4, bits);

    const int64_t usedBits = static_cast<int64_t>(p - data) * 8 + (8 - bits);
    if (usedBits > static_cast<int64_t>(length) * 8) {
        astLog("[AST][ERR]LOAS frame too short for its StreamMuxConfig(audioMuxLength=%d).\n", length);
        return false;
    }
    mapSampleRate(mSamplingFrequencyIndex);
    mapChannel(static_cast<uint8_t>(mChannelConfiguration));
    if (static_cast<int32_t>(mInfo.sampleFrequency) >= 0) return true;
    astLog("[AST][ERR]Failed to map sample rate.\n");
    return false;
}
