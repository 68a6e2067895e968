// MP4 files of each coding the reader takes, made by ffmpeg, decoded end to end: the atom walk
// as printed, the units against ffmpeg's packets (ALAC behind its packet header, AAC as the ADTS
// frames ffmpeg itself makes of them) and the PCM against ffmpeg's decode; and the files refused.
#include <algorithm>
#include <map>
#include <regex>
#include <tuple>

#include "DecodeCheck.h"
#include "ReaderBytes.h"

using namespace blackbox;
using testsupport::be;
using testsupport::cat;
using testsupport::str;

namespace {

const char kNoMore[] = "[AST][WRN]No more frame to read.\n";

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
        if ((*m)[1] == "wide") lines += "[AST][WRN]Unexpecte top atom.\n";  // QuickTime's
        if ((*m)[1] == last) return lines;
    }
    return lines + "[AST][INF]Reached end of data:0.\n";
}

// ffmpeg's packets of `encoded`, each behind its header: 4096 samples a packet, the last one flagged.
std::vector<Bytes> alacUnits(const std::string& encoded, int bits, int rate) {
    std::vector<Bytes> units = packetsOf(encoded);
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t size = static_cast<uint32_t>(units[i].size()) | (i + 1 == units.size() ? 0x80000000u : 0);
        units[i] =
            cat({str("ALAC"), be(size, 4), be(uint32_t(bits) << 24 | uint32_t(rate), 4), be(0x1000, 4), units[i]});
    }
    return units;
}

enum class Mdat { AsMade, LargeSize, SizeZero };

// The 'mdat' header rewritten with size 0 (to the end of the file), or with its size in 64 bits
// over the 8-byte 'free' atom ffmpeg puts in front of it for that, so that no offset moves.
Bytes rewritten(Bytes f, Mdat how) {
    const char type[] = "mdat";
    const long at = std::search(f.begin(), f.end(), type, type + 4) - f.begin() - 4;
    if (how == Mdat::SizeZero) std::fill(f.begin() + at, f.begin() + at + 4, 0);
    if (how != Mdat::LargeSize) return f;
    EXPECT_EQ("free", std::string(f.begin() + at - 4, f.begin() + at));
    const uint32_t size = be(f, size_t(at)) + 8;
    const Bytes large = cat({{0, 0, 0, 1}, str("mdat"), be(size, 8)});
    std::copy(large.begin(), large.end(), f.begin() + at - 8);
    return f;
}

