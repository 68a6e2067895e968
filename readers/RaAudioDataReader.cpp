#include "RaAudioDataReader.h"

#include <climits>

#include "ASTDataAccess.h"
#include "ASTLog.h"
#include "Mp4FourCc.h"

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

RaAudioDataReader::RaAudioDataReader(const char* path) : AudioDataReader(path) { openStream(); }

int64_t RaAudioDataReader::parseHeaders() { return parseRaAudioHeader() ? mDataPos : -1; }

void RaAudioDataReader::describe() {
    printSummary("parseRaAudioHeader");
    // The position is told once the seek to it can succeed; a negative one never does.
    if (mDataPos >= 0) astLog("[AST][INF]dataPos=%d\n", mDataPos);
}

FrameBuffer* RaAudioDataReader::readFrame() {
    mFrame.length = 0;
    return &mFrame;
}

bool RaAudioDataReader::parseRaAudioHeader() {
    uint8_t head[4];
    if (readFully(head, 4) != 4) return false;
    const uint32_t magic = ByteCursor(head, 4).be(4);
    if (magic == kMarkerOld) {
        astLog("[AST][WRN]RA old version is unsupported so far.\n");
        return false;
    }
    if (magic != kMarkerRmf) {
        astLog("[AST][ERR]RA file marker error(marker=%08X).\n", magic);
        return false;
    }
    return parseRmfHeader();
}

bool RaAudioDataReader::readChunkHead(uint32_t& tag, uint32_t& size) {
    uint8_t head[kChunkHead];
    if (readFully(head, kChunkHead) != kChunkHead) return false;
    ByteCursor c(head, kChunkHead);
    tag = c.be(4);
    size = c.be(4);
    return true;
}

bool RaAudioDataReader::parseRmfHeader() {
    if (!seekTo(0)) return false;
    uint32_t tag = 0;
    uint32_t size = 0;
    if (!readChunkHead(tag, size)) return false;
    if (size <= static_cast<uint32_t>(kChunkHead)) {
        astLog("[AST][ERR]Header length error:%d.\n", static_cast<int>(size));
        return false;
    }
    ByteCursor c = readClaimed(claimOf(size - kChunkHead));
    if (!c.ok()) return false;
    c.skip(4);  // fileVersion
    const uint32_t tagNumber = c.be(4);
    if (!c.ok()) {
        astLog("[AST][ERR]RMF header too short for its chunk count:%d.\n", static_cast<int>(size));
        return false;
    }
    return parseChunks(static_cast<uint16_t>(tagNumber & 0xFFFF));
}

bool RaAudioDataReader::parseChunks(uint16_t chunkCount) {
    bool dataSeen = false;
    for (uint32_t i = 0; i < chunkCount; ++i) {
        // Writers that announce a chunk more than they write leave the file ending here; what
        // the stream needs has been read.
        if (dataSeen && remainingLength() < kChunkHead) {
            astLog("[AST][WRN]RMF file ends after %u of %u announced chunks, read as it is.\n", i,
                   static_cast<uint32_t>(chunkCount));
            return true;
        }
        uint32_t tag = 0;
        uint32_t size = 0;
        if (!readChunkHead(tag, size)) return false;
        if (size <= static_cast<uint32_t>(kChunkHead)) {
            astLog("[AST][ERR]Invalid tag length:%d.\n", static_cast<int>(size));
            return false;
        }

        // Only the head of 'DATA' is read; the packets behind it are passed over.
        const bool dataHead = tag == kTagData && size >= static_cast<uint32_t>(kDataPayloadOffset);
        ByteCursor body = readClaimed(dataHead ? kDataBodyRead : claimOf(size - kChunkHead));
        if (!body.ok()) return false;

        bool fits = true;
        switch (tag) {
        case kTagProp: fits = parseProp(body); break;
        case kTagMdpr: fits = parseMdpr(body); break;
        case kTagData: fits = dataHead && parseData(body); break;
        case kTagIndx:
        case kTagCont: break;
        default: astLog("[AST][ERR]Unexpected tag:0x08%X.\n", tag); break;
        }
        if (!fits) {
            astLog("[AST][ERR]Chunk %s too short for its fields(size=%d), ignored.\n", fourCcText(tag).c_str(),
                   static_cast<int>(size));
        }
        if (dataHead) {
            if (!skip(claimOf(size - kDataPayloadOffset))) return false;
            dataSeen = true;
        }
    }
    return true;
}

