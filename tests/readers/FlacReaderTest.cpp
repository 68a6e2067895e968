// FLAC reader: files from Debian's flac and ffmpeg's encoder cut exactly where ffmpeg's demuxer
// cuts them (the last frame excepted), the window's messages, and hand-made headers.
#include <gtest/gtest.h>

#include <cstring>

#include "FieldCodec.h"
#include "FlacAudioDataReader.h"
#include "FlacStream.h"
#include "TestSupport.h"

using testsupport::captureStdout;
using testsupport::TempDir;

namespace {

struct ReadAll {
    std::string constructorOut;
    bool valid = false;
    std::vector<std::vector<uint8_t>> frames;
    std::string out;
    AudioInfo info{};
    int32_t window = 0;
};

ReadAll readAll(const std::string& path) {
    ReadAll r;
    FlacAudioDataReader* reader = nullptr;
    r.constructorOut = captureStdout([&] { reader = new FlacAudioDataReader(path.c_str()); });
    r.valid = !reader->isInvalid();
    r.window = reader->windowSize();
    if (r.valid) {
        r.out = captureStdout([&] {
            for (FrameBuffer* f = reader->readFrame(); f->length > 0; f = reader->readFrame())
                r.frames.emplace_back(f->data, f->data + f->length);
        });
    }
    EXPECT_FALSE(reader->isInvalid()) << "reading never sets the flag";
    r.info = *reader->getAudioInfo();
    delete reader;
    return r;
}

// Every frame but the last as the demuxer finds it, and the lines the windows must print.
void expectFramesOf(const std::vector<uint8_t>& bytes, const std::vector<testsupport::Packet>& packets,
                    const ReadAll& r) {
    ASSERT_GT(packets.size(), 1u);
    testsupport::FlacReadPlan plan = testsupport::planFlacReads(bytes, packets, r.window);
    EXPECT_EQ(packets.size() - 1, plan.frames);
    ASSERT_EQ(plan.frames, r.frames.size());
    for (size_t i = 0; i < r.frames.size(); ++i) {
        const auto from = bytes.begin() + packets[i].position;
        ASSERT_TRUE(std::vector<uint8_t>(from, from + packets[i].size) == r.frames[i]) << "frame " << i;
    }
    size_t lookalikeLines = 0;
    EXPECT_EQ(plan.lines, testsupport::withoutLookalikeLines(r.out, lookalikeLines));
    EXPECT_EQ(plan.lookalikes, lookalikeLines);
}

struct Fixture {
    const char* label;
    const char* make;  // see flacFixtureCommand
    uint32_t rate;
    uint32_t channelMap;
};

TEST(FlacReader, RealFilesAreCutAtTheirFrameHeaders) {
    const Fixture cases[] = {
        {"flac 16 stereo 44.1k, seek table, comment, padding",
         "$S1 -ac 2 -ar 44100 $W && flac -s -f -o $O $W", 44100, 2},
        {"flac 24 mono 96k block 192 (500 frames)",
         "$S1 -ar 96000 -c:a pcm_s24le $W && flac -s -f -b 192 -o $O $W", 96000, 1},
        {"flac 16 stereo 44.1k block 16384",
         "$S2 -ac 2 -ar 44100 $W && flac -s -f --lax -b 16384 -o $O $W", 44100, 2},
        {"flac 16 mono 8k block 576", "$S1 -ar 8000 $W && flac -s -f -b 576 -o $O $W", 8000, 1},
        {"flac 12 kHz rate in kHz", "$S1 -ar 12000 $W && flac -s -f -o $O $W", 12000, 1},
        {"flac 11.025 kHz rate in Hz", "$S1 -ar 11025 $W && flac -s -f -o $O $W", 11025, 1},
        {"flac 37.8 kHz rate in tens of Hz", "$S1 -ar 37800 $W && flac -s -f -o $O $W", 37800, 1},
        {"ffmpeg 16 5.1 48k", "$S1 -ac 6 -ar 48000 -c:a flac $O", 48000, 0},
        {"ffmpeg 24 stereo 192k block 8192",
         "$S1 -ac 2 -ar 192000 -sample_fmt s32 -bits_per_raw_sample 24 -c:a flac -frame_size 8192 $O", 192000, 2},
    };
    TempDir dir;
    for (const Fixture& c : cases) {
        SCOPED_TRACE(c.label);
        std::string path = dir.path("in.flac");
        ASSERT_TRUE(testsupport::shell(testsupport::flacFixtureCommand(c.make, path)));
        std::vector<uint8_t> bytes = testsupport::readFile(path);
        ReadAll r = readAll(path);
        EXPECT_EQ("", r.constructorOut);
        ASSERT_TRUE(r.valid);
        EXPECT_EQ(std::max<int32_t>(16384, static_cast<int32_t>(testsupport::streamInfoMaxFrameSize(bytes))), r.window);
        expectFramesOf(bytes, testsupport::ffprobePackets(path), r);
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(c.channelMap, r.info.channelMap);
    }
}

TEST(FlacReader, OtherMetadataBlocksArePassedOver) {
    TempDir dir;
    std::string base = dir.path("base.flac");
    ASSERT_TRUE(testsupport::shell(testsupport::flacFixtureCommand("$S1 -ac 2 -ar 48000 -c:a flac $O", base)));
    const std::vector<uint8_t> original = testsupport::readFile(base);
    std::vector<uint8_t> picture(32 + 67, 0);  // type 3, "image/png"-less, a few bytes of data
    picture[3] = 3;
    std::vector<uint8_t> application = {'t', 'e', 's', 't', 1, 2, 3, 4, 5};
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string messages;
    };
    const Case cases[] = {
        {"picture", testsupport::withMetadataBlock(original, 6, picture), ""},
        {"application and padding",
         testsupport::withMetadataBlock(testsupport::withMetadataBlock(original, 2, application), 1,
                                        std::vector<uint8_t>(1000, 0)),
         ""},
        {"reserved type 7", testsupport::withMetadataBlock(original, 7, {1, 2, 3}),
         "[AST][WRN]FLAC file metadata type is reserved(type=7).\n"},
        {"reserved type 126, empty", testsupport::withMetadataBlock(original, 126, {}),
         "[AST][WRN]FLAC file metadata type is reserved(type=126).\n"},
    };
    const std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(base);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string path = dir.path("meta.flac");
        testsupport::writeFile(path, c.file);
        ReadAll r = readAll(path);
        EXPECT_EQ(c.messages, r.constructorOut);
        ASSERT_TRUE(r.valid);
        // The frames moved by the blocks' length.
        long shift = static_cast<long>(c.file.size() - original.size());
        std::vector<testsupport::Packet> moved = packets;
        for (testsupport::Packet& p : moved) p.position += shift;
        expectFramesOf(c.file, moved, r);
    }
}

