#include "WmaAudioDataReader.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ClaimedBlock.h"
#include "FieldCodec.h"

namespace {

const uint32_t kCodecWmaV2 = 0x161;
const int32_t kHeaderObjectHead = 30;
const int32_t kDataObjectHead = 50;
const uint32_t kSubObjectHead = 24;
// Stream Properties Object: where the fixed fields end, and where the audio format ends
// without and with the WMA-specific tail.
const uint32_t kStreamPropertiesFixed = 78;
const uint32_t kAudioFormatEnd = 96;
const uint32_t kWmaFormatEnd = 106;
const int32_t kPayloadParsingInfo = 20;
const uint8_t kFieldWidths[4] = {0, 1, 2, 4};  // by length type

}  // namespace

WmaAudioDataReader::WmaAudioDataReader(const char* path) : AudioDataReader(path) {
    if (!mAccess->isOpen()) return;

    int32_t headerSize = parseHeaderObject();
    if (headerSize < 0) return;
    astLog("[AST][INF]ASF top-level header object length:%d\n", headerSize);

    if (!mFormat || mFormat->codecId != kCodecWmaV2) {
        astLog("[AST][ERR]Unsupported WMA codec id:%d\n", mFormat ? static_cast<int>(mFormat->codecId) : 0);
        return;
    }

    int32_t dataHeader = parseDataObjectHeader();
    astLog("[AST][INF]ASF top-level data object header length:%d\n", dataHeader);
    if (dataHeader < 0) return;

    mInvalid = false;
    if (!seekTo(headerSize + kDataObjectHead)) mInvalid = true;
}

int32_t WmaAudioDataReader::parseHeaderObject() {
    uint8_t head[kHeaderObjectHead];
    if (readFully(head, kHeaderObjectHead) != kHeaderObjectHead) return -1;

    const uint8_t* p = head;
    uint32_t row = findGuid(p, "objectId");
    if (row != ASF_GUID_HEADER_OBJECT) {
        astLog("[AST][ERR]ASF top-level header object id error:%d\n", static_cast<int>(row));
        return -1;
    }
    uint32_t objectSize = readByteField(p, 8, AST_LITTLE_ENDIAN, "objectSize", 0);
    uint32_t subObjectNumber = readByteField(p, 4, AST_LITTLE_ENDIAN, "subObjectNumber", 0);
    readByteField(p, 1, AST_LITTLE_ENDIAN, "reserved1", 1);
    readByteField(p, 1, AST_LITTLE_ENDIAN, "reserved2", 1);
    if (objectSize < static_cast<uint32_t>(kHeaderObjectHead)) {
        astLog("[AST][ERR]ASF top-level header object size error:%u\n", objectSize);
        return -1;
    }

    // A size beyond what 32-bit positions reach is cut to a claim the file cannot satisfy.
    uint32_t bodySize = objectSize - kHeaderObjectHead;
    int32_t claimed = bodySize > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bodySize);
    int32_t got = 0;
    uint8_t* block = readClaimedBlock(*mAccess, claimed, remainingLength(), 0, got);
    if (block == nullptr || got != claimed) {
        free(block);
        return -1;
    }

    bool ok = true;
    uint32_t at = 0;
    for (uint32_t i = 0; ok && i < subObjectNumber; ++i) {
        uint32_t left = bodySize - at;
        const uint8_t* object = block + at;
        p = object;
        uint32_t size = 0;
        if (left >= kSubObjectHead) {
            row = findGuid(p, "objectId");
            size = readByteField(p, 8, AST_LITTLE_ENDIAN, "objectSize", 0);
        }
        if (size < kSubObjectHead || size > left) {
            astLog("[AST][ERR]ASF header sub-object %u runs past the header object(objectSize=%u, %u bytes left).\n",
                   i, size, left);
            ok = false;
        } else {
            if (row == ASF_GUID_STREAM_PROPERTIES_OBJECT) ok = parseStreamProperties(object, size);
            at += size;
        }
    }
    free(block);
    return ok ? static_cast<int32_t>(objectSize) : -1;
}

