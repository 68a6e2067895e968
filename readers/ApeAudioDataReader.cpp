#include "ApeAudioDataReader.h"

#include <climits>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ClaimedBlock.h"
#include "FieldCodec.h"

namespace {

const uint32_t kMagicMac = 0x4D414320;  // "MAC "
const uint32_t kSyncWord = 0x41504573;  // "APEs"
const uint16_t kFirstNewLayoutVersion = 3980;

const uint16_t kFlag8Bit = 0x01;
const uint16_t kFlagPeakLevel = 0x04;
const uint16_t kFlag24Bit = 0x08;
const uint16_t kFlagSeekElements = 0x10;
const uint16_t kFlagNoWavHeader = 0x20;

const uint32_t kLastFrameBit = 0x80000000u;

// A table that big would overflow its 32-bit byte length.
const uint32_t kMaxSeekEntries = INT32_MAX / 4;

}  // namespace

ApeAudioDataReader::ApeAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int64_t ApeAudioDataReader::parseHeaders() { return parseApeHeader(); }

void ApeAudioDataReader::describe() { printSummary("parseApeHeader"); }

int32_t ApeAudioDataReader::parseApeHeader() {
    if (!parseMagic()) {
        astLog("[AST][ERR]Parse magic header fail.\n");
        return -1;
    }
    int32_t headerBytes = mVersion < kFirstNewLayoutVersion ? parseOldHeader() : parseHeader3980();
    if (headerBytes < 0) {
        astLog("[AST][ERR]Parse header fail, length3980=%d.\n", headerBytes);
        return -1;
    }
    printSeekTable();
    fillFrameHeader();
    mapSampleRate(mSampleRate);
    mapChannel(static_cast<uint8_t>(mChannelNum & 0xFF));
    return headerBytes + 6 + mTagLength;
}

bool ApeAudioDataReader::parseMagic() {
    uint8_t head[10];
    if (readFully(head, 6) != 6) return false;
    const int64_t tag = skipId3v2Tag(head, 6, "APE header");
    if (tag < 0) return false;
    mTagLength = static_cast<int32_t>(tag);
    ByteCursor c(head, 6);
    const uint32_t magic = c.be(4);
    if (magic != kMagicMac) {
        astLog("[AST][ERR]APE file magic (MAC ) error(magic=%08X).\n", magic);
        return false;
    }
    mVersion = static_cast<uint16_t>(c.le(2));
    return true;
}

int32_t ApeAudioDataReader::parseHeader3980() {
    uint8_t descriptor[46];
    if (readFully(descriptor, sizeof(descriptor)) != static_cast<int32_t>(sizeof(descriptor))) return -1;
    ByteCursor d(descriptor, sizeof(descriptor));
    d.skip(2);  // padding
    mDescriptorLength = d.le(4);
    mHeaderLength = d.le(4);
    mSeekTableLength = d.le(4);
    mWavHeaderLength = d.le(4);
    mAudioDataLength = d.le(4);
    // the length's high word, the WAV tail's length and the MD5 sum are not needed
    int64_t headerBytes = 46;

    int32_t extraDescriptor = static_cast<int32_t>(mDescriptorLength - 52);
    if (extraDescriptor > 0) {
        if (!skip(extraDescriptor)) return -1;
        headerBytes = mDescriptorLength - 6;
    }

    uint8_t header[24];
    if (readFully(header, sizeof(header)) != static_cast<int32_t>(sizeof(header))) return -1;
    ByteCursor h(header, sizeof(header));
    mCompressionLevel = h.le(2);
    mFormatFlags = static_cast<uint16_t>(h.le(2));
    mBlocksPerFrame = h.le(4);
    mFinalFrameBlocks = h.le(4);
    mTotalFrames = h.le(4);
    mBitsPerSample = static_cast<uint16_t>(h.le(2));
    mChannelNum = static_cast<uint16_t>(h.le(2));
    mSampleRate = h.le(4);
    headerBytes += 24;
    if (mHeaderLength > 24) {
        if (!skip(static_cast<int32_t>(mHeaderLength - 24))) return -1;
        headerBytes += mHeaderLength - 24;
    }

    mSeekNumber = static_cast<int32_t>(mTotalFrames);
    uint32_t tableBytes = mTotalFrames * 4;
    if (mSeekNumber < 1 || tableBytes > mSeekTableLength || mTotalFrames > kMaxSeekEntries) {
        astLog("[AST][ERR]APE seek info error, seekNumber=%d, seekTableBytes=%d, seekTableLength=%u, "
               "totalFrames=%u.\n",
               mSeekNumber, static_cast<int32_t>(tableBytes), mSeekTableLength, mTotalFrames);
        return -1;
    }
    if (!readSeekTable(mSeekNumber)) return -1;
    if (!skip(static_cast<int32_t>(mSeekTableLength - tableBytes))) return -1;
    headerBytes += mSeekTableLength;

    if (!(mFormatFlags & kFlagNoWavHeader)) {
        if (!skip(static_cast<int32_t>(mWavHeaderLength))) return -1;
        headerBytes += mWavHeaderLength;
    }
    if (!fitsPositions(headerBytes)) return -1;

    int64_t position = mAccess->tell();
    if (position < 0) {
        astLog("[AST][ERR]Failed to tell, ret=%lld.\n", static_cast<long long>(position));
        return -1;
    }
    // Unsigned, so that frame lengths taken from it stay right past 2 GiB.
    mAudioEnd = static_cast<int32_t>(static_cast<uint32_t>(position - mTagLength) + mAudioDataLength);
    return static_cast<int32_t>(headerBytes);
}

