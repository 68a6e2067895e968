// Decodes of files by the tool, several at once, each checked as a whole: exit status, the main
// thread's lines, the host service's complaints, the units handed to the decoder and the PCM
// against ffmpeg's decode.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "ReaderBytes.h"
#include "TestSupport.h"
#include "ToolRunner.h"

namespace blackbox {

using Bytes = std::vector<uint8_t>;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

const char kStopped[] =
    "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";

// The lines of a run whose reader thread starts: what the reader said on opening, the thread's
// creation, what the reads said, the end.
inline std::string decodedLines(const std::string& opening, const std::string& reads) {
    return opening + kThreadLines + reads + kStopped;
}

// Makes `path` with ffmpeg from a tone a channel, 1.2 s long; counts past 6 in no named layout.
inline bool encodeTones(const std::string& path, int channels, uint32_t rate, const std::string& options) {
    std::string e;
    for (int c = 0; c < channels; ++c)
        e += (c ? "|" : "") + std::string("0.4*sin(") + std::to_string(330 + 110 * c) + "*2*PI*t)";
    const char* layout = channels == 1 ? ":c=mono" : channels == 2 ? ":c=stereo" : channels <= 6 ? ":c=5.1" : "";
    return shell("ffmpeg -nostdin -y -f lavfi -i \"aevalsrc='" + e + "'" + layout + ":s=" + std::to_string(rate) +
                 ":d=1.2\" -fflags +bitexact " + options + " '" + path + "'");
}

// Makes `out` by the shell command `c`, where $O is `out`, $W a WAV file beside it and $S<seconds>
// ffmpeg making a 440 Hz sine of that length.
inline bool made(std::string c, const std::string& out) {
    const std::pair<std::string, std::string> words[] = {
        {"$O", "'" + out + "'"},
        {"$W", "'" + out + ".wav'"},
        {"$S", "ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:duration="}};
    for (const auto& w : words)
        for (size_t at; (at = c.find(w.first)) != std::string::npos;) c.replace(at, 2, w.second);
    return shell(c);
}

// The unsigned number of `bytes` bytes at `at`, little- or big-endian.
inline uint32_t le(const Bytes& b, size_t at, int bytes = 4) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | b[at + size_t(i)];
    return value;
}
inline uint32_t be(const Bytes& b, size_t at, int bytes = 4) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | b[at + size_t(i)];
    return value;
}

// `clean` with 37 bytes of "JUNK..." spliced in at each of the offsets `at` (ascending), as cutting
// and tagging tools leave them; and the line of a reader that skips them.
inline Bytes withJunk(const Bytes& clean, const std::vector<size_t>& at) {
    Bytes out;
    size_t from = 0;
    for (size_t a : at) {
        out.insert(out.end(), clean.begin() + long(from), clean.begin() + long(a));
        for (size_t i = 0; i < 37; ++i) out.push_back(uint8_t("JUNK"[i % 4]));
        from = a;
    }
    out.insert(out.end(), clean.begin() + long(from), clean.end());
    return out;
}
// Where ffprobe finds the sixth frame of `file`: junk goes there too.
inline size_t sixthFrame(const std::string& file) { return size_t(testsupport::ffprobePackets(file)[5].position); }
inline std::string skippedJunk(const std::string& format) {
    return "[AST][WRN]Skipped 37 bytes to the next " + format + " frame header.\n";
}

// The stream summary most readers print on opening.
inline std::string summaryLines(const std::string& name, uint32_t rate, int channels) {
    return "[AST][INF]" + name + ":\n[AST][INF]sampleFrequency=" + std::to_string(rate) +
           "\n[AST][INF]channelMap=" + std::to_string(channels <= 2 ? channels : 0) + "(1-Mono/2-Stereo)\n";
}

// Empty when the units are right; otherwise what is wrong.
using UnitsCheck = std::function<std::string(const std::vector<Bytes>&)>;

