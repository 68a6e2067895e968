#include <gtest/gtest.h>

#include "AlacAudioDataReader.h"
#include "TestSupport.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void be(Bytes& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// An atom sized by its body unless `size` says otherwise; size 1 is a 64-bit header with the
// body's size (or `large`).
Bytes atom(const char* type, const Bytes& body, uint32_t size = 0, uint64_t large = 0) {
    Bytes a;
    be(a, size ? size : body.size() + 8, 4);
    a.insert(a.end(), type, type + 4);
    if (size == 1) be(a, large ? large : body.size() + 16, 8);
    return join({a, body});
}

// A sample table with one entry of this format: 96 kHz, 4096 samples a packet.
Bytes stsd(uint8_t bits, uint8_t channels, const char* format = "alac", uint32_t entries = 1) {
    Bytes b;
    be(b, 0, 4);
    be(b, entries, 4);
    be(b, 72, 4);
    b.insert(b.end(), format, format + 4);
    b.resize(44, 0);
    be(b, 36, 4);
    b.insert(b.end(), {'a', 'l', 'a', 'c', 0, 0, 0, 0, 0, 0, 0x10, 0, 0, bits, 40, 10, 14, channels, 0, 255});
    b.resize(76, 0);
    be(b, 96000, 4);
    return atom("stsd", b);
}

Bytes stsz(const std::vector<uint32_t>& sizes, int64_t count) {
    Bytes b(8, 0);
    be(b, static_cast<uint64_t>(count), 4);
    for (uint32_t s : sizes) be(b, s, 4);
    return atom("stsz", b);
}

Bytes moov(const Bytes& tables) {
    return atom("moov",
                join({atom("mvhd", Bytes(100, 0)), atom("trak", atom("mdia", atom("minf", atom("stbl", tables))))}));
}

std::string walk(std::initializer_list<const char*> names) {
    std::string s;
    for (const char* n : names) s += std::string("[AST][INF]atom:") + n + "\n";
    return s;
}

const std::string kMoov = walk({"moov", "mvhd", "trak", "mdia", "minf", "stbl", "stsd", "stsz"});
const std::string kEnd = "[AST][INF]Reached end of data:0.\n";
const std::string kLast = "[AST][INF]Last top atom reached.\n";
const Bytes kSizeZero = {0, 0, 0, 0, 'f', 'r', 'e', 'e', 1, 2, 3};

std::string run(const Bytes& file, bool& invalid, AudioInfo& info, std::vector<Bytes>& frames) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.path("a.m4a"), file);
    return testsupport::captureStdout([&] {
        AlacAudioDataReader reader(dir.path("a.m4a").c_str());
        invalid = reader.isInvalid();
        info = *reader.getAudioInfo();
        for (FrameBuffer* f = invalid ? nullptr : reader.readFrame(); f && f->length > 0; f = reader.readFrame())
            frames.emplace_back(f->data, f->data + f->length);
    });
}

