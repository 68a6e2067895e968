#include "RaAudioDataReader.h"

#include <climits>
#include <cstdlib>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "ClaimedBlock.h"
#include "FieldCodec.h"

namespace {

const uint32_t kMarkerOld = 0x2E7261FD;  // ".ra\xFD", a bare RealAudio stream
const uint32_t kMarkerRmf = 0x2E524D46;  // ".RMF"
const uint32_t kTagProp = 0x50524F50;
const uint32_t kTagMdpr = 0x4D445052;
const uint32_t kTagData = 0x44415441;
const uint32_t kTagIndx = 0x494E4458;
const uint32_t kTagCont = 0x434F4E54;
const uint32_t kMimeAudio = 0x61756469;    // "audi"
const uint32_t kMimeLogical = 0x6C6F6769;  // "logi"
const int32_t kChunkHead = 10;
// 'DATA': packet count, next header and the first packet's header.
const int32_t kDataBodyRead = 20;
// From the start of 'DATA' to the first packet's payload.
const int32_t kDataPayloadOffset = kChunkHead + kDataBodyRead;

int32_t claimOf(uint32_t size) { return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size); }

}  // namespace

// Big-endian fields of one chunk body; a field that would run past the body reads as 0
// and leaves the cursor failed.
class RaBodyCursor {
public:
    RaBodyCursor(const uint8_t* body, int32_t length) : mAt(body), mLeft(static_cast<uint32_t>(length)) {}

    uint32_t field(uint8_t width, const char* name, int flag = 0) {
        if (!take(width)) return 0;
        return readByteField(mAt, width, AST_BIG_ENDIAN, name, flag);
    }
    void skip(uint32_t count) {
        if (take(count)) mAt += count;
    }
    void fail() { mOk = false; }
    bool ok() const { return mOk; }

private:
    bool take(uint32_t count) {
        if (!mOk || count > mLeft) {
            mOk = false;
            return false;
        }
        mLeft -= count;
        return true;
    }

    const uint8_t* mAt;
    uint32_t mLeft;
    bool mOk = true;
};

RaAudioDataReader::RaAudioDataReader(const char* path) : AudioDataReader(path) {
    if (!mAccess->isOpen()) return;
    if (!parseRaAudioHeader()) return;

    astLog("[AST][INF]parseRaAudioHeader:\n");
    astLog("[AST][INF]sampleFrequency=%d\n", mInfo.sampleFrequency);
    astLog("[AST][INF]channelMap=%d(1-Mono/2-Stereo)\n", mInfo.channelMap);
    if (!seekTo(mDataPos)) return;
    astLog("[AST][INF]dataPos=%d\n", mDataPos);
    mInvalid = false;
}

FrameBuffer* RaAudioDataReader::readFrame() {
    mFrame.length = 0;
    return &mFrame;
}

bool RaAudioDataReader::parseRaAudioHeader() {
    uint8_t head[4];
    if (readFully(head, 4) != 4) return false;
    const uint8_t* p = head;
    uint32_t magic = readByteField(p, 4, AST_BIG_ENDIAN, "magic", 1);
    if (magic == kMarkerOld) {
        mIsOldVersion = true;
        astLog("[AST][WRN]RA old version is unsupported so far.\n");
        return false;
    }
    if (magic != kMarkerRmf) {
        astLog("[AST][ERR]RA file marker error(marker=%08X).\n", magic);
        return false;
    }
    mIsOldVersion = false;
    return parseRmfHeader();
}

bool RaAudioDataReader::parseRmfHeader() {
    if (!seekTo(0)) return false;
    uint8_t head[kChunkHead];
    if (readFully(head, kChunkHead) != kChunkHead) return false;
    const uint8_t* p = head;
    readByteField(p, 4, AST_BIG_ENDIAN, "tag", 1);
    uint32_t size = readByteField(p, 4, AST_BIG_ENDIAN, "size", 0);
    if (size <= static_cast<uint32_t>(kChunkHead)) {
        astLog("[AST][ERR]Header length error:%d.\n", static_cast<int>(size));
        return false;
    }

    int32_t claimed = claimOf(size - kChunkHead);
    int32_t got = 0;
    uint8_t* body = readClaimedBlock(*mAccess, claimed, remainingLength(), 0, got);
    if (body == nullptr || got != claimed) {
        free(body);
        return false;
    }
    RaBodyCursor c(body, got);
    c.field(4, "fileVersion");
    uint32_t tagNumber = c.field(4, "tagNumber");
    free(body);
    if (!c.ok()) {
        astLog("[AST][ERR]RMF header too short for its chunk count:%d.\n", static_cast<int>(size));
        return false;
    }
    return parseChunks(static_cast<uint16_t>(tagNumber & 0xFFFF));
}

