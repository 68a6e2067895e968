// FLAC files end to end: the messages (the window search's included), the frames handed to the
// decoder (all but the last), and the PCM against ffmpeg's decode of the same frames.
#include <gtest/gtest.h>

#include "FlacStream.h"
#include "ParallelRuns.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;

namespace {

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";

struct Fixture {
    const char* label;
    const char* make;  // see flacFixtureCommand
    uint32_t rate;
    int channels;
    int bits;
};

struct Prepared {
    std::string in, out, units;
    std::vector<uint8_t> file;
    std::string constructorLines;  // what the reader says before the thread starts
};

std::string encodeLine(uint32_t rate, int channels, int bits) {
    const uint32_t masks[] = {0, 0x1, 0x3, 0x23, 0x0F, 0x1F, 0x3F};
    return "[AST][INF]Encode params:codec=256 sampleRate=" + std::to_string(rate) +
           " chanels=0 channelMap=" + std::to_string(masks[channels]) + " pcm.format=" + (bits > 16 ? "14" : "2") +
           ".\n";
}

// Runs every prepared file at once and checks each run against ffprobe's frames and ffmpeg's PCM.
void decodeAndCompare(const std::vector<Fixture>& fixtures, const std::vector<Prepared>& prepared) {
    std::vector<ToolRun> runs;
    for (const Prepared& p : prepared)
        runs.push_back(ToolRun({"-f=" + p.in, "-v=" + p.out}, {{"HOSTAUDIO_UNITS_FILE", p.units}}));
    const std::vector<ToolResult> results = runTools(runs);
    size_t lookalikesSeen = 0;
    for (size_t i = 0; i < fixtures.size(); ++i) {
        const Fixture& f = fixtures[i];
        const Prepared& p = prepared[i];
        const ToolResult& r = results[i];
        SCOPED_TRACE(f.label);
        EXPECT_EQ(0, r.exitCode);
        const std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(p.in);
        ASSERT_GT(packets.size(), 1u);
        const uint32_t streamInfoWindow = testsupport::streamInfoMaxFrameSize(p.file);
        const testsupport::FlacReadPlan plan =
            testsupport::planFlacReads(p.file, packets, std::max<long>(16384, streamInfoWindow));
        size_t lookalikeLines = 0;
        EXPECT_EQ(argsLines(p.in, p.out) + "[AST][INF]File suffix=flac, codec=96.\n" + p.constructorLines +
                      kThreadLines + plan.lines + kEnd,
                  testsupport::withoutLookalikeLines(mainThreadLines(r.out), lookalikeLines));
        EXPECT_EQ(plan.lookalikes, lookalikeLines);
        lookalikesSeen += lookalikeLines;
        EXPECT_NE(std::string::npos, r.out.find(encodeLine(f.rate, f.channels, f.bits)));
        EXPECT_EQ("", r.err) << "the host service refused a unit";

        std::vector<std::vector<uint8_t>> frames;
        for (size_t k = 0; k + 1 < packets.size(); ++k)
            frames.emplace_back(p.file.begin() + packets[k].position,
                                p.file.begin() + packets[k].position + packets[k].size);
        EXPECT_EQ(packets.size() - 1, plan.frames);
        EXPECT_TRUE(frames == readUnits(p.units)) << readUnits(p.units).size() << " units";

        // The last frame never reaches the decoder: the reference is the file without it.
        const std::string head = p.in + ".head.flac";
        testsupport::writeFile(head, std::vector<uint8_t>(p.file.begin(), p.file.begin() + packets.back().position));
        const int bytes = f.bits > 16 ? 4 : 2;
        PcmMatch m = comparePcm(testsupport::readFile(p.out), ffmpegDecode(head, bytes == 4 ? "s32le" : "s16le"),
                                bytes, f.channels, 0, 0);
        EXPECT_TRUE(m.ok) << m.detail;
    }
    EXPECT_GT(lookalikesSeen, 0u) << "no false sync code in any fixture: the CRC-8 check went untried";
}

std::vector<Prepared> prepare(const TempDir& dir, const std::vector<Fixture>& fixtures) {
    std::vector<Prepared> prepared;
    for (size_t i = 0; i < fixtures.size(); ++i) {
        Prepared p;
        const std::string n = std::to_string(i);
        p.in = dir.path("in" + n + ".flac");
        p.out = dir.path("out" + n + ".pcm");
        p.units = dir.path("units" + n);
        EXPECT_TRUE(testsupport::shell(testsupport::flacFixtureCommand(fixtures[i].make, p.in))) << fixtures[i].label;
        p.file = testsupport::readFile(p.in);
        prepared.push_back(p);
    }
    return prepared;
}

TEST(FlacDecode, DebianFlacEncoder) {
    const std::vector<Fixture> fixtures = {
        {"16 stereo 44.1k", "$S1 -ac 2 -ar 44100 $W && flac -s -f -o $O $W", 44100, 2, 16},
        {"24 mono 96k, block 192, 500 frames", "$S1 -ar 96000 -c:a pcm_s24le $W && flac -s -f -b 192 -o $O $W", 96000,
         1, 24},
        {"16 stereo 11.025k, block 16384, rate in Hz",
         "$S3 -ac 2 -ar 11025 $W && flac -s -f --lax -b 16384 -o $O $W", 11025, 2, 16},
        {"16 mono 12k, rate in kHz", "$S1 -ar 12000 $W && flac -s -f -o $O $W", 12000, 1, 16},
        // Frames far above the default window: STREAMINFO raises it. The loud part is last, so
        // the largest frame is the one that is never delimited anyway.
        {"24 stereo 48k noise, frames of 40 KB",
         "ffmpeg -nostdin -y -f lavfi -i anoisesrc=duration=0.7:amplitude=0.05:seed=7 -f lavfi -i "
         "anoisesrc=duration=0.3:amplitude=1:seed=8 -filter_complex '[0][1]concat=n=2:v=0:a=1' -ac 2 -ar 48000 "
         "-c:a pcm_s24le $W && flac -s -f --lax -b 16384 -o $O $W",
         48000, 2, 24},
    };
    TempDir dir;
    std::vector<Prepared> prepared = prepare(dir, fixtures);
    // The first file gets a PICTURE and an APPLICATION block as well.
    std::vector<uint8_t> picture(32, 0);
    picture[3] = 3;
    prepared[0].file = testsupport::withMetadataBlock(
        testsupport::withMetadataBlock(prepared[0].file, 6, picture), 2, {'o', 's', 't', 'r', 1, 2, 3});
    testsupport::writeFile(prepared[0].in, prepared[0].file);
    ASSERT_GT(testsupport::streamInfoMaxFrameSize(prepared[4].file), 2 * 16384u);
    decodeAndCompare(fixtures, prepared);
}

TEST(FlacDecode, FfmpegEncoder) {
    const std::vector<Fixture> fixtures = {
        {"16 5.1 48k", "$S1 -ac 6 -ar 48000 -c:a flac $O", 48000, 6, 16},
        {"24 stereo 192k, block 8192",
         "$S1 -ac 2 -ar 192000 -sample_fmt s32 -bits_per_raw_sample 24 -c:a flac -frame_size 8192 $O", 192000, 2, 24},
        {"16 mono 8k", "$S2 -ar 8000 -c:a flac $O", 8000, 1, 16},
        {"16 stereo 22.05k, reserved metadata type", "$S1 -ac 2 -ar 22050 -c:a flac $O", 22050, 2, 16},
    };
    TempDir dir;
    std::vector<Prepared> prepared = prepare(dir, fixtures);
    prepared[3].file = testsupport::withMetadataBlock(prepared[3].file, 99, {1, 2, 3});
    testsupport::writeFile(prepared[3].in, prepared[3].file);
    prepared[3].constructorLines = "[AST][WRN]FLAC file metadata type is reserved(type=99).\n";
    decodeAndCompare(fixtures, prepared);
}

TEST(FlacDecode, BrokenFiles) {
    TempDir dir;
    const std::string base = dir.path("base.flac");
    ASSERT_TRUE(testsupport::shell(testsupport::flacFixtureCommand("$S1 -ac 2 -ar 44100 -c:a flac $O", base)));
    const std::vector<uint8_t> file = testsupport::readFile(base);
    const std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(base);
    ASSERT_GT(packets.size(), 6u);

    // A metadata block of the invalid type 127 behind STREAMINFO: the walk stops there.
    std::vector<uint8_t> invalidType = testsupport::withMetadataBlock(file, 127, {0, 0, 0, 0});
    const std::string invalidIn = dir.path("invalid.flac");
    testsupport::writeFile(invalidIn, invalidType);
    char sync[80];
    snprintf(sync, sizeof sync, "[AST][ERR]FLAC file sync word error(syncWord=%03X).\n",
             (invalidType[42] << 6 | invalidType[43] >> 2) & 0x3FFF);

    // Cut inside frame 5: frames 0 to 4 come out, 5 has no header behind it.
    const std::string cutIn = dir.path("cut.flac");
    std::vector<uint8_t> cut(file.begin(), file.begin() + packets[5].position + packets[5].size / 2);
    testsupport::writeFile(cutIn, cut);

    std::vector<ToolResult> r = runTools({ToolRun({"-f=" + invalidIn, "-v=" + dir.path("a.pcm")}),
                                          ToolRun({"-f=" + cutIn, "-v=" + dir.path("b.pcm")},
                                                  {{"HOSTAUDIO_UNITS_FILE", dir.path("units")}})});
    EXPECT_EQ(255, r[0].exitCode);
    EXPECT_EQ(argsLines(invalidIn, dir.path("a.pcm")) + "[AST][INF]File suffix=flac, codec=96.\n" +
                  "[AST][ERR]FLAC file metadata type error(type=127).\n"
                  "[AST][ERR]Failed to parse meta header.\n" +
                  sync +
                  "[AST][ERR]Invalid audio data reader.\n",
              r[0].out);

    EXPECT_EQ(0, r[1].exitCode);
    testsupport::FlacReadPlan plan =
        testsupport::planFlacReads(cut, {packets.begin(), packets.begin() + 6}, 16384);
    EXPECT_EQ(5u, plan.frames);
    size_t lookalikeLines = 0;
    EXPECT_EQ(argsLines(cutIn, dir.path("b.pcm")) + "[AST][INF]File suffix=flac, codec=96.\n" + kThreadLines +
                  plan.lines + kEnd,
              testsupport::withoutLookalikeLines(mainThreadLines(r[1].out), lookalikeLines));
    std::vector<std::vector<uint8_t>> frames;
    for (size_t k = 0; k < 5; ++k)
        frames.emplace_back(file.begin() + packets[k].position, file.begin() + packets[k].position + packets[k].size);
    EXPECT_TRUE(frames == readUnits(dir.path("units")));
    const std::string head = dir.path("head.flac");
    testsupport::writeFile(head, std::vector<uint8_t>(file.begin(), file.begin() + packets[5].position));
    PcmMatch m = comparePcm(testsupport::readFile(dir.path("b.pcm")), ffmpegDecode(head, "s16le"), 2, 2, 0, 0);
    EXPECT_TRUE(m.ok) << m.detail;
}

}  // namespace