// `unknown` units the test cannot know, then exactly `expected`.
inline UnitsCheck unitsAre(std::vector<Bytes> expected, size_t unknown = 0) {
    return [expected, unknown](const std::vector<Bytes>& got) -> std::string {
        if (got.size() != unknown + expected.size())
            return std::to_string(got.size()) + " units for " + std::to_string(unknown + expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            if (got[unknown + i] != expected[i]) return "unit " + std::to_string(unknown + i) + " differs";
        return "";
    };
}

// The packets ffmpeg's demuxer takes from the file's first audio stream: an independent account
// of its frames.
inline std::vector<Bytes> packetsOf(const std::string& file) {
    TempDir dir;
    EXPECT_TRUE(shell("ffmpeg -nostdin -y -i '" + file + "' -map 0:a:0 -c copy -f data '" + dir.path("data") + "'"));
    const Bytes data = readFile(dir.path("data"));
    std::vector<Bytes> packets;
    long at = 0;
    for (const testsupport::Packet& p : testsupport::ffprobePackets(file)) {
        if (at + p.size > static_cast<long>(data.size())) break;
        packets.emplace_back(data.begin() + at, data.begin() + at + p.size);
        at += p.size;
    }
    return packets;
}

struct Decode {
    Decode& pcm(const std::string& reference_, uint32_t rate_, int channels_, int bytes_ = 2) {
        reference = reference_, rate = rate_, channels = channels_, bytes = bytes_;
        return *this;
    }

    std::string label, in;
    std::string lines = "";      // the main thread's lines behind the Args lines
    UnitsCheck units = nullptr;  // none: no unit at all
    int exitCode = 0;
    std::vector<std::string> problems = {};  // on the host service's standard error; none: nothing there
    // The PCM is ffmpeg's decode of `reference` (none: no PCM and no writer) within `tolerance`,
    // up to a shift of `maxShift` frames; ours may lack `uncovered` frames of it and have
    // `surplus` frames it does not (codec delay, padding, end trimming by granule positions).
    std::string reference = "";
    std::string referenceInput = "";  // ffmpeg's options for it, e.g. its decoder
    std::string changes = "";         // the reader thread's lines on changes of the decoded audio
    uint32_t rate = 0;
    int channels = 2, bytes = 2, tolerance = 0;
    long maxShift = 0, uncovered = 0, surplus = 0;
    std::string (*filter)(const std::string&) = nullptr;  // applied to the lines before comparing
    std::string save = ".pcm";                            // the output's suffix: ".wav" writes a WAV file
    std::vector<std::string> options = {};                // further arguments
    Bytes output = {};  // when set, the output file exactly, instead of the reference's decode
    std::vector<std::pair<std::string, std::string>> env = {};  // added to the run's environment
};

// The reference comes from the build machine's ffmpeg; a cross-built service uses the target's
// libavcodec, whose float decoders round differently by one step.
constexpr int kPlatformTolerance = sizeof(OSTREL_EMULATOR) > 1 ? 1 : 0;

// With OSTREL_ONE_DECODE_PER_FORMAT set (the emulated and the thread-checked runs), only the first
// row of each input suffix that decodes runs: those runs look for what the platform or the
// threads change, which one file of a format shows as well as all of them.
inline std::vector<Decode> rowsToRun(const std::vector<Decode>& rows) {
    const char* one = getenv("OSTREL_ONE_DECODE_PER_FORMAT");
    if (one == nullptr || *one == '\0') return rows;
    auto suffix = [](const Decode& d) { return d.in.substr(d.in.rfind('.') + 1); };
    std::vector<Decode> kept;
    for (const Decode& d : rows) {
        auto same = std::find_if(kept.begin(), kept.end(), [&](const Decode& k) { return suffix(k) == suffix(d); });
        if (same == kept.end())
            kept.push_back(d);
        else if (same->exitCode != 0 && d.exitCode == 0)
            *same = d;
    }
    return kept;
}

inline void checkDecodes(const std::vector<Decode>& all) {
    const std::vector<Decode> rows = rowsToRun(all);
    std::vector<ToolRun> runs;
    for (const Decode& d : rows) {
        runs.push_back(ToolRun({"-f=" + d.in, "-v=" + d.in + d.save}, {{"HOSTAUDIO_UNITS_FILE", d.in + ".units"}}));
        runs.back().args.insert(runs.back().args.end(), d.options.begin(), d.options.end());
        runs.back().env.insert(runs.back().env.end(), d.env.begin(), d.env.end());
    }
    const std::vector<ToolResult> results = runTools(runs);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Decode& d = rows[i];
        const ToolResult& r = results[i];
        SCOPED_TRACE(d.label);
        EXPECT_EQ(d.exitCode, r.exitCode);
        EXPECT_EQ(d.changes, changeLines(r.out));
        EXPECT_TRUE(!d.problems.empty() || r.err.empty()) << "the host service found a unit it could not take:\n"
                                                          << r.err;
        for (const std::string& p : d.problems) EXPECT_NE(std::string::npos, r.err.find(p)) << r.err;
        const std::vector<Bytes> units = readUnits(d.in + ".units");
        EXPECT_EQ("", d.units ? d.units(units) : units.empty() ? "" : std::to_string(units.size()) + " units");

        const Bytes ours = readFile(d.in + d.save);
        // A run that handed over units ends with what became of them, unless the decoder refused one.
        std::string expected = argsLines(d.in, d.in + d.save) + d.lines;
        const size_t pcm = ours.size() - (d.save == ".wav" && !ours.empty() ? 44 : 0);
        const bool refused = d.lines.find("[AST][ERR]Failed to write audio data.\n") != std::string::npos;
        if (!refused && !units.empty())
            expected += pcm > 0 || d.exitCode == 0
                            ? "[AST][INF]Handed " + std::to_string(units.size()) + " units to the decoder, wrote " +
                                  std::to_string(pcm) + " PCM bytes.\n"
                            : "[AST][ERR]No audio was decoded from " + std::to_string(units.size()) + " units.\n";
        const std::string lines = mainThreadLines(r.out);
        EXPECT_EQ(expected, d.filter ? d.filter(lines) : lines);
        if (d.reference.empty() && d.output.empty()) {
            EXPECT_TRUE(access((d.in + d.save).c_str(), F_OK) != 0 && r.out.find("Encode params") == std::string::npos)
                << "no PCM, no writer";
            continue;
        }
        const int mask = d.channels == 1 ? 0x1 : d.channels == 2 ? 0x3 : d.channels == 8 ? 0xFF : 0x3F;
        const std::string described = "[AST][INF]Encode params:codec=256 sampleRate=" + std::to_string(d.rate) +
                                      " chanels=0 channelMap=" + std::to_string(mask) +
                                      " pcm.format=" + std::to_string(d.bytes == 4 ? 14 : d.bytes) + ".\n";
        EXPECT_NE(std::string::npos, r.out.find(described));
        EXPECT_EQ(r.out.find(described), r.out.rfind(described)) << "described once";
        if (!d.output.empty()) {
            EXPECT_TRUE(d.output == ours);
            continue;
        }
        EXPECT_FALSE(ours.empty());
        const PcmMatch m =
            comparePcm(ours, ffmpegDecode(d.reference, d.bytes == 4 ? "s32le" : "s16le", d.referenceInput), d.bytes,
                       d.channels, d.maxShift, std::max(d.tolerance, kPlatformTolerance), d.uncovered);
        EXPECT_TRUE(m.ok) << m.detail;
        EXPECT_LE(static_cast<long>(ours.size() / d.bytes / d.channels - m.comparedFrames), d.surplus);
    }
}

}  // namespace blackbox
