#include <gtest/gtest.h>

#include "Mp3AudioDataReader.h"
#include "ReadAll.h"

namespace {

// Fields of an MPEG audio frame header, as they stand in the file.
struct Header {
    uint8_t version;  // 0 MPEG 2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1
    uint8_t layer;    // 1 Layer III, 2 Layer II, 3 Layer I
    uint8_t bitRateIndex;
    uint8_t rateIndex;
    uint8_t padding;
    uint8_t mode;
};

std::vector<uint8_t> header(const Header& h) {
    return {0xFF, static_cast<uint8_t>(0xE1 | h.version << 3 | h.layer << 1),
            static_cast<uint8_t>(h.bitRateIndex << 4 | h.rateIndex << 2 | h.padding << 1),
            static_cast<uint8_t>(h.mode << 6)};
}

std::vector<uint8_t> frame(const Header& h, size_t length, uint8_t fill) {
    std::vector<uint8_t> f = header(h);
    f.resize(length, fill);
    return f;
}

const Header kStereo128k = {3, 1, 9, 0, 0, 0};  // MPEG-1 Layer III, 44100 Hz: 417 bytes

std::vector<uint8_t> threeFrames() {
    return concat({frame(kStereo128k, 417, 'a'), frame(kStereo128k, 417, 'b'), frame(kStereo128k, 417, 'c')});
}

std::string hex(uint32_t value, int digits) {
    char text[16];
    snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string noTag(const std::vector<uint8_t>& file) {
    uint32_t magic = file.size() < 3 ? 0 : static_cast<uint32_t>(file[0] << 16 | file[1] << 8 | file[2]);
    return "[AST][INF]MP3 file magic(ID3) mismatch(" + hex(magic, 8) +
           " != 00494433).\n[AST][INF]Found no ID3V2 header, treat as raw data frame.\n";
}

std::string parsed(uint32_t rate, uint32_t channels) {
    return "[AST][INF]parseMp3DataFrameHeader:\n[AST][INF]sampleFrequency=" + std::to_string(rate) +
           "\n[AST][INF]channelMap=" + std::to_string(channels) + "(1-Mono/2-Stereo)\n";
}

std::string noId3v1(const std::vector<uint8_t>& file) {
    return "[AST][ERR]Mismatched 'TAG' chunk:" + std::string(file.end() - 128, file.end() - 125) + "\n";
}

std::string syncMismatch(uint32_t value) {
    return "[AST][INF]MP3 file sync word mismatch(" + hex(value, 3) + " != 7FF).\n";
}

const char kParseFailed[] = "[AST][ERR]Failed to parse MP3 data frame header.\n";
const char kAtEnd[] = "[AST][INF]Reached end of data:0.\n[AST][ERR]Failed to parse MP3 data frame header.\n";
const char kSkip[] = "[AST][INF]Skip fill bytes to find first data frame.\n";

TEST(Mp3Reader, FrameLengthsFollowTheHeader) {
    struct Case {
        const char* label;
        Header h;
        size_t length;
        uint32_t rate, channels, layer;
    };
    const Case cases[] = {
        {"mpeg1 layer3 128k", kStereo128k, 417, 44100, 2, 2},
        {"mpeg1 layer3 128k padded, joint stereo", {3, 1, 9, 0, 1, 1}, 418, 44100, 2, 2},
        {"mpeg1 layer2 192k dual channel", {3, 2, 10, 1, 0, 2}, 576, 48000, 2, 1},
        {"mpeg1 layer1 384k mono", {3, 3, 12, 1, 0, 3}, 384, 48000, 1, 0},
        {"mpeg2 layer3 64k 22.05k", {2, 1, 8, 0, 0, 3}, 208, 22050, 1, 2},
        {"mpeg2 layer1 128k padded", {2, 3, 8, 1, 1, 0}, 260, 24000, 2, 0},
        {"mpeg2 layer2 160k 16k", {2, 2, 14, 2, 0, 0}, 1440, 16000, 2, 1},
        {"mpeg2.5 layer3 index 1", {0, 1, 1, 0, 0, 0}, 52, 11025, 2, 2},
        {"mpeg2.5 layer3 index 5 is 64k", {0, 1, 5, 2, 0, 3}, 576, 8000, 1, 2},
        {"mpeg2.5 layer2 index 2", {0, 2, 2, 0, 0, 0}, 626, 11025, 2, 1},
        {"mpeg2.5 layer1 index 1", {0, 3, 1, 1, 0, 0}, 128, 12000, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> a = frame(c.h, c.length, 'a'), b = frame(c.h, c.length, 'b'),
                             d = frame(c.h, c.length, 'd');
        std::vector<uint8_t> file = concat({a, b, d});
        ReadAll r = readAll<Mp3AudioDataReader>(file, "x.mp3");
        ASSERT_FALSE(r.invalidAfterOpen) << r.out;
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(c.channels, r.info.channelMap);
        EXPECT_EQ(c.layer, r.info.mpeg.layer);
        EXPECT_EQ(noTag(file) + parsed(c.rate, c.channels) + noId3v1(file) + kAtEnd, r.out);
        ASSERT_EQ(3u, r.frames.size());
        EXPECT_TRUE(r.frames[0] == a && r.frames[1] == b && r.frames[2] == d);
        EXPECT_TRUE(r.invalidAtEnd);
    }
}

TEST(Mp3Reader, HeadersWithoutAUsableLengthEndTheStream) {
    struct Case {
        const char* label;
        Header h;
        int length;
    };
    const Case cases[] = {
        {"free format", {3, 1, 0, 0, 0, 0}, 0},
        {"free format padded", {3, 1, 0, 0, 1, 0}, 1},
        {"bit-rate index 15", {3, 1, 15, 0, 0, 0}, -3},
        {"bit-rate index 15, layer1", {3, 3, 15, 0, 0, 0}, 0},
        {"mpeg2.5 bit-rate index 15", {0, 1, 15, 2, 0, 0}, -9},
        {"reserved layer", {3, 0, 9, 0, 1, 0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> file = frame(c.h, 300, 'x');
        ReadAll r = readAll<Mp3AudioDataReader>(file, "x.mp3");
        ASSERT_FALSE(r.invalidAfterOpen) << r.out;
        EXPECT_TRUE(r.frames.empty());
        std::string expectedEnd = "[AST][ERR]Invalid frame length(" + std::to_string(c.length) + ").\n";
        ASSERT_GE(r.out.size(), expectedEnd.size());
        EXPECT_EQ(expectedEnd, r.out.substr(r.out.size() - expectedEnd.size()));
        EXPECT_FALSE(r.invalidAtEnd);  // the header itself parsed
    }
}

TEST(Mp3Reader, StreamEnds) {
    struct Case {
        const char* label;
        std::vector<uint8_t> tail;  // behind three whole frames
        std::string messages;
        size_t lastLength;  // of a fourth, cut frame; 0 for none
    };
    const Case cases[] = {
        {"cut last frame", std::vector<uint8_t>(frame(kStereo128k, 14, 'd')),
         "[AST][INF]Reached end of data:10.\n" + std::string(kAtEnd), 14},
        {"cut inside a header", {0xFF, 0xFB}, "[AST][INF]Reached end of data:2.\n" + std::string(kParseFailed), 0},
        {"bad sync midway", concat({bytesOf("JUNK"), frame(kStereo128k, 417, 'e')}),
         syncMismatch(0x252) + kParseFailed, 0},
        {"nothing behind", {}, kAtEnd, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> file = concat({threeFrames(), c.tail});
        ReadAll r = readAll<Mp3AudioDataReader>(file, "x.mp3");
        EXPECT_EQ(noTag(file) + parsed(44100, 2) + noId3v1(file) + c.messages, r.out);
        ASSERT_EQ(c.lastLength ? 4u : 3u, r.frames.size());
        std::vector<uint8_t> handed;
        for (const auto& f : r.frames) handed.insert(handed.end(), f.begin(), f.end());
        EXPECT_TRUE(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(handed.size())) == handed);
        if (c.lastLength) {
            EXPECT_EQ(c.lastLength, r.frames.back().size());
        }
        EXPECT_TRUE(r.invalidAtEnd);
    }
}

struct TagFrame {
    std::string id;
    std::string payload;
    long claimedSize;  // -1: the payload's size
};

uint32_t synchsafe(uint32_t v) { return (v & 0x7F) | (v & 0x3F80) << 1 | (v & 0x1FC000) << 2 | (v & 0xFE00000) << 3; }

// An ID3v2 tag; headerSizeError lies about the tag's size by that many bytes.
std::vector<uint8_t> id3v2(uint8_t major, const std::vector<TagFrame>& frames, size_t padding, int headerSizeError = 0) {
    std::vector<uint8_t> body;
    for (const TagFrame& f : frames) {
        uint32_t size = f.claimedSize < 0 ? static_cast<uint32_t>(f.payload.size()) : static_cast<uint32_t>(f.claimedSize);
        body.insert(body.end(), f.id.begin(), f.id.end());
        for (int shift = major == 2 ? 16 : 24; shift >= 0; shift -= 8) body.push_back(static_cast<uint8_t>(size >> shift));
        if (major != 2) body.insert(body.end(), {0, 0});
        body.insert(body.end(), f.payload.begin(), f.payload.end());
    }
    body.resize(body.size() + padding, 0);
    uint32_t size = synchsafe(static_cast<uint32_t>(static_cast<int>(body.size()) + headerSizeError));
    std::vector<uint8_t> tag = {'I', 'D', '3', major, 0, 0};
    for (int shift = 24; shift >= 0; shift -= 8) tag.push_back(static_cast<uint8_t>(size >> shift));
    return concat({tag, body});
}

std::string tagLine(uint8_t major, size_t size) {
    return "[AST][INF]Version: ID3V2." + std::to_string(major) + ".0 headerSize=" + std::to_string(size) + "\n";
}

TEST(Mp3Reader, Id3v2TagsAreShownAndSkipped) {
    struct Case {
        const char* label;
        std::vector<uint8_t> tag;
        std::string messages;  // the tag's lines up to the first frame
    };
    const std::string s = std::string(1, '\0');  // the text encoding byte
    const std::vector<uint8_t> big = id3v2(2, {{"TT2", std::string(70000, 'x'), -1}}, 0);
    const std::vector<uint8_t> claimsTooMuch = id3v2(3, {{"TIT2", s + "Hello", 0x7FFFFFF0}}, 0, 0);
    const Case cases[] = {
        {"v2.3 with padding", id3v2(3, {{"TIT2", s + "Hello", -1}, {"TPE1", s + "Me", -1}}, 200),
         tagLine(3, 229) + "TIT2:Hello\nTPE1:Me\n" + syncMismatch(0) + kSkip},
        {"v2.4 without padding", id3v2(4, {{"TIT2", s + "Song", -1}, {"TXXX", s + "key" + s + "value", -1}}, 0),
         tagLine(4, 35) + "TIT2:Song\nTXXX:keyvalue\n"},
        {"v2.2 by hand", id3v2(2, {{"TT2", s + "Title", -1}, {"TP1", s + "Artist", -1}}, 0),
         tagLine(2, 25) + "TT2:Title\nTP1:Artist\n"},
        {"v2.2 frame of 64 KiB or more", big, tagLine(2, 70006) + syncMismatch(0x2A2) + kSkip},
        {"unknown frame id", id3v2(3, {{"TIT2", s + "A", -1}, {"ZZZZ", "x", -1}, {"TPE1", s + "B", -1}}, 0),
         tagLine(3, 35) + "TIT2:A\n" + syncMismatch(0x2D2) + kSkip},
        {"empty frame", id3v2(3, {{"TIT2", "", -1}, {"TPE1", s + "Me", -1}}, 0),
         tagLine(3, 23) + syncMismatch(0x2A2) + kSkip},
        {"frame claims more than the file",  claimsTooMuch,
         tagLine(3, 16) + "[AST][INF]Reached end of data:" + std::to_string(claimsTooMuch.size() - 20 + 3 * 417) +
             ".\n" + syncMismatch(0x2A2) + kSkip},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> file = concat({c.tag, threeFrames()});
        ReadAll r = readAll<Mp3AudioDataReader>(file, "x.mp3");
        ASSERT_FALSE(r.invalidAfterOpen) << r.out;
        EXPECT_EQ(c.messages + parsed(44100, 2) + noId3v1(file) + kAtEnd, r.out);
        ASSERT_EQ(3u, r.frames.size());
        EXPECT_TRUE(r.frames[0] == frame(kStereo128k, 417, 'a'));
    }
}

TEST(Mp3Reader, Id3v1FieldsAreCutAtTheirWidthOrTheirFirstZero) {
    std::vector<uint8_t> tag(128, 0);
    auto put = [&](size_t at, const std::string& text) { std::copy(text.begin(), text.end(), tag.begin() + static_cast<long>(at)); };
    put(0, "TAG");
    put(3, std::string(30, 'T'));  // fills its width: no terminator
    put(33, "Artist");
    put(63, std::string("Alb\0junk", 8));
    put(93, "2024");
    put(97, std::string(28, 'c'));
    tag[126] = 7;
    tag[127] = 255;
    std::vector<uint8_t> file = concat({threeFrames(), tag});
    ReadAll r = readAll<Mp3AudioDataReader>(file, "x.mp3");
    EXPECT_EQ(noTag(file) + parsed(44100, 2) + "[AST][INF]ID3V1, title:" + std::string(30, 'T') +
                  "\n[AST][INF]ID3V1, artist:Artist\n[AST][INF]ID3V1, album:Alb\n[AST][INF]ID3V1, year:2024\n"
                  "[AST][INF]ID3V1, comment:" + std::string(28, 'c') +
                  "\n[AST][INF]ID3V1, track:7\n[AST][INF]ID3V1, genre:255\n" + syncMismatch(0x2A2) + kParseFailed,
              r.out);
    EXPECT_EQ(3u, r.frames.size());
    EXPECT_TRUE(r.invalidAtEnd);
}

TEST(Mp3Reader, FilesThatDoNotOpen) {
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string messages;
    };
    const std::vector<uint8_t> tiny = frame({0, 1, 1, 2, 0, 3}, 72, 'a');
    const std::vector<uint8_t> reservedVersion = frame({1, 1, 9, 0, 0, 0}, 300, 0);
    const std::vector<uint8_t> reservedRate = frame({3, 1, 9, 3, 0, 0}, 300, 0);
    const char kMapFailed[] = "[AST][ERR]Failed to map channel and sample rate.\n";
    const char kNothing[] = "[AST][INF]Reached end of data:0.\n";
    const Case cases[] = {
        {"shorter than 128 bytes", tiny, noTag(tiny) + parsed(8000, 1) + "[AST][ERR]Failed to seek to -128 from 2, ret=0.\n"},
        {"empty", {}, kNothing + std::string("[AST][INF]Found no ID3V2 header, treat as raw data frame.\n") + kNothing},
        {"reserved version", reservedVersion, noTag(reservedVersion) + kMapFailed},
        {"reserved rate index", reservedRate, noTag(reservedRate) + kMapFailed},
        {"tag with nothing behind", id3v2(3, {}, 0), tagLine(3, 0) + kNothing + kNothing + kSkip + kNothing},
        {"tag size points into padding", concat({id3v2(3, {{"TIT2", std::string("\0Hi", 3), -1}}, 20, -5), threeFrames()}),
         tagLine(3, 28) + "TIT2:Hi\n" + syncMismatch(0) + kSkip + syncMismatch(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<Mp3AudioDataReader>(c.file, "x.mp3");
        EXPECT_TRUE(r.invalidAfterOpen);
        EXPECT_EQ(c.messages, r.out);
    }
}

}  // namespace