bool RaAudioDataReader::parseChunks(uint16_t chunkCount) {
    for (uint32_t i = 0; i < chunkCount; ++i) {
        uint8_t head[kChunkHead];
        if (readFully(head, kChunkHead) != kChunkHead) return false;
        const uint8_t* p = head;
        uint32_t tag = readByteField(p, 4, AST_BIG_ENDIAN, "tag", 1);
        uint32_t size = readByteField(p, 4, AST_BIG_ENDIAN, "size", 0);
        if (size <= static_cast<uint32_t>(kChunkHead)) {
            astLog("[AST][ERR]Invalid tag length:%d.\n", static_cast<int>(size));
            return false;
        }

        // Only the head of 'DATA' is read; the packets behind it are passed over.
        bool dataHead = tag == kTagData && size >= static_cast<uint32_t>(kDataPayloadOffset);
        int32_t claimed = dataHead ? kDataBodyRead : claimOf(size - kChunkHead);
        int32_t got = 0;
        uint8_t* body = readClaimedBlock(*mAccess, claimed, remainingLength(), 0, got);
        if (body == nullptr || got != claimed) {
            free(body);
            return false;
        }

        bool fits = true;
        switch (tag) {
        case kTagProp: fits = parseProp(body, got); break;
        case kTagMdpr: fits = parseMdpr(body, got); break;
        case kTagData: fits = dataHead && parseData(body, got); break;
        case kTagIndx:
        case kTagCont: break;
        default: astLog("[AST][ERR]Unexpected tag:0x08%X.\n", tag); break;
        }
        free(body);
        if (!fits) {
            astLog("[AST][ERR]Chunk %c%c%c%c too short for its fields(size=%d), ignored.\n", static_cast<int>(tag >> 24),
                   static_cast<int>((tag >> 16) & 0xFF), static_cast<int>((tag >> 8) & 0xFF),
                   static_cast<int>(tag & 0xFF), static_cast<int>(size));
        }

        if (dataHead) {
            int32_t rest = claimOf(size - kDataPayloadOffset);
            if (!mAccess->seek(rest, 1)) {
                astLog("[AST][ERR]Failed to seek to %d from %d, ret=%d.\n", rest, 1, 0);
                return false;
            }
        }
    }
    return true;
}

bool RaAudioDataReader::parseProp(const uint8_t* body, int32_t length) {
    RaBodyCursor c(body, length);
    c.field(4, "maxBitRate");
    c.field(4, "avgBitRate");
    c.field(4, "maxPacketSize");
    c.field(4, "avgPacketSize");
    c.field(4, "packetNumber");
    c.field(4, "duration");
    c.field(4, "preroll");
    c.field(4, "indexOffset");
    uint32_t dataOffset = c.field(4, "dataOffset");
    c.field(2, "streamNumber");
    c.field(2, "flags", 1);
    if (!c.ok()) return false;
    mDataPos = static_cast<int32_t>(dataOffset + kDataPayloadOffset);
    return true;
}

bool RaAudioDataReader::parseMdpr(const uint8_t* body, int32_t length) {
    RaBodyCursor c(body, length);
    c.field(2, "streamNumber");
    c.field(4, "maxBitRate");
    c.field(4, "avgBitRate");
    c.field(4, "maxPacketSize");
    uint32_t avgPacketSize = c.field(4, "avgPacketSize");
    c.field(4, "startTime");
    c.field(4, "preroll");
    c.field(4, "duration");
    c.skip(c.field(1, "streamNameSize"));
    uint32_t mimeTypeSize = c.field(1, "mimeTypeSize");
    uint32_t mimeTypeFourcc = 0;
    if (mimeTypeSize != 0) {
        if (mimeTypeSize < 4) c.fail();
        mimeTypeFourcc = c.field(4, "mimeTypeFourcc", 1);
        c.skip(mimeTypeSize - 4);
    }
    c.field(4, "typeSpecificLen");
    c.field(4, "signature", 1);
    if (!c.ok()) return false;

    mSpecificData.reset(new RaSpecificData());
    if (mimeTypeFourcc == kMimeAudio) {
        if (!parseAudioLayout(c)) return false;
        mapSampleRate(mSpecificData->sampleRate);
        mapChannel(static_cast<uint8_t>(mSpecificData->channels & 0xFF));
    } else if (mimeTypeFourcc == kMimeLogical) {
        return parseLogicalStream(c, avgPacketSize);
    }
    mAvgPacketSize = avgPacketSize;
    return true;
}

