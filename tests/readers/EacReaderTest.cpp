// AC-3 / E-AC-3 reader: real encoder output cut exactly where ffmpeg's demuxer cuts it, and
// hand-made headers for the frame-size arithmetic and the refusals.
#include <gtest/gtest.h>

#include "EacAudioDataReader.h"
#include "Reference.h"
#include "TestSupport.h"

using testsupport::captureStdout;
using testsupport::TempDir;

namespace {

struct ReadAll {
    std::vector<std::vector<uint8_t>> frames;
    std::string out;  // from the first readFrame on
    bool constructed = false;
    bool invalidAtEnd = false;
    AudioInfo info{};
};

ReadAll readAll(const std::string& path) {
    ReadAll r;
    EacAudioDataReader* reader = nullptr;
    std::string constructorOut = captureStdout([&] { reader = new EacAudioDataReader(path.c_str()); });
    EXPECT_EQ("", constructorOut);
    r.constructed = !reader->isInvalid();
    r.out = captureStdout([&] {
        for (FrameBuffer* f = reader->readFrame(); f->length > 0; f = reader->readFrame())
            r.frames.emplace_back(f->data, f->data + f->length);
    });
    r.invalidAtEnd = reader->isInvalid();
    r.info = *reader->getAudioInfo();
    delete reader;
    return r;
}

const char kEnd[] = "[AST][INF]Reached end of data:0.\n[AST][ERR]Failed to parse EAC fixed header.\n";

TEST(EacReader, RealStreamsAreCutIntoTheirSyncFrames) {
    struct Case {
        const char* label;
        const char* args;
        uint32_t rate;
    };
    const Case cases[] = {
        {"ac3 48k stereo 384k", "-ar 48000 -ac 2 -c:a ac3 -b:a 384k -f ac3", 48000},
        {"ac3 44.1k 5.1 448k", "-ar 44100 -ac 6 -c:a ac3 -b:a 448k -f ac3", 44100},
        {"ac3 32k mono 96k", "-ar 32000 -ac 1 -c:a ac3 -b:a 96k -f ac3", 32000},
        {"eac3 48k 5.1 640k", "-ar 48000 -ac 6 -c:a eac3 -b:a 640k -f eac3", 48000},
        {"eac3 44.1k stereo 192k", "-ar 44100 -ac 2 -c:a eac3 -b:a 192k -f eac3", 44100},
        {"eac3 32k mono 64k", "-ar 32000 -ac 1 -c:a eac3 -b:a 64k -f eac3", 32000},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string path = dir.path("in.ac3");
        ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:duration=0.5 " +
                                       std::string(c.args) + " '" + path + "'"));
        std::vector<uint8_t> bytes = testsupport::readFile(path);
        std::vector<testsupport::Packet> packets = testsupport::ffprobePackets(path);
        ASSERT_GT(packets.size(), 5u);

        ReadAll r = readAll(path);
        EXPECT_TRUE(r.constructed);
        ASSERT_EQ(packets.size(), r.frames.size());
        for (size_t i = 0; i < packets.size(); ++i) {
            const auto from = bytes.begin() + packets[i].position;
            ASSERT_TRUE(std::vector<uint8_t>(from, from + packets[i].size) == r.frames[i]) << "frame " << i;
        }
        EXPECT_EQ(kEnd, r.out);
        EXPECT_TRUE(r.invalidAtEnd);
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(0u, r.info.channelMap);
    }
}

// Six header bytes: AC-3 (sync, crc1, rate index, frame size code, bsid 8) or E-AC-3
// (sync, stream type 0, substream 0, frame size, rate index, second rate index or block
// count, coding mode 2, no LFE, bsid 16).
std::vector<uint8_t> ac3Header(int rateIndex, int frameSizeIndex, int bitStreamId = 8) {
    return {0x0B, 0x77, 0x12, 0x34, static_cast<uint8_t>(rateIndex << 6 | frameSizeIndex),
            static_cast<uint8_t>(bitStreamId << 3)};
}
std::vector<uint8_t> eac3Header(int frameSize, int rateIndex, int rateIndex2 = 3) {
    return {0x0B, 0x77, static_cast<uint8_t>(frameSize >> 8 & 7), static_cast<uint8_t>(frameSize),
            static_cast<uint8_t>(rateIndex << 6 | rateIndex2 << 4 | 2 << 1), 16 << 3};
}

