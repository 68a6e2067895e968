#include "WavAudioDataReader.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ASTSignal.h"
#include "ClaimedBlock.h"

namespace {

const uint32_t kMagicRiff = 0x52494646;  // "RIFF"
const uint32_t kMagicRf64 = 0x52463634;  // "RF64"
const uint32_t kMagicBw64 = 0x42573634;  // "BW64"
const uint32_t kMagicWave = 0x57415645;  // "WAVE"
const uint32_t kMagicFmt = 0x666D7420;   // "fmt "
const uint32_t kMagicData = 0x64617461;  // "data"
const uint32_t kMagicDs64 = 0x64733634;  // "ds64"
const uint16_t kFormatPcm = 0x0001;
const uint16_t kFormatExtensible = 0xFFFE;
// The sub-format GUIDs of the usual format codes: the code in the first two bytes, then these.
const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// cbSize, valid bits, channel mask and the sub-format GUID behind the 16 plain format bytes.
const uint32_t kExtensibleFormatSize = 40;
const int32_t kRefused = -2;
const uint32_t kSizeToTheEnd = 0xFFFFFFFF;
// Frames up to this size are read without asking how much of the file is left.
const int32_t kUnboundedFrameBytes = 1 << 18;
// From a stream of unknown length, the format and ds64 chunks are read up to this size.
const int32_t kStreamChunkBytes = 1 << 16;

// The chunk id as text for a log line; bytes that are not printable become '?'.
void idText(uint32_t id, char text[5]) {
    for (int i = 0; i < 4; ++i) {
        char ch = static_cast<char>((id >> (24 - 8 * i)) & 0xFF);
        text[i] = (ch >= 0x20 && ch < 0x7F) ? ch : '?';
    }
    text[4] = '\0';
}

}  // namespace

struct WavAudioDataReader::Format {
    bool seen = false;
    uint16_t code = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t bytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    bool hasSubFormat = false;
    uint8_t subFormat[16] = {};
    uint32_t dataSize = 0;
    bool hasDs64 = false;
    uint64_t ds64DataSize = 0;
};

WavAudioDataReader::WavAudioDataReader(const char* path, const AudioInfo* rawPcmInfo, uint32_t frameDurationMs)
    : AudioDataReader(path), mRawPcmInfo(*rawPcmInfo), mFrameDurationMs(frameDurationMs) {
    openStream();
}

int64_t WavAudioDataReader::parseHeaders() {
    mHeaderLength = parseWavHeader();
    if (mHeaderLength == kRefused) return -1;
    if (mHeaderLength < 1) {
        astLog("[AST][WRN]Treat as PCM raw data because failed to parse WAVE header.\n");
        mHeaderLength = 0;
        mInfo = mRawPcmInfo;
        mFrameChannels = (mInfo.channelMap == 1 || mInfo.channelMap == 2) ? mInfo.channelMap : 0;
        mWiden = false;
        mDataEnd = -1;
    }
    mPosition = mHeaderLength;
    return mHeaderLength;
}

void WavAudioDataReader::describe() {
    printSummary(mHeaderLength > 0 ? "parseWavHeader" : "PCM format");
    astLog("[AST][INF]pcm.bitDepth=%d(8-U8/9-S8/16-S16LE/17-S16BE/32-S32LE/33-S32BE)\n", mInfo.pcm.bitDepth);
    astLog("[AST][INF]WAV header length:%lld\n", static_cast<long long>(mHeaderLength));
}

int64_t WavAudioDataReader::parseWavHeader() {
    // The RIFF header and the head of the first chunk.
    uint8_t raw[20];
    if (readFully(raw, sizeof(raw)) != static_cast<int32_t>(sizeof(raw))) return -1;
    mFileSize = fileLength();

    ByteCursor head(raw, sizeof(raw));
    uint32_t magic = head.be(4);
    const bool rf64 = magic == kMagicRf64 || magic == kMagicBw64;
    if (magic != kMagicRiff && !rf64) {
        astLog("[AST][ERR]WAV file magic(RIFF) error(magic=%08X).\n", magic);
        return -1;
    }
    head.skip(4);  // riffSize
    const uint32_t wave = head.be(4);
    if (wave != kMagicWave) {
        astLog("[AST][ERR]WAV file magic(WAVE) error(magic=%08X).\n", wave);
        return -1;
    }
    if (rf64) astLog("[AST][WRN]WAV file magic is %.4s, sizes read from its ds64 chunk.\n", raw);

    Format format;
    if (!walkChunks(head, rf64, format)) return -1;
    if (!useFormat(format)) return kRefused;

    const int64_t dataStart = mHeaderLength;
    uint64_t dataSize = format.dataSize;
    if (format.hasDs64 && dataSize == kSizeToTheEnd) dataSize = format.ds64DataSize;
    // Streaming writers leave the size 0 or all ones; a size past the end is a cut file.
    const bool toTheEnd =
        dataSize == 0 || dataSize == kSizeToTheEnd ||
        (mFileSize >= 0 && (mFileSize <= dataStart || dataSize > static_cast<uint64_t>(mFileSize - dataStart)));
    mDataEnd = toTheEnd ? -1 : dataStart + static_cast<int64_t>(dataSize);
    // The pad byte behind an odd size is no loss.
    if (mDataEnd >= 0 && mFileSize >= 0 && mDataEnd + static_cast<int64_t>(dataSize & 1) < mFileSize) {
        astLog("[AST][WRN]WAV data chunk ends at %lld, the %lld bytes behind it are not decoded.\n",
               static_cast<long long>(mDataEnd), static_cast<long long>(mFileSize - mDataEnd));
    }
    return mHeaderLength;
}