int32_t ApeAudioDataReader::parseOldHeader() {
    uint8_t header[26];
    if (readFully(header, sizeof(header)) != static_cast<int32_t>(sizeof(header))) return -1;
    mDescriptorLength = 0;
    mHeaderLength = 32;
    ByteCursor h(header, sizeof(header));
    mCompressionLevel = h.le(2);
    mFormatFlags = static_cast<uint16_t>(h.le(2));
    mChannelNum = static_cast<uint16_t>(h.le(2));
    mSampleRate = h.le(4);
    mWavHeaderLength = h.le(4);
    h.skip(4);  // WAV tail length
    mTotalFrames = h.le(4);
    mFinalFrameBlocks = h.le(4);
    int64_t headerBytes = 26;

    if (mFormatFlags & kFlagPeakLevel) {
        if (!skip(4)) return -1;
        headerBytes += 4;
        mHeaderLength += 4;
    }
    if (mFormatFlags & kFlagSeekElements) {
        uint8_t count[4];
        if (readFully(count, sizeof(count)) != static_cast<int32_t>(sizeof(count))) return -1;
        mSeekNumber = static_cast<int32_t>(ByteCursor(count, sizeof(count)).le(4));
        headerBytes += 4;
        mHeaderLength += 4;
    } else {
        mSeekNumber = static_cast<int32_t>(mTotalFrames);
    }
    if (mSeekNumber < 1 || static_cast<uint32_t>(mSeekNumber) != mTotalFrames || mTotalFrames > kMaxSeekEntries) {
        astLog("[AST][ERR]APE seek table length error, seekNumber=%d, totalFrames=%u.\n", mSeekNumber, mTotalFrames);
        return -1;
    }

    mSeekTableLength = static_cast<uint32_t>(mSeekNumber) * 4;
    if (mFormatFlags & kFlag8Bit)
        mBitsPerSample = 8;
    else if (mFormatFlags & kFlag24Bit)
        mBitsPerSample = 24;
    else
        mBitsPerSample = 16;
    if (mVersion >= 3950)
        mBlocksPerFrame = 294912;
    else if (mVersion >= 3900 || (mVersion >= 3800 && mCompressionLevel >= 4000))
        mBlocksPerFrame = 73728;
    else
        mBlocksPerFrame = 9216;

    if (!(mFormatFlags & kFlagNoWavHeader)) {
        if (!skip(static_cast<int32_t>(mWavHeaderLength))) return -1;
        headerBytes += mWavHeaderLength;
    }
    if (!readSeekTable(mSeekNumber)) return -1;
    headerBytes += mSeekTableLength;
    if (!fitsPositions(headerBytes)) return -1;

    // The old layout's audio ends at the end of the file, which a pipe cannot tell.
    if (fileLength() < 0) {
        astLog("[AST][ERR]Input is not seekable, old APE files are read from regular files only.\n");
        return -1;
    }
    if (!seekTo(0, 2)) return -1;
    int64_t end = mAccess->tell();
    if (end < 0) {
        astLog("[AST][ERR]Failed to tell, ret=%lld.\n", static_cast<long long>(end));
        return -1;
    }
    mAudioEnd = static_cast<int32_t>(end - mTagLength);
    return static_cast<int32_t>(headerBytes);
}

bool ApeAudioDataReader::readSeekTable(int32_t count) {
    int32_t claimed = count * 4;
    mSeekTable = readClaimed(claimed);
    if (!mSeekTable.holds()) {
        astLog("[AST][ERR]Failed to allocate the seek table(%d bytes).\n", claimed);
        return false;
    }
    return mSeekTable.ok();
}

bool ApeAudioDataReader::fitsPositions(int64_t headerBytes) {
    if (headerBytes + 6 + mTagLength <= INT32_MAX) return true;
    astLog("[AST][ERR]APE headers end beyond 32-bit file positions(%lld bytes).\n",
           static_cast<long long>(headerBytes + 6 + mTagLength));
    return false;
}