// A frame bigger than the default window: found only because STREAMINFO raises the window.
TEST(FlacReader, LargeFramesNeedTheStreamInfoWindow) {
    TempDir dir;
    std::string path = dir.path("noise.flac");
    // Quiet noise, then loud noise in the last frame: the largest frame is the last one, since a
    // frame of exactly the window's size cannot be delimited (its successor would have to start
    // 16 bytes before the window's end).
    ASSERT_TRUE(testsupport::shell(testsupport::flacFixtureCommand(
        "ffmpeg -nostdin -y -f lavfi -i anoisesrc=duration=0.7:amplitude=0.05:seed=7 -f lavfi -i "
        "anoisesrc=duration=0.3:amplitude=1:seed=8 -filter_complex '[0][1]concat=n=2:v=0:a=1' -ac 2 -ar 48000 "
        "-c:a pcm_s24le $W && flac -s -f --lax -b 16384 -o $O $W",
        path)));
    std::vector<uint8_t> bytes = testsupport::readFile(path);
    const uint32_t maxFrameSize = testsupport::streamInfoMaxFrameSize(bytes);
    ASSERT_GT(maxFrameSize, 2 * 16384u);
    ReadAll r = readAll(path);
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(static_cast<int32_t>(maxFrameSize), r.window);
    expectFramesOf(bytes, testsupport::ffprobePackets(path), r);

    // Without the size (0 means unknown) the window stays at 16384 and the first frame does not fit.
    bytes[15] = bytes[16] = bytes[17] = 0;
    testsupport::writeFile(path, bytes);
    r = readAll(path);
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(16384, r.window);
    EXPECT_TRUE(r.frames.empty());
    size_t lookalikeLines = 0;
    EXPECT_EQ("[AST][ERR]Failed to find header, maybe file reading buffer is NOT enough.\n",
              testsupport::withoutLookalikeLines(r.out, lookalikeLines));

    // A size beyond the file is bounded by it, with the same short first read.
    bytes[15] = 0x7F;
    testsupport::writeFile(path, bytes);
    r = readAll(path);
    ASSERT_TRUE(r.valid);
    EXPECT_GT(r.window, 16384);
    EXPECT_LT(r.window, static_cast<int32_t>(bytes.size()));
    expectFramesOf(bytes, testsupport::ffprobePackets(path), r);
}