TEST(AlacReader, PacketsBehindTheirHeaderInTheOrderOfTheSizeTable) {
    const std::vector<uint32_t> sizes = {100, 37, 260};
    Bytes data;
    for (uint32_t s : sizes) data.insert(data.end(), s, static_cast<uint8_t>(s));
    const Bytes tables = join({stsd(16, 2), stsz(sizes, 3)});
    const std::string parsed2 = "[AST][INF]parseAlacHeader:\n[AST][INF]sampleFrequency=96000\n"
                                "[AST][INF]channelMap=2(1-Mono/2-Stereo)\n";
    const std::string noMore = "[AST][WRN]No more frame to read.\n";
    struct Case {
        const char* label;
        Bytes file;
        std::string walk, tail;
        size_t frames;
        uint8_t bits;
    };
    const Case cases[] = {
        {"'moov' last, 64-bit sizes, atoms of other types",
         join({atom("ftyp", {}), atom("uuid", {}), atom("mdat", data, 1), moov(tables), atom("free", {1}, 1),
               kSizeZero}),
         walk({"ftyp", "uuid"}) + "[AST][WRN]Unexpecte top atom.\n" + walk({"mdat"}) + kMoov + walk({"free"}) + kLast,
         noMore, 3, 16},
        {"six 24-bit channels give no channel map",
         join({moov(join({stsd(24, 6), stsz(sizes, 3)})), atom("mdat", data)}), kMoov + walk({"mdat"}) + kEnd, noMore,
         3, 24},
        {"a size past the end of the file",
         join({moov(join({stsd(16, 2), stsz({100, 0x7FFFFFF0, 5}, 3)})), atom("mdat", data)}),
         kMoov + walk({"mdat"}) + kEnd, "[AST][INF]Reached end of data:297.\n", 1, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        bool invalid = true;
        AudioInfo info{};
        std::vector<Bytes> frames;
        std::string out = run(c.file, invalid, info, frames);
        ASSERT_FALSE(invalid) << out;
        uint32_t channelMap = c.bits == 16 ? 2 : 0;
        std::string parsed = parsed2;
        if (channelMap == 0) parsed.replace(parsed.find("channelMap=2"), 12, "channelMap=0");
        EXPECT_EQ(c.walk + parsed + c.tail, out);
        EXPECT_EQ(96000u, info.sampleFrequency);
        EXPECT_EQ(channelMap, info.channelMap);
        ASSERT_EQ(c.frames, frames.size());
        size_t at = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            Bytes expected = {'A', 'L', 'A', 'C'};
            be(expected, sizes[i] | (i == 2 ? 0x80000000u : 0), 4);
            expected.insert(expected.end(), {c.bits, 0x01, 0x77, 0x00, 0, 0, 0x10, 0});
            expected.insert(expected.end(), data.begin() + static_cast<long>(at),
                            data.begin() + static_cast<long>(at + sizes[i]));
            EXPECT_TRUE(expected == frames[i]) << "packet " << i;
            at += sizes[i];
        }
    }
}

TEST(AlacReader, HeadersTheReaderRejects) {
    const Bytes mdat = atom("mdat", Bytes(100, 1));
    const std::string upToStsd = walk({"moov", "mvhd", "trak", "mdia", "minf", "stbl", "stsd"});
    const std::string badLength = "[AST][ERR]Unexpected 'stsd' atom length.\n";
    const std::string notAlac = "[AST][ERR]Found no 'ALAC' audio format.\n";
    const std::string noMdat = "[AST][ERR]No 'mdat' atom found.\n";
    struct Case {
        const char* label;
        Bytes file;
        std::string out;
    };
    const Case cases[] = {
        {"empty", {}, kEnd + noMdat},
        {"no 'mdat'", moov(join({stsd(16, 2), stsz({60}, 1)})), kMoov + kEnd + noMdat},
        {"size 0 before 'mdat'", join({kSizeZero, mdat}), kLast + noMdat},
        {"'mp4a' entry", join({moov(stsd(16, 2, "mp4a")), mdat}), upToStsd + notAlac},
        {"two entries", join({moov(stsd(16, 2, "alac", 2)), mdat}), upToStsd + notAlac},
        {"'stsd' too short", join({moov(atom("stsd", Bytes(79, 0))), mdat}), upToStsd + badLength},
        {"'stsz' too short", join({moov(join({stsd(16, 2), atom("stsz", Bytes(11, 0))})), mdat}), kMoov + badLength},
        {"'stsz' count beyond its atom", join({moov(join({stsd(16, 2), stsz({60, 40}, 3)})), mdat}), kMoov + badLength},
        {"'stsz' count negative", join({moov(join({stsd(16, 2), stsz({60}, 0xFFFFFFFF)})), mdat}), kMoov + badLength},
        {"a body past the end of the file", atom("moov", atom("stsd", Bytes(90, 0), 0x7FFE0000), 0x7FFF0000),
         walk({"moov", "stsd"}) + "[AST][INF]Reached end of data:90.\n"},
        {"smaller than its header", join({atom("free", {}, 7), mdat}),
         walk({"free"}) + "[AST][ERR]Atom size 7 is smaller than its header.\n"},
        {"64-bit size smaller than its header", atom("mdat", {}, 1, 15),
         walk({"mdat"}) + "[AST][ERR]Atom size 15 is smaller than its header.\n"},
        {"past 2 GiB", join({atom("free", {}), atom("mdat", {}, 1, 0x80000000ull)}),
         walk({"free", "mdat"}) + "[AST][ERR]Atom at 8 of size 2147483648 reaches beyond 2 GiB, not supported.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        bool invalid = false;
        AudioInfo info{};
        std::vector<Bytes> frames;
        EXPECT_EQ(c.out, run(c.file, invalid, info, frames));
        EXPECT_TRUE(invalid);
    }
}

}  // namespace
