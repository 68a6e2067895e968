#include <gtest/gtest.h>

#include "FieldCodec.h"
#include "ReadAll.h"
#include "WmaAudioDataReader.h"

namespace {

using Bytes = std::vector<uint8_t>;

void le(Bytes& b, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) b.push_back(i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0);
}
void guid(Bytes& b, uint32_t row) { b.insert(b.end(), asfGuidTable[row] + 1, asfGuidTable[row] + 17); }

struct Stream {
    uint32_t typeRow = ASF_GUID_AUDIO_MEDIA;
    uint16_t codecId = 0x161, channels = 2;
    uint32_t rate = 44100, avgBytes = 16000;
    uint16_t blockAlign = 100;
    int32_t cutTo = -1;  // object size made to lie short of its fields
};

Bytes streamProperties(const Stream& s) {
    Bytes o;
    guid(o, ASF_GUID_STREAM_PROPERTIES_OBJECT);
    le(o, 0, 8);
    guid(o, s.typeRow);
    guid(o, 44);
    le(o, 0, 8 + 4 + 4 + 2 + 4);
    le(o, s.codecId, 2), le(o, s.channels, 2), le(o, s.rate, 4), le(o, s.avgBytes, 4);
    le(o, s.blockAlign, 2), le(o, 16, 2), le(o, 10, 2);
    le(o, 0x8800, 4), le(o, 0x000F, 2), le(o, s.blockAlign, 4);
    if (s.cutTo >= 0) o.resize(static_cast<size_t>(s.cutTo));
    for (int i = 0; i < 8; ++i) o[16 + i] = static_cast<uint8_t>(o.size() >> (8 * i));
    return o;
}

// Header Object around the streams, then the Data Object header.
Bytes asf(const std::vector<Stream>& streams, uint32_t packets, int32_t extraObjects = 0) {
    Bytes body;
    for (const Stream& s : streams) {
        Bytes o = streamProperties(s);
        body.insert(body.end(), o.begin(), o.end());
    }
    Bytes f;
    guid(f, ASF_GUID_HEADER_OBJECT);
    le(f, 30 + body.size(), 8), le(f, streams.size() + static_cast<size_t>(extraObjects), 4), le(f, 0x0201, 2);
    f.insert(f.end(), body.begin(), body.end());
    guid(f, ASF_GUID_DATA_OBJECT);
    le(f, 0, 8 + 16), le(f, packets, 8), le(f, 0x0101, 2);
    return f;
}

struct Packet {
    std::vector<Bytes> payloads;
    uint8_t lengthFlags = 0x09;  // padding length a byte, several payloads
    uint32_t padding = 0;
    uint8_t ec = 0x82;           // 0: no error correction data
    uint8_t replicated = 8;
    int payloadFlags = -1;       // by default 2-byte payload lengths and the payload count
    uint16_t packetLength = 0;
};

Bytes packet(const Packet& p, uint8_t& object) {
    static const int kWidth[4] = {0, 1, 2, 4};
    Bytes b;
    if (p.ec != 0) b.push_back(p.ec), le(b, 0, 2);
    b.push_back(p.lengthFlags), b.push_back(0x5D);
    le(b, p.packetLength, kWidth[p.lengthFlags >> 5 & 3]);
    le(b, p.padding, kWidth[p.lengthFlags >> 3 & 3]);
    le(b, 0x12345678, 4), le(b, 100, 2);
    bool multiple = p.lengthFlags & 1;
    if (multiple) b.push_back(static_cast<uint8_t>(p.payloadFlags >= 0 ? p.payloadFlags : 0x80 | p.payloads.size()));
    for (const Bytes& data : p.payloads) {
        b.push_back(0x81), b.push_back(object++), le(b, 0, 4), b.push_back(p.replicated), le(b, 0, p.replicated);
        if (multiple) le(b, data.size(), 2);
        b.insert(b.end(), data.begin(), data.end());
    }
    b.resize(b.size() + p.padding, 0xEE);
    return b;
}

Bytes data(size_t n, uint8_t seed) {
    Bytes d(n);
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(seed + i * 7);
    return d;
}

