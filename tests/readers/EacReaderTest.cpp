// AC-3 / E-AC-3 reader on hand-made headers: frame lengths and rates, refused headers, a cut
// last frame. Real encoders' streams are covered end to end.
#include <gtest/gtest.h>

#include "EacAudioDataReader.h"
#include "TestSupport.h"

using testsupport::captureStdout;

namespace {

const std::string kParseFailed = "[AST][ERR]Failed to parse EAC fixed header.\n";

// Sync, crc1, rate index, frame size index, bit stream id.
std::vector<uint8_t> ac3(int rate, int size, int id = 8) {
    return {0x0B, 0x77, 0x12, 0x34, static_cast<uint8_t>(rate << 6 | size), static_cast<uint8_t>(id << 3)};
}
// Sync, independent substream 0, frame size, rate index, second rate index or block count, bsid 16.
std::vector<uint8_t> eac3(int frameSize, int rate, int rate2 = 3) {
    return {0x0B, 0x77, static_cast<uint8_t>(frameSize >> 8), static_cast<uint8_t>(frameSize),
            static_cast<uint8_t>(rate << 6 | rate2 << 4 | 4), 16 << 3};
}

TEST(EacReader, HeadersDecideLengthRateOrRefusal) {
    struct Case {
        const char* label;
        std::vector<uint8_t> header;
        size_t fileSize;
        bool opens;
        std::string opening;  // the constructor's lines
        std::string reading;  // the first readFrame's lines
        int32_t length;
        uint32_t rate;
    };
    const std::string id9 = "[AST][ERR]EAC file bit stream id error(bitStreamId=9).\n";
    const std::string sync = "[AST][ERR]EC3 file sync word error(syncWord=B78).\n";
    std::vector<uint8_t> badSync = ac3(0, 8);
    badSync[1] = 0x78;
    const Case cases[] = {
        {"ac3 48k 384k", ac3(0, 28), 3000, true, "", "", 1536, 48000},
        {"ac3 44.1k 384k padded", ac3(1, 29), 3000, true, "", "", 1672, 44100},
        {"ac3 44.1k 32k", ac3(1, 0), 3000, true, "", "", 138, 44100},
        {"ac3 32k 640k, bsid 0", ac3(2, 37, 0), 4000, true, "", "", 3840, 32000},
        {"eac3 767", eac3(767, 0), 3000, true, "", "", 1536, 48000},
        {"eac3 header only", eac3(2, 2), 3000, true, "", "", 6, 32000},
        {"eac3 22.05k", eac3(100, 3, 1), 3000, true, "", "", 202, 22050},
        {"eac3 reserved second rate", eac3(100, 3, 3), 3000, true, "", "", 202, 0xFFFFFFFFu},
        {"frame size index 38", ac3(0, 38), 3000, true, "", "[AST][ERR]Invalid frame length(-1).\n", 0, 48000},
        {"reserved rate", ac3(3, 8), 3000, true, "", "[AST][ERR]Invalid frame length(-2).\n", 0, 0xFFFFFFFFu},
        {"eac3 frame size 1", eac3(1, 0), 3000, true, "", "[AST][ERR]Invalid frame length(4).\n", 0, 48000},
        {"last frame cut", ac3(0, 28), 1000, true, "", "[AST][INF]Reached end of data:994.\n", 1000, 48000},
        {"bsid 9 before the sync word", {0, 0, 0, 0, 0, 9 << 3}, 3000, false, id9, id9 + kParseFailed, 0, 0},
        {"bsid 10", ac3(0, 8, 10), 3000, false, "[AST][ERR]EAC file bit stream id error(bitStreamId=10).\n",
         "[AST][ERR]EAC file bit stream id error(bitStreamId=10).\n" + kParseFailed, 0, 0},
        {"bsid 17", ac3(0, 8, 17), 3000, false, "[AST][ERR]EAC file bit stream id error(bitStreamId=17).\n",
         "[AST][ERR]EAC file bit stream id error(bitStreamId=17).\n" + kParseFailed, 0, 0},
        {"sync 0B78", badSync, 3000, false, sync, sync + kParseFailed, 0, 0},
        {"five bytes", ac3(0, 8), 5, false, "[AST][INF]Reached end of data:5.\n",
         "[AST][INF]Reached end of data:5.\n" + kParseFailed, 0, 0},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> file = c.header;
        file.resize(c.fileSize, 0x5A);
        const std::string path = dir.path("h.ac3");
        testsupport::writeFile(path, file);
        EacAudioDataReader* reader = nullptr;
        EXPECT_EQ(c.opening, captureStdout([&] { reader = new EacAudioDataReader(path.c_str()); }));
        EXPECT_EQ(!c.opens, reader->isInvalid());
        FrameBuffer* f = nullptr;
        EXPECT_EQ(c.reading, captureStdout([&] { f = reader->readFrame(); }));
        ASSERT_EQ(c.length, f->length);
        EXPECT_TRUE(std::equal(f->data, f->data + f->length, file.begin()));
        if (c.opens) {
            EXPECT_EQ(c.rate, reader->getAudioInfo()->sampleFrequency);
        }
        EXPECT_EQ(0u, reader->getAudioInfo()->channelMap);
        delete reader;
    }
    EXPECT_EQ("[AST][ERR]Failed to open file '/nonexistent/x.ac3'.\n",
              captureStdout([] { EXPECT_TRUE(EacAudioDataReader("/nonexistent/x.ac3").isInvalid()); }));
}

}  // namespace