bool WmaAudioDataReader::parseStreamProperties(const uint8_t* object, uint32_t objectSize) {
    if (objectSize < kStreamPropertiesFixed) {
        astLog("[AST][ERR]ASF stream properties object too short:%u\n", objectSize);
        return false;
    }
    const uint8_t* p = object + kSubObjectHead;
    uint32_t streamType = findGuid(p, "streamTypeId");
    findGuid(p, "errorCorrectionTypeId");
    readByteField(p, 8, AST_LITTLE_ENDIAN, "timeOffset", 0);
    readByteField(p, 4, AST_LITTLE_ENDIAN, "typeSpecificDataLength", 0);
    readByteField(p, 4, AST_LITTLE_ENDIAN, "errorCorrectionDataLength", 0);
    readByteField(p, 2, AST_LITTLE_ENDIAN, "flags", 1);
    readByteField(p, 4, AST_LITTLE_ENDIAN, "reserved", 1);
    if (streamType != ASF_GUID_AUDIO_MEDIA) return true;

    if (objectSize < kAudioFormatEnd) {
        astLog("[AST][ERR]ASF stream properties object too short:%u\n", objectSize);
        return false;
    }
    std::unique_ptr<WmaStreamFormat> f(new WmaStreamFormat());
    f->codecId = readByteField(p, 2, AST_LITTLE_ENDIAN, "codecId", 0);
    f->channels = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "channels", 0));
    f->samplesPerSecond = readByteField(p, 4, AST_LITTLE_ENDIAN, "samplesPerSecond", 0);
    f->avgBytesPerSecond = readByteField(p, 4, AST_LITTLE_ENDIAN, "avgBytesPerSecond", 0);
    f->blockAlignment = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "blockAlignment", 0));
    f->bitsPerSample = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "bitsPerSample", 0));
    f->codecSpecificDataSize = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "codecSpecificDataSize", 0));
    if (f->codecId == kCodecWmaV2) {
        if (objectSize < kWmaFormatEnd) {
            astLog("[AST][ERR]ASF stream properties object too short:%u\n", objectSize);
            return false;
        }
        f->samplesPerBlock = readByteField(p, 4, AST_LITTLE_ENDIAN, "samplesPerBlock", 0);
        f->encodeOptions = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "encodeOptions", 0));
        f->superBlockAlign = readByteField(p, 4, AST_LITTLE_ENDIAN, "superBlockAlign", 0);
    }
    mFormat = std::move(f);

    mapSampleRate(mFormat->samplesPerSecond);
    mapChannel(static_cast<uint8_t>(mFormat->channels & 0xFF));
    mInfo.wma.bitsPerSample = mFormat->bitsPerSample;
    mInfo.wma.blockAlignment = mFormat->blockAlignment;
    mInfo.wma.avgBytesPerSecond = mFormat->avgBytesPerSecond;
    mInfo.wma.samplesPerBlock = mFormat->samplesPerBlock;
    mInfo.wma.encodeOptions = mFormat->encodeOptions;
    return true;
}

int32_t WmaAudioDataReader::parseDataObjectHeader() {
    uint8_t head[kDataObjectHead];
    if (readFully(head, kDataObjectHead) != kDataObjectHead) return -1;
    const uint8_t* p = head;
    uint32_t row = findGuid(p, "objectId");
    if (row != ASF_GUID_DATA_OBJECT) {
        astLog("[AST][ERR]ASF top-level data object id error:%d\n", static_cast<int>(row));
        return -1;
    }
    readByteField(p, 8, AST_LITTLE_ENDIAN, "objectSize", 0);
    p += 16;  // file id
    mRemainingPackets = static_cast<int32_t>(readByteField(p, 8, AST_LITTLE_ENDIAN, "totalDataPacket", 0));
    readByteField(p, 2, AST_LITTLE_ENDIAN, "reserved", 1);
    return kDataObjectHead;
}

bool WmaAudioDataReader::skip(int32_t offset) {
    if (mAccess->seek(offset, 1)) return true;
    astLog("[AST][ERR]Failed to seek to %d from %d, ret=%d.\n", offset, 1, 0);
    return false;
}

int32_t WmaAudioDataReader::nextPayload() {
    if (mPayloadsLeft > 0) {
        int32_t n = parsePayloadHeader();
        return n > 0 ? n : -1;
    }
    if (mRemainingPackets <= 0) {
        astLog("[AST][WRN]No more frame to read.\n");
        return -1;
    }
    --mRemainingPackets;

    uint8_t first = 0;
    if (readFully(&first, 1) != 1) return -1;
    const uint8_t* p = &first;
    uint8_t bitsLeft = 8;
    bool errorCorrectionPresent = readBitField(p, 1, bitsLeft, "errorCorrectionPresent", 0) != 0;
    if (!skip(-1)) return -1;

    int32_t consumed = 0;
    if (errorCorrectionPresent) {
        uint8_t ec[3];
        if (readFully(ec, 3) != 3) return -1;
        p = ec;
        bitsLeft = 8;
        mErrorCorrectionFlags = static_cast<uint8_t>(readBitField(p, 8, bitsLeft, "errorCorrectionFlags", 0));
        if ((mErrorCorrectionFlags & 0x7F) != 0x02) astLog("[AST][WRN]ASF Error Correction Data field is illegal.\n");
        consumed += 3;
    }

    // Read in one piece at its largest; what the length types leave unused is given back.
    uint8_t info[kPayloadParsingInfo];
    if (readFully(info, kPayloadParsingInfo) != kPayloadParsingInfo) return -1;
    p = info;
    bitsLeft = 8;
    mLengthTypeFlags = static_cast<uint8_t>(readBitField(p, 8, bitsLeft, "lengthTypeFlags", 0));
    mPropertyFlags = static_cast<uint8_t>(readBitField(p, 8, bitsLeft, "propertyFlags", 0));
    uint8_t sequenceType = (mLengthTypeFlags >> 1) & 0x03;
    if (sequenceType != 0 || packetLengthType() != 0 || mPropertyFlags != 0x5D)
        astLog("[AST][WRN]ASF Payload Parsing Info field is illegal.\n");
    uint8_t packetWidth = kFieldWidths[packetLengthType()];
    uint8_t paddingWidth = kFieldWidths[(mLengthTypeFlags >> 3) & 0x03];
    mPacketLength = readByteField(p, packetWidth, AST_LITTLE_ENDIAN, "packetLength", 0);
    mPaddingLength = readByteField(p, paddingWidth, AST_LITTLE_ENDIAN, "paddingLength", 0);
    mSendTime = readByteField(p, 4, AST_LITTLE_ENDIAN, "sendTime", 0);
    mDuration = static_cast<uint16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "duration", 0));
    int32_t used = 2 + packetWidth + paddingWidth + 6;
    if (!skip(used - kPayloadParsingInfo)) return -1;
    consumed += used;

    if (multiplePayloads()) {
        uint8_t flags = 0;
        if (readFully(&flags, 1) != 1) return -1;
        p = &flags;
        bitsLeft = 8;
        uint32_t payloadLengthType = readBitField(p, 2, bitsLeft, "payloadLengthType", 0);
        uint32_t numberOfPayloads = readBitField(p, 6, bitsLeft, "numberOfPayloads", 0);
        mPayloadsLeft = static_cast<int32_t>(numberOfPayloads);
        if (numberOfPayloads == 0 || payloadLengthType == 0) {
            astLog("[AST][ERR]Invalid multiple payload, numberOfPayloads=%u, payloadLengthType=%u\n",
                   numberOfPayloads, payloadLengthType);
            return -1;
        }
        consumed += 1;
    } else {
        mPayloadsLeft = 1;
    }

    int32_t header = parsePayloadHeader();
    return header < 0 ? -1 : consumed + header;
}

