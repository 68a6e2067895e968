// MP4 atom layouts and damage that real ALAC files (covered end to end: 'moov' first and last,
// 64-bit 'mdat' sizes, 24 bits and 6 channels, an 'stsd' of AAC, a cut last packet) do not show.
#include <gtest/gtest.h>

#include "AlacAudioDataReader.h"
#include "ReadAll.h"

namespace {

// An atom sized by its body unless `size` says otherwise; size 1 is a 64-bit header with the
// body's size (or `large`).
Bytes atom(const char* type, const Bytes& body, uint32_t size = 0, uint64_t large = 0) {
    Bytes head = cat({be(size ? size : body.size() + 8, 4), str(type)});
    if (size == 1) head = cat({head, be(large ? large : body.size() + 16, 8)});
    return cat({head, body});
}

// A sample table with entries of ALAC, 16-bit stereo, 96 kHz, 4096 samples a packet.
Bytes stsd(uint32_t entries = 1) {
    Bytes b = cat({be(0, 4), be(entries, 4), be(72, 4), str("alac")});
    b.resize(44, 0);
    b = cat({b, be(36, 4), str("alac"), {0, 0, 0, 0, 0, 0, 0x10, 0, 0, 16, 40, 10, 14, 2, 0, 255}});
    b.resize(76, 0);
    return atom("stsd", cat({b, be(96000, 4)}));
}

Bytes stsz(const std::vector<uint32_t>& sizes, uint32_t count) {
    Bytes b = cat({Bytes(8, 0), be(count, 4)});
    for (uint32_t s : sizes) b = cat({b, be(s, 4)});
    return atom("stsz", b);
}

Bytes moov(const Bytes& tables) {
    const Bytes trak = atom("trak", atom("mdia", atom("minf", atom("stbl", tables))));
    return atom("moov", cat({atom("mvhd", Bytes(100, 0)), trak}));
}

std::string walk(std::initializer_list<const char*> names) {
    std::string s;
    for (const char* n : names) s += inf(std::string("atom:") + n);
    return s;
}

TEST(AlacReader, AtomWalks) {
    const std::vector<uint32_t> sizes = {100, 37, 260};
    Bytes data;
    for (uint32_t s : sizes) data.insert(data.end(), s, uint8_t(s));
    const Bytes mdat = atom("mdat", Bytes(100, 1)), sizeZero = {0, 0, 0, 0, 'f', 'r', 'e', 'e', 1, 2, 3};
    const std::string upToStsd = walk({"moov", "mvhd", "trak", "mdia", "minf", "stbl", "stsd"});
    const std::string full = upToStsd + walk({"stsz"}), opened = summary("parseAlacHeader", 96000, 2);
    const std::string badLength = err("Unexpected 'stsd' atom length."), notAlac = err("Found no 'ALAC' audio format.");
    const std::string noMdat = err("No 'mdat' atom found."), last = inf("Last top atom reached.");
    const struct {
        const char* label;
        Bytes file;
        std::string out;
        size_t packets;  // 0: the file does not open
    } cases[] = {
        {"'moov' last, 64-bit sizes, atoms of other types",
         cat({atom("ftyp", {}), atom("uuid", {}), atom("mdat", data, 1), moov(cat({stsd(), stsz(sizes, 3)})),
              atom("free", {1}, 1), sizeZero}),
         walk({"ftyp", "uuid"}) + "[AST][WRN]Unexpecte top atom.\n" + walk({"mdat"}) + full + walk({"free"}) + last +
             opened + "[AST][WRN]No more frame to read.\n",
         3},
        {"a size past the end of the file",
         cat({moov(cat({stsd(), stsz({100, 0x7FFFFFF0, 5}, 3)})), atom("mdat", data)}),
         full + walk({"mdat"}) + endOfData(0) + opened + endOfData(297), 1},
        {"no 'mdat'", moov(cat({stsd(), stsz({60}, 1)})), full + endOfData(0) + noMdat, 0},
        {"size 0 before 'mdat'", cat({sizeZero, mdat}), last + noMdat, 0},
        {"two entries", cat({moov(stsd(2)), mdat}), upToStsd + notAlac, 0},
        {"'stsd' too short", cat({moov(atom("stsd", Bytes(79, 0))), mdat}), upToStsd + badLength, 0},
        {"'stsz' too short", cat({moov(cat({stsd(), atom("stsz", Bytes(11, 0))})), mdat}), full + badLength, 0},
        {"'stsz' count beyond its atom", cat({moov(cat({stsd(), stsz({60, 40}, 3)})), mdat}), full + badLength, 0},
        {"'stsz' count negative", cat({moov(cat({stsd(), stsz({60}, 0xFFFFFFFF)})), mdat}), full + badLength, 0},
        {"a body past the end of the file", atom("moov", atom("stsd", Bytes(90, 0), 0x7FFE0000), 0x7FFF0000),
         walk({"moov", "stsd"}) + endOfData(90), 0},
        {"smaller than its header", cat({atom("free", {}, 7), mdat}),
         walk({"free"}) + err("Atom size 7 is smaller than its header."), 0},
        {"64-bit size smaller than its header", atom("mdat", {}, 1, 15),
         walk({"mdat"}) + err("Atom size 15 is smaller than its header."), 0},
        {"past 2 GiB", cat({atom("free", {}), atom("mdat", {}, 1, 0x80000000ull)}),
         walk({"free", "mdat"}) + err("Atom at 8 of size 2147483648 reaches beyond 2 GiB, not supported."), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<AlacAudioDataReader>(c.file);
        EXPECT_EQ(c.out, r.out());
        EXPECT_EQ(c.packets == 0, r.invalid);
        ASSERT_EQ(c.packets, r.frames.size());
        for (size_t i = 0, at = 0; i < c.packets; at += sizes[i++]) {  // behind the packet header
            const Bytes packet(data.begin() + long(at), data.begin() + long(at + sizes[i]));
            const Bytes header = cat({str("ALAC"), be(sizes[i] | (i == 2 ? 0x80000000u : 0), 4), {16, 1, 0x77, 0}});
            EXPECT_TRUE(cat({header, {0, 0, 0x10, 0}, packet}) == r.frames[i]) << i;
        }
    }
}

}  // namespace
