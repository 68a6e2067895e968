#include <gtest/gtest.h>

#include "Mp3AudioDataReader.h"
#include "ReadAll.h"

namespace {

// version: 0 MPEG 2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1; layer: 1 III, 2 II, 3 I.
struct Header {
    int version, layer, bitRate, rate, padding, mode;
};

std::vector<uint8_t> frame(const Header& h, size_t length, uint8_t fill) {
    std::vector<uint8_t> f = {0xFF, static_cast<uint8_t>(0xE1 | h.version << 3 | h.layer << 1),
                              static_cast<uint8_t>(h.bitRate << 4 | h.rate << 2 | h.padding << 1),
                              static_cast<uint8_t>(h.mode << 6)};
    f.resize(length, fill);
    return f;
}

const Header k128k = {3, 1, 9, 0, 0, 0};  // MPEG-1 Layer III, 44100 Hz stereo: 417 bytes
const std::vector<uint8_t> kThree = concat({frame(k128k, 417, 'a'), frame(k128k, 417, 'b'), frame(k128k, 417, 'c')});

std::string inf(const std::string& text) { return "[AST][INF]" + text + "\n"; }
std::string hex(uint32_t value, int digits) {
    char text[16];
    snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}
std::string sync(uint32_t value) { return inf("MP3 file sync word mismatch(" + hex(value, 3) + " != 7FF)."); }
std::string tag(int major, size_t size) {
    return inf("Version: ID3V2." + std::to_string(major) + ".0 headerSize=" + std::to_string(size));
}
std::string found(uint32_t rate, uint32_t channels) {
    return inf("parseMp3DataFrameHeader:") + inf("sampleFrequency=" + std::to_string(rate)) +
           inf("channelMap=" + std::to_string(channels) + "(1-Mono/2-Stereo)");
}
std::string noTag(const std::vector<uint8_t>& f) {
    return inf("MP3 file magic(ID3) mismatch(" + hex(f[0] << 16 | f[1] << 8 | f[2], 8) + " != 00494433).") +
           inf("Found no ID3V2 header, treat as raw data frame.");
}
std::string noId3v1(const std::vector<uint8_t>& f) {
    return "[AST][ERR]Mismatched 'TAG' chunk:" + std::string(f.end() - 128, f.end() - 125) + "\n";
}
std::string endOfData(int count) { return inf("Reached end of data:" + std::to_string(count) + "."); }
const std::string kFailed = "[AST][ERR]Failed to parse MP3 data frame header.\n";
const std::string kSkip = inf("Skip fill bytes to find first data frame.");

TEST(Mp3Reader, FrameLengthsFollowTheHeader) {
    struct Case {
        Header h;
        int length;  // 3 or less: refused
        uint32_t rate, channels, layer;
    };
    // clang-format off
    const Case cases[] = {
        {k128k, 417, 44100, 2, 2},               {{3, 1, 9, 0, 1, 1}, 418, 44100, 2, 2},
        {{3, 2, 10, 1, 0, 2}, 576, 48000, 2, 1}, {{3, 3, 12, 1, 0, 3}, 384, 48000, 1, 0},
        {{2, 1, 8, 0, 0, 3}, 208, 22050, 1, 2},  {{2, 3, 8, 1, 1, 0}, 260, 24000, 2, 0},
        {{2, 2, 14, 2, 0, 0}, 1440, 16000, 2, 1}, {{0, 1, 1, 0, 0, 0}, 52, 11025, 2, 2},
        {{0, 1, 5, 2, 0, 3}, 576, 8000, 1, 2},   {{0, 2, 2, 0, 0, 0}, 626, 11025, 2, 1},
        {{0, 3, 1, 1, 0, 0}, 128, 12000, 2, 0},
        // Free format, index 15 and the reserved layer give no usable length.
        {{3, 1, 0, 0, 0, 0}, 0, 44100, 2, 2},    {{3, 1, 0, 0, 1, 0}, 1, 44100, 2, 2},
        {{3, 1, 15, 0, 0, 0}, -3, 44100, 2, 2},  {{3, 3, 15, 0, 0, 0}, 0, 44100, 2, 0},
        {{0, 1, 15, 2, 0, 0}, -9, 8000, 2, 2},   {{3, 0, 9, 0, 1, 0}, 1, 44100, 2, 2},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << c.h.version << " layer " << c.h.layer << " index "
                                        << c.h.bitRate);
        size_t length = c.length > 3 ? static_cast<size_t>(c.length) : 300;
        std::vector<uint8_t> file = concat({frame(c.h, length, 'a'), frame(c.h, length, 'b'), frame(c.h, length, 'c')});
        ReadAll r = readAll<Mp3AudioDataReader>(file);
        ASSERT_FALSE(r.invalidAfterOpen) << r.out;
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(c.channels, r.info.channelMap);
        EXPECT_EQ(c.layer, r.info.mpeg.layer);
        std::string end = c.length > 3 ? endOfData(0) + kFailed
                                       : "[AST][ERR]Invalid frame length(" + std::to_string(c.length) + ").\n";
        EXPECT_EQ(noTag(file) + found(c.rate, c.channels) + noId3v1(file) + end, r.out);
        EXPECT_EQ(c.length > 3 ? 3 * length : 0, r.handed.size());
        EXPECT_TRUE(handedFrom(r, file, 0));
    }
}

