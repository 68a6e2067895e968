#include <gtest/gtest.h>

#include "AacAudioDataReader.h"
#include "ReadAll.h"

namespace {

// Writes bit fields most significant bit first.
class Bits {
public:
    Bits& put(uint32_t value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            if (mUsed % 8 == 0) mBytes.push_back(0);
            if (value >> i & 1) mBytes.back() |= static_cast<uint8_t>(0x80 >> (mUsed % 8));
            ++mUsed;
        }
        return *this;
    }
    std::vector<uint8_t> bytes(size_t length, uint8_t fill) const {
        std::vector<uint8_t> b = mBytes;
        b.resize(length, fill);
        return b;
    }

private:
    std::vector<uint8_t> mBytes;
    int mUsed = 0;
};

struct Adts {
    uint32_t rateIndex;
    uint32_t channels;
    bool crc;
};

// One ADTS frame around `payload` bytes of `fill`; frameLength can be made to lie.
std::vector<uint8_t> adts(const Adts& a, size_t payload, uint8_t fill, int frameLength = -1) {
    size_t length = 7 + (a.crc ? 2 : 0) + payload;
    Bits b;
    b.put(0xFFF, 12).put(0, 1).put(0, 2).put(a.crc ? 0 : 1, 1).put(1, 2).put(a.rateIndex, 4).put(0, 1);
    b.put(a.channels, 3).put(0, 4).put(frameLength < 0 ? static_cast<uint32_t>(length) : static_cast<uint32_t>(frameLength), 13);
    b.put(0x7FF, 11).put(0, 2);
    std::vector<uint8_t> f = b.bytes(7, 0);
    if (a.crc) f.insert(f.end(), {0xC7, 0xC3});
    f.resize(length, fill);
    return f;
}

struct Mux {
    uint32_t version = 0;
    uint32_t versionA = 0;
    uint32_t taraBytes = 0;  // bytesForValue
    uint32_t ascLenBytes = 0;
    uint32_t objectType = 2;
    uint32_t rateIndex = 4;
    uint32_t rate = 0;  // behind index 15
    uint32_t channels = 2;
};

// An AudioMuxElement that starts with a StreamMuxConfig, `length` bytes long.
std::vector<uint8_t> muxConfig(const Mux& m, size_t length) {
    Bits b;
    b.put(0, 1).put(m.version, 1);
    if (m.version == 1) {
        b.put(m.versionA, 1).put(m.taraBytes, 2);
        for (uint32_t i = 0; i <= m.taraBytes; ++i) b.put(0xFF, 8);
    }
    b.put(1, 1).put(0, 6).put(0, 4).put(0, 3);
    if (m.version == 1) {
        b.put(m.ascLenBytes, 2);
        for (uint32_t i = 0; i <= m.ascLenBytes; ++i) b.put(0xFF, 8);
    }
    if (m.objectType >= 32)
        b.put(31, 5).put(m.objectType - 32, 6);
    else
        b.put(m.objectType, 5);
    b.put(m.rateIndex, 4);
    if (m.rateIndex == 15) b.put(m.rate, 24);
    b.put(m.channels, 4).put(0x3F, 6);
    return b.bytes(length, 0x11);
}

std::vector<uint8_t> loas(const std::vector<uint8_t>& payload, int muxLength = -1) {
    uint32_t n = muxLength < 0 ? static_cast<uint32_t>(payload.size()) : static_cast<uint32_t>(muxLength);
    return concat({Bits().put(0x2B7, 11).put(n, 13).bytes(3, 0), payload});
}

std::vector<uint8_t> sameMux(size_t length, uint8_t fill) {
    return Bits().put(1, 1).bytes(length, fill);
}

std::string parsed(uint32_t rate, uint32_t channels) {
    return "[AST][INF]parseAacHeader:\n[AST][INF]sampleFrequency=" + std::to_string(rate) +
           "\n[AST][INF]channelMap=" + std::to_string(channels) + "(1-Mono/2-Stereo)\n";
}

