#include "WmaAudioDataReader.h"

#include <climits>
#include <cstring>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "AsfGuid.h"
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

WmaAudioDataReader::WmaAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int64_t WmaAudioDataReader::parseHeaders() {
    const int32_t headerSize = parseHeaderObject();
    if (headerSize < 0) return -1;
    astLog("[AST][INF]ASF top-level header object length:%d\n", headerSize);

    if (!mFormat || mFormat->codecId != kCodecWmaV2) {
        astLog("[AST][ERR]Unsupported WMA codec id:%d\n", mFormat ? static_cast<int>(mFormat->codecId) : 0);
        return -1;
    }

    const int32_t dataHeader = parseDataObjectHeader();
    astLog("[AST][INF]ASF top-level data object header length:%d\n", dataHeader);
    return dataHeader < 0 ? -1 : headerSize + kDataObjectHead;
}

int32_t WmaAudioDataReader::parseHeaderObject() {
    uint8_t head[kHeaderObjectHead];
    if (readFully(head, kHeaderObjectHead) != kHeaderObjectHead) return -1;

    ByteCursor c(head, kHeaderObjectHead);
    const uint32_t row = readGuid(c);
    if (row != ASF_GUID_HEADER_OBJECT) {
        astLog("[AST][ERR]ASF top-level header object id error:%d\n", static_cast<int>(row));
        return -1;
    }
    const uint32_t objectSize = c.le(8);
    const uint32_t subObjectNumber = c.le(4);
    if (objectSize < static_cast<uint32_t>(kHeaderObjectHead)) {
        astLog("[AST][ERR]ASF top-level header object size error:%u\n", objectSize);
        return -1;
    }

    // A size beyond what 32-bit positions reach is cut to a claim the file cannot satisfy.
    const uint32_t bodySize = objectSize - kHeaderObjectHead;
    ByteCursor body = readClaimed(bodySize > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bodySize));
    if (!body.ok()) return -1;

    for (uint32_t i = 0; i < subObjectNumber; ++i) {
        const size_t left = body.remaining();
        uint32_t size = 0;
        uint32_t objectRow = ASF_GUID_NOT_FOUND;
        ByteCursor object(body.here(), left);
        if (left >= kSubObjectHead) {
            objectRow = readGuid(object);
            size = object.le(8);
        }
        if (size < kSubObjectHead || size > left) {
            astLog("[AST][ERR]ASF header sub-object %u runs past the header object(objectSize=%u, %u bytes left).\n", i,
                   size, static_cast<uint32_t>(left));
            return -1;
        }
        ByteCursor whole = body.sub(size);
        if (objectRow == ASF_GUID_STREAM_PROPERTIES_OBJECT && !parseStreamProperties(whole)) return -1;
    }
    return static_cast<int32_t>(objectSize);
}