uint32_t synchsafe(uint32_t v) { return (v & 0x7F) | (v & 0x3F80) << 1 | (v & 0x1FC000) << 2 | (v & 0xFE00000) << 3; }

// An ID3v2 tag of text frames {id, payload}; a frame's size can be made to lie, and so can the tag's.
std::vector<uint8_t> id3v2(uint8_t major, const std::vector<std::pair<std::string, std::string>>& frames,
                           size_t padding, uint32_t claimed = 0, int tagSizeError = 0) {
    std::vector<uint8_t> body;
    for (const auto& f : frames) {
        uint32_t size = claimed ? claimed : static_cast<uint32_t>(f.second.size());
        body.insert(body.end(), f.first.begin(), f.first.end());
        for (int shift = major == 2 ? 16 : 24; shift >= 0; shift -= 8)
            body.push_back(static_cast<uint8_t>(size >> shift));
        if (major != 2) body.insert(body.end(), {0, 0});
        body.insert(body.end(), f.second.begin(), f.second.end());
    }
    body.resize(body.size() + padding, 0);
    uint32_t size = synchsafe(static_cast<uint32_t>(static_cast<int>(body.size()) + tagSizeError));
    return concat({{'I', 'D', '3', major, 0, 0, static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                    static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)},
                   body});
}

