#include "AlacAudioDataReader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ClaimedBlock.h"
#include "FieldCodec.h"

namespace {

constexpr uint32_t fourCc(const char (&s)[5]) {
    return static_cast<uint32_t>(s[0]) << 24 | static_cast<uint32_t>(s[1]) << 16 | static_cast<uint32_t>(s[2]) << 8 |
           static_cast<uint32_t>(s[3]);
}

const uint32_t kPacketSyncword = fourCc("ALAC");
const uint32_t kLastPacketBit = 0x80000000u;
const uint64_t kMaxPosition = 0x7FFFFFFF;  // file positions are 32-bit signed
const uint64_t kStsdMinBody = 80;
const uint64_t kStszMinBody = 12;

}  // namespace

AlacAudioDataReader::AlacAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int32_t AlacAudioDataReader::parseHeaders() {
    if (!parseAlacHeader() || !seekTo(mMdatOffset)) return -1;
    mFileEnd = static_cast<int64_t>(mMdatOffset) + remainingLength();
    return mMdatOffset;
}

bool AlacAudioDataReader::parseAlacHeader() {
    if (!parseTopLevelAtoms()) return false;
    if (mMdatOffset <= 0) {
        astLog("[AST][ERR]No 'mdat' atom found.\n");
        return false;
    }
    uint8_t* p = mPacketHeader;
    writeByteField(p, 4, kPacketSyncword, AST_BIG_ENDIAN);
    p += 4;  // packetSize, per packet
    writeByteField(p, 1, mSampleSize, AST_BIG_ENDIAN);
    writeByteField(p, 3, mSampleRate & 0xFFFFFF, AST_BIG_ENDIAN);
    writeByteField(p, 4, mMaxSamplePerFrame, AST_BIG_ENDIAN);

    astLog("[AST][INF]parseAlacHeader:\n");
    astLog("[AST][INF]sampleFrequency=%d\n", mInfo.sampleFrequency);
    astLog("[AST][INF]channelMap=%d(1-Mono/2-Stereo)\n", mInfo.channelMap);
    return true;
}

int32_t AlacAudioDataReader::readAtomHeader(uint64_t position, const char* lastMessage, AtomHeader& atom) {
    uint8_t head[8];
    if (readFully(head, 8) != 8) return mAccess->isEof() ? 0 : -1;
    const uint8_t* p = head;
    atom.size = readByteField(p, 4, AST_BIG_ENDIAN);
    atom.type = readByteField(p, 4, AST_BIG_ENDIAN);
    atom.headerLength = 8;
    if (atom.size == 0) {
        astLog("%s", lastMessage);
        return 0;
    }
    if (atom.size == 1) {
        uint8_t large[8];
        if (readFully(large, 8) != 8) return mAccess->isEof() ? 0 : -1;
        p = large;
        uint64_t high = readByteField(p, 4, AST_BIG_ENDIAN);
        atom.size = high << 32 | readByteField(p, 4, AST_BIG_ENDIAN);
        atom.headerLength = 16;
    }
    astLog("[AST][INF]atom:%c%c%c%c\n", static_cast<char>(atom.type >> 24), static_cast<char>(atom.type >> 16),
           static_cast<char>(atom.type >> 8), static_cast<char>(atom.type));

    // A size below the header would walk backwards; one past 2 GiB cannot be reached by
    // 32-bit positions.
    if (atom.size < atom.headerLength) {
        astLog("[AST][ERR]Atom size %llu is smaller than its header.\n", static_cast<unsigned long long>(atom.size));
        return -1;
    }
    if (position > kMaxPosition || atom.size > kMaxPosition - position) {
        astLog("[AST][ERR]Atom at %llu of size %llu reaches beyond 2 GiB, not supported.\n",
               static_cast<unsigned long long>(position), static_cast<unsigned long long>(atom.size));
        return -1;
    }
    return 1;
}

