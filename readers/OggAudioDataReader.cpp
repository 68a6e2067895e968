#include "OggAudioDataReader.h"

#include <algorithm>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "FieldCodec.h"

namespace {

const uint32_t kMagicOggS = 0x4F676753;  // "OggS"
const uint32_t kPacketSyncword = 0x76627349;
const int32_t kPageHeaderLength = 27;
const int32_t kPrefixLength = 8;
const uint8_t kBeginsStream = 0x02;
const uint8_t kEndsStream = 0x04;

// The identification headers of the codecs the decoder takes.
bool decodable(const uint8_t* p, int32_t n) {
    return (n >= 7 && p[0] == 1 && memcmp(p + 1, "vorbis", 6) == 0) || (n >= 8 && memcmp(p, "OpusHead", 8) == 0) ||
           (n >= 5 && p[0] == 0x7F && memcmp(p + 1, "FLAC", 4) == 0);
}

}  // namespace

OggAudioDataReader::OggAudioDataReader(const char* path) : AudioDataReader(path) {
    uint8_t* p = mPacketPrefix;
    writeByteField(p, 4, kPacketSyncword, AST_BIG_ENDIAN);
    writeByteField(p, 2, 0, AST_BIG_ENDIAN);
    writeByteField(p, 2, 0, AST_BIG_ENDIAN);
    openStream();
}

// The first page is read again, whole, by the first readFrame.
int64_t OggAudioDataReader::parseHeaders() { return parseOggPageHeader() ? 0 : -1; }

bool OggAudioDataReader::parseOggPageHeader() {
    uint8_t head[kPageHeaderLength];
    if (readFully(head, kPageHeaderLength) != kPageHeaderLength) return false;

    ByteCursor c(head, kPageHeaderLength);
    const uint32_t magic = c.be(4);
    if (magic != kMagicOggS) {
        astLog("[AST][ERR]OGG file magic (OggS) error(magic=%08X).\n", magic);
        return false;
    }
    c.skip(1);  // revision
    mPageTypeFlag = static_cast<uint8_t>(c.le(1));
    c.skip(8);  // granule position
    mStreamSerialNumber = c.le(4);
    c.skip(8);  // sequence number, CRC
    mSegmentNumber = static_cast<uint8_t>(c.le(1));
    if (mSegmentNumber == 0) {
        astLog("[AST][ERR]OGG file segment number error:%d\n", mSegmentNumber);
        return false;
    }
    return true;
}

bool OggAudioDataReader::handsOut(const uint8_t* lacing) {
    const uint32_t serial = mStreamSerialNumber;
    if (mPageTypeFlag & kBeginsStream) {
        if (mChosen && !mEnded) return skipStream(serial);
        // The first packet starts on this page: its first bytes name the codec.
        int32_t first = 0;
        for (int32_t i = 0; i < mSegmentNumber && first < 8; ++i) {
            first += lacing[i];
            if (lacing[i] < 255) break;
        }
        uint8_t head[8];
        const int32_t n = mAccess->read(head, std::min(first, 8));
        if (n < 0 || !skip(-n)) return false;
        if (!decodable(head, n)) return skipStream(serial);
    } else if ((mChosen && serial != mSerial) || (!mChosen && named(serial))) {
        return skipStream(serial);
    }
    if (!mChosen || mEnded || serial != mSerial) {
        // A new stream, or the next link of a chain: a packet the last one left open is dropped.
        mSerial = serial;
        mChosen = true;
        mEnded = false;
        mQueueEnd -= mPendingLength;
        mPendingLength = 0;
    }
    return true;
}

bool OggAudioDataReader::named(uint32_t serial) const {
    return std::find(mSkipped, mSkipped + mSkippedCount, serial) != mSkipped + mSkippedCount;
}

