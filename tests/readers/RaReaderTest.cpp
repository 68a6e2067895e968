#include <gtest/gtest.h>

#include "RaAudioDataReader.h"
#include "ReadAll.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes be(uint32_t value, int width) {
    Bytes b;
    for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return b;
}

Bytes chunk(const std::string& tag, const Bytes& body, int32_t size = -1) {
    return concat({bytesOf(tag), be(size < 0 ? static_cast<uint32_t>(10 + body.size()) : size, 4), be(0, 2), body});
}

Bytes rmf(uint32_t tagNumber) { return chunk(".RMF", concat({be(0, 4), be(tagNumber, 4)})); }

Bytes prop(uint32_t dataOffset) { return chunk("PROP", concat({Bytes(32, 0), be(dataOffset, 4), be(1, 2), be(0, 2)})); }

// The audio layout of the type-specific data, behind its signature.
Bytes audio(uint16_t rate, uint16_t channels) {
    Bytes t = concat({bytesOf(".ra\xFD"), Bytes(69, 0)});
    t[4 + 1] = 5;  // version
    t[4 + 44] = static_cast<uint8_t>(rate >> 8), t[4 + 45] = static_cast<uint8_t>(rate);
    t[4 + 51] = static_cast<uint8_t>(channels);
    return t;
}

// A logical stream with one stream, one rule and one property of the given version.
Bytes logical(uint16_t version, uint16_t propertyVersion) {
    return concat({bytesOf("LOGI"), be(version, 2), be(1, 2), Bytes(6, 0), be(1, 2), Bytes(2, 0), be(1, 2),
                   be(20, 4), be(propertyVersion, 2), be(3, 1), bytesOf("abc"), be(2, 4), be(4, 2), bytesOf("wxyz")});
}

Bytes mdpr(const std::string& mime, const Bytes& typeSpecific) {
    return chunk("MDPR", concat({be(0, 2), Bytes(28, 0), be(6, 1), bytesOf("Stream"), be(static_cast<uint32_t>(mime.size()), 1),
                                 bytesOf(mime), be(static_cast<uint32_t>(typeSpecific.size()), 4), typeSpecific}));
}

Bytes data(uint32_t nextDataHeader) { return chunk("DATA", concat({be(3, 4), be(nextDataHeader, 4), Bytes(12 + 24, 0)})); }

std::string opened(int rate, int channelMap, int dataPos) {
    return "[AST][INF]parseRaAudioHeader:\n[AST][INF]sampleFrequency=" + std::to_string(rate) +
           "\n[AST][INF]channelMap=" + std::to_string(channelMap) + "(1-Mono/2-Stereo)\n[AST][INF]dataPos=" +
           std::to_string(dataPos) + "\n";
}

TEST(RaReader, ChunkWalks) {
    const Bytes audioStream = mdpr("audio/x-pn-realaudio", audio(44100, 2));
    const Bytes head = concat({rmf(4), prop(0)});
    const uint32_t dataOffset = static_cast<uint32_t>(head.size() + audioStream.size());
    const Bytes full = concat({rmf(4), prop(dataOffset), audioStream, data(0), chunk("INDX", Bytes(8, 0))});
    const struct {
        const char* label;
        Bytes file;
        std::string out;  // without the summary of a valid reader
        bool valid;
        int rate, channelMap, dataPos;
    } cases[] = {
        {"audio stream", full, "", true, 44100, 2, static_cast<int>(dataOffset) + 30},
        {"more chunks announced than present", concat({rmf(5), Bytes(full.begin() + 18, full.end())}),
         "[AST][INF]Reached end of data:0.\n", false, 44100, 2, 0},
        {"no PROP, an unknown chunk, six channels, packets behind packets",
         concat({rmf(3), chunk("ABCD", Bytes(4, 0)), mdpr("audio/x-pn-realaudio", audio(8000, 6)), data(77)}),
         "[AST][ERR]Unexpected tag:0x0841424344.\n[AST][WRN]Multiple data packet is unsupported so far.\n", true,
         8000, 0, 0},
        {"logical streams", concat({rmf(3), mdpr("logical-fileinfo", logical(1, 0)),
                                    mdpr("logical-fileinfo", logical(0, 2)), mdpr("logical-fileinfo", logical(0, 0))}),
         "[AST][WRN]Unsupported specific data logic version:1.\n"
         "[AST][WRN]Unsupported specific data property version:2.\n", true, 0, 0, 0},
        {"fields past their chunk", concat({rmf(4), chunk("PROP", Bytes(12, 0)), mdpr("audi", Bytes(40, 0)),
                                            mdpr("au", {}), chunk("DATA", Bytes(8, 0))}),
         "[AST][ERR]Chunk PROP too short for its fields(size=22), ignored.\n"
         "[AST][ERR]Chunk MDPR too short for its fields(size=96), ignored.\n"
         "[AST][ERR]Chunk MDPR too short for its fields(size=54), ignored.\n"
         "[AST][ERR]Chunk DATA too short for its fields(size=18), ignored.\n", true, 0, 0, 0},
        {"bare RealAudio", concat({bytesOf(".ra\xFD"), Bytes(20, 0)}), "[AST][WRN]RA old version is unsupported so far.\n",
         false, 0, 0, 0},
        {"other marker", bytesOf("RIFF...."), "[AST][ERR]RA file marker error(marker=52494646).\n", false, 0, 0, 0},
        {"file header of 10 bytes", chunk(".RMF", {}), "[AST][ERR]Header length error:10.\n", false, 0, 0, 0},
        {"file header without chunk count", chunk(".RMF", Bytes(6, 0)),
         "[AST][ERR]RMF header too short for its chunk count:16.\n", false, 0, 0, 0},
        {"chunk of 10 bytes", concat({rmf(1), chunk("CONT", {})}), "[AST][ERR]Invalid tag length:10.\n", false, 0, 0, 0},
        {"chunk beyond the file", concat({rmf(1), chunk("CONT", Bytes(5, 0), 1 << 30)}),
         "[AST][INF]Reached end of data:5.\n", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        ReadAll r = readAll<RaAudioDataReader>(c.file);
        std::string out = c.out + (c.valid ? opened(c.rate, c.channelMap, c.dataPos) : "");
        EXPECT_EQ(out, r.out) << c.label;
        EXPECT_EQ(!c.valid, r.invalidAfterOpen) << c.label;
        EXPECT_EQ(static_cast<uint32_t>(c.rate), r.info.sampleFrequency) << c.label;
        EXPECT_EQ(static_cast<uint32_t>(c.channelMap), r.info.channelMap) << c.label;
        EXPECT_TRUE(r.lengths.empty()) << c.label;
    }
}

}  // namespace