// A frame header: sync, fixed blocking, the given indexes, a frame number, extra fields, CRC-8.
std::vector<uint8_t> frameHeader(uint8_t blockIndex, uint8_t rateIndex, std::vector<uint8_t> number,
                                 std::vector<uint8_t> extra, bool variable = false, bool badCrc = false) {
    std::vector<uint8_t> h = {0xFF, static_cast<uint8_t>(variable ? 0xF9 : 0xF8),
                              static_cast<uint8_t>(blockIndex << 4 | rateIndex), 0x18};
    h.insert(h.end(), number.begin(), number.end());
    h.insert(h.end(), extra.begin(), extra.end());
    h.push_back(static_cast<uint8_t>(crc8(h.data(), static_cast<uint32_t>(h.size())) ^ (badCrc ? 1 : 0)));
    return h;
}

// STREAMINFO of a stereo 44.1 kHz stream, as the only metadata block.
std::vector<uint8_t> flacHead(uint32_t streamInfoRate = 44100) {
    std::vector<uint8_t> f = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34, 0x10, 0, 0x10, 0, 0, 0, 0, 0, 0, 0};
    f.push_back(static_cast<uint8_t>(streamInfoRate >> 12));
    f.push_back(static_cast<uint8_t>(streamInfoRate >> 4));
    f.push_back(static_cast<uint8_t>((streamInfoRate & 0xF) << 4 | 1 << 1));  // 2 channels
    f.push_back(0xF0);                                                          // 16 bits
    f.resize(42, 0);
    return f;
}

