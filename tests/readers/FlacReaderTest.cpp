// FLAC reader on hand-made files: frame header fields, the constructor's refusals and the read
// window. Real encoders' files are covered end to end.
#include <gtest/gtest.h>

#include "FieldCodec.h"
#include "FlacAudioDataReader.h"
#include "TestSupport.h"

using testsupport::captureStdout;

namespace {

const char kNoHeader[] = "[AST][ERR]Failed to find header, maybe file reading buffer is NOT enough.\n";

// Sync (fixed or variable blocking), block size and rate codes, stereo 16-bit, the coded number,
// the extra size and rate fields, and the CRC-8 (or a wrong one).
std::vector<uint8_t> frameHeader(uint8_t blockCode, uint8_t rateCode, std::vector<uint8_t> number,
                                 std::vector<uint8_t> extra, bool variable = false, bool badCrc = false) {
    std::vector<uint8_t> h = {0xFF, static_cast<uint8_t>(variable ? 0xF9 : 0xF8),
                              static_cast<uint8_t>(blockCode << 4 | rateCode), 0x18};
    h.insert(h.end(), number.begin(), number.end());
    h.insert(h.end(), extra.begin(), extra.end());
    h.push_back(static_cast<uint8_t>(crc8(h.data(), static_cast<uint32_t>(h.size())) ^ (badCrc ? 1 : 0)));
    return h;
}

// "fLaC" and a stereo 16-bit STREAMINFO, the only metadata block.
std::vector<uint8_t> flacHead(uint32_t rate, uint32_t maxFrameSize = 0) {
    std::vector<uint8_t> f = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34, 0x10, 0, 0x10, 0, 0, 0, 0};
    for (int shift : {16, 8, 0}) f.push_back(static_cast<uint8_t>(maxFrameSize >> shift));
    f.insert(f.end(), {static_cast<uint8_t>(rate >> 12), static_cast<uint8_t>(rate >> 4),
                       static_cast<uint8_t>((rate & 0xF) << 4 | 1 << 1), 0xF0});
    f.resize(42, 0);
    return f;
}

