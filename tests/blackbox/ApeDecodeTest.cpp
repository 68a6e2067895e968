// Monkey's Audio files from jmac end to end: the seek table and header lines, the chunks handed
// to the decoder, and the PCM against ffmpeg's own decode of the same file.
#include <gtest/gtest.h>

#include <regex>

#include "Reference.h"
#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;

namespace {

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";
const char kLastFrame[] = "[AST][INF]File reached the last audio frame.\n";

struct Source {
    const char* label;
    uint32_t rate;
    uint32_t channels;
    uint32_t bits;
    int seconds;
    std::vector<int> levels;
};

const Source kSources[] = {
    {"stereo16", 44100, 2, 16, 7, {1000, 2000, 3000, 4000}},
    {"mono8", 22050, 1, 8, 2, {2000}},
    {"stereo24", 48000, 2, 24, 3, {3000}},
};

struct Encoded {
    std::string label;
    std::string path;
    const Source* source;
};

// Every file once per test binary: jmac takes a plain PCM WAV made from ffmpeg's samples.
const std::vector<Encoded>& encodedFiles() {
    static TempDir dir;
    static std::vector<Encoded> files;
    if (!files.empty()) return files;
    for (const Source& s : kSources) {
        std::string raw = dir.path(std::string(s.label) + ".raw"), wav = dir.path(std::string(s.label) + ".wav");
        const char* format = s.bits == 8 ? "u8" : s.bits == 16 ? "s16le" : "s24le";
        std::string tones = "0.5*sin(440*2*PI*t)+0.05*random(0)|0.4*sin(660*2*PI*t)+0.05*random(1)";
        std::string command = "ffmpeg -nostdin -y -f lavfi -i 'aevalsrc=" + tones + ":s=" + std::to_string(s.rate) +
                              ":d=" + std::to_string(s.seconds) + "' -ac " + std::to_string(s.channels) + " -f " +
                              format + " '" + raw + "'";
        if (!testsupport::shell(command)) continue;
        testsupport::WavLayout layout{s.rate, s.channels, s.bits, 0, false};
        testsupport::writeFile(wav, testsupport::wavFile(layout, testsupport::readFile(raw)));
        for (int level : s.levels) {
            std::string ape = dir.path(std::string(s.label) + "-" + std::to_string(level) + ".ape");
            if (testsupport::shell("jmac c" + std::to_string(level / 1000) + " '" + wav + "' '" + ape + "'"))
                files.push_back({std::string(s.label) + " level " + std::to_string(level), ape, &s});
        }
    }
    return files;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// What a version-3990 file says of its frames: where each starts and where the audio data end.
struct Frames {
    std::vector<uint32_t> starts;
    uint32_t end = 0;
    uint32_t blocksPerFrame = 0;
    uint32_t finalBlocks = 0;
};

Frames framesOf(const std::vector<uint8_t>& file) {
    Frames f;
    uint32_t header = le32(file, 8), table = header + le32(file, 12);
    f.blocksPerFrame = le32(file, header + 4);
    f.finalBlocks = le32(file, header + 8);
    for (uint32_t i = 0; i < le32(file, header + 12); ++i) f.starts.push_back(le32(file, table + 4 * i));
    f.end = f.starts[0] + le32(file, 24);
    return f;
}

std::string openingLines(const Frames& frames, const Source& s) {
    std::string lines = "[AST][INF]File suffix=ape, codec=128.\n";
    for (size_t i = 0; i < frames.starts.size(); ++i) {
        lines += std::to_string(i) + ":\t" + std::to_string(frames.starts[i]) + "\t\n";
        if (i % 8 == 7) lines += "\n";
    }
    return lines + "\n[AST][INF]parseApeHeader:\n[AST][INF]sampleFrequency=" + std::to_string(s.rate) +
           "\n[AST][INF]channelMap=" + std::to_string(s.channels) + "(1-Mono/2-Stereo)\n";
}

// The units must be the frames in order, each opened by its header, whose payloads together are
// the audio data with every 32-bit word reversed.
void expectUnits(const std::vector<std::vector<uint8_t>>& units, const std::vector<uint8_t>& file, const Frames& f) {
    std::vector<uint8_t> payload, reversed;
    size_t frame = 0;
    long left = 0;
    for (const std::vector<uint8_t>& u : units) {
        ASSERT_LE(u.size(), 1024u);
        size_t at = 0;
        if (left == 0) {
            ASSERT_LT(frame, f.starts.size());
            bool last = frame + 1 == f.starts.size();
            uint32_t length = (last ? f.end : f.starts[frame + 1]) - f.starts[frame];
            ASSERT_GE(u.size(), 20u);
            EXPECT_EQ(0, memcmp(u.data(), "APEs", 4));
            EXPECT_EQ(length | (last ? 0x80000000u : 0), uint32_t(u[4] << 24 | u[5] << 16 | u[6] << 8 | u[7]));
            EXPECT_EQ(last ? f.finalBlocks : f.blocksPerFrame, uint32_t(u[12] << 24 | u[13] << 16 | u[14] << 8 | u[15]));
            left = length;
            at = 20;
            ++frame;
        }
        left -= long(u.size() - at);
        ASSERT_GE(left, 0);
        payload.insert(payload.end(), u.begin() + long(at), u.end());
    }
    EXPECT_EQ(f.starts.size(), frame);
    for (size_t i = 0; i < f.end - f.starts[0]; ++i) reversed.push_back(file[f.starts[0] + (i & ~size_t(3)) + 3 - (i & 3)]);
    EXPECT_TRUE(reversed == payload);
}

TEST(ApeDecode, JmacFilesDecodeAsFfmpegDecodesThem) {
    ASSERT_EQ(6u, encodedFiles().size()) << "jmac or ffmpeg failed";
    for (const Encoded& e : encodedFiles()) {
        SCOPED_TRACE(e.label);
        TempDir dir;
        std::string out = dir.path("out.pcm"), units = dir.path("units.bin");
        std::vector<uint8_t> file = testsupport::readFile(e.path);
        Frames frames = framesOf(file);
        ToolResult r = runTool({{"-f=" + e.path, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ("", r.err);
        EXPECT_EQ(argsLines(e.path, out) + openingLines(frames, *e.source) + kThreadLines + kLastFrame + kEnd,
                  mainThreadLines(r.out));
        expectUnits(testsupport::readUnits(units), file, frames);
        std::vector<uint8_t> reference = testsupport::ffmpegDecode(e.path, e.source->bits > 16 ? "s32le" : "s16le");
        ASSERT_FALSE(reference.empty());
        EXPECT_TRUE(reference == testsupport::readFile(out));
    }
}

// A file cut inside its last frame: the reader delivers what is there, unreversed when it ends
// inside a word, and the decoder decodes as much of the frame as ffmpeg does.
TEST(ApeDecode, CutLastFrameDecodesWhatIsThere) {
    ASSERT_FALSE(encodedFiles().empty());
    const Encoded& e = encodedFiles()[1];
    std::vector<uint8_t> file = testsupport::readFile(e.path);
    Frames frames = framesOf(file);
    TempDir dir;
    std::string in = dir.path("cut.ape"), out = dir.path("out.pcm");
    size_t cut = frames.starts.back() + (frames.end - frames.starts.back()) / 2;
    cut += (cut - frames.starts[0]) % 4 == 0 ? 1 : 0;  // inside a word
    testsupport::writeFile(in, std::vector<uint8_t>(file.begin(), file.begin() + long(cut)));

    ToolResult r = runTool({{"-f=" + in, "-v=" + out}});
    EXPECT_EQ(0, r.exitCode);
    std::smatch got;
    std::string lines = mainThreadLines(r.out);
    ASSERT_TRUE(std::regex_search(lines, got, std::regex("Reached end of data:([0-9]+)\\.")));
    std::string n = got[1];
    EXPECT_EQ(argsLines(in, out) + openingLines(frames, *e.source) + kThreadLines + "[AST][INF]Reached end of data:" +
                  n + ".\n[AST][WRN]File read reached unexpexted flow.\n"
                  "[AST][ERR]Cannot reverse endian because of invalid length:" + n + ".\n"
                  "[AST][INF]Reached end of data:0.\n[AST][WRN]File read reached unexpexted flow.\n" + kEnd,
              lines);
    std::vector<uint8_t> reference = testsupport::ffmpegDecode(in, "s16le"), ours = testsupport::readFile(out);
    EXPECT_GT(reference.size(), size_t(frames.blocksPerFrame) * 4 * (frames.starts.size() - 1));
    EXPECT_TRUE(reference == ours);
}

TEST(ApeDecode, SeekTableThatDoesNotFitIsRefused) {
    ASSERT_FALSE(encodedFiles().empty());
    std::vector<uint8_t> file = testsupport::readFile(encodedFiles()[0].path);
    uint32_t header = le32(file, 8), tableLength = le32(file, 16), frames = tableLength / 4 + 1;
    for (int i = 0; i < 4; ++i) file[header + 12 + i] = uint8_t(frames >> (8 * i));
    TempDir dir;
    std::string in = dir.path("bad.ape");
    testsupport::writeFile(in, file);
    ToolResult r = runTool({{"-f=" + in, "-v=" + dir.path("out.pcm")}});
    EXPECT_EQ(255, r.exitCode);
    EXPECT_EQ(argsLines(in, dir.path("out.pcm")) + "[AST][INF]File suffix=ape, codec=128.\n" +
                  "[AST][ERR]APE seek info error, seekNumber=" + std::to_string(frames) + ", seekTableBytes=" +
                  std::to_string(frames * 4) + ", seekTableLength=" + std::to_string(tableLength) +
                  ", totalFrames=" + std::to_string(frames) + ".\n[AST][ERR]Parse header fail, length3980=-1.\n" +
                  "[AST][ERR]Invalid audio data reader.\n",
              mainThreadLines(r.out));
}

}  // namespace
