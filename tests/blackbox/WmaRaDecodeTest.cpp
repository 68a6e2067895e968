// WMA and RealMedia files from real encoders, end to end: messages, units and PCM.
#include <gtest/gtest.h>

#include "Reference.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;
using Bytes = std::vector<uint8_t>;

namespace {

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";

uint32_t le32(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }
uint32_t be32(const Bytes& b, size_t at) { return uint32_t(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]; }

std::string asfHeaderLines(const std::string& file) {
    return "[AST][INF]ASF top-level header object length:" + std::to_string(le32(testsupport::readFile(file), 16)) + "\n";
}

TEST(WmaDecode, PcmEqualsTheReferenceAndUnitsCarryThePayloads) {
    const struct {
        const char* label;
        int rate, channels;
        const char* bitRate;
        int packetSize;
        unsigned channelMask;
    } cases[] = {
        {"stereo, several payloads a packet", 44100, 2, "128k", 3200, 3},
        {"mono, many payloads a packet", 22050, 1, "32k", 3200, 1},
        {"one payload a packet", 32000, 2, "64k", 549, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        std::string in = dir.path("in.wma"), objects = dir.path("objects.bin"), out = dir.path("out.pcm"),
                    units = dir.path("units.bin");
        ASSERT_TRUE(testsupport::shell(
            "ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(c.rate) +
            ":duration=1.5 -ac " + std::to_string(c.channels) + " -c:a wmav2 -b:a " + c.bitRate + " -packet_size " +
            std::to_string(c.packetSize) + " -f asf '" + in + "' && ffmpeg -nostdin -y -i '" + in +
            "' -map 0:a -c copy -f data '" + objects + "'"));

        ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(argsLines(in, out) + "[AST][INF]File suffix=wma, codec=144.\n" + asfHeaderLines(in) +
                      "[AST][INF]ASF top-level data object header length:50\n" + kThreadLines +
                      "[AST][WRN]No more frame to read.\n" + kEnd,
                  mainThreadLines(r.out));
        EXPECT_NE(std::string::npos, r.out.find("[AST][INF]Encode params:codec=256 sampleRate=" + std::to_string(c.rate) +
                                                " chanels=0 channelMap=" + std::to_string(c.channelMask) +
                                                " pcm.format=2.\n"));

        // Every unit: the prefix, media objects counted from 1, the payload's size, the payload.
        Bytes payloads;
        std::vector<Bytes> recorded = testsupport::readUnits(units);
        for (size_t i = 0; i < recorded.size(); ++i) {
            const Bytes& u = recorded[i];
            ASSERT_GT(u.size(), 8u);
            EXPECT_TRUE(Bytes(u.begin(), u.begin() + 6) == Bytes({0x55, 0x55, 0xAA, 0xAA, uint8_t(i + 1), 8})) << i;
            EXPECT_EQ(u.size() - 8, size_t(u[6] << 8 | u[7])) << i;
            payloads.insert(payloads.end(), u.begin() + 8, u.end());
        }
        EXPECT_TRUE(testsupport::readFile(objects) == payloads);

        testsupport::PcmMatch m =
            testsupport::comparePcm(testsupport::readFile(out), testsupport::ffmpegDecode(in, "s16le"), 2, c.channels, 0, 0);
        EXPECT_TRUE(m.ok) << m.detail;
    }
}

TEST(WmaRaDecode, RefusedFilesAndHeadersWithoutAudio) {
    TempDir dir;
    std::string v1 = dir.path("v1.wma"), ra = dir.path("asis.ra"), fixed = dir.path("fixed.ra"), out = dir.path("out.pcm"),
                units = dir.path("units.bin");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i sine=duration=0.5 -c:a wmav1 -f asf '" + v1 +
                                   "' && ffmpeg -nostdin -y -f lavfi -i sine=sample_rate=8000:duration=0.5 -c:a real_144 "
                                   "-f rm '" + ra + "'"));
    Bytes rm = testsupport::readFile(ra);
    ASSERT_EQ(5u, be32(rm, 14));
    rm[17] = 4;  // ffmpeg announces one chunk more than it writes
    testsupport::writeFile(fixed, rm);
    std::string dataPos = std::to_string(be32(rm, 18 + 10 + 32) + 30);  // PROP's dataOffset + 30

    const struct {
        const char* label;
        std::string file, tail;
        int exitCode;
    } cases[] = {
        {"wmav1", v1, "[AST][INF]File suffix=wma, codec=144.\n" + asfHeaderLines(v1) +
                          "[AST][ERR]Unsupported WMA codec id:352\n[AST][ERR]Invalid audio data reader.\n", 255},
        {"RealMedia as ffmpeg writes it", ra, "[AST][INF]File suffix=ra, codec=176.\n[AST][INF]Reached end of data:0.\n"
                                              "[AST][ERR]Invalid audio data reader.\n", 255},
        {"RealMedia with its chunk count corrected", fixed,
         "[AST][INF]File suffix=ra, codec=176.\n[AST][INF]parseRaAudioHeader:\n[AST][INF]sampleFrequency=8000\n"
         "[AST][INF]channelMap=1(1-Mono/2-Stereo)\n[AST][INF]dataPos=" + dataPos + "\n" + kThreadLines + kEnd, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ToolResult r = runTool({{"-f=" + c.file, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
        EXPECT_EQ(c.exitCode, r.exitCode);
        EXPECT_EQ(argsLines(c.file, out) + c.tail, mainThreadLines(r.out));
        EXPECT_TRUE(testsupport::readFile(units).empty());
        EXPECT_TRUE(testsupport::readFile(out).empty());
    }
}

}  // namespace
