#include "FlacAudioDataReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ClaimedBlock.h"
#include "FieldCodec.h"

namespace {

const uint32_t kMagic = 0x664C6143;  // "fLaC"
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
// The largest window a search grows to, unless STREAMINFO gives a larger frame size: the largest
// frame the format allows (65535 samples of 8 channels at 33 bits, verbatim, behind subframe
// headers and the longest frame header).
const int32_t kLargestWindow = (65535 * 8 * 33 + 7) / 8 + 8 * 5 + kMaxHeaderLength + 2 + kWindowMargin;
// A stream without "fLaC" starts in its first bytes; its first frame is confirmed by the header
// behind it, which a frame of up to kStartProbe bytes leaves in reach. The headers tried there
// look through at most kStartBudget bytes for theirs, so a file full of header look-alikes is
// refused in bounded time.
const int32_t kStartSearch = 64 * 1024;
const int32_t kStartProbe = 256 * 1024;
const int64_t kStartBudget = 4 * 1024 * 1024;

const int32_t kSampleRates[12] = {0, 88200, 176400, 192000, 8000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};

}  // namespace

FlacAudioDataReader::FlacAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int64_t FlacAudioDataReader::parseHeaders() {
    uint32_t magic = 0;
    if (!parseMagicHeader(magic)) {
        astLog("[AST][ERR]Failed to parse magic header.\n");
        return -1;
    }
    int64_t firstFrame;
    if (magic == kMagic) {
        int32_t metaLength = parseMetaData();
        if (metaLength <= 0) return -1;
        firstFrame = mStreamStart + metaLength + 4;
    } else {
        firstFrame = findStreamStart();
        if (firstFrame < 0) {
            astLog("[AST][ERR]FLAC file magic (fLaC) error(magic=%08X).\n", magic);
            astLog("[AST][ERR]Failed to parse magic header.\n");
            return -1;
        }
        astLog("[AST][WRN]FLAC stream without STREAMINFO starts at byte %lld.\n", static_cast<long long>(firstFrame));
    }
    if (!seekTo(firstFrame)) return -1;
    if (readFully(mHeaderBuffer, kMaxHeaderLength) != kMaxHeaderLength) return -1;
    if (!takeFrameHeader(mHeaderBuffer, kMaxHeaderLength, false)) return -1;
    if (!mHasStreamInfo && (mFrameHeader.bitsPerSample() == 0 || mFrameHeader.samplingFrequencyIndex == 0)) {
        astLog("[AST][ERR]FLAC stream has no STREAMINFO to give the sample size or rate its frames leave to it.\n");
        return -1;
    }
    return firstFrame;
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

bool FlacAudioDataReader::parseMagicHeader(uint32_t& magic) {
    uint8_t raw[10];
    if (readFully(raw, 4) != 4) return false;
    mStreamStart = skipId3v2Tag(raw, 4, "FLAC stream");
    if (mStreamStart < 0) return false;
    magic = ByteCursor(raw, 4).be(4);
    return true;
}

int64_t FlacAudioDataReader::findStreamStart() {
    if (!seekTo(mStreamStart)) return -1;
    const int32_t remaining = remainingLength();
    const int32_t n = remaining < kStartSearch + kStartProbe ? remaining : kStartSearch + kStartProbe;
    std::vector<uint8_t> buf(static_cast<size_t>(n) + kMaxHeaderLength, 0);
    if (mAccess->read(buf.data(), n) != n) return -1;
    const bool toEnd = n == remaining;
    const int32_t limit = n - (toEnd ? 1 : kMaxHeaderLength);
    int64_t budget = kStartBudget;
    const int32_t starts = n < kStartSearch ? n : kStartSearch;
    for (int32_t p = 0; p < starts && budget > 0; ++p) {
        FlacFrameHeader h;
        if (buf[p] != 0xFF || (buf[p + 1] & 0xFC) != 0xF8 || !parseFlacFrameHeader(&buf[p], n - p, h, true)) continue;
        uint16_t crc = 0;
        int32_t crcEnd = p, q = p + h.length;
        for (; q < limit && budget > 0; ++q) {
            if (buf[q] != 0xFF || (buf[q + 1] & 0xFC) != 0xF8) continue;
            FlacFrameHeader next;
            if (!parseFlacFrameHeader(&buf[q], n - q, next, true) || !next.continues(h)) continue;
            crc = crc16(&buf[crcEnd], static_cast<uint32_t>(q - crcEnd), crc);
            crcEnd = q;
            if (crc == 0) return mStreamStart + p;
        }
        budget -= q - p;
        // A single frame runs to the end of the file.
        if (toEnd && crc16(&buf[crcEnd], static_cast<uint32_t>(n - crcEnd), crc) == 0) return mStreamStart + p;
    }
    return -1;
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
        } else {
            mHasStreamInfo = true;
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
    mInfo.flac.bitsPerSample = static_cast<uint16_t>(s.bitPerSample + 1);

    // The window is allocated at this size, so a size beyond the rest of the file is cut to
    // one byte more than that: the first read then ends short exactly as it would at full size.
    const int64_t wanted = static_cast<int64_t>(s.maxFrameSize) + kWindowMargin;
    if (s.maxFrameSize > 0 && wanted > mWindowSize) {
        int64_t bound = static_cast<int64_t>(available) - claimed + 1;
        int64_t raised = wanted < bound ? wanted : bound;
        if (raised > mWindowSize) mWindowSize = static_cast<int32_t>(raised);
    }
    mBaseWindow = mWindowSize;
    return true;
}

bool FlacAudioDataReader::takeFrameHeader(const uint8_t* data, int32_t available, bool quiet) {
    FlacFrameHeader& h = mFrameHeader;
    if (!parseFlacFrameHeader(data, available, h, quiet)) return false;
    mHeaderLength = h.length;
    mapSampleRate(h.samplingFrequencyIndex);
    // Without STREAMINFO the frames tell the channels and the sample size.
    mapChannel(mHasStreamInfo ? static_cast<uint8_t>(mStreamInfo.channelNumber + 1) : h.channels());
    if (!mHasStreamInfo) mInfo.flac.bitsPerSample = h.bitsPerSample();
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
        FlacFrameHeader h;
        ++at;
        if ((*at & 0xFC) != 0xF8 || !parseFlacFrameHeader(at - 1, mWindowSize - offset, h, false)) continue;
        // Two bytes of sync code in the audio data pass the header's CRC-8 once in 256 times: a
        // header ends the frame only when it carries the next number and closes the CRC-16.
        const bool continues = h.continues(mFrameHeader);
        if (continues && frameCrc(offset) == 0) return offset;
        if (continues && mFirstContinuing < 0) {
            mFirstContinuing = offset;
            mRefusedBeforeContinuing = mRefusedInFrame;
        }
        if (mFirstAhead < 0 && h.variableBlockSize == mFrameHeader.variableBlockSize &&
            h.number > mFrameHeader.number) {
            mFirstAhead = offset;
            mRefusedBeforeAhead = mRefusedInFrame;
        }
        ++mRefusedInFrame;
    }
    return -1;
}

