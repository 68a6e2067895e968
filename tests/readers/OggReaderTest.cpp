#include <gtest/gtest.h>

#include <cstring>

#include "OggAudioDataReader.h"
#include "TestSupport.h"

using testsupport::captureStdout;
using testsupport::TempDir;

namespace {

typedef std::vector<uint8_t> Bytes;

// A page with these lacing values and data; the CRC is left 0 since the reader ignores it.
Bytes page(const Bytes& lacing, const Bytes& data) {
    Bytes p = {'O', 'g', 'g', 'S', 0, 0};
    p.insert(p.end(), 20, 0);
    p.push_back(static_cast<uint8_t>(lacing.size()));
    p.insert(p.end(), lacing.begin(), lacing.end());
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

Bytes packet(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

// Packets laced into pages of at most maxSegments lacing values, split across pages as needed.
Bytes pages(const std::vector<Bytes>& packets, size_t maxSegments = 255) {
    Bytes file, lacing, data;
    auto flush = [&] {
        Bytes p = page(lacing, data);
        file.insert(file.end(), p.begin(), p.end());
        lacing.clear();
        data.clear();
    };
    for (const Bytes& pk : packets) {
        for (size_t at = 0;; at += 255) {
            if (lacing.size() == maxSegments) flush();
            size_t n = std::min<size_t>(255, pk.size() - at);
            lacing.push_back(static_cast<uint8_t>(n));
            data.insert(data.end(), pk.begin() + static_cast<long>(at), pk.begin() + static_cast<long>(at + n));
            if (n < 255) break;
        }
    }
    if (!lacing.empty()) flush();
    return file;
}

Bytes cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }

Bytes bytesOf(const char* text) { return Bytes(text, text + strlen(text)); }

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct OggRun {
    std::string out;
    bool invalid = true;
    std::vector<Bytes> frames;
};

OggRun run(const Bytes& file, size_t maxFrames = 1000) {
    TempDir dir;
    std::string path = dir.path("a.ogg");
    testsupport::writeFile(path, file);
    OggRun r;
    r.out = captureStdout([&] {
        OggAudioDataReader reader(path.c_str());
        r.invalid = reader.isInvalid();
        if (r.invalid) return;
        for (size_t i = 0; i < maxFrames; ++i) {
            FrameBuffer* f = reader.readFrame();
            if (f->length < 1) break;
            r.frames.emplace_back(f->data, f->data + f->length);
        }
    });
    return r;
}

// The packet behind a frame's prefix, after checking the prefix.
Bytes payloadOf(const Bytes& frame, uint16_t count) {
    EXPECT_GE(frame.size(), 8u);
    EXPECT_EQ(Bytes({0x76, 0x62, 0x73, 0x49}), Bytes(frame.begin(), frame.begin() + 4));
    EXPECT_EQ(frame.size(), static_cast<size_t>(frame[4] << 8 | frame[5]));
    EXPECT_EQ(count, frame[6] << 8 | frame[7]);
    return Bytes(frame.begin() + 8, frame.end());
}

const char kEnd[] = "[AST][INF]Reached end of data:0.\n";

TEST(OggReader, PacketsAreJoinedAndPrefixed) {
    struct Case {
        const char* label;
        Bytes file;
        std::vector<Bytes> packets;
        std::string out;
    };
    const Bytes p10 = packet(10, 1), p0, p600 = packet(600, 2), p510 = packet(510, 3), p100 = packet(100, 4);
    const Bytes longest = packet(65527, 5), p30 = packet(30, 6), p7 = packet(7, 7);
    const Case cases[] = {
        {"onePage", pages({p10, p0, p600}), {p10, p0, p600}, kEnd},
        {"continuedOnTheNextPage", join({page({255, 255}, p510), page({100}, p100)}),
         {join({p510, p100})}, kEnd},
        {"completeThenContinued", join({page({30, 255}, join({p30, Bytes(p510.begin(), p510.begin() + 255)})),
                                        page({255, 0, 7}, join({Bytes(p510.begin() + 255, p510.end()), p7}))}),
         {p30, p510, p7}, kEnd},
        {"oneSegmentPerPage", pages({p600, p10, p0}, 1), {p600, p10, p0}, kEnd},
        {"longestFramable", pages({longest, p10}), {longest, p10}, kEnd},
        {"zeroSegmentsStopsThePages", join({pages({p10}), page({}, {}), pages({p30})}), {p10},
         "[AST][ERR]OGG file segment number error:0\n"},
        {"badMagicOnALaterPage", join({pages({p10}), bytesOf("OggX"), pages({p30})}), {p10},
         "[AST][ERR]OGG file magic (OggS) error(magic=4F676758).\n"},
        // Lacing that claims more than the file holds: the packets before it still come out.
        {"lacingRunsPastTheFile", join({page({10, 255, 45}, join({p10, packet(100, 9)}))}), {p10},
         "[AST][INF]Reached end of data:100.\n" + std::string(kEnd)},
        {"lacingTableCut", join({pages({p10}), cut(page({1, 2, 3, 4, 5, 6}, {}), 31)}), {p10},
         "[AST][INF]Reached end of data:4.\n"},
        {"headerCut", join({pages({p10}), cut(page({1}, {9}), 20)}), {p10},
         "[AST][INF]Reached end of data:20.\n"},
        // A packet whose size the 16-bit prefix cannot carry ends the stream before it.
        {"packetTooLongToFrame", pages({p10, packet(65528, 8), p30}), {p10},
         "[AST][ERR]OGG packet longer than 65527 bytes, stop reading pages.\n"},
        {"tooLongAcrossPages", pages({p7, packet(70000, 8), p30}, 7), {p7},
         "[AST][ERR]OGG packet longer than 65527 bytes, stop reading pages.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        OggRun r = run(c.file);
        ASSERT_FALSE(r.invalid);
        EXPECT_EQ(c.out, r.out);
        ASSERT_EQ(c.packets.size(), r.frames.size());
        for (size_t i = 0; i < c.packets.size(); ++i)
            EXPECT_TRUE(c.packets[i] == payloadOf(r.frames[i], static_cast<uint16_t>(i))) << "packet " << i;
    }
}

TEST(OggReader, ConstructorChecksTheFirstPageOnly) {
    struct Case {
        const char* label;
        Bytes file;
        bool invalid;
        std::string out;
    };
    const Case cases[] = {
        {"empty", {}, true, "[AST][INF]Reached end of data:0.\n"},
        {"short", {'O', 'g', 'g', 'S', 0, 0}, true, "[AST][INF]Reached end of data:6.\n"},
        {"riff", join({bytesOf("RIFF"), Bytes(40, 0)}), true, "[AST][ERR]OGG file magic (OggS) error(magic=52494646).\n"},
        {"noLacing", page({}, {}), true, "[AST][ERR]OGG file segment number error:0\n"},
        {"lacingMissing", page({5}, {}), false, ""},  // only the page header is parsed up front
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        std::string path = dir.path("a.ogg");
        testsupport::writeFile(path, c.file);
        std::string out = captureStdout([&] {
            OggAudioDataReader reader(path.c_str());
            EXPECT_EQ(c.invalid, reader.isInvalid());
            const AudioInfo zero{};
            EXPECT_EQ(0, memcmp(reader.getAudioInfo(), &zero, sizeof zero)) << "sets no field";
        });
        EXPECT_EQ(c.out, out);
    }
    std::string out = captureStdout([] { EXPECT_TRUE(OggAudioDataReader("/nonexistent/a.ogg").isInvalid()); });
    EXPECT_EQ("[AST][ERR]Failed to open file '/nonexistent/a.ogg'.\n", out);
}

TEST(OggReader, CounterWrapsAfter65536Packets) {
    std::vector<Bytes> empty(65537);
    OggRun r = run(pages(empty), 70000);
    ASSERT_EQ(65537u, r.frames.size());
    payloadOf(r.frames[65535], 65535);
    payloadOf(r.frames[65536], 0);
}

}  // namespace
