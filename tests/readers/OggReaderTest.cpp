// Ogg pages laid out as real encoders do not lay them; real files, a page without lacing values,
// lacing past the end and an over-long packet are covered end to end.
#include <gtest/gtest.h>

#include <cstring>

#include "OggAudioDataReader.h"
#include "ReadAll.h"

namespace {

// A page with these lacing values and data; the reader ignores the CRC, so it stays 0.
Bytes page(const Bytes& lacing, const Bytes& data, uint8_t flags = 0, uint32_t serial = 0) {
    Bytes p = cat({str("OggS"), {0, flags}, Bytes(8, 0), le(serial, 4)});
    p.resize(26, 0);
    return cat({p, {uint8_t(lacing.size())}, lacing, data});
}
// One short packet on a page of its own.
Bytes page(const Bytes& packet, uint8_t flags, uint32_t serial) {
    return page({uint8_t(packet.size())}, packet, flags, serial);
}

// Packets laced onto pages of at most maxSegments lacing values, split across pages as needed.
Bytes pages(const std::vector<Bytes>& packets, size_t maxSegments = 255) {
    Bytes file, lacing, data;
    for (const Bytes& pk : packets) {
        for (size_t at = 0;; at += 255) {
            if (lacing.size() == maxSegments) {
                file = cat({file, page(lacing, data)});
                lacing.clear();
                data.clear();
            }
            size_t n = std::min<size_t>(255, pk.size() - at);
            lacing.push_back(uint8_t(n));
            data.insert(data.end(), pk.begin() + long(at), pk.begin() + long(at + n));
            if (n < 255) break;
        }
    }
    return lacing.empty() ? file : cat({file, page(lacing, data)});
}

TEST(OggReader, PacketsJoinedAcrossPagesUntilTheFirstBadPage) {
    using Packets = std::vector<Bytes>;
    const Bytes p10 = pattern(10, 1), p600 = pattern(600, 2), p30 = pattern(30, 6);
    const std::string tooLong = err("OGG packet longer than 65527 bytes, stop reading pages.");
    const Bytes cutPage = page({1, 2, 3, 4, 5, 6}, {});
    // Identification headers as far as the reader looks at them.
    const Bytes vorbis = cat({{1}, str("vorbis"), pattern(23, 3)}), opus = cat({str("OpusHead"), pattern(11, 4)}),
                flac = cat({{0x7F}, str("FLAC"), pattern(46, 5)}), speex = str("Speex   ");
    const uint8_t begins = 2, ends = 4;
    // Vorbis and Opus multiplexed; when the Vorbis stream ends, a Speex and a FLAC one.
    const Bytes streams = cat({page(vorbis, begins, 1), page(opus, begins, 2), page(p10, 0, 2), page(p30, ends, 1),
                               page(speex, begins, 3), page(flac, begins, 4), page(p10, 0, 3), page(p30, 0, 4)});
    const struct {
        const char* label;
        Bytes file;
        Packets packets;
        std::string out;
        bool invalid = false;
    } cases[] = {
        {"600 bytes laced 255 255 90, and an empty packet", pages({p10, {}, p600}), Packets{p10, {}, p600},
         endOfData(0)},
        {"the longest packet a prefix can size", pages({pattern(65527, 5)}), Packets{pattern(65527, 5)}, endOfData(0)},
        {"the counter wraps", pages(Packets(65537)), Packets(65537), endOfData(0)},
        {"bad magic", cat({pages({p10}), str("OggX"), pages({p30})}), Packets{p10},
         err("OGG file magic (OggS) error(magic=4F676758).")},
        {"lacing table cut", cat({pages({p10}), Bytes(cutPage.begin(), cutPage.begin() + 31)}), Packets{p10},
         endOfData(4)},
        {"too long over small pages", pages({p10, pattern(70000, 8), p30}, 7), Packets{p10}, tooLong},
        {"one stream of each link", streams, Packets{vorbis, p30, flac, p30},
         "[AST][WRN]OGG logical stream 00000002 skipped: stream 00000001 is decoded.\n"
         "[AST][WRN]OGG logical stream 00000003 skipped: not Vorbis, Opus or FLAC.\n" +
             endOfData(0)},
        {"empty file", {}, Packets(), endOfData(0), true},
        {"no Ogg page", cat({str("RIFF"), Bytes(40, 0)}), Packets(),
         err("OGG file magic (OggS) error(magic=52494646)."), true},
        {"first page without lacing values", page({}, {}), Packets(), err("OGG file segment number error:0"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<OggAudioDataReader>(c.file);
        EXPECT_EQ(c.invalid, r.invalid);
        EXPECT_EQ(c.out, r.out());
        const AudioInfo zero{};
        EXPECT_EQ(0, memcmp(&zero, &r.info, sizeof zero)) << "the reader sets no field";
        ASSERT_EQ(c.packets.size(), r.frames.size());
        for (size_t i = 0; i < r.frames.size(); ++i) {  // behind "vbsI", the frame's size and the count
            EXPECT_TRUE(cat({str("vbsI"), be(c.packets[i].size() + 8, 2), be(i, 2), c.packets[i]}) == r.frames[i]) << i;
        }
    }
}

}  // namespace