TEST(Mp3Reader, TagsStartsAndEnds) {
    const std::string z(1, '\0');  // a text frame's encoding byte
    std::vector<uint8_t> id3v1(128, 0);
    const std::string fields = std::string("TAG") + std::string(30, 'T') + "Artist" + std::string(24, '\0') + "Alb" +
                               z + "junk" + std::string(22, '\0') + "2024" + std::string(28, 'c');
    std::copy(fields.begin(), fields.end(), id3v1.begin());
    id3v1[126] = 7;
    id3v1[127] = 255;
    const std::vector<uint8_t> v23 = id3v2(3, {{"TIT2", z + "Hello"}, {"TPE1", z + "Me"}}, 200);
    const std::vector<uint8_t> v24 = id3v2(4, {{"TIT2", z + "Song"}, {"TXXX", z + "key" + z + "value"}}, 0);
    const std::vector<uint8_t> v22 = id3v2(2, {{"TT2", z + "Title"}, {"TP1", z + "Artist"}}, 0);
    const std::vector<uint8_t> v22big = id3v2(2, {{"TT2", std::string(70000, 'x')}}, 0);
    const std::vector<uint8_t> unknown = id3v2(3, {{"TIT2", z + "A"}, {"ZZZZ", "x"}, {"TPE1", z + "B"}}, 0);
    const std::vector<uint8_t> tooMuch = id3v2(3, {{"TIT2", z + "Hello"}}, 0, 0x7FFFFFF0);
    const std::vector<uint8_t> lies = id3v2(3, {{"TIT2", z + "Hi"}}, 20, 0, -5);
    const std::vector<uint8_t> tiny = frame({0, 1, 1, 2, 0, 3}, 72, 'a');
    const std::vector<uint8_t> reserved = frame({1, 1, 9, 0, 0, 0}, 300, 0);
    const std::vector<uint8_t> junk = concat({kThree, bytesOf("JUNK"), frame(k128k, 417, 'd')});
    const std::vector<uint8_t> cut = concat({kThree, frame(k128k, 14, 'd')});
    const std::string tail = noId3v1(kThree) + endOfData(0) + kFailed;  // behind three frames
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        size_t start;  // of the first frame; 0 for a file that does not open
        std::string out;
        bool opens = true;
    };
    // clang-format off
    const Case cases[] = {
        {"v2.3 with padding", concat({v23, kThree}), v23.size(),
         tag(3, 229) + "TIT2:Hello\nTPE1:Me\n" + sync(0) + kSkip + found(44100, 2) + tail},
        {"v2.4", concat({v24, kThree}), v24.size(),
         tag(4, 35) + "TIT2:Song\nTXXX:keyvalue\n" + found(44100, 2) + tail},
        {"v2.2 by hand", concat({v22, kThree}), v22.size(),
         tag(2, 25) + "TT2:Title\nTP1:Artist\n" + found(44100, 2) + tail},
        {"v2.2 frame of 64 KiB", concat({v22big, kThree}), v22big.size(),
         tag(2, 70006) + sync(0x2A2) + kSkip + found(44100, 2) + tail},
        {"unknown frame id", concat({unknown, kThree}), unknown.size(),
         tag(3, 35) + "TIT2:A\n" + sync(0x2D2) + kSkip + found(44100, 2) + tail},
        {"frame bigger than the file", concat({tooMuch, kThree}), tooMuch.size(),
         tag(3, 16) + endOfData(6 + 3 * 417) + sync(0x2A2) + kSkip + found(44100, 2) + tail},
        {"ID3v1", concat({kThree, id3v1}), 0,
         noTag(kThree) + found(44100, 2) + inf("ID3V1, title:" + std::string(30, 'T')) + inf("ID3V1, artist:Artist") +
             inf("ID3V1, album:Alb") + inf("ID3V1, year:2024") + inf("ID3V1, comment:" + std::string(28, 'c')) +
             inf("ID3V1, track:7") + inf("ID3V1, genre:255") + sync(0x2A2) + kFailed},
        {"cut last frame", cut, 0,
         noTag(cut) + found(44100, 2) + noId3v1(cut) + endOfData(10) + endOfData(0) + kFailed},
        {"junk midway", junk, 0, noTag(junk) + found(44100, 2) + noId3v1(junk) + sync(0x252) + kFailed},
        {"shorter than 128 bytes", tiny, 0,
         noTag(tiny) + found(8000, 1) + "[AST][ERR]Failed to seek to -128 from 2, ret=0.\n", false},
        {"reserved version", reserved, 0,
         noTag(reserved) + "[AST][ERR]Failed to map channel and sample rate.\n", false},
        {"empty", {}, 0,
         endOfData(0) + inf("Found no ID3V2 header, treat as raw data frame.") + endOfData(0), false},
        {"tag size points into padding", concat({lies, kThree}), 0,
         tag(3, 28) + "TIT2:Hi\n" + sync(0) + kSkip + sync(0), false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<Mp3AudioDataReader>(c.file);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(!c.opens, r.invalidAfterOpen);
        EXPECT_TRUE(handedFrom(r, c.file, c.start));
        if (!r.invalidAfterOpen) {
            EXPECT_EQ(417u, r.lengths[0]);
        }
    }
}

}  // namespace