TEST(Mp4Decode, RealFilesAndDamagedOnes) {
    const std::string alac16 = "-c:a alac -sample_fmt s16p ", faststart = " -movflags +faststart";
    const struct {
        const char* label;
        int channels, rate;
        std::string options;
        const char* found;  // the coding the reader names; none: ALAC, for which it names none
        int bits;           // ALAC's
        Mdat mdat;
    } fixtures[] = {
        {"ALAC 16-bit stereo, 'moov' last, 64-bit 'mdat' size", 2, 44100, alac16, nullptr, 16, Mdat::LargeSize},
        {"ALAC 16-bit mono, 'moov' first", 1, 22050, alac16 + faststart, nullptr, 16, Mdat::AsMade},
        {"ALAC 24-bit 6 channels, 'moov' first", 6, 96000, "-c:a alac -sample_fmt s32p" + faststart, nullptr, 24,
         Mdat::AsMade},
        {"ALAC behind a video track, chunks interleaved", 2, 44100,
         "-f lavfi -i testsrc=d=1.2:s=64x48:r=10 -c:v mpeg4 " + alac16, nullptr, 16, Mdat::AsMade},
        {"ALAC, 'mdat' of size 0", 1, 44100, alac16 + faststart, nullptr, 16, Mdat::SizeZero},
        {"AAC LC stereo", 2, 44100, "-c:a aac", "AAC LC", 0, Mdat::AsMade},
        {"AAC LC mono at a low rate, 'moov' first", 1, 16000, "-c:a aac -b:a 24k" + faststart, "AAC LC", 0,
         Mdat::AsMade},
        {"AAC LC in a QuickTime file, its 'esds' in 'wave'", 2, 32000, "-c:a aac -f mov", "AAC LC", 0, Mdat::AsMade},
        {"MP3 stereo", 2, 44100, "-c:a libmp3lame -b:a 128k -f mp4", "MPEG audio Layer III", 0, Mdat::AsMade},
        {"MP2 mono, MPEG-2", 1, 22050, "-c:a mp2 -b:a 64k -f mp4", "MPEG audio Layer II", 0, Mdat::AsMade},
        {"AC-3 5.1", 6, 48000, "-c:a ac3 -b:a 384k -f mp4", "AC-3", 0, Mdat::AsMade},
        {"E-AC-3 stereo", 2, 48000, "-c:a eac3 -b:a 96k -f mp4", "E-AC-3", 0, Mdat::AsMade},
    };
    // The sample entry, codec and parser of each coding but ALAC, by the name's first letters.
    const std::map<std::string, std::tuple<const char*, int, const char*>> codings = {
        {"AAC", {"mp4a", 16, "parseAacHeader"}},
        {"MPE", {"mp4a", 48, "parseMp3DataFrameHeader"}},
        {"AC-", {"ac-3", 80, "parseEacHeader"}},
        {"E-A", {"ec-3", 80, "parseEacHeader"}}};
    TempDir dir;
    std::vector<Decode> rows;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::to_string(rows.size()) + ".m4a"), encoded = in + ".encoded.m4a";
        ASSERT_TRUE(encodeTones(encoded, f.channels, f.rate, f.options)) << f.label;
        writeFile(in, rewritten(readFile(encoded), f.mdat));
        std::string opening = walkLines(in);
        if (f.mdat == Mdat::SizeZero) opening = walkLines(in, "mdat") + "[AST][INF]Last top atom reached.\n";
        if (!f.found) {
            rows.push_back(Decode{f.label, in,
                                  decodedLines(opening + summaryLines("parseAlacHeader", f.rate, f.channels), kNoMore),
                                  unitsAre(alacUnits(encoded, f.bits, f.rate))}
                               .pcm(encoded, f.rate, f.channels, f.bits == 16 ? 2 : 4));
            continue;
        }
        const auto& [entry, codec, parser] = codings.at(std::string(f.found, 3));
        opening += "[AST][INF]MP4 sample entry '" + std::string(entry) + "' holds " + f.found +
                   ", codec=" + std::to_string(codec) + ".\n" +
                   summaryLines(parser, f.rate, codec == 80 ? 0 : f.channels);
        // AAC goes out as the ADTS frames ffmpeg makes of the same packets, and decodes exactly
        // as they do; the others keep their frames, decoded with the encoder delay ffmpeg trims.
        std::string reference = in;
        if (codec == 16) {
            reference = in + ".aac";
            ASSERT_TRUE(shell("ffmpeg -nostdin -y -i '" + in + "' -c:a copy -f adts '" + reference + "'"));
        }
        rows.push_back(Decode{f.label, in, decodedLines(opening, kNoMore), unitsAre(packetsOf(reference))}.pcm(
            reference, f.rate, f.channels));
        if (codec != 16) rows.back().maxShift = rows.back().surplus = 4000;
        if (codec == 48) rows.back().tolerance = 1;
    }

    // Cut in the last packet of the mono file: the packets before it decode to the start of its PCM.
    const std::string mono = rows[1].in, cut = dir.path("cut.m4a");
    const testsupport::Packet last = testsupport::ffprobePackets(mono).back();
    const Bytes whole = readFile(mono);
    writeFile(cut, Bytes(whole.begin(), whole.begin() + last.position + last.size / 2));
    std::vector<Bytes> units = alacUnits(mono, 16, 22050);
    units.pop_back();
    rows.push_back(Decode{"'mdat' cut in the last packet", cut,
                          decodedLines(walkLines(cut) + summaryLines("parseAlacHeader", 22050, 1),
                                       "[AST][INF]Reached end of data:" + std::to_string(last.size / 2) + ".\n"),
                          unitsAre(units)}
                       .pcm(mono, 22050, 1));
    rows.back().uncovered = 4096;

    const std::string fragments = dir.path("fragments.m4a"), opus = dir.path("opus.m4a");
    ASSERT_TRUE(encodeTones(fragments, 1, 44100, alac16 + "-frag_size 4000"));
    ASSERT_TRUE(encodeTones(opus, 2, 48000, "-c:a libopus -f mp4"));
    const std::string invalid = "[AST][ERR]Invalid audio data reader.\n";
    rows.push_back(
        {"fragments", fragments,
         walkLines(fragments, "moof") + "[AST][ERR]Fragmented MP4 file ('moof' atom), not supported.\n" + invalid,
         nullptr, 255});
    rows.push_back(
        {"Opus", opus, walkLines(opus) + "[AST][ERR]Unsupported MP4 sample entry 'Opus'.\n" + invalid, nullptr, 255});
    checkDecodes(rows);
}

}  // namespace
