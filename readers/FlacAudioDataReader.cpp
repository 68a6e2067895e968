#include "FlacAudioDataReader.h"

#include <cstdlib>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ClaimedBlock.h"
#include "FieldCodec.h"

namespace {

const uint32_t kMagic = 0x664C6143;  // "fLaC"
const uint16_t kFrameSync = 0x3FFE;
const uint32_t kStreamInfoType = 0;
const uint32_t kInvalidMetaType = 127;
const uint32_t kFirstReservedMetaType = 7;
const int32_t kStreamInfoLength = 34;
// Bytes a frame header can take at most; a header is never tested closer to the window's end,
// but at the end of the file, where zero bytes stand in for the missing ones.
const int32_t kMaxHeaderLength = 16;
// A frame of STREAMINFO's maximum size, the longest header behind it, and the bytes the search
// leaves untested at the window's end.
const int32_t kWindowMargin = 2 * kMaxHeaderLength;
// The largest window a search grows to: a frame of the largest size STREAMINFO can give.
const int32_t kMaxWindow = 0xFFFFFF + kWindowMargin;

const int32_t kSampleRates[12] = {0, 88200, 176400, 192000, 8000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};

// The coded frame or sample number: as many bytes as leading 1 bits, one byte for none or one.
uint8_t codedNumberLength(uint8_t first) {
    uint8_t n = 0;
    while (n < 8 && (first & (0x80 >> n))) ++n;
    return n <= 1 ? 1 : n;
}

}  // namespace

FlacAudioDataReader::FlacAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int64_t FlacAudioDataReader::parseHeaders() {
    if (!parseMagicHeader()) {
        astLog("[AST][ERR]Failed to parse magic header.\n");
        return -1;
    }
    int32_t metaLength = parseMetaData();
    if (metaLength <= 0) return -1;
    const int32_t firstFrame = metaLength + 4;
    if (!seekTo(firstFrame)) return -1;
    if (readFully(mHeaderBuffer, kMaxHeaderLength) != kMaxHeaderLength) return -1;
    return parseFlacFrameHeader(mHeaderBuffer, kMaxHeaderLength) ? firstFrame : -1;
}

void FlacAudioDataReader::mapSampleRate(uint32_t value) {
    uint32_t rate;
    switch (value) {
    case 0: rate = mStreamInfo.samplingFrequency; break;
    case 12: rate = mFrameHeader.samplingFrequency * 1000u; break;
    case 13: rate = mFrameHeader.samplingFrequency; break;
    case 14: rate = mFrameHeader.samplingFrequency * 10u; break;
    default: rate = static_cast<uint32_t>(value < 12 ? kSampleRates[value] : -1); break;
    }
    mInfo.sampleFrequency = rate;
}

bool FlacAudioDataReader::parseMagicHeader() {
    uint8_t raw[4];
    if (readFully(raw, 4) != 4) return false;
    const uint32_t magic = ByteCursor(raw, 4).be(4);
    if (magic != kMagic) {
        astLog("[AST][ERR]FLAC file magic (fLaC) error(magic=%08X).\n", magic);
        return false;
    }
    return true;
}

int32_t FlacAudioDataReader::parseMetaData() {
    int32_t consumed = 0;
    for (;;) {
        uint8_t raw[4];
        if (readFully(raw, 4) != 4) return consumed;
        ByteCursor c(raw, 4);
        mMetaHeader.isLastMeta = c.bits(1) != 0;
        mMetaHeader.type = c.bits(7);
        mMetaHeader.length = c.bits(24);
        const int32_t length = static_cast<int32_t>(mMetaHeader.length);

        if (mMetaHeader.type == kInvalidMetaType) {
            astLog("[AST][ERR]FLAC file metadata type error(type=%d).\n", mMetaHeader.type);
            astLog("[AST][ERR]Failed to parse meta header.\n");
            return consumed;
        }
        if (mMetaHeader.type >= kFirstReservedMetaType)
            astLog("[AST][WRN]FLAC file metadata type is reserved(type=%d).\n", mMetaHeader.type);

        if (mMetaHeader.type != kStreamInfoType) {
            if (!skip(length)) return consumed;
        } else if (!parseStreamInfo(mMetaHeader.length)) {
            return consumed;
        }
        consumed += length + 4;
        if (mMetaHeader.isLastMeta) return consumed;
    }
}