TEST(FlacReader, FrameHeaderFields) {
    struct Case {
        const char* label;
        std::vector<uint8_t> header;
        bool parses;
        uint32_t rate;
        std::string messages;
    };
    const Case cases[] = {
        {"rate from STREAMINFO", frameHeader(12, 0, {0x05}, {}), true, 22222, ""},
        {"rate 8 bits in kHz", frameHeader(12, 12, {0x05}, {44}), true, 44000, ""},
        {"rate 16 bits in Hz", frameHeader(12, 13, {0x05}, {0x2B, 0x11}), true, 11025, ""},
        {"rate 16 bits in tens", frameHeader(12, 14, {0x05}, {0x0E, 0xC4}), true, 37800, ""},
        {"rate 88.2k", frameHeader(12, 1, {0x05}, {}), true, 88200, ""},
        {"rate 96k", frameHeader(12, 11, {0x05}, {}), true, 96000, ""},
        {"rate index 15", frameHeader(12, 15, {0x05}, {}), true, 0xFFFFFFFFu, ""},
        {"8-bit block size and rate", frameHeader(6, 12, {0x05}, {99, 8}), true, 8000, ""},
        {"16-bit block size, two-byte number", frameHeader(7, 9, {0xC2, 0x80}, {0x3F, 0xFF}), true, 44100, ""},
        {"six-byte number, fixed", frameHeader(12, 10, {0xFC, 0x80, 0x80, 0x80, 0x80, 0x80}, {}), true, 48000, ""},
        {"seven-byte number, variable", frameHeader(12, 10, {0xFE, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, {}, true),
         true, 48000, ""},
        {"seven-byte number, fixed", frameHeader(12, 10, {0xFE, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, {}), false, 0,
         "[AST][ERR]FLAC file UTF-8 string error(mFrameHeader.utf8Str[0]=0xFE).\n"},
        {"number byte FF", frameHeader(12, 10, {0xFF}, {}, true), false, 0,
         "[AST][ERR]FLAC file UTF-8 string error(mFrameHeader.utf8Str[0]=0xFF).\n"},
        {"continuation byte taken as one byte", frameHeader(12, 10, {0x80}, {}), true, 48000, ""},
        {"bad CRC-8", frameHeader(12, 10, {0x05}, {}, false, true), false, 0,
         "[AST][ERR]FLAC file CRC-8 check error(0x" + std::string("%02X") + " != 0x%02X).\n"},
        {"bad sync", {0xFF, 0xF4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0,
         "[AST][ERR]FLAC file sync word error(syncWord=3FFD).\n"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        // The header as the first frame, then room for the window's search.
        std::vector<uint8_t> file = flacHead(22222);
        file.insert(file.end(), c.header.begin(), c.header.end());
        file.resize(file.size() + 64, 0);
        std::string path = dir.path("h.flac");
        testsupport::writeFile(path, file);
        FlacAudioDataReader* reader = nullptr;
        std::string out = captureStdout([&] { reader = new FlacAudioDataReader(path.c_str()); });
        EXPECT_EQ(!c.parses, reader->isInvalid());
        if (c.parses) {
            EXPECT_EQ("", out);
            EXPECT_EQ(c.rate, reader->getAudioInfo()->sampleFrequency);
            EXPECT_EQ(2u, reader->getAudioInfo()->channelMap);
            // The header's own length decides where the search starts: a copy of the header
            // right behind it is the next frame, whatever the header's length.
            std::vector<uint8_t> twice = flacHead(22222);
            twice.insert(twice.end(), c.header.begin(), c.header.end());
            twice.insert(twice.end(), c.header.begin(), c.header.end());
            twice.resize(twice.size() + 64, 0);
            testsupport::writeFile(path, twice);
            delete reader;
            out = captureStdout([&] {
                reader = new FlacAudioDataReader(path.c_str());
                EXPECT_EQ(static_cast<int32_t>(c.header.size()), reader->readFrame()->length);
            });
            EXPECT_EQ("[AST][INF]Reached end of data:" + std::to_string(2 * c.header.size() + 64) + ".\n", out);
        } else if (c.messages.find('%') != std::string::npos) {
            uint8_t computed = crc8(c.header.data(), static_cast<uint32_t>(c.header.size() - 1));
            char text[96];
            snprintf(text, sizeof text, c.messages.c_str(), computed, computed ^ 1);
            EXPECT_EQ(text, out);
        } else {
            EXPECT_EQ(c.messages, out);
        }
        delete reader;
    }
}

TEST(FlacReader, BrokenFilesFailInTheConstructor) {
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string messages;
    };
    const std::vector<uint8_t> frame = frameHeader(12, 9, {0}, {});
    auto withFrame = [&](std::vector<uint8_t> head) {
        head.insert(head.end(), frame.begin(), frame.end());
        head.resize(head.size() + 40, 0);
        return head;
    };
    std::vector<uint8_t> invalidFirst = withFrame(flacHead());
    invalidFirst[4] = 0xFF;  // last, type 127
    std::vector<uint8_t> invalidSecond = withFrame(flacHead());
    invalidSecond[4] = 0;
    invalidSecond.insert(invalidSecond.begin() + 42, {0xFF, 0, 0, 0});
    std::vector<uint8_t> longInfo = flacHead();
    longInfo[5] = 0x10;  // 1 MiB of STREAMINFO claimed
    std::vector<uint8_t> shortInfo = withFrame(flacHead());
    shortInfo[7] = 20;
    shortInfo.erase(shortInfo.begin() + 28, shortInfo.begin() + 42);
    std::vector<uint8_t> cutInHeader = withFrame(flacHead());
    cutInHeader.resize(50);
    const Case cases[] = {
        {"magic", {'f', 'L', 'a', 'c', 0, 0, 0, 0}, "[AST][ERR]FLAC file magic (fLaC) error(magic=664C6163).\n"
                                                   "[AST][ERR]Failed to parse magic header.\n"},
        {"three bytes", {'f', 'L', 'a'}, "[AST][INF]Reached end of data:3.\n[AST][ERR]Failed to parse magic header.\n"},
        {"metadata type 127 first", invalidFirst,
         "[AST][ERR]FLAC file metadata type error(type=127).\n[AST][ERR]Failed to parse meta header.\n"},
        {"metadata type 127 behind STREAMINFO", invalidSecond,
         "[AST][ERR]FLAC file metadata type error(type=127).\n[AST][ERR]Failed to parse meta header.\n"
         "[AST][ERR]FLAC file sync word error(syncWord=3FC0).\n"},
        {"STREAMINFO longer than the file", longInfo, "[AST][INF]Reached end of data:34.\n"},
        {"STREAMINFO of 20 bytes", shortInfo, "[AST][ERR]FLAC file STREAMINFO is too short(length=20).\n"},
        {"no last metadata block, no frame", {'f', 'L', 'a', 'C', 0x01, 0, 0, 2, 0xAA, 0xBB},
         "[AST][INF]Reached end of data:0.\n[AST][INF]Reached end of data:0.\n"},
        {"cut in the first frame header", cutInHeader, "[AST][INF]Reached end of data:8.\n"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string path = dir.path("bad.flac");
        testsupport::writeFile(path, c.file);
        std::string out = captureStdout([&] { EXPECT_TRUE(FlacAudioDataReader(path.c_str()).isInvalid()); });
        EXPECT_EQ(c.messages, out);
    }
    std::string out = captureStdout([] { EXPECT_TRUE(FlacAudioDataReader("/nonexistent/a.flac").isInvalid()); });
    EXPECT_EQ("[AST][ERR]Failed to open file '/nonexistent/a.flac'.\n", out);
}

TEST(FlacReader, FalseSyncInsideAudioDataIsPassedOver) {
    TempDir dir;
    std::string path = dir.path("in.flac");
    ASSERT_TRUE(testsupport::shell(testsupport::flacFixtureCommand("$S1 -ac 2 -ar 44100 -c:a flac $O", path)));
    std::vector<uint8_t> bytes = testsupport::readFile(path);
    const std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(path);
    ASSERT_GT(packets.size(), 3u);
    // A valid-looking header with a wrong CRC-8, and one with a coded number no frame can have.
    std::vector<uint8_t> lookalike = frameHeader(12, 9, {0x01}, {}, false, true);
    const long at = packets[1].position + 100;
    std::copy(lookalike.begin(), lookalike.end(), bytes.begin() + at);
    const uint8_t number[] = {0xFF, 0xF8, 0xC9, 0x18, 0xFF};
    std::copy(number, number + 5, bytes.begin() + packets[2].position + 50);
    testsupport::writeFile(path, bytes);

    ReadAll r = readAll(path);
    ASSERT_TRUE(r.valid);
    expectFramesOf(bytes, packets, r);
    const uint8_t computed = crc8(lookalike.data(), static_cast<uint32_t>(lookalike.size() - 1));
    char crcLine[80];
    snprintf(crcLine, sizeof crcLine, "[AST][ERR]FLAC file CRC-8 check error(0x%02X != 0x%02X).\n", computed,
             computed ^ 1);
    EXPECT_NE(std::string::npos, r.out.find(crcLine));
    EXPECT_NE(std::string::npos, r.out.find("[AST][ERR]FLAC file UTF-8 string error(mFrameHeader.utf8Str[0]=0xFF).\n"));
}

TEST(FlacReader, TruncatedFileLosesOnlyItsCutFrame) {
    TempDir dir;
    std::string path = dir.path("in.flac");
    ASSERT_TRUE(
        testsupport::shell(testsupport::flacFixtureCommand("$S1 -ac 1 -ar 32000 $W && flac -s -f -b 1152 -o $O $W", path)));
    std::vector<uint8_t> bytes = testsupport::readFile(path);
    std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(path);
    ASSERT_GT(packets.size(), 10u);
    // Cut in the middle of frame 10: frames 0 to 9 come out, 10 has no header behind it.
    bytes.resize(static_cast<size_t>(packets[10].position + packets[10].size / 2));
    packets.resize(11);
    testsupport::writeFile(path, bytes);
    ReadAll r = readAll(path);
    ASSERT_TRUE(r.valid);
    expectFramesOf(bytes, packets, r);
    EXPECT_EQ(10u, r.frames.size());
}

}  // namespace
