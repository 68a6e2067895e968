// Monkey's Audio files from jmac end to end: the seek table and header lines, the chunks handed
// to the decoder, and the PCM against ffmpeg's own decode of the same file.
#include <gtest/gtest.h>

#include <regex>

#include "ApeFile.h"
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

uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes = 4) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | b[at + size_t(i)];
    return value;
}

// What a version-3990 file says of its stream, read straight from its descriptor and header.
testsupport::ApeStream streamOf(const std::vector<uint8_t>& file) {
    testsupport::ApeStream s;
    uint32_t header = le(file, 8), table = header + le(file, 12);
    s.version = uint16_t(le(file, 4, 2));
    s.level = uint16_t(le(file, header, 2));
    s.blocksPerFrame = le(file, header + 4);
    s.finalFrameBlocks = le(file, header + 8);
    s.bits = uint16_t(le(file, header + 16, 2));
    s.channels = uint16_t(le(file, header + 18, 2));
    s.rate = le(file, header + 20);
    for (uint32_t i = 0; i < le(file, header + 12); ++i) s.seekTable.push_back(le(file, table + 4 * i));
    s.end = s.seekTable[0] + le(file, 24);
    return s;
}

std::string openingLines(const testsupport::ApeStream& s) {
    return "[AST][INF]File suffix=ape, codec=128.\n" + testsupport::apeOpenLines(s.seekTable, s.rate, s.channels);
}

TEST(ApeDecode, JmacFilesDecodeAsFfmpegDecodesThem) {
    ASSERT_EQ(6u, encodedFiles().size()) << "jmac or ffmpeg failed";
    for (const Encoded& e : encodedFiles()) {
        SCOPED_TRACE(e.label);
        TempDir dir;
        std::string out = dir.path("out.pcm"), units = dir.path("units.bin");
        std::vector<uint8_t> file = testsupport::readFile(e.path);
        testsupport::ApeStream stream = streamOf(file);
        ToolResult r = runTool({{"-f=" + e.path, "-v=" + out}, {{"HOSTAUDIO_UNITS_FILE", units}}});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ("", r.err);
        EXPECT_EQ(argsLines(e.path, out) + openingLines(stream) + kThreadLines + kLastFrame + kEnd,
                  mainThreadLines(r.out));
        EXPECT_EQ("", testsupport::apeUnitsMismatch(testsupport::readUnits(units), file, stream));
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
    testsupport::ApeStream stream = streamOf(file);
    TempDir dir;
    std::string in = dir.path("cut.ape"), out = dir.path("out.pcm");
    size_t cut = stream.seekTable.back() + (stream.end - stream.seekTable.back()) / 2;
    cut += (cut - stream.seekTable[0]) % 4 == 0 ? 1 : 0;  // inside a word
    testsupport::writeFile(in, std::vector<uint8_t>(file.begin(), file.begin() + long(cut)));

    ToolResult r = runTool({{"-f=" + in, "-v=" + out}});
    EXPECT_EQ(0, r.exitCode);
    std::smatch got;
    std::string lines = mainThreadLines(r.out);
    ASSERT_TRUE(std::regex_search(lines, got, std::regex("Reached end of data:([0-9]+)\\.")));
    std::string n = got[1];
    EXPECT_EQ(argsLines(in, out) + openingLines(stream) + kThreadLines + "[AST][INF]Reached end of data:" +
                  n + ".\n[AST][WRN]File read reached unexpexted flow.\n"
                  "[AST][ERR]Cannot reverse endian because of invalid length:" + n + ".\n"
                  "[AST][INF]Reached end of data:0.\n[AST][WRN]File read reached unexpexted flow.\n" + kEnd,
              lines);
    std::vector<uint8_t> reference = testsupport::ffmpegDecode(in, "s16le"), ours = testsupport::readFile(out);
    EXPECT_GT(reference.size(), size_t(stream.blocksPerFrame) * 4 * (stream.seekTable.size() - 1));
    EXPECT_TRUE(reference == ours);
}

}  // namespace