uint16_t FlacAudioDataReader::frameCrc(int32_t end) {
    mCrc = crc16(mFrame.data + mCrcEnd, static_cast<uint32_t>(end - mCrcEnd), mCrc);
    mCrcEnd = end;
    return mCrc;
}

int32_t FlacAudioDataReader::damagedFrameEnd() {
    const bool continuing = mFirstContinuing >= 0;
    const int32_t end = continuing ? mFirstContinuing : mFirstAhead;
    if (end < 0) return -1;
    mRefused += continuing ? mRefusedBeforeContinuing : mRefusedBeforeAhead;
    const unsigned long long number = mFrameHeader.number;
    if (mFrameHeader.variableBlockSize)
        astLog("[AST][WRN]FLAC frame at sample %llu is damaged: no header behind it closes its CRC-16.\n", number);
    else
        astLog("[AST][WRN]FLAC frame %llu is damaged: no header behind it closes its CRC-16.\n", number);
    return end;
}

void FlacAudioDataReader::handOut(int32_t end) {
    takeFrameHeader(mFrame.data + end, mWindowSize - end, true);  // parsed once already
    mFrame.length = end;
    mCarry = mWindowSize - end;
    // A carry larger than the frame and the window a frame starts in is left by a window grown
    // over a damaged frame: it is read again rather than moved along frame by frame.
    if (mCarry <= mBaseWindow || mCarry <= end) return;
    const int64_t here = mAccess->tell();
    if (here < mCarry || !seekTo(here - mCarry)) return;
    mCarry = 0;
    mWindowSize = mBaseWindow;
}

FrameBuffer* FlacAudioDataReader::endOfStream() {
    if (!mEnded)
        astLog("[AST][INF]FLAC frame headers refused by frame number or CRC-16: %lld.\n",
               static_cast<long long>(mRefused));
    mEnded = true;
    mFrame.length = 0;
    return &mFrame;
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
    if (!fill(mCarry, atEnd) || mWindowSize == 0) return endOfStream();

    mCrc = 0;
    mCrcEnd = 0;
    mFirstContinuing = mFirstAhead = -1;
    mRefusedInFrame = mRefusedBeforeContinuing = mRefusedBeforeAhead = 0;
    // Behind the current frame's own header, so that it is never taken for the next one.
    int32_t searched = mHeaderLength;
    int32_t found = -1;
    const int32_t maxWindow = mBaseWindow > kLargestWindow ? mBaseWindow : kLargestWindow;
    for (;;) {
        const int32_t limit = mWindowSize - (atEnd ? 1 : kMaxHeaderLength);
        found = findHeader(searched, limit);
        if (found >= 0 || atEnd) break;
        if (searched < limit) searched = limit;
        // The window grows until a header ends the frame, up to the largest frame there can be.
        if (mWindowSize >= maxWindow) break;
        const int64_t bound = static_cast<int64_t>(mWindowSize) + remainingLength() + 1;
        int64_t grown = 2 * static_cast<int64_t>(mWindowSize);
        if (grown > maxWindow) grown = maxWindow;
        if (grown > bound) grown = bound;
        astLog("[AST][WRN]FLAC frame header not found in %d bytes, window grown to %d bytes.\n", mWindowSize,
               static_cast<int32_t>(grown));
        const int32_t held = mWindowSize;
        mWindowSize = static_cast<int32_t>(grown);
        if (!fill(held, atEnd)) return endOfStream();
    }
    if (found >= 0) {
        mRefused += mRefusedInFrame;
    } else if (!atEnd || frameCrc(mWindowSize) != 0) {
        found = damagedFrameEnd();
        if (found < 0 && !atEnd) {
            astLog("[AST][ERR]Failed to find header, maybe file reading buffer is NOT enough.\n");
            return endOfStream();
        }
    }
    if (found >= 0) {
        handOut(found);
        return &mFrame;
    }
    // At the end of the file the last frame runs to its end.
    mRefused += mRefusedInFrame;
    mFrame.length = mWindowSize;
    mCarry = 0;
    return &mFrame;
}
