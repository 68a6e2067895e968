// One decode of a compressed file by the tool, checked as a whole: exit status, the main
// thread's lines, the units against ffprobe's account of the file's frames, and the PCM
// against ffmpeg's decode of the same file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "ToolRunner.h"

namespace blackbox {

struct DecodeCheck {
    std::string in;
    std::string opening;        // from the suffix line to the reader thread's lines
    std::string closing;        // from there to "Read audio data stopped."
    size_t start = 0, end = 0;  // where the frames are in the file
    size_t leadingUnits = 0;    // units ahead of ffprobe's first packet (a Xing frame)
    int channels = 2;
    bool withPcm = true;
};

// Empty when the units are exactly the file's bytes [start, end) and the last of them are
// ffprobe's packets one for one; otherwise what is wrong.
inline std::string unitsAreFrames(const std::vector<std::vector<uint8_t>>& units, const std::vector<uint8_t>& file,
                                  const DecodeCheck& c) {
    std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(c.in);
    if (packets.empty() || units.size() != packets.size() + c.leadingUnits)
        return std::to_string(units.size()) + " units for " + std::to_string(packets.size()) + " packets";
    size_t at = c.start;
    for (size_t i = 0; i < units.size(); ++i) {
        const std::vector<uint8_t>& u = units[i];
        if (at + u.size() > c.end || !std::equal(u.begin(), u.end(), file.begin() + static_cast<long>(at)))
            return "unit " + std::to_string(i) + " is not the file's bytes at " + std::to_string(at);
        if (i >= c.leadingUnits && (static_cast<long>(at) != packets[i - c.leadingUnits].position ||
                                    static_cast<long>(u.size()) != packets[i - c.leadingUnits].size))
            return "unit " + std::to_string(i) + " at " + std::to_string(at) + " is not a packet";
        at += u.size();
    }
    return at == c.end ? "" : "units end at " + std::to_string(at) + ", the frames at " + std::to_string(c.end);
}

inline void decodeAndCheck(const DecodeCheck& c) {
    testsupport::TempDir dir;
    std::string out = dir.path("out.pcm"), units = dir.path("units.bin");
    ToolResult r = runTool({{"-f=" + c.in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(argsLines(c.in, out) + c.opening + kThreadLines + c.closing +
                  "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n",
              mainThreadLines(r.out));
    EXPECT_EQ("", unitsAreFrames(readUnits(units), testsupport::readFile(c.in), c));
    if (!c.withPcm) return;
    EXPECT_EQ("", r.err) << "the host service found a unit it could not take";
    // Encoder delay and a Xing frame shift the start; 4000 frames cover both.
    PcmMatch m = comparePcm(testsupport::readFile(out), ffmpegDecode(c.in, "s16le"), 2, c.channels, 4000, 1);
    EXPECT_TRUE(m.ok) << m.detail;
}

}  // namespace blackbox
