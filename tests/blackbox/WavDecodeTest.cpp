// WAV and raw PCM decodes end to end: messages, output files, units and track bytes.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ToolRunner.h"

using namespace blackbox;
using testsupport::TempDir;
using testsupport::WavLayout;

namespace {

const char kEnd[] = "[AST][WRN]Read audio data stopped.\n[AST][INF]Decoder(decoder0) is working still, waiting...\n";

// A short last frame is delivered with its bytes; the read after it finds nothing.
std::string endOfData(size_t bytes, size_t frameLength) {
    size_t rest = bytes % frameLength;
    std::string nothing = "[AST][INF]Reached end of data:0.\n";
    return rest == 0 ? nothing : "[AST][INF]Reached end of data:" + std::to_string(rest) + ".\n" + nothing;
}

std::string encodeLine(uint32_t rate, uint32_t mask, int format) {
    return "[AST][INF]Encode params:codec=256 sampleRate=" + std::to_string(rate) +
           " chanels=0 channelMap=" + std::to_string(mask) + " pcm.format=" + std::to_string(format) + ".\n";
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct WavCase {
    const char* label;
    WavLayout layout;
    uint32_t channelMask;
    int pcmFormat;
};

TEST(WavDecode, OutputIsCanonicalHeaderPlusTheData) {
    const WavCase cases[] = {
        {"stereo16", {44100, 2, 16, 0, false}, 3, 2},
        {"mono8", {8000, 1, 8, 0, false}, 1, 1},
        {"stereo32", {48000, 2, 32, 0, false}, 3, 14},
        {"extraFormatBytes", {22050, 1, 16, 2, false}, 1, 2},
    };
    for (const WavCase& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const WavLayout& l = c.layout;
        // 1.05 s, so the last 20 ms frame is short.
        std::vector<uint8_t> pcm = testsupport::sinePcm(l.rate, l.channels, l.bitsPerSample, l.rate * 105 / 100);
        std::string in = dir.path("in.wav"), out = dir.path("out.wav");
        testsupport::writeFile(in, testsupport::wavFile(l, pcm));

        ToolResult r = runTool({{"-f=" + in, "-v=" + out}});
        EXPECT_EQ(0, r.exitCode);
        size_t frameLength = l.rate * l.channels * l.bitsPerSample / 8 / 50;
        EXPECT_EQ(argsLines(in, out) + "[AST][INF]File suffix=wav, codec=0.\n" +
                      wavReaderLines("parseWavHeader", l.rate, l.channels, l.bitsPerSample,
                                  44 + static_cast<int>(l.extraFormatBytes)) +
                      kThreadLines + endOfData(pcm.size(), frameLength) + kEnd,
                  mainThreadLines(r.out));
        EXPECT_EQ(1u, count(r.out, encodeLine(l.rate, c.channelMask, c.pcmFormat)));
        WavLayout canonical = l;
        canonical.extraFormatBytes = 0;
        EXPECT_TRUE(testsupport::wavFile(canonical, pcm) == testsupport::readFile(out));
    }
}

TEST(WavDecode, RawPcmFollowsTheCommandLine) {
    TempDir dir;
    std::vector<uint8_t> pcm = testsupport::sinePcm(8000, 1, 8, 8000 * 3 / 2);
    pcm[0] = 'r';  // a known first word for the magic message
    pcm[1] = 'a';
    pcm[2] = 'w';
    pcm[3] = '!';
    std::string in = dir.path("raw.pcm"), out = dir.path("out.pcm");
    testsupport::writeFile(in, pcm);

    ToolResult r = runTool({{"-f=" + in, "-s=8000", "-c=1", "-b=8", "-v=" + out}});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(argsLines(in, out) + "[AST][INF]File suffix=pcm, codec=0.\n" +
                  "[AST][ERR]WAV file magic(RIFF) error(magic=72617721).\n"
                  "[AST][WRN]Treat as PCM raw data because failed to parse WAVE header.\n" +
                  wavReaderLines("PCM format", 8000, 1, 8, 0) + kThreadLines + endOfData(pcm.size(), 160) + kEnd,
              mainThreadLines(r.out));
    EXPECT_EQ(1u, count(r.out, encodeLine(8000, 1, 1)));
    EXPECT_TRUE(pcm == testsupport::readFile(out));
}

// Headers the reader refuses: the whole file, header included, is PCM by the command line.
TEST(WavDecode, UnparsableHeadersFallBackToRawPcm) {
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string messages;
    };
    std::vector<uint8_t> pcm = testsupport::sinePcm(48000, 2, 16, 4800);
    WavLayout list;
    list.listChunk = true;
    std::vector<uint8_t> shortFormat = testsupport::wavFile(WavLayout(), pcm);
    shortFormat[16] = 14;
    std::vector<uint8_t> lowerRiff = testsupport::wavFile(WavLayout(), pcm);
    lowerRiff[0] = 'r';
    const Case cases[] = {
        {"list", testsupport::wavFile(list, pcm), "[AST][ERR]WAV file magic(data) error(magic=4C495354).\n"},
        {"formatSize14", shortFormat, "[AST][ERR]Extra format data length is negative:-2\n"},
        {"lowerCaseRiff", lowerRiff, "[AST][ERR]WAV file magic(RIFF) error(magic=72494646).\n"},
        {"tiny", {'R', 'I', 'F', 'F', 1, 2, 3, 4, 5, 6}, "[AST][INF]Reached end of data:10.\n"},
        {"empty", {}, "[AST][INF]Reached end of data:0.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        std::string in = dir.path("in.wav"), out = dir.path("out.wav");
        testsupport::writeFile(in, c.file);
        ToolResult r = runTool({{"-f=" + in, "-v=" + out}});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(argsLines(in, out) + "[AST][INF]File suffix=wav, codec=0.\n" + c.messages +
                      "[AST][WRN]Treat as PCM raw data because failed to parse WAVE header.\n" +
                      wavReaderLines("PCM format", 48000, 2, 16, 0) + kThreadLines +
                      endOfData(c.file.size(), 3840) + kEnd,
                  mainThreadLines(r.out));
        if (c.file.empty()) {
            EXPECT_FALSE(testsupport::readFile(out).size()) << "no PCM, no writer, no file";
        } else {
            WavLayout defaults;
            defaults.rate = 48000;
            EXPECT_TRUE(testsupport::wavFile(defaults, c.file) == testsupport::readFile(out));
        }
    }
}

TEST(WavDecode, FormatsAFrameCannotExpressDecodeNothing) {
    const WavLayout layouts[] = {{44100, 2, 24, 0, false}, {44100, 3, 16, 0, false}};
    for (const WavLayout& l : layouts) {
        TempDir dir;
        std::string in = dir.path("in.wav"), out = dir.path("out.wav");
        testsupport::writeFile(in, testsupport::wavFile(l, testsupport::sinePcm(l.rate, l.channels, 16, 100)));
        ToolResult r = runTool({{"-f=" + in, "-v=" + out}});
        EXPECT_EQ(0, r.exitCode);
        uint32_t map = l.channels <= 2 ? l.channels : 0;
        uint32_t depth = l.bitsPerSample == 24 ? 0 : l.bitsPerSample;
        EXPECT_EQ(argsLines(in, out) + "[AST][INF]File suffix=wav, codec=0.\n" +
                      wavReaderLines("parseWavHeader", 44100, map, depth, 44) + kThreadLines +
                      "[AST][ERR]Invalid frame length(0).\n" + kEnd,
                  mainThreadLines(r.out));
        EXPECT_EQ(std::string::npos, r.out.find("Encode params"));
        EXPECT_EQ(-1, access(out.c_str(), F_OK));
    }
}

TEST(WavDecode, UpperCaseSuffixWritesNoHeaderAndLyingSizesAreIgnored) {
    TempDir dir;
    std::vector<uint8_t> pcm = testsupport::sinePcm(16000, 2, 16, 16000);
    std::vector<uint8_t> file = testsupport::wavFile(WavLayout{16000, 2, 16, 0, false}, pcm);
    for (int i : {4, 5, 6, 7, 40, 41, 42, 43}) file[i] = 0xFF;  // riffSize and dataSize
    std::string in = dir.path("IN.WAV"), out = dir.path("out.wav");
    testsupport::writeFile(in, file);
    ToolResult r = runTool({{"-f=" + in, "-v=" + out}});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find("[AST][INF]File suffix=WAV, codec=0.\n"));
    EXPECT_TRUE(pcm == testsupport::readFile(out));
}

TEST(WavDecode, TrackPlaysEveryByteAndUnitsAre20Milliseconds) {
    TempDir dir;
    std::vector<uint8_t> pcm = testsupport::sinePcm(44100, 2, 16, 44100 / 2 + 7);
    std::string in = dir.path("in.wav"), units = dir.path("units.bin"), played = dir.path("track.bin");
    testsupport::writeFile(in, testsupport::wavFile(WavLayout(), pcm));
    ToolResult r = runTool({{"-f=" + in},
                            {{"HOSTAUDIO_UNITS_FILE", units}, {"HOSTAUDIO_TRACK_FILE", played},
                             {"HOSTAUDIO_TRACK_REALTIME", "0"}}});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ("[AST][ERR]Inexistent save file name, decode to track will be activated.\n" + argsLines(in, "") +
                  "[AST][INF]File suffix=wav, codec=0.\n" + wavReaderLines("parseWavHeader", 44100, 2, 16, 44) +
                  kThreadLines + endOfData(pcm.size(), 3528) + kEnd,
              mainThreadLines(r.out));
    EXPECT_TRUE(pcm == testsupport::readFile(played));

    std::vector<uint8_t> recorded = testsupport::readFile(units), expected;
    for (size_t at = 0; at < pcm.size(); at += 3528) {
        size_t n = std::min<size_t>(3528, pcm.size() - at);
        testsupport::appendLe(expected, static_cast<uint32_t>(n), 4);
        expected.insert(expected.end(), pcm.begin() + static_cast<long>(at), pcm.begin() + static_cast<long>(at + n));
    }
    EXPECT_TRUE(expected == recorded);
}

}  // namespace
