// MPEG audio files end to end: tag and header lines, the frames handed to the decoder, and
// the PCM against ffmpeg's own decode of the same file.
#include <gtest/gtest.h>

#include "FrameUnits.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;

namespace {

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";
const char kParseFailed[] = "[AST][ERR]Failed to parse MP3 data frame header.\n";

struct Fixture {
    const char* label;
    uint32_t rate;
    uint32_t channels;
    std::string encoder;  // ffmpeg output options
    int id3Major;         // 0: no ID3v2 tag
    std::string tagLines;  // the tag's frames as shown
    std::string id3v1Lines;  // empty: no ID3v1 tag
    size_t leadingUnits;  // frames ffprobe does not count (the Xing frame)
};

// Two tones, one per channel (folded into one for mono).
std::string encode(const Fixture& f, const std::string& path) {
    std::string source = "aevalsrc=0.5*sin(440*2*PI*t)|0.4*sin(660*2*PI*t):s=" + std::to_string(f.rate) + ":d=1.5";
    return "ffmpeg -nostdin -y -f lavfi -i '" + source + "' -fflags +bitexact -ac " + std::to_string(f.channels) + " " +
           f.encoder + " '" + path + "'";
}

std::string hex(uint32_t value, int digits) {
    char text[16];
    snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string syncMismatch(uint32_t value) {
    return "[AST][INF]MP3 file sync word mismatch(" + hex(value, 3) + " != 7FF).\n";
}

size_t tagEnd(const std::vector<uint8_t>& file) {
    if (file.size() < 10 || file[0] != 'I' || file[1] != 'D' || file[2] != '3') return 0;
    return 10 + (static_cast<size_t>(file[6] & 0x7F) << 21 | (file[7] & 0x7F) << 14 | (file[8] & 0x7F) << 7 | (file[9] & 0x7F));
}

// What the tool prints from its suffix line to the reader thread's start.
std::string openingLines(const Fixture& f, const std::vector<uint8_t>& file) {
    std::string lines = "[AST][INF]File suffix=mp3, codec=48.\n";
    if (f.id3Major) {
        lines += "[AST][INF]Version: ID3V2." + std::to_string(f.id3Major) +
                 ".0 headerSize=" + std::to_string(tagEnd(file) - 10) + "\n" + f.tagLines;
        lines += syncMismatch(0) + "[AST][INF]Skip fill bytes to find first data frame.\n";  // the tag's padding
    } else {
        lines += "[AST][INF]MP3 file magic(ID3) mismatch(" + hex(file[0] << 16 | file[1] << 8 | file[2], 8) +
                 " != 00494433).\n[AST][INF]Found no ID3V2 header, treat as raw data frame.\n";
    }
    lines += "[AST][INF]parseMp3DataFrameHeader:\n[AST][INF]sampleFrequency=" + std::to_string(f.rate) +
             "\n[AST][INF]channelMap=" + std::to_string(f.channels) + "(1-Mono/2-Stereo)\n";
    if (!f.id3v1Lines.empty()) return lines + f.id3v1Lines;
    return lines + "[AST][ERR]Mismatched 'TAG' chunk:" + std::string(file.end() - 128, file.end() - 125) + "\n";
}

void decodeAndCompare(const Fixture& f) {
    SCOPED_TRACE(f.label);
    TempDir dir;
    std::string in = dir.path("in.mp3"), out = dir.path("out.pcm"), units = dir.path("units.bin");
    ASSERT_TRUE(shell(encode(f, in))) << encode(f, in);
    std::vector<uint8_t> file = testsupport::readFile(in);

    ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
    EXPECT_EQ(0, r.exitCode);
    std::string last = f.id3v1Lines.empty() ? "[AST][INF]Reached end of data:0.\n" : syncMismatch(0x2A2);
    EXPECT_EQ(argsLines(in, out) + openingLines(f, file) + kThreadLines + last + kParseFailed + kEnd,
              mainThreadLines(r.out));
    EXPECT_EQ("", r.err) << "the host service found a unit it could not take";

    size_t end = file.size() - (f.id3v1Lines.empty() ? 0 : 128);
    EXPECT_EQ("", unitsAreFrames(readUnits(units), file, tagEnd(file), end, testsupport::ffprobePackets(in),
                                 f.leadingUnits));

    // Encoder delay and the Xing frame shift the start; 4000 frames covers both.
    PcmMatch m = comparePcm(testsupport::readFile(out), ffmpegDecode(in, "s16le"), 2, static_cast<int>(f.channels),
                            4000, 1);
    EXPECT_TRUE(m.ok) << m.detail;
}

const char kLame[] = "-c:a libmp3lame";

TEST(Mp3Decode, Mpeg1LayerThree) {
    const Fixture fixtures[] = {
        {"44.1k stereo cbr, ID3v2.3 and ID3v1", 44100, 2,
         std::string(kLame) + " -b:a 128k -id3v2_version 3 -metadata title=Sine -metadata artist=Ostrel -write_id3v1 1",
         3, "TIT2:Sine\nTPE1:Ostrel\n",
         "[AST][INF]ID3V1, title:Sine\n[AST][INF]ID3V1, artist:Ostrel\n[AST][INF]ID3V1, album:\n"
         "[AST][INF]ID3V1, year:\n[AST][INF]ID3V1, comment:\n[AST][INF]ID3V1, track:0\n[AST][INF]ID3V1, genre:255\n",
         1},
        {"48k mono vbr, ID3v2.4", 48000, 1,
         std::string(kLame) + " -q:a 2 -id3v2_version 4 -metadata title=Mono -metadata album=Tones", 4,
         "TIT2:Mono\nTALB:Tones\n", "", 1},
        {"32k stereo, no tags", 32000, 2, std::string(kLame) + " -b:a 96k -id3v2_version 0 -write_xing 0", 0, "", "", 0},
    };
    for (const Fixture& f : fixtures) decodeAndCompare(f);
}

TEST(Mp3Decode, LowSamplingFrequencies) {
    const Fixture fixtures[] = {
        {"mpeg2 22.05k mono vbr", 22050, 1, std::string(kLame) + " -q:a 5", 4, "", "", 1},
        {"mpeg2 24k stereo cbr", 24000, 2, std::string(kLame) + " -b:a 64k", 4, "", "", 1},
        // MPEG 2.5 bit rates up to index 4 and index 8 are the same in every table in use.
        {"mpeg2.5 8k mono cbr", 8000, 1, std::string(kLame) + " -b:a 16k", 4, "", "", 1},
        {"mpeg2.5 11.025k stereo cbr", 11025, 2, std::string(kLame) + " -b:a 32k", 4, "", "", 1},
    };
    for (const Fixture& f : fixtures) decodeAndCompare(f);
}

TEST(Mp3Decode, LayerTwo) {
    const Fixture fixtures[] = {
        {"48k stereo", 48000, 2, "-c:a mp2 -b:a 192k -f mp2", 0, "", "", 0},
        {"22.05k mono", 22050, 1, "-c:a mp2 -b:a 64k -f mp2", 0, "", "", 0},
    };
    for (const Fixture& f : fixtures) decodeAndCompare(f);
}

// A stream cut inside its last frame hands that frame out as it is; a stream with junk
// between two frames ends at the junk.
TEST(Mp3Decode, DamagedStreamsEndAtTheDamage) {
    TempDir dir;
    const Fixture base = {"", 44100, 2, std::string(kLame) + " -b:a 128k -id3v2_version 0 -write_xing 0", 0, "", "", 0};
    std::string whole = dir.path("whole.mp3");
    ASSERT_TRUE(shell(encode(base, whole)));
    std::vector<uint8_t> file = testsupport::readFile(whole);
    std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(whole);
    ASSERT_GT(packets.size(), 20u);

    const testsupport::Packet lastPacket = packets.back();
    std::vector<uint8_t> cut(file.begin(), file.begin() + lastPacket.position + lastPacket.size - 100);
    std::vector<uint8_t> junk(file);
    const long at = packets[10].position;
    junk.insert(junk.begin() + at, {'J', 'U', 'N', 'K'});

    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string messages;
        size_t units;
        std::string problem;  // what the host service says about the last unit
    };
    const Case cases[] = {
        {"cut inside the last frame", cut,
         "[AST][INF]Reached end of data:" + std::to_string(lastPacket.size - 104) +
             ".\n[AST][INF]Reached end of data:0.\n" + kParseFailed,
         packets.size(), "where the frame header says"},
        {"junk between two frames", junk, syncMismatch(0x252) + kParseFailed, 10, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string in = dir.path("damaged.mp3"), out = dir.path("out.pcm"), units = dir.path("units.bin");
        testsupport::writeFile(in, c.file);
        ToolResult r = runTool({{"-f=" + in, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(argsLines(in, out) + openingLines(base, c.file) + kThreadLines + c.messages + kEnd,
                  mainThreadLines(r.out));
        std::vector<std::vector<uint8_t>> handed = readUnits(units);
        ASSERT_EQ(c.units, handed.size());
        size_t offset = 0;
        for (const auto& u : handed) {
            EXPECT_TRUE(std::equal(u.begin(), u.end(), c.file.begin() + static_cast<long>(offset)));
            offset += u.size();
        }
        if (c.problem.empty())
            EXPECT_EQ("", r.err);
        else
            EXPECT_NE(std::string::npos, r.err.find(c.problem)) << r.err;
        EXPECT_FALSE(testsupport::readFile(out).empty());
    }
}

}  // namespace
