// AC-3 / E-AC-3 headers that real encoders' streams (covered end to end) do not show.
#include <gtest/gtest.h>

#include "EacAudioDataReader.h"
#include "ReadAll.h"

namespace {

// Sync, crc1, rate index, frame size index, bit stream id.
Bytes ac3(int rate, int size, int id = 8) {
    return {0x0B, 0x77, 0x12, 0x34, uint8_t(rate << 6 | size), uint8_t(id << 3)};
}
// Sync, independent substream 0, frame size, rate index, second rate index or block count, bsid 16.
Bytes eac3(int frameSize, int rate, int rate2 = 3) {
    return {0x0B, 0x77, uint8_t(frameSize >> 8), uint8_t(frameSize), uint8_t(rate << 6 | rate2 << 4 | 4), 16 << 3};
}

TEST(EacReader, HeadersDecideLengthRateOrRefusal) {
    const std::string parseFailed = err("Failed to parse EAC fixed header.");
    Bytes badSync = ac3(0, 8);
    badSync[1] = 0x78;
    const struct {
        const char* label;
        Bytes header;
        size_t length;  // of the one frame; 0: the file does not open
        std::string out;
        uint32_t rate;
    } cases[] = {
        {"ac3 44.1k, odd size index adds a word", ac3(1, 29), 1672, "", 44100},
        {"ac3 32k, last size, bsid 0", ac3(2, 37, 0), 3840, "", 32000},
        {"eac3 header only", eac3(2, 2), 6, "", 32000},
        {"eac3 22.05k", eac3(100, 3, 1), 202, "", 22050},
        {"eac3 reserved second rate", eac3(100, 3, 3), 202, "", 0xFFFFFFFFu},
        {"eac3 frame size 1", eac3(1, 0), 6, err("Invalid frame length(4)."), 48000},
        {"ac3 reserved rate", ac3(3, 8), 256, err("Invalid frame length(-2)."), 0xFFFFFFFFu},
        {"bsid 9 before the sync word", Bytes{0, 0, 0, 0, 0, 9 << 3}, 0,
         err("EAC file bit stream id error(bitStreamId=9)."), 0},
        {"bsid 10", ac3(0, 8, 10), 0, err("EAC file bit stream id error(bitStreamId=10)."), 0},
        {"bsid 17", ac3(0, 8, 17), 0, err("EAC file bit stream id error(bitStreamId=17)."), 0},
        {"sync 0B78", badSync, 0, err("EC3 file sync word error(syncWord=B78)."), 0},
        {"five bytes", Bytes(5, 0x0B), 0, endOfData(5), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes file = c.header;
        file.resize(c.length ? c.length : file.size(), 0x5A);
        ReadAll r = readAll<EacAudioDataReader>(file);
        EXPECT_EQ(c.length == 0, r.invalid);
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(0u, r.info.channelMap);
        // A frame that opens and is whole comes out, and nothing behind it.
        const bool whole = c.length > 0 && c.out.empty();
        EXPECT_EQ(whole ? endOfData(0) + parseFailed : c.out, r.out());
        EXPECT_EQ(whole ? Lengths({c.length}) : Lengths(), r.lengths());
        EXPECT_TRUE(r.handedFrom(file, 0));
    }
}

}  // namespace