const char kNotAdts[] = "[AST][ERR]AAC file ADTS sync word error(syncWord=56E).\n";
const char kAtEnd[] = "[AST][INF]Reached end of data:0.\n";

TEST(AacReader, AdtsFramesAreHandedOutWhole) {
    struct Case {
        const char* label;
        Adts a;
        uint32_t rate, channelMap;
    };
    const Case cases[] = {
        {"44.1k mono", {4, 1, false}, 44100, 1},
        {"48k stereo with CRC", {3, 2, true}, 48000, 2},
        {"8k 5.1", {11, 6, false}, 8000, 0},
        {"96k stereo", {0, 2, false}, 96000, 2},
        {"7350 mono", {12, 1, false}, 7350, 1},
        {"reserved rate index", {13, 2, false}, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> a = adts(c.a, 100, 'a'), b = adts(c.a, 0, 'b'), d = adts(c.a, 50, 'd');
        ReadAll r = readAll<AacAudioDataReader>(concat({a, b, d}), "x.aac");
        ASSERT_FALSE(r.invalidAfterOpen) << r.out;
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(c.channelMap, r.info.channelMap);
        EXPECT_EQ(parsed(c.rate, c.channelMap) + kAtEnd, r.out);
        ASSERT_EQ(3u, r.frames.size());
        EXPECT_TRUE(r.frames[0] == a && r.frames[1] == b && r.frames[2] == d);
        EXPECT_FALSE(r.invalidAtEnd);
    }
}

TEST(AacReader, LoasConfigurations) {
    struct Case {
        const char* label;
        Mux m;
        uint32_t rate, channelMap;
    };
    Mux mono48k, explicitRate, oddRate, escapedType, version1, surround;
    mono48k.rateIndex = 3;
    mono48k.channels = 1;
    explicitRate.rateIndex = 15;
    explicitRate.rate = 44100;
    oddRate.rateIndex = 15;
    oddRate.rate = 37800;
    escapedType.objectType = 36;
    escapedType.rateIndex = 8;
    version1.version = 1;
    version1.taraBytes = 3;
    version1.ascLenBytes = 1;
    version1.rateIndex = 6;
    version1.channels = 1;
    surround.channels = 6;
    const Case cases[] = {
        {"AAC LC 44.1k stereo", Mux(), 44100, 2},
        {"48k mono", mono48k, 48000, 1},
        {"rate index 15, 44100", explicitRate, 44100, 2},
        {"rate index 15, 37800", oddRate, 37800, 2},
        {"object type escape", escapedType, 16000, 2},
        {"mux version 1", version1, 24000, 1},
        {"5.1", surround, 44100, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> first = loas(muxConfig(c.m, 40)), second = loas(sameMux(30, 'b'));
        std::vector<uint8_t> third = loas(sameMux(30, 'c'));
        third.resize(13);
        ReadAll r = readAll<AacAudioDataReader>(concat({first, second, third}), "x.aac");
        ASSERT_FALSE(r.invalidAfterOpen) << r.out;
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(c.channelMap, r.info.channelMap);
        EXPECT_EQ(kNotAdts + parsed(c.rate, c.channelMap) + "[AST][INF]Reached end of data:10.\n" + kAtEnd, r.out);
        ASSERT_EQ(3u, r.frames.size());
        EXPECT_TRUE(r.frames[0] == first && r.frames[1] == second && r.frames[2] == third);
        EXPECT_FALSE(r.invalidAtEnd);
    }
}

TEST(AacReader, StreamEnds) {
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string messages;
        size_t frames;
        bool invalidAtEnd;
    };
    const Adts stereo = {4, 2, false};
    const std::vector<uint8_t> two = concat({adts(stereo, 100, 'a'), adts(stereo, 80, 'b')});
    std::vector<uint8_t> cut = adts(stereo, 100, 'c');
    cut.resize(20);
    const std::vector<uint8_t> loasTwo = concat({loas(muxConfig(Mux(), 40)), loas(sameMux(30, 'b'))});
    const std::string adtsStart = parsed(44100, 2), loasStart = kNotAdts + parsed(44100, 2);
    const Case cases[] = {
        {"adts cut last frame", concat({two, cut}), adtsStart + "[AST][INF]Reached end of data:13.\n" + kAtEnd, 3, false},
        {"adts cut inside a header", concat({two, {0xFF, 0xF1, 0x50, 0x80, 0x10}}),
         adtsStart + "[AST][INF]Reached end of data:5.\n", 2, false},
        {"adts bad sync midway", concat({two, bytesOf("JUNKJUNK"), adts(stereo, 10, 'd')}),
         adtsStart + "[AST][ERR]AAC file ADTS sync word error(syncWord=4A5).\n[AST][ERR]Failed to parse ADTS header.\n", 2,
         true},
        {"adts frame length below a header", concat({two, adts(stereo, 10, 'd', 6)}),
         adtsStart + "[AST][ERR]Invalid frame length(6).\n", 2, false},
        {"loas bad sync midway", concat({loasTwo, adts(stereo, 10, 'd')}),
         loasStart + "[AST][ERR]AAC file LOAS sync word error(syncWord=7FF).\n[AST][ERR]Failed to parse LOAS header.\n", 2,
         true},
        {"loas cut inside the sync layer", concat({loasTwo, {0x56, 0xE0}}),
         loasStart + "[AST][INF]Reached end of data:2.\n", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<AacAudioDataReader>(c.file, "x.aac");
        ASSERT_FALSE(r.invalidAfterOpen) << r.out;
        EXPECT_EQ(c.messages, r.out);
        ASSERT_EQ(c.frames, r.frames.size());
        std::vector<uint8_t> handed;
        for (const auto& f : r.frames) handed.insert(handed.end(), f.begin(), f.end());
        EXPECT_TRUE(std::vector<uint8_t>(c.file.begin(), c.file.begin() + static_cast<long>(handed.size())) == handed);
        EXPECT_EQ(c.invalidAtEnd, r.invalidAtEnd);
    }
}

TEST(AacReader, FilesThatDoNotOpen) {
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string messages;
    };
    Mux versionA;
    versionA.version = 1;
    versionA.versionA = 1;
    const std::vector<uint8_t> next = loas(sameMux(30, 'b'));
    const Case cases[] = {
        {"neither framing", bytesOf("JUNKJUNKJUNK"),
         "[AST][ERR]AAC file ADTS sync word error(syncWord=4A5).\n"
         "[AST][ERR]AAC file LOAS sync word error(syncWord=252).\n"},
        {"shorter than a header", {0xFF, 0xF1, 0x50, 0x80, 0x10}, "[AST][INF]Reached end of data:5.\n"},
        {"empty", {}, kAtEnd},
        {"first frame without its config", concat({loas(sameMux(30, 'a')), next}),
         kNotAdts + std::string("[AST][ERR]Failed to parse LOAS frame, useSameStreamMux=1.\n")},
        {"audioMuxVersionA set", concat({loas(muxConfig(versionA, 40)), next}),
         kNotAdts + std::string("[AST][ERR]Failed to parse LOAS frame, audioMuxVersionA=1.\n")},
        {"frame too short for its config", concat({loas(muxConfig(Mux(), 2)), next}),
         kNotAdts + std::string("[AST][ERR]LOAS frame too short for its StreamMuxConfig(audioMuxLength=2).\n")},
        {"empty first frame", concat({loas({}), next}),
         kNotAdts + std::string("[AST][ERR]LOAS frame too short for its StreamMuxConfig(audioMuxLength=0).\n")},
        {"audioMuxLength beyond the file", loas(muxConfig(Mux(), 40), 4000),
         kNotAdts + std::string("[AST][INF]Reached end of data:40.\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<AacAudioDataReader>(c.file, "x.aac");
        EXPECT_TRUE(r.invalidAfterOpen);
        EXPECT_EQ(c.messages, r.out);
    }
}

}  // namespace
