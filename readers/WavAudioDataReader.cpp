#include "WavAudioDataReader.h"

#include <cstdlib>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ASTSignal.h"
#include "FieldCodec.h"

namespace {

const uint32_t kMagicRiff = 0x52494646;  // "RIFF"
const uint32_t kMagicWave = 0x57415645;  // "WAVE"
const uint32_t kMagicFmt = 0x666D7420;   // "fmt "
const uint32_t kMagicData = 0x64617461;  // "data"
// Frames up to this size are read without asking how much of the file is left.
const int32_t kUnboundedFrameBytes = 1 << 18;

}  // namespace

WavAudioDataReader::WavAudioDataReader(const char* path, const AudioInfo* rawPcmInfo,
                                       uint32_t frameDurationMs)
    : AudioDataReader(path), mFrameDurationMs(frameDurationMs) {
    if (!mAccess->isOpen()) return;

    int32_t headerLength = parseWavHeader();
    if (headerLength < 1) {
        astLog("[AST][WRN]Treat as PCM raw data because failed to parse WAVE header.\n");
        headerLength = 0;
        mInfo = *rawPcmInfo;
    }
    mInvalid = false;

    astLog("[AST][INF]%s:\n", headerLength > 0 ? "parseWavHeader" : "PCM format");
    astLog("[AST][INF]sampleFrequency=%d\n", mInfo.sampleFrequency);
    astLog("[AST][INF]channelMap=%d(1-Mono/2-Stereo)\n", mInfo.channelMap);
    astLog("[AST][INF]pcm.bitDepth=%d(8-U8/9-S8/16-S16LE/17-S16BE/32-S32LE/33-S32BE)\n", mInfo.pcm.bitDepth);
    astLog("[AST][INF]WAV header length:%d\n", headerLength);

    if (!seekTo(headerLength)) mInvalid = true;
}

int32_t WavAudioDataReader::parseWavHeader() {
    uint8_t head[20];
    if (readFully(head, sizeof(head)) != static_cast<int32_t>(sizeof(head))) return -1;

    const uint8_t* p = head;
    uint32_t magic = readByteField(p, 4, AST_BIG_ENDIAN, "magicRIFF", 1);
    if (magic != kMagicRiff) {
        astLog("[AST][ERR]WAV file magic(RIFF) error(magic=%08X).\n", magic);
        return -1;
    }
    mRiffSize = readByteField(p, 4, AST_LITTLE_ENDIAN, "riffSize", 0);
    magic = readByteField(p, 4, AST_BIG_ENDIAN, "magicWAVE", 1);
    if (magic != kMagicWave) {
        astLog("[AST][ERR]WAV file magic(WAVE) error(magic=%08X).\n", magic);
        return -1;
    }
    magic = readByteField(p, 4, AST_BIG_ENDIAN, "magicfmt ", 1);
    if (magic != kMagicFmt) {
        astLog("[AST][ERR]WAV file magic(fmt ) error(magic=%08X).\n", magic);
        return -1;
    }
    mFormatSize = readByteField(p, 4, AST_LITTLE_ENDIAN, "formatSize", 0);

    // The extra format length is a 16-bit quantity, so the block below stays small.
    int32_t extra = static_cast<int16_t>(static_cast<uint16_t>(mFormatSize - 16));
    if (extra < 0) {
        astLog("[AST][ERR]Extra format data length is negative:%d\n", extra);
        return -1;
    }

    const int32_t tailLength = extra + 24;
    uint8_t* tail = static_cast<uint8_t*>(malloc(static_cast<size_t>(tailLength)));
    AST_ASSERT(tail != nullptr, "parseWavHeader", 163, "WavAudioDataReader",
               "int32_t WavAudioDataReader::parseWavHeader()");
    if (readFully(tail, tailLength) != tailLength) {
        free(tail);
        return -1;
    }

    p = tail;
    mCompressionCode = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "compressionCode", 0));
    mNumChannels = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "numChannels", 0));
    mSampleRate = readByteField(p, 4, AST_LITTLE_ENDIAN, "sampleRate", 0);
    mBytesPerSecond = readByteField(p, 4, AST_LITTLE_ENDIAN, "bytesPerSecond", 0);
    mBlockAlign = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "blockAlign", 0));
    mBitsPerSample = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "bitsPerSample", 0));
    p += extra;
    magic = readByteField(p, 4, AST_BIG_ENDIAN, "magicdata", 1);
    if (magic != kMagicData) {
        astLog("[AST][ERR]WAV file magic(data) error(magic=%08X).\n", magic);
        free(tail);
        return -1;
    }
    mDataSize = readByteField(p, 4, AST_LITTLE_ENDIAN, "dataSize", 0);
    free(tail);

    mapSampleRate(mSampleRate);
    mapChannel(static_cast<uint8_t>(mNumChannels & 0xFF));
    mInfo.pcm.bitDepth = (mBitsPerSample == 8 || mBitsPerSample == 16 || mBitsPerSample == 32) ? mBitsPerSample : 0;
    mInfo.pcm.blockAlign = mBlockAlign;
    mInfo.pcm.bytesPerSecond = mBytesPerSecond;
    return 44 + extra;
}

int32_t WavAudioDataReader::getFrameLength() {
    uint32_t channels = (mInfo.channelMap == 1 || mInfo.channelMap == 2) ? mInfo.channelMap : 0;
    uint32_t length = channels * mInfo.sampleFrequency * pcmBytesPerSample(mInfo.pcm.bitDepth) * mFrameDurationMs / 1000;
    return static_cast<int32_t>(length);
}

FrameBuffer* WavAudioDataReader::readFrame() {
    mFrame.length = 0;
    int32_t n = getFrameLength();
    if (n < 1) {
        astLog("[AST][ERR]Invalid frame length(%d).\n", n);
        return &mFrame;
    }
    // A header rate can make a frame of megabytes: the buffer takes no more than the rest of the
    // file and one byte, so the read still ends short at the end of the file, with its count.
    int32_t take = n;
    if (take > kUnboundedFrameBytes) {
        int32_t left = remainingLength();
        if (left < take) take = left + 1;
    }
    if (!mFrame.reserve(take) || mFrame.capacity < take) return &mFrame;
    int32_t got = readFully(mFrame.data, take);
    if (got == n) {
        mFrame.length = n;
    } else if (got > 0 && mAccess->isEof()) {
        mFrame.length = got;
    }
    return &mFrame;
}
