// Hand-made RealMedia chunk walks; the audio stream of ffmpeg's files, with its chunk count as
// ffmpeg writes it (one too many) and corrected, is covered end to end.
#include <gtest/gtest.h>

#include "RaAudioDataReader.h"
#include "ReadAll.h"

namespace {

Bytes chunk(const std::string& tag, const Bytes& body, uint32_t size = 0) {
    return cat({str(tag), be(size ? size : 10 + body.size(), 4), be(0, 2), body});
}

Bytes rmf(uint32_t tagNumber) { return chunk(".RMF", be(tagNumber, 8)); }

// The audio layout of the type-specific data, behind its signature.
Bytes audio(uint16_t rate, uint8_t channels) {
    Bytes t = cat({str(".ra\xFD"), Bytes{0, 5}, Bytes(42, 0), be(rate, 2), Bytes(5, 0), Bytes{channels}});
    t.resize(73, 0);
    return t;
}

// A logical stream with one stream, one rule and one property of the given version.
Bytes logical(uint16_t version, uint16_t propertyVersion) {
    return cat({str("LOGI"), be(version, 2), be(1, 2), Bytes(6, 0), be(1, 2), Bytes(2, 0), be(1, 2), be(20, 4),
                be(propertyVersion, 2), be(3, 1), str("abc"), be(2, 4), be(4, 2), str("wxyz")});
}

Bytes mdpr(const std::string& mime, const Bytes& typeSpecific) {
    return chunk("MDPR", cat({Bytes(30, 0), be(6, 1), str("Stream"), be(mime.size(), 1), str(mime),
                              be(typeSpecific.size(), 4), typeSpecific}));
}

TEST(RaReader, ChunkWalks) {
    const std::string info = "logical-fileinfo";
    const Bytes data77 = chunk("DATA", cat({be(3, 4), be(77, 4), Bytes(36, 0)}));
    const struct {
        const char* label;
        bool valid;
        uint32_t rate;
        Bytes file;
        std::string out;  // without the summary of a valid reader
    } cases[] = {
        {"no PROP, an unknown chunk, six channels, packets behind packets", true, 8000,
         cat({rmf(3), chunk("ABCD", Bytes(4, 0)), mdpr("audio/x-pn-realaudio", audio(8000, 6)), data77}),
         err("Unexpected tag:0x0841424344.") + "[AST][WRN]Multiple data packet is unsupported so far.\n"},
        {"logical streams", true, 0,
         cat({rmf(3), mdpr(info, logical(1, 0)), mdpr(info, logical(0, 2)), mdpr(info, logical(0, 0))}),
         "[AST][WRN]Unsupported specific data logic version:1.\n"
         "[AST][WRN]Unsupported specific data property version:2.\n"},
        {"fields past their chunk", true, 0,
         cat({rmf(4), chunk("PROP", Bytes(12, 0)), mdpr("audi", Bytes(40, 0)), mdpr("au", {}),
              chunk("DATA", Bytes(8, 0))}),
         err("Chunk PROP too short for its fields(size=22), ignored.") +
             err("Chunk MDPR too short for its fields(size=96), ignored.") +
             err("Chunk MDPR too short for its fields(size=54), ignored.") +
             err("Chunk DATA too short for its fields(size=18), ignored.")},
        {"bare RealAudio", false, 0, cat({str(".ra\xFD"), Bytes(20, 0)}),
         "[AST][WRN]RA old version is unsupported so far.\n"},
        {"other marker", false, 0, str("RIFF...."), err("RA file marker error(marker=52494646).")},
        {"file header of 10 bytes", false, 0, chunk(".RMF", {}), err("Header length error:10.")},
        {"file header without chunk count", false, 0, chunk(".RMF", Bytes(6, 0)),
         err("RMF header too short for its chunk count:16.")},
        {"chunk of 10 bytes", false, 0, cat({rmf(1), chunk("CONT", {})}), err("Invalid tag length:10.")},
        {"chunk beyond the file", false, 0, cat({rmf(1), chunk("CONT", Bytes(5, 0), 1 << 30)}), endOfData(5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<RaAudioDataReader>(c.file);
        EXPECT_EQ(c.out + (c.valid ? summary("parseRaAudioHeader", c.rate, 0) + inf("dataPos=0") : ""), r.out());
        EXPECT_EQ(!c.valid, r.invalid);
        EXPECT_TRUE(r.frames.empty());
    }
}

}  // namespace