bool FlacAudioDataReader::parseStreamInfo(uint32_t length) {
    const int32_t claimed = static_cast<int32_t>(length);
    const int32_t available = remainingLength();
    ByteCursor block = readClaimedBlock(*mAccess, claimed, available, 0);
    if (!block.ok()) return false;
    if (claimed < kStreamInfoLength) {
        astLog("[AST][ERR]FLAC file STREAMINFO is too short(length=%d).\n", claimed);
        return false;
    }

    StreamInfo& s = mStreamInfo;
    s.minBlockSize = static_cast<uint16_t>(block.bits(16));
    s.maxBlockSize = static_cast<uint16_t>(block.bits(16));
    s.minFrameSize = block.bits(24);
    s.maxFrameSize = block.bits(24);
    s.samplingFrequency = block.bits(20);
    s.channelNumber = static_cast<uint8_t>(block.bits(3));
    s.bitPerSample = static_cast<uint8_t>(block.bits(5));
    uint64_t high = block.bits(32);
    uint64_t low = block.bits(4);
    s.totalSamples = high << 4 | low;
    block.copy(s.md5, sizeof(s.md5));

    // The window is allocated at this size, so a size beyond the rest of the file is cut to
    // one byte more than that: the first read then ends short exactly as it would at full size.
    const int64_t wanted = static_cast<int64_t>(s.maxFrameSize) + kWindowMargin;
    if (s.maxFrameSize > 0 && wanted > mWindowSize) {
        int64_t bound = static_cast<int64_t>(available) - claimed + 1;
        int64_t raised = wanted < bound ? wanted : bound;
        if (raised > mWindowSize) mWindowSize = static_cast<int32_t>(raised);
    }
    return true;
}

bool FlacAudioDataReader::parseFlacFrameHeader(const uint8_t* data, int32_t available) {
    ByteCursor c(data, kMaxHeaderLength);
    FrameHeader& h = mFrameHeader;
    h.syncWord = static_cast<uint16_t>(c.bits(14));
    if (h.syncWord != kFrameSync) {
        astLog("[AST][ERR]FLAC file sync word error(syncWord=%03X).\n", h.syncWord);
        return false;
    }
    h.reserved1 = static_cast<uint8_t>(c.bits(1));
    h.variableBlockSize = static_cast<uint8_t>(c.bits(1));
    h.blockSizeInSampleIndex = static_cast<uint8_t>(c.bits(4));
    h.samplingFrequencyIndex = static_cast<uint8_t>(c.bits(4));
    h.channelAssignmentIndex = static_cast<uint8_t>(c.bits(4));
    h.sampleSizeIndex = static_cast<uint8_t>(c.bits(3));
    h.reserved2 = static_cast<uint8_t>(c.bits(1));
    h.utf8Str[0] = static_cast<uint8_t>(c.bits(8));

    const uint8_t n = codedNumberLength(h.utf8Str[0]);
    if (n > (h.variableBlockSize ? 7 : 6)) {
        astLog("[AST][ERR]FLAC file UTF-8 string error(mFrameHeader.utf8Str[0]=0x%02X).\n", h.utf8Str[0]);
        return false;
    }
    for (uint8_t i = 1; i < n; ++i) h.utf8Str[i] = static_cast<uint8_t>(c.bits(8));

    if (h.blockSizeInSampleIndex == 6)
        h.blockSizeInSample = static_cast<uint16_t>(c.bits(8));
    else if (h.blockSizeInSampleIndex == 7)
        h.blockSizeInSample = static_cast<uint16_t>(c.bits(16));
    if (h.samplingFrequencyIndex == 12)
        h.samplingFrequency = static_cast<uint16_t>(c.bits(8));
    else if (h.samplingFrequencyIndex == 13 || h.samplingFrequencyIndex == 14)
        h.samplingFrequency = static_cast<uint16_t>(c.bits(16));

    const int32_t length = static_cast<int32_t>(c.position());
    // A header cut by the end of the file is none.
    if (length >= available) return false;
    const uint8_t computed = crc8(data, static_cast<uint32_t>(length));
    h.crc8 = static_cast<uint8_t>(c.bits(8));
    if (computed != h.crc8) {
        astLog("[AST][ERR]FLAC file CRC-8 check error(0x%02X != 0x%02X).\n", computed, h.crc8);
        return false;
    }
    mHeaderLength = length + 1;
    mapSampleRate(h.samplingFrequencyIndex);
    mapChannel(static_cast<uint8_t>(mStreamInfo.channelNumber + 1));
    return true;
}

