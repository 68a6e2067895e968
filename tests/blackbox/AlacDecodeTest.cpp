// ALAC in M4A end to end: the atom walk as printed, the packets behind their packet header,
// and the PCM against ffmpeg's decode of the same file.
#include <algorithm>
#include <regex>

#include "DecodeCheck.h"

using namespace blackbox;

namespace {

// The walk's lines, as ffprobe walks the atoms of the sample-table path, up to and including
// the atom named `last` if given.
std::string walkLines(const std::string& file, const std::string& last = "") {
    TempDir dir;
    EXPECT_TRUE(shell("ffprobe -v trace '" + file + "' 2> '" + dir.path("trace") + "'"));
    const Bytes trace = readFile(dir.path("trace"));
    const std::string text(trace.begin(), trace.end());
    const std::regex atom("type:'(....)' parent:'(root|moov|trak|mdia|minf|stbl)'");
    std::string lines = "[AST][INF]File suffix=m4a, codec=160.\n";
    for (std::sregex_iterator m(text.begin(), text.end(), atom), end; m != end; ++m) {
        lines += "[AST][INF]atom:" + (*m)[1].str() + "\n";
        if ((*m)[1] == last) return lines;
    }
    return lines + "[AST][INF]Reached end of data:0.\n";
}

// ffmpeg's packets of `encoded`, each behind its header: 4096 samples a packet, the last one flagged.
std::vector<Bytes> alacUnits(const std::string& encoded, int bits, int rate) {
    std::vector<Bytes> units = packetsOf(encoded);
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t size = static_cast<uint32_t>(units[i].size()) | (i + 1 == units.size() ? 0x80000000u : 0);
        units[i].insert(units[i].begin(), {'A', 'L', 'A', 'C', uint8_t(size >> 24), uint8_t(size >> 16),
                                           uint8_t(size >> 8), uint8_t(size), uint8_t(bits), uint8_t(rate >> 16),
                                           uint8_t(rate >> 8), uint8_t(rate), 0, 0, 0x10, 0});
    }
    return units;
}

// The 'mdat' header rewritten with its size in 64 bits.
Bytes withLargeMdatSize(Bytes f) {
    const char type[] = "mdat";
    const long at = std::search(f.begin(), f.end(), type, type + 4) - f.begin() - 4;
    const uint32_t size = be(f, size_t(at)) + 8;
    f.erase(f.begin() + at, f.begin() + at + 8);
    f.insert(f.begin() + at, {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, uint8_t(size >> 24), uint8_t(size >> 16),
                              uint8_t(size >> 8), uint8_t(size)});
    return f;
}

TEST(AlacDecode, RealFilesAndDamagedOnes) {
    const struct {
        const char* label;
        int channels, rate, bits;
        std::string options;
        bool largeMdatSize;  // the 'mdat' header rewritten with a 64-bit size
    } fixtures[] = {
        {"16-bit stereo, 'moov' last, 64-bit 'mdat' size", 2, 44100, 16, "", true},
        {"16-bit mono, 'moov' first", 1, 22050, 16, "-movflags +faststart", false},
        {"24-bit 6 channels, 'moov' first", 6, 96000, 24, "-movflags +faststart", false},
    };
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".m4a"), encoded = in + ".encoded.m4a";
        ASSERT_TRUE(
            encodeTones(encoded, f.channels, f.rate,
                        std::string("-c:a alac -sample_fmt ") + (f.bits == 16 ? "s16p " : "s32p ") + f.options));
        writeFile(in, f.largeMdatSize ? withLargeMdatSize(readFile(encoded)) : readFile(encoded));
        rows.push_back(Decode(f.label, in,
                              decodedLines(walkLines(in) + summaryLines("parseAlacHeader", f.rate, f.channels),
                                           "[AST][WRN]No more frame to read.\n"),
                              unitsAre(alacUnits(encoded, f.bits, f.rate)))
                           .pcm(encoded, f.rate, f.channels, f.bits == 16 ? 2 : 4));
    }

    // Cut in the last packet of the mono file: the packets before it decode to the start of its PCM.
    const std::string mono = rows[1].in, cut = dir.path("cut.m4a"), aac = dir.path("aac.m4a");
    const testsupport::Packet last = testsupport::ffprobePackets(mono).back();
    const Bytes whole = readFile(mono);
    writeFile(cut, Bytes(whole.begin(), whole.begin() + last.position + last.size / 2));
    std::vector<Bytes> units = alacUnits(mono, 16, 22050);
    units.pop_back();
    rows.push_back(Decode("'mdat' cut in the last packet", cut,
                          decodedLines(walkLines(cut) + summaryLines("parseAlacHeader", 22050, 1),
                                       "[AST][INF]Reached end of data:" + std::to_string(last.size / 2) + ".\n"),
                          unitsAre(units))
                       .pcm(mono, 22050, 1));
    rows.back().uncovered = 4096;

    ASSERT_TRUE(encodeTones(aac, 2, 44100, "-c:a aac"));
    rows.emplace_back("an 'stsd' that is not ALAC", aac,
                      walkLines(aac, "stsd") +
                          "[AST][ERR]Found no 'ALAC' audio format.\n[AST][ERR]Invalid audio data reader.\n",
                      nullptr, 255);
    checkDecodes(rows);
}

}  // namespace
