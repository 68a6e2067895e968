// FLAC reader on hand-made files: frame header fields, refused files and the read window. Real
// encoders' files (rates in kHz and Hz, 16-bit block sizes, long streams, the window raised by
// STREAMINFO or grown without it, a metadata block of type 127) are covered end to end.
#include <gtest/gtest.h>

#include <algorithm>

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

// The end of a stream: the call after the last frame, and the count of refused headers.
std::string streamEnd(int refused) {
    return endOfData(0) + endOfData(0) + inf("FLAC frame headers refused by frame number or CRC-16: " +
                                             std::to_string(refused) + ".");
}

// `header` with its coded number's last byte one up and the CRC-8 made again: the next frame's.
Bytes next(Bytes header) {
    header.pop_back();
    size_t ones = 0;
    while (ones < 8 && (header[4] << ones & 0x80)) ++ones;
    ++header[std::min(4 + (ones > 1 ? ones - 1 : 0), header.size() - 1)];
    header.push_back(crc8(header.data(), uint32_t(header.size())));
    return header;
}

// Behind the metadata, a frame of `header` and `body` closed by its CRC-16 (or a wrong one), then
// `second` and 40 bytes, which run to the end of the file.
Bytes twice(const Bytes& header, const Bytes& body = {}, Bytes second = {}, bool badCrc = false) {
    Bytes frame = cat({header, body});
    const uint16_t crc = uint16_t(crc16(frame.data(), uint32_t(frame.size())) ^ (badCrc ? 1 : 0));
    Bytes f = cat({flacHead(22222), frame, {uint8_t(crc >> 8), uint8_t(crc)}, second.empty() ? next(header) : second});
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
    const Bytes h5 = frameHeader(12, 9, {5}), behindId3 = twice(h5);
    // Inside the frame, headers of the frame after next and of the frame itself: both refused.
    const Bytes lookalikes = cat({frameHeader(12, 9, {7}), h5});
    const std::string damaged = "[AST][WRN]FLAC frame 5 is damaged: no header behind it closes its CRC-16.\n";
    Bytes noSize = frameHeader(12, 9, {0});
    noSize[3] &= 0xF1;  // sample size code 0
    noSize[5] = crc8(noSize.data(), 5);
    Bytes noStreamInfo = twice(noSize);
    noStreamInfo.erase(noStreamInfo.begin(), noStreamInfo.begin() + 42);
    const struct {
        const char* label;
        Bytes file;
        uint32_t rate;    // 0: the file does not open
        std::string out;  // empty: the two frames, then the end
        Lengths lengths = {};
    } cases[] = {
        {"rate from STREAMINFO", twice(frameHeader(12, 0, {5})), 22222, ""},
        {"rate in tens of Hz", twice(frameHeader(12, 14, {5}, {0x0E, 0xC4})), 37800, ""},
        {"rate code 15", twice(frameHeader(12, 15, {5})), 0xFFFFFFFFu, ""},
        {"8-bit block size and rate", twice(frameHeader(6, 12, {5}, {99, 8})), 8000, ""},
        {"six-byte number, fixed", twice(frameHeader(12, 10, {0xFC, 0x80, 0x80, 0x80, 0x80, 0x80})), 48000, ""},
        // The next frame starts 4096 samples on.
        {"seven-byte number, variable",
         twice(frameHeader(12, 10, seven, {}, true), {}, frameHeader(12, 10, {0xFE, 0x80, 0x80, 0x80, 0x81, 0x80, 0x80}, {}, true)),
         48000, ""},
        {"continuation byte read as a one-byte number", twice(frameHeader(12, 10, {0x80})), 48000, ""},
        {"look-alike headers in the frame", twice(h5, lookalikes), 44100,
         endOfData(lookalikes.size() + 54) + streamEnd(2), {lookalikes.size() + 8, 46}},
        {"frame after next behind a damaged frame", twice(h5, lookalikes, frameHeader(12, 9, {7}), true), 44100,
         endOfData(lookalikes.size() + 54) + damaged + streamEnd(2), {6, lookalikes.size() + 48}},
        {"wrong CRC-16", twice(h5, {}, {}, true), 44100, endOfData(54) + damaged + streamEnd(0), {8, 46}},
        {"ID3v2 tag with a footer", cat({str("ID3"), {4, 0, 0x10, 0, 0, 0, 2}, Bytes(12, 0), behindId3}), 44100,
         "[AST][WRN]ID3v2 tag of 22 bytes skipped before the FLAC stream.\n" + endOfData(54) + streamEnd(0),
         {8, 46}},
        {"no STREAMINFO, sample size from it", noStreamInfo, 0,
         "[AST][WRN]FLAC stream without STREAMINFO starts at byte 0.\n" +
             err("FLAC stream has no STREAMINFO to give the sample size or rate its frames leave to it.")},
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
        const size_t header = (c.file.size() - 84) / 2;
        EXPECT_EQ(c.out.empty() ? endOfData(c.file.size() - 42) + streamEnd(0) : c.out, r.out());
        EXPECT_EQ(c.out.empty() ? Lengths({header + 2, header + 40}) : c.lengths, r.lengths());
        if (c.rate == 0) continue;
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(2u, r.info.channelMap);
    }
}

}  // namespace