int32_t FlacAudioDataReader::findHeader(int32_t from, int32_t to) {
    // memchr finds the 0xFF bytes that can start a sync code far faster than a byte loop.
    const uint8_t* at = mFrame.data + from;
    const uint8_t* end = mFrame.data + to;
    while (at < end) {
        at = static_cast<const uint8_t*>(memchr(at, 0xFF, static_cast<size_t>(end - at)));
        if (at == nullptr) break;
        const int32_t offset = static_cast<int32_t>(at - mFrame.data);
        if ((at[1] & 0xFC) == 0xF8 && parseFlacFrameHeader(at, mWindowSize - offset)) return offset;
        ++at;
    }
    return -1;
}

bool FlacAudioDataReader::fill(int32_t from, bool& atEnd) {
    // Room behind the window for the zero bytes a header test at the end of the file reads.
    const int32_t room = mWindowSize + kMaxHeaderLength;
    if (!mFrame.reserve(room) || mFrame.capacity < room) return false;
    const int32_t wanted = mWindowSize - from;
    const int32_t got = readFully(mFrame.data + from, wanted);
    if (got != wanted) {
        if (!mAccess->isEof()) return false;
        mWindowSize = from + got;
        atEnd = true;
        memset(mFrame.data + mWindowSize, 0, kMaxHeaderLength);
    }
    return true;
}

FrameBuffer* FlacAudioDataReader::readFrame() {
    mFrame.length = 0;
    // The window starts at the header found last time.
    if (mCarry > 0 && mFrame.data != nullptr)
        memmove(mFrame.data, mFrame.data + mWindowSize - mCarry, static_cast<size_t>(mCarry));
    bool atEnd = false;
    if (!fill(mCarry, atEnd)) return &mFrame;
    if (mWindowSize == 0) return &mFrame;

    // Behind the current frame's own header, so that it is never taken for the next one.
    int32_t searched = mHeaderLength;
    int32_t found = -1;
    for (;;) {
        const int32_t limit = mWindowSize - (atEnd ? 1 : kMaxHeaderLength);
        found = findHeader(searched, limit);
        if (found >= 0 || atEnd) break;
        if (searched < limit) searched = limit;
        // Without a maximum frame size the window grows until the next header is in it.
        if (mStreamInfo.maxFrameSize != 0 || mWindowSize >= kMaxWindow) break;
        const int64_t bound = static_cast<int64_t>(mWindowSize) + remainingLength() + 1;
        int64_t grown = 2 * static_cast<int64_t>(mWindowSize);
        if (grown > kMaxWindow) grown = kMaxWindow;
        if (grown > bound) grown = bound;
        astLog("[AST][WRN]FLAC frame header not found in %d bytes, window grown to %d bytes.\n", mWindowSize,
               static_cast<int32_t>(grown));
        const int32_t held = mWindowSize;
        mWindowSize = static_cast<int32_t>(grown);
        if (!fill(held, atEnd)) return &mFrame;
    }
    if (found < 0 && !atEnd) {
        astLog("[AST][ERR]Failed to find header, maybe file reading buffer is NOT enough.\n");
        return &mFrame;
    }
    // At the end of the file the last frame runs to its end.
    mFrame.length = found >= 0 ? found : mWindowSize;
    mCarry = mWindowSize - mFrame.length;
    return &mFrame;
}