void ApeAudioDataReader::printSeekTable() {
    for (int32_t i = 0; i < mSeekNumber; ++i) {
        astLog("%d:\t%u\t\n", i, seekEntry(i));
        if ((i + 1) % 8 == 0) astLog("\n");
    }
    astLog("\n");
}

void ApeAudioDataReader::fillFrameHeader() {
    memset(mFrameHeader, 0, sizeof(mFrameHeader));
    uint8_t* p = mFrameHeader;
    writeByteField(p, 4, kSyncWord, AST_BIG_ENDIAN);
    p += 4;  // frameSize, per frame
    writeByteField(p, 2, mVersion, AST_BIG_ENDIAN);
    writeByteField(p, 2, mCompressionLevel & 0xFFFF, AST_BIG_ENDIAN);
    p += 4;  // frameBlock, per frame
    writeByteField(p, 1, mBitsPerSample & 0xFF, AST_BIG_ENDIAN);
    uint8_t bitsLeft = 8;
    writeBitField(p, 4, mChannelNum, bitsLeft);
    writeBitField(p, 20, mSampleRate, bitsLeft);
}

int32_t ApeAudioDataReader::getFrameLength() {
    uint32_t k = static_cast<uint32_t>(mFrameNumber);
    if (k < 1 || k > mTotalFrames) {
        astLog("[AST][INF]File reached the last audio frame.\n");
        mFrameLength = 0;
        return 0;
    }
    // Unsigned differences, so that offsets past 2 GiB still give the right lengths.
    if (k < mTotalFrames) {
        mFrameLength = static_cast<int32_t>(seekEntry(k) - seekEntry(k - 1));
        mFrameBlocks = mBlocksPerFrame;
    } else {
        mFrameLength = static_cast<int32_t>(static_cast<uint32_t>(mAudioEnd) - seekEntry(k - 1));
        mFrameBlocks = mFinalFrameBlocks;
    }
    if (mFrameLength < 0) astLog("[AST][ERR]Invalid frame length.\n");
    return mFrameLength;
}

FrameBuffer* ApeAudioDataReader::readFrame() {
    if (!mFrame.reserve(mChunkSize + 4) || mFrame.capacity < mChunkSize + 4) return &mFrame;
    uint8_t* buffer = mFrame.data;
    int32_t pos = 0;
    if (mFrameRemaining <= 0) {
        ++mFrameNumber;
        if (getFrameLength() <= 0) return &mFrame;
        uint32_t frameSize = static_cast<uint32_t>(mFrameLength);
        if (static_cast<uint32_t>(mFrameNumber) == mTotalFrames) frameSize |= kLastFrameBit;
        uint8_t* p = mFrameHeader + 4;
        writeByteField(p, 4, frameSize, AST_BIG_ENDIAN);
        p = mFrameHeader + 12;
        writeByteField(p, 4, mFrameBlocks, AST_BIG_ENDIAN);
        memcpy(buffer, mFrameHeader, sizeof(mFrameHeader));
        pos = static_cast<int32_t>(sizeof(mFrameHeader));
        mFrameRemaining = mFrameLength;
    }
    if (mLeftoverCount > 0) {
        memcpy(buffer + pos, mLeftoverBytes, mLeftoverCount);
        pos += mLeftoverCount;
        mFrameRemaining -= mLeftoverCount;
        mLeftoverCount = 0;
    }

    int32_t want = mChunkSize - pos < mFrameRemaining ? mChunkSize - pos : mFrameRemaining;
    int32_t toRead = (want + 3) / 4 * 4;
    int32_t got = toRead > 0 ? mAccess->read(buffer + pos, toRead) : 0;
    if (got < 0) got = 0;
    if (got != toRead) {
        bool atEnd = mAccess->isEof();
        if (atEnd)
            astLog("[AST][INF]Reached end of data:%d.\n", got);
        else
            astLog("[AST][ERR]Failed to read:%d.\n", got);
        if (!atEnd) return &mFrame;
        astLog("[AST][WRN]File read reached unexpexted flow.\n");
        want = got;
    }
    mLeftoverCount = static_cast<uint8_t>(got - want);
    mFrameRemaining -= want;
    reverseEndian(pos, got);
    mFrame.length = pos + want;
    if (mLeftoverCount > 0) memcpy(mLeftoverBytes, buffer + mFrame.length, mLeftoverCount);
    return &mFrame;
}

void ApeAudioDataReader::reverseEndian(int32_t offset, int32_t length) {
    if (length % 4 != 0) {
        astLog("[AST][ERR]Cannot reverse endian because of invalid length:%d.\n", length);
        return;
    }
    // Whole words through the byte-swap built-in, which the compiler turns into vector code.
    for (uint8_t* word = mFrame.data + offset; word < mFrame.data + offset + length; word += 4) {
        uint32_t value;
        memcpy(&value, word, 4);
        value = __builtin_bswap32(value);
        memcpy(word, &value, 4);
    }
}
