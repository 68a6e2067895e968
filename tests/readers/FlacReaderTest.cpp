// FLAC reader on hand-made files: frame header fields, refused files and the read window. Real
// encoders' files (rates in kHz and Hz, 16-bit block sizes, long streams, the window raised by
// STREAMINFO or grown without it, a metadata block of type 127) are covered end to end.
#include <gtest/gtest.h>

#include "FieldCodec.h"
#include "FlacAudioDataReader.h"
#include "ReadAll.h"

namespace {

const std::string kNoHeader = err("Failed to find header, maybe file reading buffer is NOT enough.");

// Sync (fixed or variable blocking), block size and rate codes, stereo 16-bit, the coded number,
// the extra size and rate fields, and the CRC-8 (or a wrong one).
Bytes frameHeader(uint8_t blockCode, uint8_t rateCode, const Bytes& number, const Bytes& extra = {},
                  bool variable = false, bool badCrc = false) {
    Bytes h = cat({{0xFF, uint8_t(variable ? 0xF9 : 0xF8), uint8_t(blockCode << 4 | rateCode), 0x18}, number, extra});
    h.push_back(uint8_t(crc8(h.data(), uint32_t(h.size())) ^ (badCrc ? 1 : 0)));
    return h;
}

// "fLaC" and a stereo 16-bit STREAMINFO, the only metadata block.
Bytes flacHead(uint32_t rate, uint32_t maxFrameSize = 0) {
    Bytes f = cat({str("fLaC"),
                   {0x80, 0, 0, 34, 0x10, 0, 0x10, 0, 0, 0, 0},
                   be(maxFrameSize, 3),
                   be(rate >> 4, 2),
                   {uint8_t((rate & 0xF) << 4 | 1 << 1), 0xF0}});
    f.resize(42, 0);
    return f;
}

// The header twice behind the metadata: the second copy must end the first frame, and the
// second frame runs to the end of the file.
Bytes twice(const Bytes& header) {
    Bytes f = cat({flacHead(22222), header, header});
    f.resize(f.size() + 40, 0);
    return f;
}

TEST(FlacReader, HeadersMetadataAndWindow) {
    const Bytes badCrc = frameHeader(12, 10, {5}, {}, false, true), seven = {0xFE, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
    char crcLine[80];
    snprintf(crcLine, sizeof crcLine, "[AST][ERR]FLAC file CRC-8 check error(0x%02X != 0x%02X).\n", badCrc[5] ^ 1,
             badCrc[5]);
    // A metadata block of type 127 is refused end to end.
    Bytes longInfo = flacHead(44100), shortInfo = twice(frameHeader(12, 9, {0}));
    const Bytes cutHeader(shortInfo.begin(), shortInfo.begin() + 50);
    longInfo[5] = 0x10;  // a megabyte of STREAMINFO claimed, 34 bytes there
    shortInfo[7] = 20;
    shortInfo.erase(shortInfo.begin() + 28, shortInfo.begin() + 42);
    // A frame of 20006 bytes behind a STREAMINFO whose maximum frame size is too small: the window
    // is not grown. Real files with the maximum given, or without it, are covered end to end.
    Bytes tooSmall = cat({flacHead(44100, 16000), frameHeader(12, 9, {0})});
    tooSmall.resize(tooSmall.size() + 20000, 0);
    tooSmall = cat({tooSmall, frameHeader(12, 9, {1}), Bytes(100, 0)});
    const struct {
        const char* label;
        Bytes file;
        uint32_t rate;    // 0: the file does not open
        std::string out;  // empty: the two frames, then the end
    } cases[] = {
        {"rate from STREAMINFO", twice(frameHeader(12, 0, {5})), 22222, ""},
        {"rate in tens of Hz", twice(frameHeader(12, 14, {5}, {0x0E, 0xC4})), 37800, ""},
        {"rate code 15", twice(frameHeader(12, 15, {5})), 0xFFFFFFFFu, ""},
        {"8-bit block size and rate", twice(frameHeader(6, 12, {5}, {99, 8})), 8000, ""},
        {"six-byte number, fixed", twice(frameHeader(12, 10, {0xFC, 0x80, 0x80, 0x80, 0x80, 0x80})), 48000, ""},
        {"seven-byte number, variable", twice(frameHeader(12, 10, seven, {}, true)), 48000, ""},
        {"continuation byte read as a one-byte number", twice(frameHeader(12, 10, {0x80})), 48000, ""},
        {"maximum frame size too small", tooSmall, 44100, kNoHeader},
        {"seven-byte number, fixed", twice(frameHeader(12, 10, seven)), 0,
         err("FLAC file UTF-8 string error(mFrameHeader.utf8Str[0]=0xFE).")},
        {"number byte FF", twice(frameHeader(12, 10, {0xFF}, {}, true)), 0,
         err("FLAC file UTF-8 string error(mFrameHeader.utf8Str[0]=0xFF).")},
        {"bad CRC-8", twice(badCrc), 0, crcLine},
        {"bad sync", twice({0xFF, 0xF4, 0, 0, 0, 0}), 0, err("FLAC file sync word error(syncWord=3FFD).")},
        {"magic", cat({str("fLac"), Bytes(4, 0)}), 0,
         err("FLAC file magic (fLaC) error(magic=664C6163).") + err("Failed to parse magic header.")},
        {"three bytes", str("fLa"), 0, endOfData(3) + err("Failed to parse magic header.")},
        {"STREAMINFO longer than the file", longInfo, 0, endOfData(34)},
        {"STREAMINFO of 20 bytes", shortInfo, 0, err("FLAC file STREAMINFO is too short(length=20).")},
        {"cut in the first frame header", cutHeader, 0, endOfData(8)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<FlacAudioDataReader>(c.file);
        EXPECT_EQ(c.rate == 0, r.invalid);
        const size_t header = (c.file.size() - 82) / 2;
        EXPECT_EQ(c.out.empty() ? endOfData(c.file.size() - 42) + endOfData(0) + endOfData(0) : c.out, r.out());
        EXPECT_EQ(c.out.empty() ? Lengths({header, header + 40}) : Lengths(), r.lengths());
        if (c.rate == 0) continue;
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(2u, r.info.channelMap);
    }
}

}  // namespace