TEST(EacReader, HeadersGiveFrameLengthAndRate) {
    struct Case {
        const char* label;
        std::vector<uint8_t> header;
        int32_t length;
        uint32_t rate;
    };
    const Case cases[] = {
        {"ac3 48k 384k", ac3Header(0, 28), 1536, 48000},
        {"ac3 44.1k 384k padded", ac3Header(1, 29), 1672, 44100},
        {"ac3 44.1k 32k", ac3Header(1, 0), 138, 44100},
        {"ac3 32k 640k", ac3Header(2, 37), 3840, 32000},
        {"ac3 bsid 0", ac3Header(0, 0, 0), 128, 48000},
        {"eac3 767", eac3Header(767, 0), 1536, 48000},
        {"eac3 header only", eac3Header(2, 2), 6, 32000},
        {"eac3 largest 44.1k", eac3Header(2047, 1), 4096, 44100},
        {"eac3 half rate 22.05k", eac3Header(100, 3, 1), 202, 22050},
        {"eac3 reserved half rate", eac3Header(100, 3, 3), 202, 0xFFFFFFFFu},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> file = c.header;
        file.resize(static_cast<size_t>(c.length) * 2, 0x5A);  // a second frame's worth behind it
        std::copy(c.header.begin(), c.header.end(), file.begin() + c.length);
        std::string path = dir.path("h.ec3");
        testsupport::writeFile(path, file);
        std::string out = captureStdout([&] {
            EacAudioDataReader reader(path.c_str());
            EXPECT_FALSE(reader.isInvalid());
            EXPECT_EQ(c.rate, reader.getAudioInfo()->sampleFrequency);
            EXPECT_EQ(c.length, reader.getFrameLength());
            FrameBuffer* f = reader.readFrame();
            ASSERT_EQ(c.length, f->length);
            EXPECT_TRUE(std::equal(f->data, f->data + f->length, file.begin()));
            EXPECT_EQ(c.length, reader.readFrame()->length);
        });
        EXPECT_EQ("", out);
    }
}

TEST(EacReader, RefusedHeadersEndTheStream) {
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        bool constructed;
        std::string messages;  // of the constructor, or of the first readFrame when it constructs
        uint32_t rate;         // when it constructs
    };
    std::vector<uint8_t> badSync = ac3Header(0, 8);
    badSync[1] = 0x78;
    std::vector<uint8_t> zeroSync = eac3Header(100, 0);
    zeroSync[0] = zeroSync[1] = 0;
    const Case cases[] = {
        {"bsid 9", ac3Header(0, 8, 9), false, "[AST][ERR]EAC file bit stream id error(bitStreamId=9).\n", 0},
        {"bsid 10 before a bad sync", {0, 0, 0, 0, 0, 10 << 3}, false,
         "[AST][ERR]EAC file bit stream id error(bitStreamId=10).\n", 0},
        {"bsid 17", ac3Header(0, 8, 17), false, "[AST][ERR]EAC file bit stream id error(bitStreamId=17).\n", 0},
        {"bsid 31", ac3Header(0, 8, 31), false, "[AST][ERR]EAC file bit stream id error(bitStreamId=31).\n", 0},
        {"sync 0B78", badSync, false, "[AST][ERR]EC3 file sync word error(syncWord=B78).\n", 0},
        {"sync 0000", zeroSync, false, "[AST][ERR]EC3 file sync word error(syncWord=000).\n", 0},
        {"frame size index 38", ac3Header(0, 38), true, "[AST][ERR]Invalid frame length(-1).\n", 48000},
        {"frame size index 63", ac3Header(1, 63), true, "[AST][ERR]Invalid frame length(-1).\n", 44100},
        {"reserved rate", ac3Header(3, 8), true, "[AST][ERR]Invalid frame length(-2).\n", 0xFFFFFFFFu},
        {"eac3 frame size 1", eac3Header(1, 0), true, "[AST][ERR]Invalid frame length(4).\n", 48000},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> file = c.file;
        file.resize(64, 0);
        std::string path = dir.path("bad.ac3");
        testsupport::writeFile(path, file);
        EacAudioDataReader* reader = nullptr;
        std::string out = captureStdout([&] { reader = new EacAudioDataReader(path.c_str()); });
        EXPECT_EQ(!c.constructed, reader->isInvalid());
        if (c.constructed) {
            EXPECT_EQ("", out);
            out = captureStdout([&] { EXPECT_EQ(0, reader->readFrame()->length); });
            EXPECT_FALSE(reader->isInvalid()) << "the header parsed; only its length is refused";
        } else {
            // The feed loop would report the same header once more, and end.
            std::string again = captureStdout([&] { EXPECT_EQ(0, reader->readFrame()->length); });
            EXPECT_EQ(c.messages + "[AST][ERR]Failed to parse EAC fixed header.\n", again);
        }
        EXPECT_EQ(c.messages, out);
        if (c.constructed) {
            EXPECT_EQ(c.rate, reader->getAudioInfo()->sampleFrequency);
        }
        delete reader;
    }
}

