// AC-3 and E-AC-3 files end to end: the messages, the sync frames handed to the decoder, and
// the PCM against ffmpeg's own decode of the same frames.
#include <gtest/gtest.h>

#include "ParallelRuns.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::Packet;
using testsupport::TempDir;

namespace {

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";
const std::string kLastRead = "[AST][INF]Reached end of data:0.\n[AST][ERR]Failed to parse EAC fixed header.\n";

struct Case {
    const char* label;
    std::string in;
    std::vector<std::vector<uint8_t>> units;  // the frames the decoder must get
    std::string lines;                        // from the reader thread's start to the end
    std::string reference;                    // a file of those frames for ffmpeg, or none
    int channels;
    std::string problem;     // what the host service says on standard error
    std::string encodeLine;  // the decoder's output description, when there is PCM
};

void runAndCheck(const std::vector<Case>& cases) {
    std::vector<ToolRun> runs;
    for (const Case& c : cases)
        runs.push_back(ToolRun({"-f=" + c.in, "-v=" + c.in + ".pcm"}, {{"HOSTAUDIO_UNITS_FILE", c.in + ".units"}}));
    const std::vector<ToolResult> results = runTools(runs);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const ToolResult& r = results[i];
        SCOPED_TRACE(c.label);
        EXPECT_EQ(0, r.exitCode);
        const std::string suffix = c.in.substr(c.in.size() - 3);
        EXPECT_EQ(argsLines(c.in, c.in + ".pcm") + "[AST][INF]File suffix=" + suffix + ", codec=80.\n" +
                      kThreadLines + c.lines + kEnd,
                  mainThreadLines(r.out));
        if (c.problem.empty()) {
            EXPECT_EQ("", r.err);
        } else {
            EXPECT_NE(std::string::npos, r.err.find(c.problem)) << r.err;
        }
        EXPECT_TRUE(c.units == readUnits(c.in + ".units")) << readUnits(c.in + ".units").size() << " units";
        if (c.reference.empty()) {
            EXPECT_EQ(std::string::npos, r.out.find("Encode params")) << "no PCM, no writer";
            continue;
        }
        EXPECT_NE(std::string::npos, r.out.find(c.encodeLine));
        const std::vector<uint8_t> ours = testsupport::readFile(c.in + ".pcm");
        const std::vector<uint8_t> ref = ffmpegDecode(c.reference, "s16le");
        EXPECT_EQ(ref.size(), ours.size());
        PcmMatch m = comparePcm(ours, ref, 2, c.channels, 0, 0);
        EXPECT_TRUE(m.ok) << m.detail;
    }
}

std::string encodeLine(uint32_t rate, int channels) {
    const uint32_t mask = channels == 1 ? 0x1 : channels == 2 ? 0x3 : 0x3F;
    return "[AST][INF]Encode params:codec=256 sampleRate=" + std::to_string(rate) +
           " chanels=0 channelMap=" + std::to_string(mask) + " pcm.format=2.\n";
}

std::string encode(const std::string& options, uint32_t rate, int channels, const std::string& path) {
    return "ffmpeg -nostdin -y -f lavfi -i 'aevalsrc=0.5*sin(440*2*PI*t)|0.4*sin(660*2*PI*t):s=" +
           std::to_string(rate) + ":d=1' -ac " + std::to_string(channels) + " " + options + " '" + path + "'";
}

std::vector<std::vector<uint8_t>> framesOf(const std::vector<uint8_t>& file, const std::vector<Packet>& packets,
                                           size_t count) {
    std::vector<std::vector<uint8_t>> frames;
    for (size_t k = 0; k < count; ++k)
        frames.emplace_back(file.begin() + packets[k].position, file.begin() + packets[k].position + packets[k].size);
    return frames;
}