bool OggAudioDataReader::skipStream(uint32_t serial) {
    if (named(serial) || mSkippedCount == kNamedStreams) return false;
    mSkipped[mSkippedCount++] = serial;
    if (mChosen && !mEnded)
        astLog("[AST][WRN]OGG logical stream %08X skipped: stream %08X is decoded.\n", serial, mSerial);
    else
        astLog("[AST][WRN]OGG logical stream %08X skipped: not Vorbis, Opus or FLAC.\n", serial);
    return false;
}

int32_t OggAudioDataReader::readPage() {
    uint8_t lacing[255];
    for (;;) {
        if (!parseOggPageHeader()) return -1;
        if (readFully(lacing, mSegmentNumber) != mSegmentNumber) return -1;
        if (handsOut(lacing)) break;
        int32_t pageLength = 0;
        for (int32_t i = 0; i < mSegmentNumber; ++i) pageLength += lacing[i];
        if (!skip(pageLength)) return -1;
    }

    // Only the packet being joined is left: move it to the front.
    if (mCompleteCount == 0) {
        if (mQueueHead > 0 && mPendingLength > 0)
            memmove(mQueue.data(), mQueue.data() + mQueueHead, static_cast<size_t>(mPendingLength));
        mQueueHead = 0;
        mQueueEnd = mPendingLength;
        mPacketHead = 0;
    }
    int32_t pageLength = 0;
    for (int32_t i = 0; i < mSegmentNumber; ++i) pageLength += lacing[i];
    // At most 255 * 255 bytes of page and 65527 of a joined packet, so this stays small; it
    // takes a whole page at once from the start.
    const size_t needed = static_cast<size_t>(mQueueEnd + pageLength);
    if (needed > mQueue.size()) mQueue.resize(std::max<size_t>(needed, 255 * 255));

    int32_t sum = 0;
    for (int32_t i = 0; i < mSegmentNumber; ++i) {
        sum += lacing[i];
        bool complete = lacing[i] < 255;
        if (!complete && i + 1 < mSegmentNumber) continue;
        // The prefix could not carry the size of a longer packet: the stream ends before it,
        // and nothing of it is read.
        if (mPendingLength + sum > kMaxPacketLength) {
            astLog("[AST][ERR]OGG packet longer than %d bytes, stop reading pages.\n", kMaxPacketLength);
            mStopped = true;
            return -1;
        }
        if (sum > 0 && readFully(mQueue.data() + mQueueEnd, sum) != sum) return -1;
        mQueueEnd += sum;
        if (complete) {
            mPacketLengths[mPacketHead + mCompleteCount] = mPendingLength + sum;
            ++mCompleteCount;
            mPendingLength = 0;
        } else {
            mPendingLength += sum;
        }
        sum = 0;
    }
    if (mPageTypeFlag & kEndsStream) mEnded = true;
    return mCompleteCount;
}

FrameBuffer* OggAudioDataReader::readFrame() {
    mFrame.length = 0;
    while (mCompleteCount < 1) {
        if (mStopped || readPage() < 0) {
            if (mCompleteCount < 1) return &mFrame;
        }
    }

    // The page walk keeps every packet within kMaxPacketLength, so the 16-bit size is exact.
    const int32_t packetLength = mPacketLengths[mPacketHead];
    const int32_t size = packetLength + kPrefixLength;
    // Sized once for the longest packet the prefix can describe, so that reading on never allocates.
    if (!mFrame.reserve(kMaxPacketLength + kPrefixLength) || mFrame.capacity < size) return &mFrame;

    uint8_t* p = mPacketPrefix + 4;
    writeByteField(p, 2, static_cast<uint32_t>(size), AST_BIG_ENDIAN);
    writeByteField(p, 2, mRiscCnt, AST_BIG_ENDIAN);
    ++mRiscCnt;
    memcpy(mFrame.data, mPacketPrefix, kPrefixLength);
    if (packetLength > 0)
        memcpy(mFrame.data + kPrefixLength, mQueue.data() + mQueueHead, static_cast<size_t>(packetLength));
    mQueueHead += packetLength;
    ++mPacketHead;
    --mCompleteCount;
    mFrame.length = size;
    return &mFrame;
}