bool WavAudioDataReader::walkChunks(ByteCursor& head, bool rf64, Format& format) {
    uint32_t id = head.be(4);
    uint32_t size = head.le(4);
    int64_t position = 20;  // behind the chunk head just read
    bool first = true;
    for (;;) {
        const int64_t pad = size & 1;
        const int64_t next = position + size + pad;
        if (id == kMagicData) {
            if (!format.seen) {
                astLog("[AST][ERR]WAV file magic(fmt ) error(magic=%08X).\n", id);
                return false;
            }
            format.dataSize = size;
            mHeaderLength = position;
            return true;
        }
        const bool known = (id == kMagicFmt && !format.seen) || (id == kMagicDs64 && rf64 && first);
        first = false;
        if (known) {
            const int32_t extra = static_cast<int32_t>(size - 16u);
            if (id == kMagicFmt && extra < 0) {
                astLog("[AST][ERR]Extra format data length is negative:%d\n", extra);
                return false;
            }
            // The chunk, its pad byte and the head of the chunk behind it, in one read.
            const int64_t claim = size + pad + 8;
            ByteCursor c = readClaimedBlock(*mAccess, claim > INT32_MAX ? INT32_MAX : static_cast<int32_t>(claim),
                                            mFileSize >= 0 ? remainingLength() : kStreamChunkBytes, 0);
            AST_ASSERT(c.holds(), "parseWavHeader", 163, "WavAudioDataReader",
                       "int32_t WavAudioDataReader::parseWavHeader()");
            if (!c.ok()) return false;
            ByteCursor body = c.sub(size);
            if (id == kMagicFmt) {
                parseFormat(body, size, format);
            } else {
                body.skip(8);  // riffSize
                format.ds64DataSize = body.le64();
                format.hasDs64 = body.ok();
            }
            c.skip(static_cast<size_t>(pad));
            id = c.be(4);
            size = c.le(4);
            position = next + 8;
            continue;
        }
        char text[5];
        idText(id, text);
        astLog("[AST][WRN]Skip WAV chunk(%s) of %u bytes.\n", text, size);
        // A chunk that runs past the end leaves the next head unreadable, which ends the walk.
        const int64_t target = mFileSize < 0 || next < mFileSize ? next : mFileSize;
        if (!seekTo(target)) return false;
        if (!readChunkHead(id, size)) return false;
        position = target + 8;
    }
}

bool WavAudioDataReader::readChunkHead(uint32_t& id, uint32_t& size) {
    uint8_t raw[8];
    if (readFully(raw, sizeof(raw)) != static_cast<int32_t>(sizeof(raw))) return false;
    ByteCursor c(raw, sizeof(raw));
    id = c.be(4);
    size = c.le(4);
    return true;
}

void WavAudioDataReader::parseFormat(ByteCursor& c, uint32_t size, Format& format) {
    format.seen = true;
    format.code = static_cast<uint16_t>(c.le(2));
    format.channels = static_cast<uint16_t>(c.le(2));
    format.rate = c.le(4);
    format.bytesPerSecond = c.le(4);
    format.blockAlign = static_cast<uint16_t>(c.le(2));
    format.bits = static_cast<uint16_t>(c.le(2));
    if (format.code == kFormatExtensible && size >= kExtensibleFormatSize) {
        c.skip(8);  // cbSize, valid bits, channel mask
        format.hasSubFormat = c.copy(format.subFormat, sizeof(format.subFormat));
    }
}