int32_t WmaAudioDataReader::parsePayloadHeader() {
    uint8_t head[7];
    if (readFully(head, 7) != 7) return -1;
    const uint8_t* p = head;
    uint8_t bitsLeft = 8;
    readBitField(p, 1, bitsLeft, "keyFrameBit", 0);
    readBitField(p, 7, bitsLeft, "streamNumber", 0);
    mMediaObjectNumber = readByteField(p, 1, AST_LITTLE_ENDIAN, "mediaObjectNumber", 0);
    readByteField(p, 4, AST_LITTLE_ENDIAN, "offsetIntoMediaObject", 0);
    mReplicatedDataLength = readByteField(p, 1, AST_LITTLE_ENDIAN, "replicatedDataLength", 0);
    if (mReplicatedDataLength == 1) {
        astLog("[AST][WRN]Not supported so far for compressed payload(s).\n");
        return -1;
    }
    if (!skip(static_cast<int32_t>(mReplicatedDataLength))) return -1;
    --mPayloadsLeft;
    return static_cast<int32_t>(mReplicatedDataLength) + 7;
}

int32_t WmaAudioDataReader::getFrameLength() {
    int32_t n = mFormat ? mFormat->blockAlignment : 0;
    if (!multiplePayloads()) return n;

    uint8_t field[2];
    if (readFully(field, 2) != 2) return -1;
    const uint8_t* p = field;
    int32_t payloadLength = static_cast<int16_t>(readByteField(p, 2, AST_LITTLE_ENDIAN, "payloadLength", 0));
    if (packetLengthType() != 0 && payloadLength != n) {
        astLog("[AST][WRN]Frame length conflict, force blockAlignment(%d) to payloadLength(%d)\n", n, payloadLength);
        return payloadLength;
    }
    return n;
}

FrameBuffer* WmaAudioDataReader::readFrame() {
    mFrame.length = 0;
    if (nextPayload() < 1) return &mFrame;
    // At most 65535: the block alignment is 16 bits, a payload length signed 16 bits, so the
    // prefix's 2-byte size always holds it.
    int32_t n = getFrameLength();
    if (n < 1) return &mFrame;
    if (!mFrame.reserve(n + 8) || mFrame.capacity < n + 8) return &mFrame;

    uint8_t* w = mFramePrefix + 4;
    writeByteField(w, 1, mMediaObjectNumber & 0xFF, AST_BIG_ENDIAN, "mediaObjectNumber", 0);
    writeByteField(w, 1, mReplicatedDataLength & 0xFF, AST_BIG_ENDIAN, "replicatedDataLength", 0);
    writeByteField(w, 2, static_cast<uint32_t>(n), AST_BIG_ENDIAN, "packetSize", 0);
    memcpy(mFrame.data, mFramePrefix, sizeof(mFramePrefix));

    if (readFully(mFrame.data + 8, n) != n) return &mFrame;
    if (mPayloadsLeft <= 0) {
        int32_t padding = mPaddingLength > INT32_MAX ? INT32_MAX : static_cast<int32_t>(mPaddingLength);
        if (!skip(padding)) return &mFrame;
    }
    mFrame.length = n + 8;
    return &mFrame;
}
