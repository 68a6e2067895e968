// Hand-made ASF headers and data packets for what ffmpeg's WMA files (covered end to end: single
// and multiple payloads, wmav1) do not show.
#include <gtest/gtest.h>

#include "AsfGuid.h"
#include "ReadAll.h"
#include "WmaAudioDataReader.h"

namespace {

Bytes guid(uint32_t row) { return Bytes(asfGuidTable[row] + 1, asfGuidTable[row] + 17); }

struct Stream {
    uint32_t typeRow = ASF_GUID_AUDIO_MEDIA;
    uint16_t codecId = 0x161, channels = 2;
    uint32_t rate = 44100, avgBytes = 16000;
    uint16_t blockAlign = 100;
    int32_t cutTo = -1;  // object size made to lie short of its fields
};

Bytes streamProperties(const Stream& s) {
    Bytes o = cat({guid(ASF_GUID_STREAM_PROPERTIES_OBJECT), le(0, 8), guid(s.typeRow), guid(44), le(0, 22),
                   le(s.codecId, 2), le(s.channels, 2), le(s.rate, 4), le(s.avgBytes, 4), le(s.blockAlign, 2),
                   le(16, 2), le(10, 2), le(0x8800, 4), le(0x000F, 2), le(s.blockAlign, 4)});
    if (s.cutTo >= 0) o.resize(size_t(s.cutTo));
    std::copy_n(le(o.size(), 8).begin(), 8, o.begin() + 16);
    return o;
}

// Header Object around the streams, then the Data Object header.
Bytes asf(const std::vector<Stream>& streams, uint32_t packets, uint32_t extraObjects = 0) {
    Bytes body;
    for (const Stream& s : streams) body = cat({body, streamProperties(s)});
    return cat({guid(ASF_GUID_HEADER_OBJECT), le(30 + body.size(), 8), le(streams.size() + extraObjects, 4),
                le(0x0201, 2), body, guid(ASF_GUID_DATA_OBJECT), le(0, 24), le(packets, 8), le(0x0101, 2)});
}

struct Packet {
    std::vector<Bytes> payloads;
    uint8_t lengthFlags = 0x09;  // padding length a byte, several payloads
    uint32_t padding = 0;
    uint8_t ec = 0x82;  // 0: no error correction data
    uint8_t replicated = 8;
    int payloadFlags = -1;  // by default 2-byte payload lengths and the payload count
    uint16_t packetLength = 0;
};

Bytes packet(const Packet& p, uint8_t& object) {
    static const int kWidth[4] = {0, 1, 2, 4};
    const bool multiple = p.lengthFlags & 1;
    Bytes b = cat({p.ec ? Bytes{p.ec, 0, 0} : Bytes{}, Bytes{p.lengthFlags, 0x5D},
                   le(p.packetLength, kWidth[p.lengthFlags >> 5 & 3]), le(p.padding, kWidth[p.lengthFlags >> 3 & 3]),
                   le(0x12345678, 4), le(100, 2)});
    if (multiple) b.push_back(uint8_t(p.payloadFlags >= 0 ? p.payloadFlags : 0x80 | p.payloads.size()));
    for (const Bytes& data : p.payloads)
        b = cat({b, Bytes{0x81, object++}, le(0, 4), Bytes{p.replicated}, le(0, p.replicated),
                 multiple ? le(data.size(), 2) : Bytes{}, data});
    b.resize(b.size() + p.padding, 0xEE);
    return b;
}

// A frame as handed out: the prefix, the media object number, the replicated data length, the size.
Bytes frame(uint8_t object, const Bytes& payload) {
    return cat({{0x55, 0x55, 0xAA, 0xAA, object, 8}, be(payload.size(), 2), payload});
}

// The header of one audio stream, then the packets; `cutEnd` bytes are taken off the end.
Bytes withPackets(uint16_t blockAlign, const std::vector<Packet>& packets, size_t cutEnd = 0) {
    Stream s;
    s.blockAlign = blockAlign;
    Bytes file = asf({s}, uint32_t(packets.size()));
    uint8_t object = 1;
    for (const Packet& p : packets) file = cat({file, packet(p, object)});
    file.resize(file.size() - cutEnd);
    return file;
}

TEST(WmaReader, HeadersAndPackets) {
    using Frames = std::vector<Bytes>;
    // A header object larger than the file is read as a short read (the claimed-size test).
    Bytes good = asf({Stream()}, 1), belowThirty = good, notData = good;
    belowThirty[16] = 20;
    notData[136] ^= 0xFF;
    Stream video, cut, second;
    video.typeRow = 36, cut.cutTo = 100;
    second.channels = 6, second.rate = 22050, second.avgBytes = 4000, second.blockAlign = 4096;
    const Bytes twoStreams = asf({Stream(), second}, 0);
    const Bytes a = pattern(100, 1), b = pattern(100, 2), c = pattern(100, 3), odd = pattern(60, 5);
    Packet single{{pattern(2048, 4)}, 0x08, 5}, three{{a, b, c}, 0x09, 7}, noPadding{{a}, 0x00, 0};
    Packet plain{{a}, 0x08, 1, 0}, odd81{{a}, 0x08, 1, 0x81}, compressed{{a}, 0x08, 0, 0x82, 1};
    Packet noPayloads{{a}, 0x09, 0, 0x82, 8, 0x80}, conflict{{odd, a}, 0x29, 0, 0x82, 8, -1, 300};
    const std::string header = inf("ASF top-level header object length:136"),
                      opened = header + inf("ASF top-level data object header length:50"),
                      noMore = "[AST][WRN]No more frame to read.\n";
    const struct {
        const char* label;
        bool opens;
        Bytes file;
        std::string out;
        std::vector<Bytes> frames = {};  // media objects numbered from 1
    } cases[] = {
        {"no header guid", false, Bytes(60, 0x11), err("ASF top-level header object id error:62")},
        {"short", false, Bytes(good.begin(), good.begin() + 12), endOfData(12)},
        {"size below 30", false, belowThirty, err("ASF top-level header object size error:20")},
        {"no audio stream", false, asf({video}, 1), header + err("Unsupported WMA codec id:0")},
        {"sub-object count beyond the objects", false, asf({Stream()}, 1, 1),
         err("ASF header sub-object 1 runs past the header object(objectSize=0, 0 bytes left).")},
        {"audio format cut short", false, asf({cut}, 1), err("ASF stream properties object too short:100")},
        {"no data object", false, notData,
         header + err("ASF top-level data object id error:62") + inf("ASF top-level data object header length:-1")},
        {"two audio streams, no packets", true, twoStreams,
         inf("ASF top-level header object length:242") + inf("ASF top-level data object header length:50") + noMore},
        {"three payloads, then one without padding", true, withPackets(100, {three, noPadding}), opened + noMore,
         Frames{frame(1, a), frame(2, b), frame(3, c), frame(4, a)}},
        {"no error correction data, odd flags", true, withPackets(100, {plain, odd81}),
         opened + "[AST][WRN]ASF Error Correction Data field is illegal.\n" + noMore, Frames{frame(1, a), frame(2, a)}},
        {"compressed payload", true, withPackets(100, {plain, compressed}),
         opened + "[AST][WRN]Not supported so far for compressed payload(s).\n", Frames{frame(1, a)}},
        {"no payload count", true, withPackets(100, {noPayloads}),
         opened + err("Invalid multiple payload, numberOfPayloads=0, payloadLengthType=2")},
        {"payload length wins when a packet length is given", true, withPackets(100, {conflict}),
         opened +
             "[AST][WRN]ASF Payload Parsing Info field is illegal.\n"
             "[AST][WRN]Frame length conflict, force blockAlignment(100) to payloadLength(60)\n" +
             noMore,
         Frames{frame(1, odd), frame(2, a)}},
        {"block alignment 0", true, withPackets(0, {plain}), opened},
        {"file ends inside a payload", true, withPackets(2048, {single}, 53), opened + endOfData(2000)},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.label);
        ReadAll r = readAll<WmaAudioDataReader>(k.file);
        EXPECT_EQ(k.out, r.out());
        EXPECT_EQ(!k.opens, r.invalid);
        EXPECT_EQ(!k.opens, r.invalidAtEnd);
        EXPECT_TRUE(k.frames == r.frames) << r.frames.size() << " frames";
    }
    const AudioInfo i = readAll<WmaAudioDataReader>(twoStreams).info;  // the last audio stream's
    EXPECT_EQ((std::vector<uint32_t>{22050, 0, 16, 4096, 4000, 0x8800, 0x000F}),
              (std::vector<uint32_t>{i.sampleFrequency, i.channelMap, uint32_t(i.wma.bitsPerSample),
                                     uint32_t(i.wma.blockAlignment), i.wma.avgBytesPerSecond, i.wma.samplesPerBlock,
                                     uint32_t(i.wma.encodeOptions)}));
}

}  // namespace