bool RaAudioDataReader::parseProp(ByteCursor& c) {
    // maxBitRate, avgBitRate, maxPacketSize, avgPacketSize, packetNumber, duration, preroll,
    // indexOffset
    c.skip(32);
    const uint32_t dataOffset = c.be(4);
    c.skip(4);  // streamNumber, flags
    if (!c.ok()) return false;
    mDataPos = static_cast<int32_t>(dataOffset + kDataPayloadOffset);
    return true;
}

bool RaAudioDataReader::parseMdpr(ByteCursor& c) {
    c.skip(14);       // streamNumber, maxBitRate, avgBitRate, maxPacketSize
    c.skip(16);       // avgPacketSize, startTime, preroll, duration
    c.skip(c.be(1));  // the stream name
    const uint32_t mimeTypeSize = c.be(1);
    uint32_t mimeTypeFourcc = 0;
    if (mimeTypeSize != 0) {
        if (mimeTypeSize < 4) c.setFailed();
        mimeTypeFourcc = c.be(4);
        c.skip(mimeTypeSize - 4);
    }
    c.skip(8);  // typeSpecificLen, signature
    if (!c.ok()) return false;

    if (mimeTypeFourcc == kMimeAudio) return parseAudioLayout(c);
    if (mimeTypeFourcc == kMimeLogical) return parseLogicalStream(c);
    return true;
}

// One layout whatever the version says; the two strings are always 4 bytes.
bool RaAudioDataReader::parseAudioLayout(ByteCursor& c) {
    // version, reserved1, raSignature, audioFileSize, version2, headerSize, codecFlavor,
    // codedFrameSize, audioBytes, bytesPerMinute, reserved2, subPacketH, frameSize,
    // subPacketSize, reserved3
    c.skip(44);
    const uint32_t sampleRate = c.be(2);
    c.skip(4);  // reserved4, sampleSize
    const uint32_t channels = c.be(2);
    // interleaverIdStringLength and string, fourccStringLength and string, reserved5 to 7,
    // codecExtraDataLength
    c.skip(17);
    if (!c.ok()) return false;
    mapSampleRate(sampleRate);
    mapChannel(static_cast<uint8_t>(channels & 0xFF));
    return true;
}

bool RaAudioDataReader::parseLogicalStream(ByteCursor& c) {
    const uint32_t version = c.be(2);
    if (!c.ok()) return false;
    if (version != 0) {
        astLog("[AST][WRN]Unsupported specific data logic version:%d.\n", static_cast<int>(version));
        return true;
    }
    c.skip(c.be(2) * 6);  // streams
    c.skip(c.be(2) * 2);  // rules
    const uint32_t propertyCount = c.be(2);
    for (uint32_t i = 0; i < propertyCount && c.ok(); ++i) {
        c.skip(4);  // size
        const uint32_t propertyVersion = c.be(2);
        if (!c.ok()) break;
        if (propertyVersion != 0) {
            astLog("[AST][WRN]Unsupported specific data property version:%d.\n", static_cast<int>(propertyVersion));
            return true;
        }
        c.skip(c.be(1));  // the name
        c.skip(4);        // lenType
        // Every value type is passed over by the low byte of its length, as strings are.
        c.skip(c.be(2) & 0xFF);
    }
    return c.ok();
}

bool RaAudioDataReader::parseData(ByteCursor& c) {
    c.skip(4);  // packetNumber
    const uint32_t nextDataHeader = c.be(4);
    c.skip(12);  // packetVersion, packetSize, streamNumber, timestamp, flags
    if (!c.ok()) return false;
    if (nextDataHeader != 0) astLog("[AST][WRN]Multiple data packet is unsupported so far.\n");
    return true;
}
