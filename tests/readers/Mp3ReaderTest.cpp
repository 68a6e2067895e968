// MPEG audio headers and tags that real encoders' files (covered end to end: Layer III at MPEG-1,
// 2 and 2.5, Layer II, ID3v2.3 and v2.4 tags with padding, an ID3v1 tag) do not show.
#include <gtest/gtest.h>

#include "ASTLog.h"
#include "Mp3AudioDataReader.h"
#include "ReadAll.h"

namespace {

// version: 0 MPEG 2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1; layer: 1 III, 2 II, 3 I.
struct Header {
    int version, layer, bitRate, rate, padding, mode;
};

Bytes frame(const Header& h, size_t length, uint8_t fill) {
    Bytes f = {0xFF, uint8_t(0xE1 | h.version << 3 | h.layer << 1),
               uint8_t(h.bitRate << 4 | h.rate << 2 | h.padding << 1), uint8_t(h.mode << 6)};
    f.resize(length, fill);
    return f;
}
Bytes three(const Header& h, size_t n) { return cat({frame(h, n, 'a'), frame(h, n, 'b'), frame(h, n, 'c')}); }

const Header k128k = {3, 1, 9, 0, 0, 0};  // MPEG-1 Layer III, 44100 Hz stereo: 417 bytes
const Bytes kThree = three(k128k, 417);

std::string sync(uint32_t value) {
    char text[64];
    snprintf(text, sizeof text, "MP3 file sync word mismatch(%03X != 7FF).", value);
    return inf(text);
}
std::string noTag(const Bytes& f) {
    char text[64];
    snprintf(text, sizeof text, "MP3 file magic(ID3) mismatch(%08X != 00494433).", f[0] << 16 | f[1] << 8 | f[2]);
    return inf(text) + inf("Found no ID3V2 header, treat as raw data frame.");
}
std::string noId3v1(const Bytes& f) {
    return err("Mismatched 'TAG' chunk:" + escapeText(reinterpret_cast<const char*>(&f[f.size() - 128]), 3, true));
}
const std::string kFailed = err("Failed to parse MP3 data frame header.");

TEST(Mp3Reader, FrameLengthsFollowTheHeader) {
    const struct {
        Header h;
        int length;  // 3 or less: refused
        uint32_t rate, channels, layer;
    } cases[] = {
        {{3, 3, 12, 1, 0, 3}, 384, 48000, 1, 0},
        {{2, 3, 8, 1, 1, 0}, 260, 24000, 2, 0},
        // MPEG 2.5 takes MPEG-2's low-sampling-frequency rates, in each layer.
        {{0, 2, 2, 0, 0, 0}, 208, 11025, 2, 1},
        {{0, 3, 2, 1, 0, 0}, 192, 12000, 2, 0},
        {{0, 1, 14, 2, 1, 0}, 1441, 8000, 2, 2},
        // Free format: the length comes from the headers behind, without the padding slot.
        {{3, 1, 0, 0, 0, 0}, 300, 44100, 2, 2},
        {{3, 3, 0, 1, 1, 3}, 388, 48000, 1, 0},
        // Index 15 and the reserved layer give no usable length.
        {{3, 1, 15, 0, 0, 0}, -3, 44100, 2, 2},
        {{3, 0, 9, 0, 1, 0}, 1, 44100, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << c.h.version << " layer " << c.h.layer << " " << c.h.bitRate);
        size_t length = c.length > 3 ? size_t(c.length) : 300;
        Bytes file = three(c.h, length);
        ReadAll r = readAll<Mp3AudioDataReader>(file);
        ASSERT_FALSE(r.invalid) << r.out();
        EXPECT_EQ(c.layer, r.info.mpeg.layer);
        const int unpadded = c.length - c.h.padding * (c.h.layer == 3 ? 4 : 1);
        std::string end = c.h.bitRate == 0 ? "[AST][WRN]Free-format MP3 stream, frame length " +
                                                 std::to_string(unpadded) + " bytes found.\n"
                                           : "";
        end += c.length > 3 ? endOfData(0) + kFailed : err("Invalid frame length(" + std::to_string(c.length) + ").");
        EXPECT_EQ(noTag(file) + summary("parseMp3DataFrameHeader", c.rate, c.channels) + noId3v1(file) + end, r.out());
        EXPECT_EQ(c.length > 3 ? 3u : 0u, r.frames.size());
        EXPECT_TRUE(r.handedFrom(file, 0));
    }
}

// An ID3v2 tag of text frames {id, payload}; the tag's size can be made to lie.
Bytes id3v2(uint8_t major, const std::vector<std::pair<std::string, std::string>>& frames, size_t padding,
            int tagSizeError = 0) {
    Bytes body;
    for (const auto& f : frames) {
        const uint32_t size = uint32_t(f.second.size());
        body = cat({body, str(f.first), major == 2 ? be(size, 3) : cat({be(size, 4), {0, 0}}), str(f.second)});
    }
    body.resize(body.size() + padding, 0);
    uint32_t v = uint32_t(int(body.size()) + tagSizeError);  // synchsafe: seven bits a byte
    const Bytes size = {uint8_t(v >> 21 & 0x7F), uint8_t(v >> 14 & 0x7F), uint8_t(v >> 7 & 0x7F), uint8_t(v & 0x7F)};
    return cat({str("ID3"), Bytes{major, 0, 0}, size, body});
}

TEST(Mp3Reader, TagsStartsAndEnds) {
    const std::string z(1, '\0');  // a text frame's encoding byte
    Bytes id3v1 = str("TAG" + std::string(30, 'T') + "Artist" + std::string(24, '\0') + "Alb" + z + "junk" +
                      std::string(22, '\0') + "2024" + std::string(28, 'c'));
    id3v1.insert(id3v1.end(), {0, 7, 255});  // track 7, genre 255
    const Bytes v22 = id3v2(2, {{"TT2", z + "Title"}, {"TP1", z + "Artist"}}, 0);
    const Bytes v22big = id3v2(2, {{"TT2", std::string(70000, 'x')}}, 0);
    const Bytes unknown = id3v2(3, {{"TIT2", z + "A"}, {"ZZZZ", "x"}, {"TPE1", z + "B"}}, 0);
    const Bytes lies = id3v2(3, {{"TIT2", z + "Hi"}}, 20, -5);
    const Bytes tiny = frame({0, 1, 1, 2, 0, 3}, 72, 'a');
    const Bytes reserved = frame({1, 1, 9, 0, 0, 0}, 300, 0);
    // A header whose frame length does not lead to another: no frame starts there.
    const Bytes falseHeader = {0xFF, 0xFB, 0x90, 0x00};
    // Longer than the search reads at once, the false header close to the end of a read.
    const Bytes junkFirst = cat({Bytes(65290, 'J'), falseHeader, str("xy"), kThree});
    const Bytes junk = cat({kThree, str("J"), falseHeader, str("K"), frame(k128k, 417, 'd')});
    const Bytes cut = cat({kThree, frame(k128k, 14, 'd')});
    // Free format whose next header is another stream's: no length, the search goes on to it.
    const Bytes unconfirmed = cat({frame({3, 1, 0, 0, 0, 0}, 300, 'f'), kThree});
    const std::string found = summary("parseMp3DataFrameHeader", 44100, 2);
    const std::string tail = noId3v1(kThree) + endOfData(0) + kFailed;
    const std::string skip = inf("Skip fill bytes to find first data frame.");
    auto tag = [](int major, size_t size) {
        return inf("Version: ID3V2." + std::to_string(major) + ".0 headerSize=" + std::to_string(size));
    };
    const struct {
        const char* label;
        Bytes file;
        size_t start;  // of the first frame; 0 for a file that does not open
        std::string out;
        bool opens = true;
        Bytes handed = {};  // the frames joined, when junk was skipped between them
    } cases[] = {
        {"v2.2 by hand", cat({v22, kThree}), v22.size(), tag(2, 25) + "TT2:Title\nTP1:Artist\n" + found + tail},
        {"v2.2 frame of 64 KiB", cat({v22big, kThree}), v22big.size(),
         tag(2, 70006) + sync(0x2A2) + skip + found + tail},
        {"unknown frame id", cat({unknown, kThree}), unknown.size(),
         tag(3, 35) + "TIT2:A\n" + sync(0x2D2) + skip + found + tail},
        {"ID3v1", cat({kThree, id3v1}), 0,
         noTag(kThree) + found + inf("ID3V1, title:" + std::string(30, 'T')) + inf("ID3V1, artist:Artist") +
             inf("ID3V1, album:Alb") + inf("ID3V1, year:2024") + inf("ID3V1, comment:" + std::string(28, 'c')) +
             inf("ID3V1, track:7") + inf("ID3V1, genre:255") + sync(0x2A2) + kFailed},
        {"free format, unconfirmed", unconfirmed, 300,
         noTag(unconfirmed) + found + noId3v1(unconfirmed) + err("Invalid frame length(0).") + skipped(300, "MP3") +
             endOfData(0) + kFailed},
        {"cut last frame", cut, 0, noTag(cut) + found + noId3v1(cut) + endOfData(10) + endOfData(0) + kFailed},
        {"junk before the first frame", junkFirst, 65296,
         noTag(junkFirst) + sync(0x252) + skipped(65296, "MP3") + found + tail},
        // The last frame is confirmed by the end of the file.
        {"junk midway", junk, 0,
         noTag(junk) + found + noId3v1(junk) + sync(0x257) + skipped(6, "MP3") + endOfData(0) + kFailed, true,
         cat({kThree, frame(k128k, 417, 'd')})},
        {"shorter than 128 bytes", tiny, 0,
         noTag(tiny) + summary("parseMp3DataFrameHeader", 8000, 1) + err("Failed to seek to -128 from 2, ret=0."),
         false},
        {"reserved version", reserved, 0, noTag(reserved) + err("Failed to map channel and sample rate."), false},
        {"empty", {}, 0, endOfData(0) + inf("Found no ID3V2 header, treat as raw data frame.") + endOfData(0), false},
        {"tag size points into padding", cat({lies, kThree}), lies.size(),
         tag(3, 28) + "TIT2:Hi\n" + sync(0) + skip + sync(0) + skipped(5, "MP3") + found + tail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<Mp3AudioDataReader>(c.file);
        EXPECT_EQ(c.out, r.out());
        EXPECT_EQ(!c.opens, r.invalid);
        EXPECT_TRUE(c.handed.empty() ? r.handedFrom(c.file, c.start) : r.handedFrom(c.handed, 0));
        if (!r.invalid) {
            EXPECT_EQ(417u, r.frames.at(0).size());
        }
    }
}

}  // namespace
