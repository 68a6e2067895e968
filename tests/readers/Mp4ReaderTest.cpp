// MP4 layouts and damage that the real files of the decode tests (ALAC with 'moov' first and
// last, 64-bit and size-0 'mdat', AAC, MP3, MP2, AC-3, E-AC-3, a video track ahead, fragments)
// do not show: chunk runs and the other table forms, explicit HE-AAC configurations, E-AC-3
// samples of several sync frames, and tables and atoms that contradict the file.
#include <gtest/gtest.h>

#include "Mp4AudioDataReader.h"
#include "ReadAll.h"

namespace {

// An atom sized by its body unless `size` says otherwise; size 1 is a 64-bit header with the
// body's size (or `large`).
Bytes atom(const char* type, const Bytes& body, uint32_t size = 0, uint64_t large = 0) {
    Bytes head = cat({be(size ? size : body.size() + 8, 4), str(type)});
    if (size == 1) head = cat({head, be(large ? large : body.size() + 16, 8)});
    return cat({head, body});
}
Bytes full(const char* type, const Bytes& body) { return atom(type, cat({be(0, 4), body})); }

// An audio sample entry, 48 kHz in its own rate field, with its configuration atoms.
Bytes entry(const char* format, const Bytes& children = {}) {
    return atom(format, cat({Bytes(6, 0), be(1, 2), Bytes(8, 0), be(2, 2), be(16, 2), be(0, 4), be(48000u << 16, 4),
                             children}));
}
Bytes mp4a(uint8_t objectType, const Bytes& asc) {
    const Bytes config = cat({{objectType, 0x15}, Bytes(11, 0), {5, uint8_t(asc.size())}, asc});
    const Bytes es = cat({be(1, 2), {0}, {4, uint8_t(config.size())}, config});
    return entry("mp4a", full("esds", cat({{3, uint8_t(es.size())}, es})));
}
const Bytes kAc3 = entry("ac-3");

Bytes stsd(const Bytes& entries, uint32_t count = 1) { return full("stsd", cat({be(count, 4), entries})); }
Bytes stsz(const std::vector<uint32_t>& sizes, int count = -1) {
    Bytes b = cat({be(0, 4), be(count < 0 ? sizes.size() : uint32_t(count), 4)});
    for (uint32_t s : sizes) b = cat({b, be(s, 4)});
    return full("stsz", b);
}
// Runs of {first chunk, samples per chunk}.
Bytes stsc(const std::vector<std::pair<uint32_t, uint32_t>>& runs) {
    Bytes b = be(runs.size(), 4);
    for (const auto& r : runs) b = cat({b, be(r.first, 4), be(r.second, 4), be(1, 4)});
    return full("stsc", b);
}

Bytes moov(const Bytes& stbl, const char* handler = "soun") {
    const Bytes hdlr = full("hdlr", cat({be(0, 4), str(handler), Bytes(13, 0)}));
    const Bytes trak = atom("trak", atom("mdia", cat({hdlr, atom("minf", atom("stbl", stbl))})));
    return atom("moov", cat({atom("mvhd", Bytes(100, 0)), trak}));
}
const Bytes kFtyp = atom("ftyp", cat({str("M4A "), be(0, 4)}));

enum Layout { MOOV_LAST, MOOV_FIRST_MDAT_TO_END };

// One audio track of `sampleEntry` whose chunks lie at `chunks` in the data of 'mdat'.
Bytes file(const Bytes& sampleEntry, const Bytes& sizes, const Bytes& runs, const std::vector<uint64_t>& chunks,
           const Bytes& data, Layout layout = MOOV_LAST, bool co64 = false) {
    auto withBase = [&](uint64_t base) {
        Bytes offsets = be(chunks.size(), 4);
        for (uint64_t c : chunks) offsets = cat({offsets, be(base + c, co64 ? 8 : 4)});
        return moov(cat({stsd(sampleEntry), sizes, runs, full(co64 ? "co64" : "stco", offsets)}));
    };
    if (layout == MOOV_FIRST_MDAT_TO_END) {
        const size_t base = kFtyp.size() + withBase(0).size() + 8;
        return cat({kFtyp, withBase(base), be(0, 4), str("mdat"), data});
    }
    return cat({kFtyp, atom("mdat", data), withBase(kFtyp.size() + 8)});
}

std::string walk(std::initializer_list<const char*> names) {
    std::string s;
    for (const char* n : names) s += inf(std::string("atom:") + n);
    return s;
}
std::string trackWalk(const char* sizes = "stsz", const char* offsets = "stco") {
    return walk({"moov", "mvhd", "trak", "mdia", "hdlr", "minf", "stbl", "stsd", sizes, "stsc", offsets});
}
const std::string kMoovLast = walk({"ftyp", "mdat"}) + trackWalk() + endOfData(0);
const std::string kAc3Opened =
    inf("MP4 sample entry 'ac-3' holds AC-3, codec=80.") + summary("parseEacHeader", 48000, 0);
const std::string kNoMore = "[AST][WRN]No more frame to read.\n";

// The bytes of `data` at each {offset, length}.
std::vector<Bytes> slices(const Bytes& data, std::initializer_list<std::pair<size_t, size_t>> at) {
    std::vector<Bytes> out;
    for (const auto& a : at) out.emplace_back(data.begin() + long(a.first), data.begin() + long(a.first + a.second));
    return out;
}

// Sample tables in their several forms, sample entries the real files do not show, and tables
// and atoms that contradict the file.
TEST(Mp4Reader, TablesEntriesAndAtoms) {
    const Bytes data = pattern(40, 1), sizes = stsz({4, 6, 3}), au = pattern(10, 3);
    const uint32_t dataStart = 24;                                             // behind 'ftyp' and the 'mdat' header
    const Bytes stz2 = full("stz2", cat({be(4, 4), be(4, 4), {0x40, 0x63}}));  // 4-bit sizes 4, 0, 6, 3
    const Bytes eac3 = {0x0B, 0x77, 0x00, 0x04, 0x00, 0x80, 1, 2, 3, 4, 0x0B, 0x77, 0x00, 0x03, 0x00, 0x80, 5, 6};
    auto ac3 = [&](const Bytes& sizes, const Bytes& runs, const std::vector<uint64_t>& chunks,
                   Layout layout = MOOV_LAST,
                   bool co64 = false) { return file(kAc3, sizes, runs, chunks, data, layout, co64); };
    auto at = [&](std::initializer_list<std::pair<size_t, size_t>> parts) { return slices(data, parts); };
    // One sample in one chunk.
    auto one = [&](const Bytes& entry, const Bytes& sample) {
        return file(entry, stsz({uint32_t(sample.size())}), stsc({{1, 1}}), {0}, sample);
    };
    const auto aac = [](const char* name, uint32_t rate, uint32_t channelMap) {
        return kMoovLast + inf(std::string("MP4 sample entry 'mp4a' holds ") + name + ", codec=16.") +
               summary("parseAacHeader", rate, channelMap) + kNoMore;
    };
    // The ADTS header carries the core's rate and object type, and the channels.
    const auto adts = [&](uint8_t rate, uint8_t channels) {
        return std::vector<Bytes>{cat({{0xFF, 0xF1, rate, channels, 2, 0x3F, 0xFC}, au})};
    };
    const auto refused = [](const std::string& what) {
        return kMoovLast + err("Unsupported MP4 sample entry " + what + ".");
    };
    const Bytes crossing = ac3(stsz({4, 6, 3000}), stsc({{1, 3}}), {0});
    const Bytes tables = cat({stsd(kAc3), stsz({4}), stsc({{1, 1}})}), mdat = atom("mdat", Bytes(100, 1));
    const Bytes whole = cat({tables, full("stco", cat({be(1, 4), be(0, 4)}))});
    const std::string opened = kMoovLast + kAc3Opened, noMdat = err("No 'mdat' atom found.");
    const std::string upToStco = walk({"moov", "mvhd", "trak", "mdia", "hdlr", "minf", "stbl", "stsd", "stsz", "stsc"});
    const struct {
        const char* label;
        Bytes file;
        std::string out;
        std::vector<Bytes> units = {};  // none: refused
    } cases[] = {
        {"runs of two and one sample, chunks apart", ac3(sizes, stsc({{1, 2}, {2, 1}}), {0, 15}), opened + kNoMore,
         at({{0, 4}, {4, 6}, {15, 3}})},
        {"4-bit 'stz2' sizes, a sample of size 0, 'co64' offsets",
         ac3(stz2, stsc({{1, 1}, {2, 3}}), {0, 20}, MOOV_LAST, true),
         walk({"ftyp", "mdat"}) + trackWalk("stz2", "co64") + endOfData(0) + kAc3Opened + kNoMore,
         at({{0, 4}, {20, 6}, {26, 3}})},
        {"one size for all, an empty chunk, 'mdat' to the end of the file",
         ac3(full("stsz", cat({be(5, 4), be(3, 4)})), stsc({{1, 1}, {2, 0}, {3, 2}}), {0, 30, 10},
             MOOV_FIRST_MDAT_TO_END),
         walk({"ftyp"}) + trackWalk() + walk({"mdat"}) + inf("Last top atom reached.") + kAc3Opened + kNoMore,
         at({{0, 5}, {10, 5}, {15, 5}})},
        {"more samples than the chunks hold", ac3(sizes, stsc({{1, 1}}), {0, 4}),
         opened + err("Sample 3 of 3 lies in no chunk of the 'stsc' and 'stco' atoms."), at({{0, 4}, {4, 6}})},
        {"a chunk past the end of the file", ac3(sizes, stsc({{1, 2}, {2, 1}}), {0, 100000}),
         opened + err("Sample 3 lies at " + std::to_string(dataStart + 100000) + ", past the end of the file."),
         at({{0, 4}, {4, 6}})},
        {"a sample across the end of the file", crossing, opened + endOfData(crossing.size() - dataStart - 10),
         at({{0, 4}, {4, 6}})},
        {"'stsc' runs out of order", ac3(sizes, stsc({{2, 3}}), {0}),
         kMoovLast + err("The 'stsc' runs are out of order at entry 0.")},
        {"'stsz' count beyond its atom", ac3(stsz({4, 6}, 3), stsc({{1, 3}}), {0}),
         kMoovLast + err("Unexpected 'stsz' atom length.")},
        {"HE-AAC", one(mp4a(0x40, {0x2B, 0x11, 0x88}), au), aac("HE-AAC", 24000, 2), adts(0x58, 0x80)},
        {"HE-AAC v2", one(mp4a(0x40, {0xEB, 0x09, 0x88}), au), aac("HE-AAC v2", 24000, 1), adts(0x58, 0x40)},
        {"AAC LC at an explicit 44.1 kHz", one(mp4a(0x40, {0x17, 0x80, 0x56, 0x22, 0x10}), au), aac("AAC LC", 44100, 2),
         adts(0x50, 0x80)},
        {"E-AC-3, two sync frames in a sample", one(entry("ec-3"), eac3),
         kMoovLast + inf("MP4 sample entry 'ec-3' holds E-AC-3, codec=80.") + summary("parseEacHeader", 48000, 0) +
             kNoMore,
         slices(eac3, {{0, 10}, {10, 8}})},
        {"Vorbis in 'mp4a'", one(mp4a(0xDD, {}), au), refused("'mp4a' (object type 0xDD)")},
        {"AAC object type 42", one(mp4a(0x40, {0xF9, 0x48, 0x40}), au), refused("'mp4a' (AAC object type 42)")},
        {"AAC channels by a program config element", one(mp4a(0x40, {0x12, 0x00}), au),
         refused("'mp4a' (AAC channel configuration 0)")},
        {"no 'mdat'", moov(whole), upToStco + walk({"stco"}) + endOfData(0) + noMdat},
        {"size 0 ahead of 'mdat': to the end", cat({be(0, 4), str("free"), mdat}),
         walk({"free"}) + inf("Last top atom reached.") + noMdat},
        {"no audio track", cat({moov(whole, "vide"), mdat}),
         upToStco + walk({"stco", "mdat"}) + endOfData(0) + err("Found no audio track.")},
        {"no 'stco'", cat({moov(tables), mdat}),
         upToStco + walk({"mdat"}) + endOfData(0) + err("Found no 'stco' atom in the audio track.")},
        {"two sample entries", cat({moov(cat({stsd(cat({kAc3, kAc3}), 2), stsz({4})})), mdat}),
         walk({"moov", "mvhd", "trak", "mdia", "hdlr", "minf", "stbl", "stsd", "stsz", "mdat"}) + endOfData(0) +
             err("The audio track has 2 sample entries; one is supported.")},
        {"smaller than its header", cat({atom("free", {}, 7), mdat}),
         walk({"free"}) + err("Atom size 7 is smaller than its header.")},
        {"64-bit size smaller than its header", atom("mdat", {}, 1, 15),
         walk({"mdat"}) + err("Atom size 15 is smaller than its header.")},
        {"past 64-bit positions", cat({atom("free", {}), atom("mdat", {}, 1, 0xFFFFFFFFFFFFFF00ull)}),
         walk({"free", "mdat"}) +
             err("Atom at 8 of size 18446744073709551360 reaches beyond the largest file position.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<Mp4AudioDataReader>(c.file);
        EXPECT_EQ(c.out, r.out());
        EXPECT_EQ(c.units.empty(), r.invalid);
        EXPECT_TRUE(c.units == r.frames);
    }
}

}  // namespace