bool WavAudioDataReader::useFormat(const Format& format) {
    const bool baseGuid = format.hasSubFormat && memcmp(format.subFormat + 2, kGuidTail, sizeof(kGuidTail)) == 0;
    const uint16_t subCode = static_cast<uint16_t>(format.subFormat[0] | format.subFormat[1] << 8);
    const bool integer =
        format.code == kFormatPcm || (format.code == kFormatExtensible && baseGuid && subCode == kFormatPcm);
    if (!integer) {
        if (format.code != kFormatExtensible || !format.hasSubFormat) {
            astLog("[AST][ERR]WAV format 0x%04X is not integer PCM, not decoded.\n", format.code);
        } else if (baseGuid) {
            astLog("[AST][ERR]WAV format 0xFFFE, sub-format 0x%04X, is not integer PCM, not decoded.\n", subCode);
        } else {
            const uint8_t* g = format.subFormat;
            astLog("[AST][ERR]WAV format 0xFFFE, sub-format %02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-"
                   "%02X%02X%02X%02X%02X%02X, is not integer PCM, not decoded.\n",
                   g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                   g[15]);
        }
        return false;
    }

    mapSampleRate(format.rate);
    mapChannel(static_cast<uint8_t>(format.channels & 0xFF));
    if (format.channels > 2 && format.channels <= 8) {
        mInfo.channelMap = format.channels;
        astLog("[AST][WRN]WAV file has %u channels: channelMap is their count, and frames hold them all.\n",
               static_cast<uint32_t>(format.channels));
    }
    mFrameChannels = mInfo.channelMap;
    mInfo.pcm.blockAlign = format.blockAlign;
    mInfo.pcm.bytesPerSecond = format.bytesPerSecond;
    const uint16_t bits = format.bits;
    mInfo.pcm.bitDepth = (bits == 8 || bits == 16 || bits == 32) ? bits : 0;
    mWiden = bits == 24;
    if (mWiden) {
        mInfo.pcm.bitDepth = PCM_S32LE;
        mInfo.pcm.blockAlign = 4u * format.channels;
        mInfo.pcm.bytesPerSecond =
            static_cast<uint32_t>(std::min<uint64_t>(uint64_t{4} * format.channels * format.rate, UINT32_MAX));
        astLog("[AST][WRN]24-bit PCM is widened to signed 32-bit for the decoder.\n");
    }
    return true;
}

int32_t WavAudioDataReader::getFrameLength() {
    // In 64 bits: a header's rate of up to 2^32 - 1 must not wrap to a plausible length.
    uint64_t length = uint64_t{mFrameChannels} * mInfo.sampleFrequency * pcmBytesPerSample(mInfo.pcm.bitDepth) *
                      mFrameDurationMs / 1000;
    length = std::min<uint64_t>(length, INT32_MAX);
    // Widened frames are cut from whole 24-bit samples.
    if (mWiden) length -= length % 4;
    return static_cast<int32_t>(length);
}

void WavAudioDataReader::widen(int32_t from, int32_t samples) {
    // Forward in place: the input starts far enough behind the output never to be overwritten
    // before it is read.
    uint8_t* out = mFrame.data;
    const uint8_t* in = mFrame.data + from;
    for (int32_t i = 0; i < samples; ++i, in += 3, out += 4) {
        const uint8_t b0 = in[0], b1 = in[1], b2 = in[2];
        out[0] = 0;
        out[1] = b0;
        out[2] = b1;
        out[3] = b2;
    }
}

FrameBuffer* WavAudioDataReader::readFrame() {
    mFrame.length = 0;
    int32_t n = getFrameLength();
    if (n < 1) {
        astLog("[AST][ERR]Invalid frame length(%d).\n", n);
        return &mFrame;
    }
    // The bytes of the file the frame is made of.
    int32_t take = mWiden ? n / 4 * 3 : n;
    // A header rate can make a frame of megabytes: the buffer takes no more than the rest of the
    // file and one byte, so the read still ends short at the end of the file, with its count.
    if (take > kUnboundedFrameBytes) {
        int32_t left = remainingLength();
        if (left < take) take = left + 1;
    }
    const bool dataEnds = mDataEnd >= 0 && mPosition + take >= mDataEnd;
    if (dataEnds && mPosition + take > mDataEnd) take = static_cast<int32_t>(mDataEnd - mPosition);

    const int32_t capacity = mWiden ? (take / 3 + 1) * 4 : take;
    if (!mFrame.reserve(capacity) || mFrame.capacity < capacity) return &mFrame;
    const int32_t at = capacity - take;
    int32_t got = readFully(mFrame.data + at, take);
    if (got < take && !(got > 0 && mAccess->isEof())) return &mFrame;
    // The data chunk ends here, as the file would.
    if (got == take && dataEnds && got < (mWiden ? n / 4 * 3 : n)) astLog("[AST][INF]Reached end of data:%d.\n", got);
    mPosition += got;
    if (mWiden) {
        widen(at, got / 3);
        got = got / 3 * 4;
    }
    mFrame.length = got;
    return &mFrame;
}