ByteCursor AlacAudioDataReader::readAtomBody(uint64_t length) {
    // The walk keeps every atom within 32-bit positions, so the length fits.
    return readClaimed(static_cast<int32_t>(length));
}

bool AlacAudioDataReader::parseTopLevelAtoms() {
    uint64_t position = 0;
    while (true) {
        AtomHeader atom;
        int32_t got = readAtomHeader(position, "[AST][INF]Last top atom reached.\n", atom);
        if (got <= 0) return got == 0;
        const uint64_t body = atom.size - atom.headerLength;
        bool failed = false;
        switch (atom.type) {
        case fourCc("moov"): {
            int32_t here = mAccess->tell();
            if (here < 0) {
                astLog("[AST][ERR]Failed to tell, ret=%d.\n", here);
                failed = true;
            } else if (!parseMoovChildAtoms(body) || !seekTo(here)) {
                failed = true;
            }
            break;
        }
        case fourCc("mdat"):
            mMdatOffset = mAccess->tell();
            if (mMdatOffset < 0) {
                astLog("[AST][ERR]Failed to tell, ret=%d.\n", mMdatOffset);
                failed = true;
            }
            break;
        case fourCc("ftyp"): case fourCc("free"): case fourCc("skip"): case fourCc("pdin"):
        case fourCc("moof"): case fourCc("mfra"): case fourCc("meta"): case fourCc("meco"):
            break;
        default:
            astLog("[AST][WRN]Unexpecte top atom.\n");
            break;
        }
        if (!mAccess->seek(static_cast<int32_t>(body), 1)) {
            astLog("[AST][ERR]Failed to seek to %d from %d, ret=%d.\n", static_cast<int32_t>(body), 1, 0);
            return false;
        }
        if (failed) return false;
        position += atom.size;
    }
}

bool AlacAudioDataReader::parseMoovChildAtoms(uint64_t remaining) {
    int32_t start = mAccess->tell();
    if (start < 0) {
        astLog("[AST][ERR]Failed to tell, ret=%d.\n", start);
        return false;
    }
    uint64_t position = static_cast<uint64_t>(start);
    while (true) {
        AtomHeader atom;
        int32_t got = readAtomHeader(position, "[AST][INF]Last moov child atom reached.\n", atom);
        if (got <= 0) return got == 0;
        const uint64_t body = atom.size - atom.headerLength;
        switch (atom.type) {
        case fourCc("trak"): case fourCc("mdia"): case fourCc("minf"): case fourCc("stbl"):
            // Containers: their first child is the next atom read.
            remaining -= atom.headerLength;
            position += atom.headerLength;
            break;
        case fourCc("stsd"): case fourCc("stsz"): case fourCc("stz2"): {
            int32_t here = mAccess->tell();
            if (here < 0) {
                astLog("[AST][ERR]Failed to tell, ret=%d.\n", here);
                return false;
            }
            bool parsed = atom.type == fourCc("stsd") ? parseStsdAtom(body) : parseStszAtom(body);
            if (!parsed || !seekTo(here)) return false;
            // then skipped like any other atom
        }
            [[fallthrough]];
        default:
            if (!mAccess->seek(static_cast<int32_t>(body), 1)) {
                astLog("[AST][ERR]Failed to seek to %d from %d, ret=%d.\n", static_cast<int32_t>(body), 1, 0);
                return false;
            }
            remaining -= atom.size;
            position += atom.size;
            break;
        }
        if (remaining == 0) return true;
    }
}

