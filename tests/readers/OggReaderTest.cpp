#include <gtest/gtest.h>

#include <cstring>

#include "OggAudioDataReader.h"
#include "TestSupport.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A page with these lacing values and data; the reader ignores the CRC, so it stays 0.
Bytes page(const Bytes& lacing, const Bytes& data) {
    Bytes p = {'O', 'g', 'g', 'S'};
    p.resize(26, 0);
    p.push_back(static_cast<uint8_t>(lacing.size()));
    return join({p, lacing, data});
}

// Packets laced onto pages of at most maxSegments lacing values, split across pages as needed.
Bytes pages(const std::vector<Bytes>& packets, size_t maxSegments = 255) {
    Bytes file, lacing, data;
    for (const Bytes& pk : packets) {
        for (size_t at = 0;; at += 255) {
            if (lacing.size() == maxSegments) {
                file = join({file, page(lacing, data)});
                lacing.clear();
                data.clear();
            }
            size_t n = std::min<size_t>(255, pk.size() - at);
            lacing.push_back(static_cast<uint8_t>(n));
            data.insert(data.end(), pk.begin() + static_cast<long>(at), pk.begin() + static_cast<long>(at + n));
            if (n < 255) break;
        }
    }
    return lacing.empty() ? file : join({file, page(lacing, data)});
}

Bytes packet(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

// The packets behind the frames' prefixes, after checking the prefixes.
std::vector<Bytes> readPackets(const Bytes& file, std::string& out, bool& invalid) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.path("a.ogg"), file);
    std::vector<Bytes> packets;
    out = testsupport::captureStdout([&] {
        OggAudioDataReader reader(dir.path("a.ogg").c_str());
        invalid = reader.isInvalid();
        const AudioInfo zero{};
        EXPECT_EQ(0, memcmp(&zero, reader.getAudioInfo(), sizeof zero)) << "the reader sets no field";
        for (FrameBuffer* f = invalid ? nullptr : reader.readFrame(); f && f->length > 0; f = reader.readFrame()) {
            const uint8_t* d = f->data;
            EXPECT_EQ(0, memcmp(d, "\x76\x62\x73\x49", 4));
            EXPECT_EQ(f->length, d[4] << 8 | d[5]);
            EXPECT_EQ(packets.size() & 0xFFFF, static_cast<size_t>(d[6] << 8 | d[7]));
            packets.emplace_back(d + 8, d + f->length);
        }
    });
    return packets;
}

TEST(OggReader, PacketsJoinedAcrossPagesUntilTheFirstBadPage) {
    const Bytes p10 = packet(10, 1), p600 = packet(600, 2), p510 = packet(510, 3), p30 = packet(30, 6);
    const Bytes longest = packet(65527, 5), half(p510.begin(), p510.begin() + 255),
                rest(p510.begin() + 255, p510.end());
    const std::string end = "[AST][INF]Reached end of data:0.\n";
    const std::string tooLong = "[AST][ERR]OGG packet longer than 65527 bytes, stop reading pages.\n";
    const Bytes cutPage = page({1, 2, 3, 4, 5, 6}, {});
    struct Case {
        const char* label;
        Bytes file;
        std::vector<Bytes> packets;
        std::string out;
        bool invalid;
    };
    const Case cases[] = {
        {"600 bytes laced 255 255 90, and an empty packet", pages({p10, {}, p600}), {p10, {}, p600}, end, false},
        {"continued on the next page",
         join({page({30, 255}, join({p30, half})), page({255, 0, 10}, join({rest, p10}))}), {p30, p510, p10}, end,
         false},
        {"one lacing value a page", pages({p600, p10}, 1), {p600, p10}, end, false},
        {"the longest packet a prefix can size", pages({longest, p10}), {longest, p10}, end, false},
        {"no lacing values", join({pages({p10}), page({}, {}), pages({p30})}), {p10},
         "[AST][ERR]OGG file segment number error:0\n", false},
        {"bad magic", join({pages({p10}), {'O', 'g', 'g', 'X'}, pages({p30})}), {p10},
         "[AST][ERR]OGG file magic (OggS) error(magic=4F676758).\n", false},
        {"lacing past the end", page({10, 255, 45}, join({p10, packet(100, 9)})), {p10},
         "[AST][INF]Reached end of data:100.\n" + end, false},
        {"lacing table cut", join({pages({p10}), Bytes(cutPage.begin(), cutPage.begin() + 31)}), {p10},
         "[AST][INF]Reached end of data:4.\n", false},
        {"too long to frame", pages({p10, packet(65528, 8), p30}), {p10}, tooLong, false},
        {"too long over small pages", pages({p10, packet(70000, 8), p30}, 7), {p10}, tooLong, false},
        {"empty file", {}, {}, end, true},
        {"no Ogg page", join({{'R', 'I', 'F', 'F'}, Bytes(40, 0)}), {},
         "[AST][ERR]OGG file magic (OggS) error(magic=52494646).\n", true},
        {"first page without lacing values", page({}, {}), {}, "[AST][ERR]OGG file segment number error:0\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string out;
        bool invalid = false;
        std::vector<Bytes> packets = readPackets(c.file, out, invalid);
        EXPECT_EQ(c.invalid, invalid);
        EXPECT_EQ(c.out, out);
        EXPECT_TRUE(c.packets == packets) << packets.size() << " packets";
    }
}

TEST(OggReader, CounterWrapsAfter65536Packets) {
    std::string out;
    bool invalid = true;
    EXPECT_EQ(65537u, readPackets(pages(std::vector<Bytes>(65537)), out, invalid).size());
}

}  // namespace