TEST(FlacReader, FrameHeaderFields) {
    struct Case {
        const char* label;
        std::vector<uint8_t> header;
        uint32_t rate;         // when it parses
        std::string message;   // when it does not
    };
    const std::vector<uint8_t> badCrc = frameHeader(12, 10, {5}, {}, false, true);
    char crcLine[80];
    snprintf(crcLine, sizeof crcLine, "[AST][ERR]FLAC file CRC-8 check error(0x%02X != 0x%02X).\n", badCrc[5] ^ 1,
             badCrc[5]);
    const Case cases[] = {
        {"rate from STREAMINFO", frameHeader(12, 0, {5}, {}), 22222, ""},
        {"rate 8 bits in kHz", frameHeader(12, 12, {5}, {44}), 44000, ""},
        {"rate 16 bits in Hz", frameHeader(12, 13, {5}, {0x2B, 0x11}), 11025, ""},
        {"rate 16 bits in tens of Hz", frameHeader(12, 14, {5}, {0x0E, 0xC4}), 37800, ""},
        {"rate code 15", frameHeader(12, 15, {5}, {}), 0xFFFFFFFFu, ""},
        {"8-bit block size and rate", frameHeader(6, 12, {5}, {99, 8}), 8000, ""},
        {"16-bit block size, two-byte number", frameHeader(7, 9, {0xC2, 0x80}, {0x3F, 0xFF}), 44100, ""},
        {"six-byte number, fixed", frameHeader(12, 10, {0xFC, 0x80, 0x80, 0x80, 0x80, 0x80}, {}), 48000, ""},
        {"seven-byte number, variable", frameHeader(12, 10, {0xFE, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, {}, true),
         48000, ""},
        {"continuation byte read as a one-byte number", frameHeader(12, 10, {0x80}, {}), 48000, ""},
        {"seven-byte number, fixed", frameHeader(12, 10, {0xFE, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, {}), 0,
         "[AST][ERR]FLAC file UTF-8 string error(mFrameHeader.utf8Str[0]=0xFE).\n"},
        {"number byte FF", frameHeader(12, 10, {0xFF}, {}, true), 0,
         "[AST][ERR]FLAC file UTF-8 string error(mFrameHeader.utf8Str[0]=0xFF).\n"},
        {"bad CRC-8", badCrc, 0, crcLine},
        {"bad sync", {0xFF, 0xF4, 0, 0, 0, 0}, 0, "[AST][ERR]FLAC file sync word error(syncWord=3FFD).\n"},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        // The header twice: the second copy must end the first frame, whatever the header's length.
        std::vector<uint8_t> file = flacHead(22222);
        for (int copy = 0; copy < 2; ++copy) file.insert(file.end(), c.header.begin(), c.header.end());
        file.resize(file.size() + 40, 0);
        const std::string path = dir.path("h.flac");
        testsupport::writeFile(path, file);
        FlacAudioDataReader* reader = nullptr;
        EXPECT_EQ(c.message, captureStdout([&] { reader = new FlacAudioDataReader(path.c_str()); }));
        EXPECT_EQ(!c.message.empty(), reader->isInvalid());
        if (c.message.empty()) {
            EXPECT_EQ(c.rate, reader->getAudioInfo()->sampleFrequency);
            EXPECT_EQ(2u, reader->getAudioInfo()->channelMap);
            int32_t length = 0;
            EXPECT_EQ("[AST][INF]Reached end of data:" + std::to_string(file.size() - 42) + ".\n",
                      captureStdout([&] { length = reader->readFrame()->length; }));
            EXPECT_EQ(static_cast<int32_t>(c.header.size()), length);
        }
        delete reader;
    }
}

TEST(FlacReader, BrokenFilesFailInTheConstructor) {
    const std::vector<uint8_t> frame = frameHeader(12, 9, {0}, {});
    auto withFrame = [&](std::vector<uint8_t> head) {
        head.insert(head.end(), frame.begin(), frame.end());
        head.resize(head.size() + 40, 0);
        return head;
    };
    std::vector<uint8_t> typeFirst = withFrame(flacHead(44100)), typeSecond = typeFirst, longInfo = flacHead(44100);
    typeFirst[4] = 0xFF;  // last block, type 127
    typeSecond[4] = 0;
    typeSecond.insert(typeSecond.begin() + 42, {0xFF, 0, 0, 0});
    longInfo[5] = 0x10;  // a megabyte of STREAMINFO claimed, 34 bytes there
    std::vector<uint8_t> shortInfo = withFrame(flacHead(44100));
    shortInfo[7] = 20;
    shortInfo.erase(shortInfo.begin() + 28, shortInfo.begin() + 42);
    std::vector<uint8_t> cutHeader = withFrame(flacHead(44100));
    cutHeader.resize(50);
    const std::string typeError =
        "[AST][ERR]FLAC file metadata type error(type=127).\n[AST][ERR]Failed to parse meta header.\n";
    const struct {
        const char* label;
        std::vector<uint8_t> file;
        std::string messages;
    } cases[] = {
        {"magic", {'f', 'L', 'a', 'c', 0, 0, 0, 0},
         "[AST][ERR]FLAC file magic (fLaC) error(magic=664C6163).\n[AST][ERR]Failed to parse magic header.\n"},
        {"three bytes", {'f', 'L', 'a'}, "[AST][INF]Reached end of data:3.\n[AST][ERR]Failed to parse magic header.\n"},
        {"type 127 first", typeFirst, typeError},
        {"type 127 behind STREAMINFO", typeSecond,
         typeError + "[AST][ERR]FLAC file sync word error(syncWord=3FC0).\n"},
        {"STREAMINFO longer than the file", longInfo, "[AST][INF]Reached end of data:34.\n"},
        {"STREAMINFO of 20 bytes", shortInfo, "[AST][ERR]FLAC file STREAMINFO is too short(length=20).\n"},
        {"no frame behind the metadata", {'f', 'L', 'a', 'C', 0x81, 0, 0, 2, 0xAA, 0xBB},
         "[AST][INF]Reached end of data:0.\n"},
        {"cut in the first frame header", cutHeader, "[AST][INF]Reached end of data:8.\n"},
    };
    testsupport::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = dir.path("bad.flac");
        testsupport::writeFile(path, c.file);
        EXPECT_EQ(c.messages, captureStdout([&] { EXPECT_TRUE(FlacAudioDataReader(path.c_str()).isInvalid()); }));
    }
}

// Frames of 20006, 106 and 106 bytes behind a STREAMINFO that gives the maximum frame size.
TEST(FlacReader, WindowIsRaisedByStreamInfoAndBoundedByTheFile) {
    const struct {
        uint32_t maxFrameSize;
        int32_t window;
        std::vector<int32_t> lengths;
        std::string lines;
    } cases[] = {
        {0, 16384, {}, kNoHeader},
        {20100, 20100, {20006, 106}, "[AST][INF]Reached end of data:118.\n[AST][INF]Reached end of data:0.\n" +
                                         std::string(kNoHeader)},
        {0xFFFFFF, 20219, {20006, 106},
         "[AST][INF]Reached end of data:20218.\n[AST][INF]Reached end of data:0.\n[AST][INF]Reached end of data:0.\n" +
             std::string(kNoHeader)},
    };
    testsupport::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxFrameSize);
        std::vector<uint8_t> file = flacHead(44100, c.maxFrameSize);
        for (uint8_t k : {0, 1, 2}) {
            std::vector<uint8_t> header = frameHeader(12, 9, {k}, {});
            file.insert(file.end(), header.begin(), header.end());
            file.resize(file.size() + (k == 0 ? 20000 : 100), 0);
        }
        const std::string path = dir.path("w.flac");
        testsupport::writeFile(path, file);
        std::vector<int32_t> lengths;
        std::string out = captureStdout([&] {
            FlacAudioDataReader reader(path.c_str());
            EXPECT_EQ(c.window, reader.windowSize());
            for (FrameBuffer* f = reader.readFrame(); f->length > 0; f = reader.readFrame())
                lengths.push_back(f->length);
        });
        EXPECT_EQ(c.lines, out);
        EXPECT_EQ(c.lengths, lengths);
    }
}

}  // namespace