// One layout whatever the version says; the two strings are always 4 bytes.
bool RaAudioDataReader::parseAudioLayout(RaBodyCursor& c) {
    RaSpecificData& s = *mSpecificData;
    s.version = static_cast<uint16_t>(c.field(2, "version"));
    s.reserved1 = static_cast<uint16_t>(c.field(2, "reserved1", 1));
    s.raSignature = c.field(4, "raSignature", 1);
    s.audioFileSize = c.field(4, "audioFileSize");
    s.version2 = static_cast<uint16_t>(c.field(2, "version2"));
    s.headerSize = c.field(4, "headerSize");
    s.codecFlavor = static_cast<uint16_t>(c.field(2, "codecFlavor"));
    s.codedFrameSize = c.field(4, "codedFrameSize");
    s.audioBytes = c.field(4, "audioBytes");
    s.bytesPerMinute = c.field(4, "bytesPerMinute");
    s.reserved2 = c.field(4, "reserved2", 1);
    s.subPacketH = static_cast<uint16_t>(c.field(2, "subPacketH"));
    s.frameSize = static_cast<uint16_t>(c.field(2, "frameSize"));
    s.subPacketSize = static_cast<uint16_t>(c.field(2, "subPacketSize"));
    s.reserved3 = static_cast<uint16_t>(c.field(2, "reserved3", 1));
    s.sampleRate = static_cast<uint16_t>(c.field(2, "sampleRate"));
    s.reserved4 = static_cast<uint16_t>(c.field(2, "reserved4", 1));
    s.sampleSize = static_cast<uint16_t>(c.field(2, "sampleSize"));
    s.channels = static_cast<uint16_t>(c.field(2, "channels"));
    s.interleaverIdStringLength = static_cast<uint8_t>(c.field(1, "interleaverIdStringLength"));
    s.interleaverIdString = c.field(4, "interleaverIdString", 1);
    s.fourccStringLength = static_cast<uint8_t>(c.field(1, "fourccStringLength"));
    s.fourccString = c.field(4, "fourccString", 1);
    s.reserved5 = static_cast<uint8_t>(c.field(1, "reserved5", 1));
    s.reserved6 = static_cast<uint8_t>(c.field(1, "reserved6", 1));
    s.reserved7 = static_cast<uint8_t>(c.field(1, "reserved7", 1));
    s.codecExtraDataLength = c.field(4, "codecExtraDataLength");
    return c.ok();
}

bool RaAudioDataReader::parseLogicalStream(RaBodyCursor& c, uint32_t avgPacketSize) {
    RaSpecificData& s = *mSpecificData;
    s.version = static_cast<uint16_t>(c.field(2, "version"));
    if (!c.ok()) return false;
    if (s.version != 0) {
        astLog("[AST][WRN]Unsupported specific data logic version:%d.\n", s.version);
        return true;
    }
    s.reserved1 = static_cast<uint16_t>(c.field(2, "streamCount"));
    c.skip(uint32_t{s.reserved1} * 6);
    s.version2 = static_cast<uint16_t>(c.field(2, "ruleCount"));
    c.skip(uint32_t{s.version2} * 2);
    s.codecFlavor = static_cast<uint16_t>(c.field(2, "propertyCount"));
    for (uint32_t i = 0; i < s.codecFlavor && c.ok(); ++i) {
        c.field(4, "size");
        uint32_t version = c.field(2, "version");
        if (!c.ok()) break;
        if (version != 0) {
            astLog("[AST][WRN]Unsupported specific data property version:%d.\n", static_cast<int>(version));
            return true;
        }
        c.skip(c.field(1, "len"));
        c.field(4, "lenType");
        // Every value type is passed over by the low byte of its length, as strings are.
        c.skip(c.field(2, "len") & 0xFF);
    }
    if (!c.ok()) return false;
    mAvgPacketSize = avgPacketSize;
    return true;
}

bool RaAudioDataReader::parseData(const uint8_t* body, int32_t length) {
    RaBodyCursor c(body, length);
    c.field(4, "packetNumber");
    uint32_t nextDataHeader = c.field(4, "nextDataHeader");
    c.field(2, "packetVersion");
    c.field(2, "packetSize");
    c.field(2, "streamNumber");
    c.field(4, "timestamp");
    c.field(2, "flags", 1);
    if (!c.ok()) return false;
    if (nextDataHeader != 0) astLog("[AST][WRN]Multiple data packet is unsupported so far.\n");
    return true;
}