TEST(EacDecode, RealStreams) {
    const struct {
        const char* label;
        const char* options;
        const char* suffix;
        uint32_t rate;
        int channels;
    } fixtures[] = {
        {"ac3 48k stereo 192k", "-c:a ac3 -b:a 192k", "ac3", 48000, 2},
        {"ac3 44.1k 5.1 448k", "-c:a ac3 -b:a 448k", "ac3", 44100, 6},
        {"ac3 32k mono 64k", "-c:a ac3 -b:a 64k", "ac3", 32000, 1},
        {"eac3 48k 5.1 384k", "-c:a eac3 -b:a 384k -f eac3", "ec3", 48000, 6},
        {"eac3 44.1k stereo 96k", "-c:a eac3 -b:a 96k -f eac3", "ec3", 44100, 2},
        {"eac3 32k mono 48k", "-c:a eac3 -b:a 48k -f eac3", "ec3", 32000, 1},
    };
    TempDir dir;
    std::vector<Case> cases;
    for (const auto& f : fixtures) {
        const std::string in = dir.path(std::string(f.label).substr(0, 4) + std::to_string(f.rate) + "." + f.suffix);
        ASSERT_TRUE(shell(encode(f.options, f.rate, f.channels, in))) << f.label;
        const std::vector<Packet> packets = testsupport::ffprobePackets(in);
        cases.push_back({f.label, in, framesOf(testsupport::readFile(in), packets, packets.size()), kLastRead, in,
                         f.channels, "", encodeLine(f.rate, f.channels)});
    }
    runAndCheck(cases);
}

// A damaged header ends the stream at its frame; what came before is decoded.
TEST(EacDecode, DamageEndsTheStreamWhereItIs) {
    TempDir dir;
    const std::string whole = dir.path("whole.ac3");
    ASSERT_TRUE(shell(encode("-c:a ac3 -b:a 128k", 48000, 2, whole)));
    const std::vector<uint8_t> file = testsupport::readFile(whole);
    const std::vector<Packet> packets = testsupport::ffprobePackets(whole);
    ASSERT_GT(packets.size(), 20u);
    const size_t frame = 512;  // every frame at 48 kHz and 128 kbit/s
    ASSERT_EQ(frame, static_cast<size_t>(packets[0].size));

    std::vector<uint8_t> badId = file, sizeIndex38 = file, reservedRate = file;
    badId[5 * frame + 5] = static_cast<uint8_t>((badId[5 * frame + 5] & 7) | 9 << 3);
    sizeIndex38[4] = 38;
    reservedRate[4] |= 0xC0;
    const std::vector<uint8_t> cut(file.begin(), file.end() - 100);
    const std::string head5 = dir.path("head5.ac3"), allButLast = dir.path("head.ac3");
    testsupport::writeFile(head5, std::vector<uint8_t>(file.begin(), file.begin() + 5 * frame));
    testsupport::writeFile(allButLast, std::vector<uint8_t>(file.begin(), file.end() - frame));
    std::vector<std::vector<uint8_t>> cutUnits = framesOf(file, packets, packets.size());
    cutUnits.back().resize(frame - 100);

    const struct {
        const char* label;
        const std::vector<uint8_t>& bytes;
    } files[] = {{"badid", badId}, {"size38", sizeIndex38}, {"rate3", reservedRate}, {"cut", cut}};
    for (const auto& f : files) testsupport::writeFile(dir.path(std::string(f.label) + ".ac3"), f.bytes);
    runAndCheck({
        {"bit stream id 9 in frame 5", dir.path("badid.ac3"), framesOf(file, packets, 5),
         "[AST][ERR]EAC file bit stream id error(bitStreamId=9).\n[AST][ERR]Failed to parse EAC fixed header.\n",
         head5, 2, "", encodeLine(48000, 2)},
        {"frame size index 38 in frame 0", dir.path("size38.ac3"), {}, "[AST][ERR]Invalid frame length(-1).\n", "",
         2, "", ""},
        {"reserved rate in frame 0", dir.path("rate3.ac3"), {}, "[AST][ERR]Invalid frame length(-2).\n", "", 2, "",
         ""},
        // The cut frame reaches the decoder as it is, which refuses it.
        {"cut inside the last frame", dir.path("cut.ac3"), cutUnits,
         "[AST][INF]Reached end of data:" + std::to_string(frame - 106) + ".\n" + kLastRead, allButLast, 2,
         "where the frame header says 512", encodeLine(48000, 2)},
    });
}

}  // namespace
