#include "WavAudioDataReader.h"

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ASTSignal.h"

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
    : AudioDataReader(path), mRawPcmInfo(*rawPcmInfo), mFrameDurationMs(frameDurationMs) {
    openStream();
}

int32_t WavAudioDataReader::parseHeaders() {
    mHeaderLength = parseWavHeader();
    if (mHeaderLength < 1) {
        astLog("[AST][WRN]Treat as PCM raw data because failed to parse WAVE header.\n");
        mHeaderLength = 0;
        mInfo = mRawPcmInfo;
    }
    return mHeaderLength;
}

void WavAudioDataReader::describe() {
    printSummary(mHeaderLength > 0 ? "parseWavHeader" : "PCM format");
    astLog("[AST][INF]pcm.bitDepth=%d(8-U8/9-S8/16-S16LE/17-S16BE/32-S32LE/33-S32BE)\n", mInfo.pcm.bitDepth);
    astLog("[AST][INF]WAV header length:%d\n", mHeaderLength);
}

int32_t WavAudioDataReader::parseWavHeader() {
    uint8_t head[20];
    if (readFully(head, sizeof(head)) != static_cast<int32_t>(sizeof(head))) return -1;

    ByteCursor c(head, sizeof(head));
    uint32_t magic = c.be(4);
    if (magic != kMagicRiff) {
        astLog("[AST][ERR]WAV file magic(RIFF) error(magic=%08X).\n", magic);
        return -1;
    }
    c.skip(4);  // riffSize
    magic = c.be(4);
    if (magic != kMagicWave) {
        astLog("[AST][ERR]WAV file magic(WAVE) error(magic=%08X).\n", magic);
        return -1;
    }
    magic = c.be(4);
    if (magic != kMagicFmt) {
        astLog("[AST][ERR]WAV file magic(fmt ) error(magic=%08X).\n", magic);
        return -1;
    }
    const uint32_t formatSize = c.le(4);

    // The extra format length is a 16-bit quantity, so the block below stays small.
    int32_t extra = static_cast<int16_t>(static_cast<uint16_t>(formatSize - 16));
    if (extra < 0) {
        astLog("[AST][ERR]Extra format data length is negative:%d\n", extra);
        return -1;
    }

    const int32_t tailLength = extra + 24;
    ByteCursor tail = ByteCursor::allocate(static_cast<size_t>(tailLength));
    AST_ASSERT(tail.holds(), "parseWavHeader", 163, "WavAudioDataReader",
               "int32_t WavAudioDataReader::parseWavHeader()");
    if (readFully(tail.writable(), tailLength) != tailLength) return -1;

    tail.skip(2);  // compressionCode
    const uint32_t numChannels = tail.le(2);
    const uint32_t sampleRate = tail.le(4);
    const uint32_t bytesPerSecond = tail.le(4);
    const uint32_t blockAlign = tail.le(2);
    const uint32_t bitsPerSample = tail.le(2);
    tail.skip(static_cast<size_t>(extra));
    magic = tail.be(4);
    if (magic != kMagicData) {
        astLog("[AST][ERR]WAV file magic(data) error(magic=%08X).\n", magic);
        return -1;
    }

    mapSampleRate(sampleRate);
    mapChannel(static_cast<uint8_t>(numChannels & 0xFF));
    mInfo.pcm.bitDepth = (bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 32) ? bitsPerSample : 0;
    mInfo.pcm.blockAlign = blockAlign;
    mInfo.pcm.bytesPerSecond = bytesPerSecond;
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