bool WmaAudioDataReader::parseStreamProperties(ByteCursor& object) {
    const uint32_t objectSize = static_cast<uint32_t>(object.size());
    if (objectSize < kStreamPropertiesFixed) {
        astLog("[AST][ERR]ASF stream properties object too short:%u\n", objectSize);
        return false;
    }
    object.seek(kSubObjectHead);
    const uint32_t streamType = readGuid(object);
    // error correction type, time offset, type-specific and error correction lengths, flags,
    // reserved
    object.skip(16 + 8 + 4 + 4 + 2 + 4);
    if (streamType != ASF_GUID_AUDIO_MEDIA) return true;

    if (objectSize < kAudioFormatEnd) {
        astLog("[AST][ERR]ASF stream properties object too short:%u\n", objectSize);
        return false;
    }
    std::unique_ptr<WmaStreamFormat> f(new WmaStreamFormat());
    f->codecId = object.le(2);
    f->channels = static_cast<uint16_t>(object.le(2));
    f->samplesPerSecond = object.le(4);
    f->avgBytesPerSecond = object.le(4);
    f->blockAlignment = static_cast<uint16_t>(object.le(2));
    f->bitsPerSample = static_cast<uint16_t>(object.le(2));
    object.skip(2);  // codecSpecificDataSize
    if (f->codecId == kCodecWmaV2) {
        if (objectSize < kWmaFormatEnd) {
            astLog("[AST][ERR]ASF stream properties object too short:%u\n", objectSize);
            return false;
        }
        f->samplesPerBlock = object.le(4);
        f->encodeOptions = static_cast<uint16_t>(object.le(2));
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
    ByteCursor c(head, kDataObjectHead);
    const uint32_t row = readGuid(c);
    if (row != ASF_GUID_DATA_OBJECT) {
        astLog("[AST][ERR]ASF top-level data object id error:%d\n", static_cast<int>(row));
        return -1;
    }
    c.skip(8 + 16);  // object size, file id
    mRemainingPackets = static_cast<int32_t>(c.le(8));
    return kDataObjectHead;
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
    const bool errorCorrectionPresent = (first & 0x80) != 0;
    if (!skip(-1)) return -1;

    int32_t consumed = 0;
    if (errorCorrectionPresent) {
        uint8_t ec[3];
        if (readFully(ec, 3) != 3) return -1;
        if ((ec[0] & 0x7F) != 0x02) astLog("[AST][WRN]ASF Error Correction Data field is illegal.\n");
        consumed += 3;
    }

    // Read in one piece at its largest; what the length types leave unused is given back.
    uint8_t info[kPayloadParsingInfo];
    if (readFully(info, kPayloadParsingInfo) != kPayloadParsingInfo) return -1;
    ByteCursor c(info, kPayloadParsingInfo);
    mLengthTypeFlags = static_cast<uint8_t>(c.be(1));
    const uint32_t propertyFlags = c.be(1);
    const uint8_t sequenceType = (mLengthTypeFlags >> 1) & 0x03;
    if (sequenceType != 0 || packetLengthType() != 0 || propertyFlags != 0x5D)
        astLog("[AST][WRN]ASF Payload Parsing Info field is illegal.\n");
    const uint8_t packetWidth = kFieldWidths[packetLengthType()];
    const uint8_t paddingWidth = kFieldWidths[(mLengthTypeFlags >> 3) & 0x03];
    c.skip(packetWidth);  // packet length
    mPaddingLength = c.le(paddingWidth);
    const int32_t used = 2 + packetWidth + paddingWidth + 6;  // send time and duration behind
    if (!skip(used - kPayloadParsingInfo)) return -1;
    consumed += used;

    if (multiplePayloads()) {
        uint8_t flags = 0;
        if (readFully(&flags, 1) != 1) return -1;
        const uint32_t payloadLengthType = flags >> 6;
        const uint32_t numberOfPayloads = flags & 0x3F;
        mPayloadsLeft = static_cast<int32_t>(numberOfPayloads);
        if (numberOfPayloads == 0 || payloadLengthType == 0) {
            astLog("[AST][ERR]Invalid multiple payload, numberOfPayloads=%u, payloadLengthType=%u\n", numberOfPayloads,
                   payloadLengthType);
            return -1;
        }
        consumed += 1;
    } else {
        mPayloadsLeft = 1;
    }

    const int32_t header = parsePayloadHeader();
    return header < 0 ? -1 : consumed + header;
}

int32_t WmaAudioDataReader::parsePayloadHeader() {
    uint8_t head[7];
    if (readFully(head, 7) != 7) return -1;
    ByteCursor c(head, 7);
    c.skip(1);  // key frame bit, stream number
    mMediaObjectNumber = c.le(1);
    c.skip(4);  // offset into the media object
    mReplicatedDataLength = c.le(1);
    if (mReplicatedDataLength == 1) {
        astLog("[AST][WRN]Not supported so far for compressed payload(s).\n");
        return -1;
    }
    if (!skip(static_cast<int32_t>(mReplicatedDataLength))) return -1;
    --mPayloadsLeft;
    return static_cast<int32_t>(mReplicatedDataLength) + 7;
}

int32_t WmaAudioDataReader::getFrameLength() {
    const int32_t n = mFormat ? mFormat->blockAlignment : 0;
    if (!multiplePayloads()) return n;

    uint8_t field[2];
    if (readFully(field, 2) != 2) return -1;
    const int32_t payloadLength = static_cast<int16_t>(ByteCursor(field, 2).le(2));
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
    const int32_t n = getFrameLength();
    if (n < 1) return &mFrame;
    if (!mFrame.reserve(n + 8) || mFrame.capacity < n + 8) return &mFrame;

    uint8_t* w = mFramePrefix + 4;
    writeByteField(w, 1, mMediaObjectNumber & 0xFF, AST_BIG_ENDIAN);
    writeByteField(w, 1, mReplicatedDataLength & 0xFF, AST_BIG_ENDIAN);
    writeByteField(w, 2, static_cast<uint32_t>(n), AST_BIG_ENDIAN);
    memcpy(mFrame.data, mFramePrefix, sizeof(mFramePrefix));

    if (readFully(mFrame.data + 8, n) != n) return &mFrame;
    if (mPayloadsLeft <= 0) {
        const int32_t padding = mPaddingLength > INT32_MAX ? INT32_MAX : static_cast<int32_t>(mPaddingLength);
        if (!skip(padding)) return &mFrame;
    }
    mFrame.length = n + 8;
    return &mFrame;
}
