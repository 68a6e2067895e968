// ADTS and LOAS headers real encoders do not write, and damaged streams. ffmpeg's ADTS files at
// several rates and channel counts, with CRC, and its LATM files (one with an explicit rate) are
// covered end to end.
#include <gtest/gtest.h>

#include "AacAudioDataReader.h"
#include "ReadAll.h"

namespace {

// Bit fields, most significant bit first, into `length` bytes padded with 0x11.
struct Bits {
    Bytes bytes;
    size_t used = 0;
    Bits& put(uint32_t value, int width) {
        for (int i = width - 1; i >= 0; --i, ++used) {
            if (used % 8 == 0) bytes.push_back(0);
            if (value >> i & 1) bytes.back() |= uint8_t(0x80 >> used % 8);
        }
        return *this;
    }
    Bytes take(size_t length) {
        bytes.resize(length, 0x11);
        return bytes;
    }
};

// An ADTS frame without CRC; `lie` replaces frameLength when not 0.
Bytes adts(uint32_t rateIndex, uint32_t channels, size_t payload, uint32_t lie = 0) {
    Bits b;
    b.put(0xFFF, 12).put(1, 4).put(1, 2).put(rateIndex, 4).put(0, 1).put(channels, 3).put(0, 4);
    return b.put(lie ? lie : uint32_t(7 + payload), 13).put(0x7FF, 11).put(0, 2).take(7 + payload);
}

struct Mux {
    uint32_t version, versionA, objectType, rateIndex;
};

// A LOAS frame whose AudioMuxElement starts with a stereo StreamMuxConfig; `claimed` lies about
// its length.
Bytes loas(const Mux& m, size_t length = 40, int claimed = -1) {
    Bits b;
    b.put(0x2B7, 11).put(claimed < 0 ? uint32_t(length) : uint32_t(claimed), 13).put(0, 1).put(m.version, 1);
    if (m.version) b.put(m.versionA, 1).put(3, 2).put(0xFFFFFFFF, 32);  // taraBufferFullness in 4 bytes
    b.put(1, 1).put(0, 6).put(0, 4).put(0, 3);
    if (m.version) b.put(1, 2).put(0xFFFF, 16);  // ascLen in 2 bytes
    if (m.objectType >= 32)
        b.put(31, 5).put(m.objectType - 32, 6);
    else
        b.put(m.objectType, 5);
    return b.put(m.rateIndex, 4).put(2, 4).take(3 + length);
}

// A LOAS frame that reuses the last StreamMuxConfig.
Bytes sameMux(size_t length) { return Bits().put(0x2B7, 11).put(uint32_t(length), 13).put(1, 1).take(3 + length); }

Bytes first(const Bytes& frame, size_t n) { return {frame.begin(), frame.begin() + long(n)}; }

TEST(AacReader, FramingsHeadersAndEnds) {
    const Mux plain{0, 0, 2, 4};
    const Bytes stereo = cat({adts(4, 2, 100), adts(4, 2, 0)}), latm = cat({loas(plain), sameMux(30)});
    const std::string found = summary("parseAacHeader", 44100, 2);
    const std::string notAdts = err("AAC file ADTS sync word error(syncWord=56E).");
    const struct {
        const char* label;
        Bytes file;
        std::string out;
        Lengths lengths = {};  // empty: the file does not open
        bool invalidAtEnd = true;
    } cases[] = {
        {"adts 7350, then reserved index 13", cat({adts(12, 1, 20), adts(13, 1, 20)}),
         summary("parseAacHeader", 7350, 1) + endOfData(0), Lengths{27, 27}, false},
        {"adts cut last frame", cat({stereo, first(adts(4, 2, 100), 20)}), found + endOfData(13) + endOfData(0),
         Lengths{107, 7, 20}, false},
        {"adts cut inside a header", cat({stereo, Bytes{0xFF, 0xF1, 0x50}}), found + endOfData(3), Lengths{107, 7},
         false},
        {"adts junk midway", cat({stereo, str("JUNKJUNK")}),
         found + err("AAC file ADTS sync word error(syncWord=4A5).") + err("Failed to parse ADTS header."),
         Lengths{107, 7}, true},
        {"adts frame length 6", cat({stereo, adts(4, 2, 10, 6)}), found + err("Invalid frame length(6)."),
         Lengths{107, 7}, false},
        {"loas version 1, object type escape", loas({1, 0, 36, 8}),
         notAdts + summary("parseAacHeader", 16000, 2) + endOfData(0), Lengths{43}, false},
        {"loas junk midway", cat({latm, adts(4, 2, 10)}),
         notAdts + found + err("AAC file LOAS sync word error(syncWord=7FF).") + err("Failed to parse LOAS header."),
         Lengths{43, 33}, true},
        {"neither framing", str("JUNKJUNK"),
         err("AAC file ADTS sync word error(syncWord=4A5).") + err("AAC file LOAS sync word error(syncWord=252).")},
        {"shorter than a header", Bytes{0xFF, 0xF1, 0x50, 0x80, 0x10}, endOfData(5)},
        {"loas first frame without a config", cat({sameMux(30), latm}),
         notAdts + err("Failed to parse LOAS frame, useSameStreamMux=1.")},
        {"loas audioMuxVersionA", loas({1, 1, 2, 4}), notAdts + err("Failed to parse LOAS frame, audioMuxVersionA=1.")},
        {"loas frame too short for its config", cat({loas(plain, 2), latm}),
         notAdts + err("LOAS frame too short for its StreamMuxConfig(audioMuxLength=2).")},
        {"loas frame bigger than the file", loas(plain, 40, 4000), notAdts + endOfData(40)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ReadAll r = readAll<AacAudioDataReader>(c.file);
        EXPECT_EQ(c.out, r.out());
        EXPECT_EQ(c.lengths.empty(), r.invalid);
        EXPECT_EQ(c.lengths, r.lengths());
        EXPECT_TRUE(r.handedFrom(c.file, 0));
        EXPECT_EQ(c.invalidAtEnd, r.invalidAtEnd);
    }
}

}  // namespace