TEST(EacReader, CutLastFrameIsHandedOutWithWhatIsThere) {
    TempDir dir;
    std::string path = dir.path("cut.ac3");
    ASSERT_TRUE(testsupport::shell("ffmpeg -nostdin -y -f lavfi -i sine=duration=0.2 -ar 48000 -c:a ac3 -b:a 192k '" +
                                   path + "'"));
    std::vector<uint8_t> bytes = testsupport::readFile(path);
    ASSERT_EQ(0u, bytes.size() % 768);
    for (size_t cut : {size_t{100}, size_t{762}, size_t{765}}) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> file(bytes.begin(), bytes.end() - static_cast<long>(cut));
        testsupport::writeFile(path, file);
        ReadAll r = readAll(path);
        size_t whole = bytes.size() / 768 - 1;
        std::string tail = 768 - cut >= 6 ? "[AST][INF]Reached end of data:" + std::to_string(768 - cut - 6) + ".\n"
                                          : "[AST][INF]Reached end of data:" + std::to_string(768 - cut) + ".\n"
                                            "[AST][ERR]Failed to parse EAC fixed header.\n";
        if (768 - cut >= 6) {
            ASSERT_EQ(whole + 1, r.frames.size());
            EXPECT_TRUE(std::equal(r.frames.back().begin(), r.frames.back().end(), file.end() - (768 - cut)));
            EXPECT_EQ(tail + kEnd, r.out);
        } else {
            EXPECT_EQ(whole, r.frames.size());
            EXPECT_EQ(tail, r.out);
        }
    }
}

TEST(EacReader, MissingShortAndEmptyFiles) {
    std::string out = captureStdout([] { EXPECT_TRUE(EacAudioDataReader("/nonexistent/x.ac3").isInvalid()); });
    EXPECT_EQ("[AST][ERR]Failed to open file '/nonexistent/x.ac3'.\n", out);
    TempDir dir;
    testsupport::writeFile(dir.path("e.ac3"), {});
    out = captureStdout([&] { EXPECT_TRUE(EacAudioDataReader(dir.path("e.ac3").c_str()).isInvalid()); });
    EXPECT_EQ("[AST][INF]Reached end of data:0.\n", out);
    testsupport::writeFile(dir.path("5.ac3"), {0x0B, 0x77, 0, 0, 0});
    out = captureStdout([&] { EXPECT_TRUE(EacAudioDataReader(dir.path("5.ac3").c_str()).isInvalid()); });
    EXPECT_EQ("[AST][INF]Reached end of data:5.\n", out);
}

}  // namespace