bool AlacAudioDataReader::parseStsdAtom(uint64_t bodyLength) {
    if (bodyLength < kStsdMinBody) {
        astLog("[AST][ERR]Unexpected 'stsd' atom length.\n");
        return false;
    }
    ByteCursor body = readAtomBody(bodyLength);
    if (!body.ok()) return false;

    body.skip(4);
    uint32_t count = body.be(4);
    body.skip(4);
    uint32_t format = body.be(4);
    if (count != 1 || format != fourCc("alac")) {
        astLog("[AST][ERR]Found no 'ALAC' audio format.\n");
        return false;
    }
    // The ALAC configuration record (the magic cookie) in the sample entry.
    body.seek(52);
    body.skip(4);
    mMaxSamplePerFrame = body.be(4);
    body.skip(1);
    mSampleSize = static_cast<uint8_t>(body.be(1));
    body.skip(3);
    const uint32_t channels = body.be(1);
    body.skip(10);
    mSampleRate = body.be(4);

    mapSampleRate(mSampleRate);
    mapChannel(static_cast<uint8_t>(channels));
    return true;
}

bool AlacAudioDataReader::parseStszAtom(uint64_t bodyLength) {
    if (bodyLength < kStszMinBody) {
        astLog("[AST][ERR]Unexpected 'stsd' atom length.\n");
        return false;
    }
    ByteCursor body = readAtomBody(bodyLength);
    if (!body.ok()) return false;

    body.skip(8);
    mTotalFrames = static_cast<int32_t>(body.be(4));
    if (mTotalFrames < 0 || (bodyLength - kStszMinBody) / 4 < static_cast<uint64_t>(mTotalFrames)) {
        astLog("[AST][ERR]Unexpected 'stsd' atom length.\n");
        return false;
    }
    mFrameSizes.resize(static_cast<size_t>(mTotalFrames));
    for (uint32_t& size : mFrameSizes) size = body.be(4);
    return true;
}

int32_t AlacAudioDataReader::getFrameLength() {
    if (mFrameIndex < 0 || static_cast<size_t>(mFrameIndex) >= mFrameSizes.size()) return 0;
    return static_cast<int32_t>(mFrameSizes[static_cast<size_t>(mFrameIndex)]);
}

FrameBuffer* AlacAudioDataReader::readFrame() {
    mFrame.length = 0;
    if (mFrameIndex >= mTotalFrames) {
        astLog("[AST][WRN]No more frame to read.\n");
        return &mFrame;
    }
    const int32_t packetLength = getFrameLength();
    if (packetLength <= 0) return &mFrame;

    uint8_t* p = mPacketHeader + 4;
    uint32_t last = mFrameIndex == mTotalFrames - 1 ? kLastPacketBit : 0;
    writeByteField(p, 4, static_cast<uint32_t>(packetLength) | last, AST_BIG_ENDIAN);

    // A size past the end of the file reads what is there, as a short read.
    int32_t here = mAccess->tell();
    int64_t available = here < 0 ? 0 : std::max<int64_t>(mFileEnd - here, 0);
    const int32_t take = static_cast<int32_t>(
        std::min<int64_t>({packetLength, available, INT32_MAX - kPacketHeaderLength}));
    // The first packet sizes the block for the largest one the file can hold, so that reading
    // on never allocates.
    if (mFrame.capacity == 0) {
        uint32_t largest = 0;
        for (uint32_t size : mFrameSizes) largest = std::max(largest, size);
        mFrame.reserve(static_cast<int32_t>(std::min<int64_t>({largest, available, INT32_MAX - kPacketHeaderLength})) +
                       kPacketHeaderLength);
    }
    if (!mFrame.reserve(take + kPacketHeaderLength) || mFrame.capacity < take + kPacketHeaderLength) return &mFrame;
    memcpy(mFrame.data, mPacketHeader, kPacketHeaderLength);

    int32_t n = take > 0 ? std::max(mAccess->read(mFrame.data + kPacketHeaderLength, take), 0) : 0;
    if (n == packetLength) {
        mFrame.length = packetLength + kPacketHeaderLength;
        ++mFrameIndex;
    } else if (n == take || mAccess->isEof()) {
        astLog("[AST][INF]Reached end of data:%d.\n", n);
    } else {
        astLog("[AST][ERR]Failed to read:%d.\n", n);
    }
    return &mFrame;
}