Bytes frame(uint8_t object, uint8_t replicated, const Bytes& payload) {
    Bytes f = {0x55, 0x55, 0xAA, 0xAA, object, replicated,
               static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

const std::string kHeader = "[AST][INF]ASF top-level header object length:136\n";
const std::string kOpened = kHeader + "[AST][INF]ASF top-level data object header length:50\n";

TEST(WmaReader, HeadersThatAreRefused) {
    Bytes good = asf({Stream()}, 1);
    Bytes beyondFile = good;
    beyondFile[16] = 0xFF, beyondFile[17] = 0xFF;
    Bytes belowThirty = good;
    belowThirty[16] = 20;
    Bytes notData = good;
    notData[136] ^= 0xFF;
    Stream video, wmav1, cut;
    video.typeRow = 36, wmav1.codecId = 0x160, cut.cutTo = 100;
    const struct {
        const char* label;
        Bytes file;
        std::string out;
    } cases[] = {
        {"no header guid", Bytes(60, 0x11), "[AST][ERR]ASF top-level header object id error:62\n"},
        {"short", Bytes(good.begin(), good.begin() + 12), "[AST][INF]Reached end of data:12.\n"},
        {"size beyond the file", beyondFile, "[AST][INF]Reached end of data:156.\n"},
        {"size below 30", belowThirty, "[AST][ERR]ASF top-level header object size error:20\n"},
        {"no audio stream", asf({video}, 1), kHeader + "[AST][ERR]Unsupported WMA codec id:0\n"},
        {"wmav1", asf({wmav1}, 1), kHeader + "[AST][ERR]Unsupported WMA codec id:352\n"},
        {"sub-object count beyond the objects", asf({Stream()}, 1, 1),
         "[AST][ERR]ASF header sub-object 1 runs past the header object(objectSize=0, 0 bytes left).\n"},
        {"audio format cut short", asf({cut}, 1), "[AST][ERR]ASF stream properties object too short:100\n"},
        {"no data object", notData, kHeader + "[AST][ERR]ASF top-level data object id error:62\n"
                                    "[AST][INF]ASF top-level data object header length:-1\n"},
    };
    for (const auto& c : cases) {
        ReadAll r = readAll<WmaAudioDataReader>(c.file);
        EXPECT_TRUE(r.invalidAfterOpen) << c.label;
        EXPECT_EQ(c.out, r.out) << c.label;
    }
}

TEST(WmaReader, TheLastAudioStreamIsTheOneKept) {
    Stream first, second;
    second.channels = 6, second.rate = 22050, second.avgBytes = 4000, second.blockAlign = 4096;
    ReadAll r = readAll<WmaAudioDataReader>(asf({first, second}, 0));
    EXPECT_EQ("[AST][INF]ASF top-level header object length:242\n"
              "[AST][INF]ASF top-level data object header length:50\n[AST][WRN]No more frame to read.\n", r.out);
    ASSERT_FALSE(r.invalidAfterOpen);
    EXPECT_TRUE(r.lengths.empty());
    EXPECT_EQ(22050u, r.info.sampleFrequency);
    EXPECT_EQ(0u, r.info.channelMap);
    EXPECT_EQ(16, r.info.wma.bitsPerSample);
    EXPECT_EQ(4096, r.info.wma.blockAlignment);
    EXPECT_EQ(4000u, r.info.wma.avgBytesPerSecond);
    EXPECT_EQ(0x8800u, r.info.wma.samplesPerBlock);
    EXPECT_EQ(0x000F, r.info.wma.encodeOptions);
}

TEST(WmaReader, PacketsBecomePrefixedFrames) {
    const Bytes a = data(100, 1), b = data(100, 2), c = data(100, 3), big = data(2048, 4), odd = data(60, 5);
    const std::string noMore = "[AST][WRN]No more frame to read.\n";
    struct Case {
        const char* label;
        uint16_t blockAlign;
        std::vector<Packet> packets;
        std::vector<Bytes> frames;  // expected, media objects numbered from 1
        std::string out;
        int cutEnd = 0;  // bytes taken off the file's end
    };
    Packet single{{big}, 0x08, 5}, three{{a, b, c}, 0x09, 7}, noPadding{{a}, 0x00, 0}, plain{{a}, 0x08, 1, 0};
    Packet odd81{{a}, 0x08, 1, 0x81}, compressed{{a}, 0x08, 0, 0x82, 1}, noPayloads{{a}, 0x09, 0};
    noPayloads.payloadFlags = 0x80;
    Packet conflict{{odd, a}, 0x29, 0};
    conflict.packetLength = 300;
    const Case cases[] = {
        {"single payload of 2048", 2048, {single, single}, {frame(1, 8, big), frame(2, 8, big)}, noMore},
        {"three payloads, then one without padding", 100, {three, noPadding},
         {frame(1, 8, a), frame(2, 8, b), frame(3, 8, c), frame(4, 8, a)}, noMore},
        {"no error correction data, odd flags", 100, {plain, odd81}, {frame(1, 8, a), frame(2, 8, a)},
         "[AST][WRN]ASF Error Correction Data field is illegal.\n" + noMore},
        {"compressed payload", 100, {plain, compressed}, {frame(1, 8, a)},
         "[AST][WRN]Not supported so far for compressed payload(s).\n"},
        {"no payload count", 100, {noPayloads},  {},
         "[AST][ERR]Invalid multiple payload, numberOfPayloads=0, payloadLengthType=2\n"},
        {"payload length wins when a packet length is given", 100, {conflict}, {frame(1, 8, odd), frame(2, 8, a)},
         "[AST][WRN]ASF Payload Parsing Info field is illegal.\n"
         "[AST][WRN]Frame length conflict, force blockAlignment(100) to payloadLength(60)\n" + noMore},
        {"block alignment 0", 0, {plain}, {}, ""},
        {"file ends inside a payload", 2048, {single}, {}, "[AST][INF]Reached end of data:2000.\n", 53},
    };
    for (const Case& c : cases) {
        Stream s;
        s.blockAlign = c.blockAlign;
        Bytes file = asf({s}, static_cast<uint32_t>(c.packets.size()));
        uint8_t object = 1;
        for (const Packet& p : c.packets) {
            Bytes b = packet(p, object);
            file.insert(file.end(), b.begin(), b.end());
        }
        file.resize(file.size() - static_cast<size_t>(c.cutEnd));
        ReadAll r = readAll<WmaAudioDataReader>(file);
        ASSERT_FALSE(r.invalidAfterOpen) << c.label;
        EXPECT_EQ(kOpened + c.out, r.out) << c.label;
        std::vector<size_t> lengths;
        Bytes handed;
        for (const Bytes& f : c.frames) lengths.push_back(f.size()), handed.insert(handed.end(), f.begin(), f.end());
        EXPECT_TRUE(lengths == r.lengths) << c.label << ": " << r.lengths.size() << " frames";
        EXPECT_TRUE(handed == r.handed) << c.label;
        EXPECT_FALSE(r.invalidAtEnd) << c.label;
    }
}

}  // namespace
