// AC-3 and E-AC-3 files end to end: the messages, the sync frames handed to the decoder, and
// the PCM against ffmpeg's own decode of the same bytes.
#include <gtest/gtest.h>

#include <iterator>

#include "ParallelRuns.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;

namespace {

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";
const char kParseFailed[] = "[AST][ERR]Failed to parse EAC fixed header.\n";

struct Fixture {
    const char* label;
    const char* options;  // ffmpeg output options
    const char* suffix;
    uint32_t rate;
    int channels;
};

std::string encode(const Fixture& f, const std::string& path) {
    return "ffmpeg -nostdin -y -f lavfi -i 'aevalsrc=0.5*sin(440*2*PI*t)|0.4*sin(660*2*PI*t):s=" +
           std::to_string(f.rate) + ":d=1' -ac " + std::to_string(f.channels) + " " + f.options + " '" + path + "'";
}

std::vector<std::vector<uint8_t>> framesOf(const std::vector<uint8_t>& file,
                                           const std::vector<testsupport::Packet>& packets) {
    std::vector<std::vector<uint8_t>> frames;
    for (const testsupport::Packet& p : packets)
        frames.emplace_back(file.begin() + p.position, file.begin() + p.position + p.size);
    return frames;
}

std::string encodeLine(uint32_t rate, int channels) {
    const uint32_t mask = channels == 1 ? 0x1 : channels == 2 ? 0x3 : 0x3F;
    return "[AST][INF]Encode params:codec=256 sampleRate=" + std::to_string(rate) +
           " chanels=0 channelMap=" + std::to_string(mask) + " pcm.format=2.\n";
}

// Encodes every fixture, runs the tool on all of them at once, then checks each run.
void decodeAndCompare(const std::vector<Fixture>& fixtures) {
    TempDir dir;
    std::vector<ToolRun> runs;
    for (size_t i = 0; i < fixtures.size(); ++i) {
        const std::string n = std::to_string(i), in = dir.path("in" + n + "." + fixtures[i].suffix);
        ASSERT_TRUE(shell(encode(fixtures[i], in))) << encode(fixtures[i], in);
        runs.push_back(
            ToolRun({"-f=" + in, "-v=" + dir.path("out" + n)}, {{"HOSTAUDIO_UNITS_FILE", dir.path("units" + n)}}));
    }
    const std::vector<ToolResult> results = runTools(runs);
    for (size_t i = 0; i < fixtures.size(); ++i) {
        const Fixture& f = fixtures[i];
        const ToolResult& r = results[i];
        SCOPED_TRACE(f.label);
        const std::string n = std::to_string(i), in = dir.path("in" + n + "." + f.suffix), out = dir.path("out" + n);
        const std::vector<uint8_t> file = testsupport::readFile(in);
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(argsLines(in, out) + "[AST][INF]File suffix=" + f.suffix + ", codec=80.\n" + kThreadLines +
                      "[AST][INF]Reached end of data:0.\n" + kParseFailed + kEnd,
                  mainThreadLines(r.out));
        EXPECT_NE(std::string::npos, r.out.find(encodeLine(f.rate, f.channels)));
        EXPECT_EQ("", r.err) << "the host service refused a unit";
        EXPECT_TRUE(framesOf(file, testsupport::ffprobePackets(in)) == readUnits(dir.path("units" + n)));
        PcmMatch m = comparePcm(testsupport::readFile(out), ffmpegDecode(in, "s16le"), 2, f.channels, 0, 0);
        EXPECT_TRUE(m.ok) << m.detail;
    }
}

TEST(EacDecode, Ac3) {
    decodeAndCompare({
        {"48k stereo 192k", "-c:a ac3 -b:a 192k", "ac3", 48000, 2},
        {"44.1k 5.1 448k", "-c:a ac3 -b:a 448k", "ac3", 44100, 6},
        {"32k mono 64k", "-c:a ac3 -b:a 64k", "ac3", 32000, 1},
    });
}

TEST(EacDecode, Eac3) {
    decodeAndCompare({
        {"48k 5.1 384k", "-c:a eac3 -b:a 384k -f eac3", "ec3", 48000, 6},
        {"44.1k stereo 96k", "-c:a eac3 -b:a 96k -f eac3", "ec3", 44100, 2},
        {"32k mono 48k", "-c:a eac3 -b:a 48k -f eac3", "ec3", 32000, 1},
    });
}

// A damaged header ends the stream at that frame; what came before is decoded.
TEST(EacDecode, DamageEndsTheStreamWhereItIs) {
    TempDir dir;
    const Fixture base = {"", "-c:a ac3 -b:a 128k", "ac3", 48000, 2};
    std::string whole = dir.path("whole.ac3");
    ASSERT_TRUE(shell(encode(base, whole)));
    const std::vector<uint8_t> file = testsupport::readFile(whole);
    const std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(whole);
    ASSERT_GT(packets.size(), 20u);
    const size_t frame = static_cast<size_t>(packets[0].size);  // 512 bytes, all alike at 48 kHz

    std::vector<uint8_t> badId = file, sizeIndex38 = file, reservedRate = file;
    badId[5 * frame + 5] = static_cast<uint8_t>((badId[5 * frame + 5] & 7) | 9 << 3);
    sizeIndex38[4] = 38;
    reservedRate[4] = static_cast<uint8_t>(0xC0 | (reservedRate[4] & 0x3F));
    const std::vector<uint8_t> cut(file.begin(), file.end() - 100);
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string messages;
        size_t frames;        // whole frames handed out
        size_t partial;       // bytes of a cut frame handed out behind them
        std::string problem;  // what the host service says on standard error
    };
    const Case cases[] = {
        {"bit stream id 9 in frame 5", badId,
         "[AST][ERR]EAC file bit stream id error(bitStreamId=9).\n" + std::string(kParseFailed), 5, 0, ""},
        {"frame size index 38 in frame 0", sizeIndex38, "[AST][ERR]Invalid frame length(-1).\n", 0, 0, ""},
        {"reserved rate in frame 0", reservedRate, "[AST][ERR]Invalid frame length(-2).\n", 0, 0, ""},
        {"cut inside the last frame", cut,
         "[AST][INF]Reached end of data:" + std::to_string(frame - 106) + ".\n[AST][INF]Reached end of data:0.\n" +
             kParseFailed,
         packets.size() - 1, frame - 100, "where the frame header says 512"},
    };
    std::vector<ToolRun> runs;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string n = std::to_string(i);
        testsupport::writeFile(dir.path("damaged" + n + ".ac3"), cases[i].file);
        runs.push_back(ToolRun({"-f=" + dir.path("damaged" + n + ".ac3"), "-v=" + dir.path("out" + n)},
                               {{"HOSTAUDIO_UNITS_FILE", dir.path("units" + n)}}));
    }
    const std::vector<ToolResult> results = runTools(runs);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const ToolResult& r = results[i];
        SCOPED_TRACE(c.label);
        const std::string n = std::to_string(i), in = dir.path("damaged" + n + ".ac3"), out = dir.path("out" + n),
                          units = dir.path("units" + n);
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(argsLines(in, out) + "[AST][INF]File suffix=ac3, codec=80.\n" + kThreadLines + c.messages + kEnd,
                  mainThreadLines(r.out));
        std::vector<std::vector<uint8_t>> handed = readUnits(units);
        std::vector<std::vector<uint8_t>> expected = framesOf(file, packets);
        expected.resize(c.frames);
        if (c.partial > 0) expected.emplace_back(c.file.end() - static_cast<long>(c.partial), c.file.end());
        EXPECT_TRUE(expected == handed) << handed.size() << " units";
        if (c.problem.empty())
            EXPECT_EQ("", r.err);
        else
            EXPECT_NE(std::string::npos, r.err.find(c.problem)) << r.err;
        if (c.frames == 0) {
            EXPECT_EQ(std::string::npos, r.out.find("Encode params")) << "no PCM, no writer";
            continue;
        }
        // The PCM of the frames before the damage, as ffmpeg decodes them.
        std::string head = dir.path("head.ac3");
        testsupport::writeFile(head,
                               std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(c.frames * frame)));
        PcmMatch m = comparePcm(testsupport::readFile(out), ffmpegDecode(head, "s16le"), 2, 2, 0, 0);
        EXPECT_TRUE(m.ok) << m.detail;
    }
}

}  // namespace
