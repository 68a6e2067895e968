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

}  // namespace

OggAudioDataReader::OggAudioDataReader(const char* path) : AudioDataReader(path) {
    uint8_t* p = mPacketPrefix;
    writeByteField(p, 4, kPacketSyncword, AST_BIG_ENDIAN);
    writeByteField(p, 2, 0, AST_BIG_ENDIAN);
    writeByteField(p, 2, 0, AST_BIG_ENDIAN);
    openStream();
}

// The first page is read again, whole, by the first readFrame.
int32_t OggAudioDataReader::parseHeaders() { return parseOggPageHeader() ? 0 : -1; }

bool OggAudioDataReader::parseOggPageHeader() {
    uint8_t head[kPageHeaderLength];
    if (readFully(head, kPageHeaderLength) != kPageHeaderLength) return false;

    ByteCursor c(head, kPageHeaderLength);
    const uint32_t magic = c.be(4);
    if (magic != kMagicOggS) {
        astLog("[AST][ERR]OGG file magic (OggS) error(magic=%08X).\n", magic);
        return false;
    }
    // revision, flags, granule position, serial and sequence numbers, CRC
    c.skip(22);
    mSegmentNumber = static_cast<uint8_t>(c.le(1));
    if (mSegmentNumber == 0) {
        astLog("[AST][ERR]OGG file segment number error:%d\n", mSegmentNumber);
        return false;
    }
    return true;
}

int32_t OggAudioDataReader::readPage() {
    if (!parseOggPageHeader()) return -1;
    uint8_t lacing[255];
    if (readFully(lacing, mSegmentNumber) != mSegmentNumber) return -1;

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
