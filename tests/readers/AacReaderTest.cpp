#include <gtest/gtest.h>

#include "AacAudioDataReader.h"
#include "ReadAll.h"

namespace {

// Bit fields, most significant bit first, into `length` bytes padded with `fill`.
struct Bits {
    std::vector<uint8_t> bytes;
    size_t used = 0;
    Bits& put(uint32_t value, int width) {
        for (int i = width - 1; i >= 0; --i, ++used) {
            if (used % 8 == 0) bytes.push_back(0);
            if (value >> i & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> used % 8);
        }
        return *this;
    }
    std::vector<uint8_t> take(size_t length, uint8_t fill = 0x11) {
        bytes.resize(length, fill);
        return bytes;
    }
};

// An ADTS frame; `lie` replaces frameLength when not 0.
std::vector<uint8_t> adts(uint32_t rateIndex, uint32_t channels, bool crc, size_t payload, uint32_t lie = 0) {
    size_t length = 7 + (crc ? 2 : 0) + payload;
    Bits b;
    b.put(0xFFF, 12).put(0, 3).put(crc ? 0 : 1, 1).put(1, 2).put(rateIndex, 4).put(0, 1).put(channels, 3).put(0, 4);
    b.put(lie ? lie : static_cast<uint32_t>(length), 13).put(0x7FF, 11).put(0, 2);
    return b.take(length);
}

struct Mux {
    uint32_t version = 0, versionA = 0, objectType = 2, rateIndex = 4, rate = 0, channels = 2;
};

// A LOAS frame whose AudioMuxElement starts with a StreamMuxConfig; `claimed` lies about its length.
std::vector<uint8_t> loas(const Mux& m, size_t length = 40, int claimed = -1) {
    Bits b;
    b.put(0x2B7, 11).put(claimed < 0 ? static_cast<uint32_t>(length) : static_cast<uint32_t>(claimed), 13);
    b.put(0, 1).put(m.version, 1);
    if (m.version) b.put(m.versionA, 1).put(3, 2).put(0xFFFFFFFF, 32);  // taraBufferFullness in 4 bytes
    b.put(1, 1).put(0, 6).put(0, 4).put(0, 3);
    if (m.version) b.put(1, 2).put(0xFFFF, 16);  // ascLen in 2 bytes
    if (m.objectType >= 32)
        b.put(31, 5).put(m.objectType - 32, 6);
    else
        b.put(m.objectType, 5);
    b.put(m.rateIndex, 4);
    if (m.rateIndex == 15) b.put(m.rate, 24);
    b.put(m.channels, 4);
    return b.take(3 + length);
}

// A LOAS frame that reuses the last StreamMuxConfig.
std::vector<uint8_t> sameMux(size_t length) {
    return Bits().put(0x2B7, 11).put(static_cast<uint32_t>(length), 13).put(1, 1).take(3 + length);
}

std::vector<uint8_t> first(const std::vector<uint8_t>& frame, size_t n) {
    return {frame.begin(), frame.begin() + static_cast<long>(n)};
}

std::string inf(const std::string& text) { return "[AST][INF]" + text + "\n"; }
std::string err(const std::string& text) { return "[AST][ERR]" + text + "\n"; }
std::string found(uint32_t rate, uint32_t channels) {
    return inf("parseAacHeader:") + inf("sampleFrequency=" + std::to_string(rate)) +
           inf("channelMap=" + std::to_string(channels) + "(1-Mono/2-Stereo)");
}
std::string endOfData(int count) { return inf("Reached end of data:" + std::to_string(count) + "."); }
const std::string kNotAdts = err("AAC file ADTS sync word error(syncWord=56E).");

TEST(AacReader, FramingsHeadersAndEnds) {
    Mux mono48k, explicitRate, version1, surround, versionA;
    mono48k.rateIndex = 3;
    mono48k.channels = 1;
    explicitRate.rateIndex = 15;
    explicitRate.rate = 37800;
    version1.version = 1;
    version1.objectType = 36;
    version1.rateIndex = 8;
    surround.channels = 6;
    versionA.version = versionA.versionA = 1;
    const std::vector<uint8_t> stereo = concat({adts(4, 2, false, 100), adts(4, 2, false, 0)});
    const std::vector<uint8_t> latm = concat({loas(Mux()), sameMux(30)});
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        std::string out;
        std::vector<size_t> lengths;  // empty: the file does not open
        uint32_t rate, channels;
        bool invalidAtEnd;
    };
    // clang-format off
    const Case cases[] = {
        {"adts 44.1k mono", concat({adts(4, 1, false, 50), adts(4, 1, false, 9)}),
         found(44100, 1) + endOfData(0), {57, 16}, 44100, 1, false},
        {"adts 48k stereo with CRC", concat({adts(3, 2, true, 50), adts(3, 2, true, 0)}),
         found(48000, 2) + endOfData(0), {59, 9}, 48000, 2, false},
        {"adts 8k 5.1", adts(11, 6, false, 20), found(8000, 0) + endOfData(0), {27}, 8000, 0, false},
        {"adts 7350, then reserved index 13", concat({adts(12, 1, false, 20), adts(13, 1, false, 20)}),
         found(7350, 1) + endOfData(0), {27, 27}, 7350, 1, false},
        {"adts cut last frame", concat({stereo, first(adts(4, 2, false, 100), 20)}),
         found(44100, 2) + endOfData(13) + endOfData(0), {107, 7, 20}, 44100, 2, false},
        {"adts cut inside a header", concat({stereo, {0xFF, 0xF1, 0x50}}),
         found(44100, 2) + endOfData(3), {107, 7}, 44100, 2, false},
        {"adts junk midway", concat({stereo, bytesOf("JUNKJUNK")}),
         found(44100, 2) + err("AAC file ADTS sync word error(syncWord=4A5).") + err("Failed to parse ADTS header."),
         {107, 7}, 44100, 2, true},
        {"adts frame length 6", concat({stereo, adts(4, 2, false, 10, 6)}),
         found(44100, 2) + err("Invalid frame length(6)."), {107, 7}, 44100, 2, false},
        {"loas 44.1k stereo, cut last frame", concat({latm, first(sameMux(30), 13)}),
         kNotAdts + found(44100, 2) + endOfData(10) + endOfData(0), {43, 33, 13}, 44100, 2, false},
        {"loas 48k mono", loas(mono48k), kNotAdts + found(48000, 1) + endOfData(0), {43}, 48000, 1, false},
        {"loas explicit rate", loas(explicitRate), kNotAdts + found(37800, 2) + endOfData(0), {43}, 37800, 2, false},
        {"loas version 1, object type escape", loas(version1),
         kNotAdts + found(16000, 2) + endOfData(0), {43}, 16000, 2, false},
        {"loas 5.1", loas(surround), kNotAdts + found(44100, 0) + endOfData(0), {43}, 44100, 0, false},
        {"loas junk midway", concat({latm, adts(4, 2, false, 10)}),
         kNotAdts + found(44100, 2) + err("AAC file LOAS sync word error(syncWord=7FF).") +
             err("Failed to parse LOAS header."), {43, 33}, 44100, 2, true},
        {"neither framing", bytesOf("JUNKJUNK"),
         err("AAC file ADTS sync word error(syncWord=4A5).") + err("AAC file LOAS sync word error(syncWord=252)."),
         {}, 0, 0, true},
        {"shorter than a header", {0xFF, 0xF1, 0x50, 0x80, 0x10}, endOfData(5), {}, 0, 0, true},
        {"loas first frame without a config", concat({sameMux(30), latm}),
         kNotAdts + err("Failed to parse LOAS frame, useSameStreamMux=1."), {}, 0, 0, true},
        {"loas audioMuxVersionA", loas(versionA),
         kNotAdts + err("Failed to parse LOAS frame, audioMuxVersionA=1."), {}, 0, 0, true},
        {"loas frame too short for its config", concat({loas(Mux(), 2), latm}),
         kNotAdts + err("LOAS frame too short for its StreamMuxConfig(audioMuxLength=2)."), {}, 0, 0, true},
        {"loas frame bigger than the file", loas(Mux(), 40, 4000), kNotAdts + endOfData(40), {}, 0, 0, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<AacAudioDataReader>(c.file);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.lengths.empty(), r.invalidAfterOpen);
        EXPECT_EQ(c.rate, r.info.sampleFrequency);
        EXPECT_EQ(c.channels, r.info.channelMap);
        EXPECT_EQ(c.lengths, r.lengths);
        EXPECT_TRUE(handedFrom(r, c.file, 0));
        EXPECT_EQ(c.invalidAtEnd, r.invalidAtEnd);
    }
}

}  // namespace
