// The AC-3 and FLAC adapters on hand-made frame headers: which packets and codec setup come
// out of which units, and the wire violations they refuse. Real decoding is checked end to end.
#include <gtest/gtest.h>

#include "FormatAdapter.h"

namespace {

struct Captured final : hostaudio::PacketOutput {
    bool open(const hostaudio::CodecSetup& s) override {
        setups.push_back(s);
        return true;
    }
    bool isOpen() const override { return !setups.empty(); }
    bool packet(const uint8_t* data, size_t length) override {
        packets.emplace_back(data, data + length);
        return true;
    }
    std::vector<hostaudio::CodecSetup> setups;
    std::vector<std::vector<uint8_t>> packets;
};

// AC-3: sync, crc1, rate and frame size codes, bsid 8; the body marked with `fill`.
std::vector<uint8_t> ac3(int rateCode, int sizeCode, size_t length, uint8_t fill) {
    std::vector<uint8_t> f = {0x0B, 0x77, 0, 0, static_cast<uint8_t>(rateCode << 6 | sizeCode), 8 << 3};
    f.resize(length, fill);
    return f;
}
// E-AC-3: stream type, substream, frame size from the length, 48 kHz, bsid 16.
std::vector<uint8_t> eac3(int streamType, int subStream, size_t length, uint8_t fill) {
    size_t words = length / 2 - 1;
    std::vector<uint8_t> f = {0x0B, 0x77, static_cast<uint8_t>(streamType << 6 | subStream << 3 | words >> 8),
                              static_cast<uint8_t>(words), 0x34, 16 << 3};
    f.resize(length, fill);
    return f;
}

std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(Ac3Adapter, SyncFramesBecomePackets) {
    const auto i1 = eac3(0, 0, 200, 1), d1 = eac3(1, 0, 100, 2), d2 = eac3(1, 1, 64, 3), i2 = eac3(0, 0, 200, 4);
    const auto other = eac3(0, 1, 80, 5), i3 = eac3(2, 0, 120, 6);
    struct Case {
        const char* label;
        std::vector<std::vector<uint8_t>> units;
        std::vector<std::string> problems;  // one per unit, empty when taken
        std::vector<std::vector<uint8_t>> packets;
        AVCodecID codec;
    };
    const Case cases[] = {
        {"ac3 48k 32k, 44.1k 640k padded, 32k 96k",
         {ac3(0, 0, 128, 1), ac3(1, 37, 2788, 2), ac3(2, 9, 384, 3)},
         {"", "", ""},
         {ac3(0, 0, 128, 1), ac3(1, 37, 2788, 2), ac3(2, 9, 384, 3)},
         AV_CODEC_ID_AC3},
        {"eac3 dependents and other substreams join their independent frame",
         {i1, d1, d2, i2, other, i3},
         {"", "", "", "", "", ""},
         {join({i1, d1, d2}), join({i2, other}), i3},
         AV_CODEC_ID_EAC3},
        {"violations",
         {ac3(0, 0, 127, 1), ac3(3, 0, 128, 1), ac3(0, 38, 128, 1), {0x0B, 0x78, 0, 0, 0, 64}, {0x0B, 0x77, 0, 0, 0},
          {0x0B, 0x77, 0, 0, 0, 9 << 3}, eac3(3, 0, 64, 1), d1},
         {"a unit of 127 bytes where the frame header says 128",
          "reserved rate or frame size code in the AC-3 header (C0)",
          "reserved rate or frame size code in the AC-3 header (26)",
          "no sync word 0B77 at the start of the unit (0B78)", "a unit of 5 bytes cannot hold a sync frame header",
          "bit stream id 9 is neither AC-3 nor E-AC-3", "reserved stream type 3 in the E-AC-3 header",
          "a dependent E-AC-3 frame without the independent frame before it"},
         {},
         AV_CODEC_ID_EAC3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::unique_ptr<hostaudio::FormatAdapter> adapter = hostaudio::makeAc3Adapter();
        audio::audio_codec_parameter_t record{};
        record.codecType = 0x600;
        record.sampleRate = 48000;
        ASSERT_TRUE(adapter->configure(record));
        Captured out;
        for (size_t i = 0; i < c.units.size(); ++i) {
            std::string problem;
            bool taken = adapter->unpack(c.units[i].data(), c.units[i].size(), out, problem);
            EXPECT_EQ(c.problems[i], problem) << "unit " << i;
            EXPECT_EQ(c.problems[i].empty(), taken) << "unit " << i;
        }
        adapter->finish(out);
        EXPECT_TRUE(c.packets == out.packets);
        if (!c.packets.empty()) {
            ASSERT_EQ(1u, out.setups.size());
            EXPECT_EQ(c.codec, out.setups[0].codecId);
        }
    }
}

// CRC-8 with polynomial 0x07, as FLAC frame headers carry it.
uint8_t crc8(const std::vector<uint8_t>& bytes) {
    uint8_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = static_cast<uint8_t>(crc & 0x80 ? crc << 1 ^ 0x07 : crc << 1);
    }
    return crc;
}

// A FLAC frame header (fixed blocking, frame number 0) and a body behind it.
std::vector<uint8_t> flacFrame(uint8_t blockCode, uint8_t rateCode, uint8_t channelCode, uint8_t sizeCode,
                               std::vector<uint8_t> extra, bool badCrc = false) {
    std::vector<uint8_t> f = {0xFF, 0xF8, static_cast<uint8_t>(blockCode << 4 | rateCode),
                              static_cast<uint8_t>(channelCode << 4 | sizeCode << 1), 0x00};
    for (uint8_t b : extra) f.push_back(b);
    uint8_t crc = crc8(f);
    f.push_back(static_cast<uint8_t>(crc ^ (badCrc ? 0xFF : 0)));
    f.resize(f.size() + 20, 0x55);
    return f;
}

TEST(FlacAdapter, StreamInfoComesFromTheRecordAndTheFirstFrame) {
    struct Case {
        const char* label;
        int32_t recordRate;
        std::vector<uint8_t> frame;
        int channels;
        int bits;
        std::vector<uint8_t> rateBytes;  // STREAMINFO bytes 10 to 13: rate, channels, bits
    };
    const Case cases[] = {
        {"96k stereo 24", 96000, flacFrame(12, 11, 1, 6, {}), 2, 24, {0x17, 0x70, 0x03, 0x70}},
        {"44.1k 5.1 16", 44100, flacFrame(12, 9, 5, 4, {}), 6, 16, {0x0A, 0xC4, 0x4A, 0xF0}},
        {"mid/side 8 bit", 8000, flacFrame(6, 4, 10, 1, {99}), 2, 8, {0x01, 0xF4, 0x02, 0x70}},
        {"no record rate: the frame's 16-bit rate", 0, flacFrame(12, 13, 0, 4, {0x2B, 0x11}), 1, 16,
         {0x02, 0xB1, 0x10, 0xF0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::unique_ptr<hostaudio::FormatAdapter> adapter = hostaudio::makeFlacAdapter();
        audio::audio_codec_parameter_t record{};
        record.codecType = 0xB00;
        record.sampleRate = c.recordRate;
        ASSERT_TRUE(adapter->configure(record));
        Captured out;
        std::string problem;
        EXPECT_TRUE(adapter->unpack(c.frame.data(), c.frame.size(), out, problem)) << problem;
        ASSERT_EQ(1u, out.setups.size());
        const hostaudio::CodecSetup& s = out.setups[0];
        EXPECT_EQ(AV_CODEC_ID_FLAC, s.codecId);
        EXPECT_EQ(c.channels, s.channels);
        std::vector<uint8_t> expected = {0x00, 0x10, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
        expected.insert(expected.end(), c.rateBytes.begin(), c.rateBytes.end());
        expected.resize(34, 0);
        EXPECT_TRUE(expected == s.extradata);
        ASSERT_EQ(1u, out.packets.size());
        EXPECT_TRUE(c.frame == out.packets[0]);
    }
}

TEST(FlacAdapter, FramesThatBreakTheWireFormatAreRefused) {
    const std::vector<uint8_t> good = flacFrame(12, 9, 1, 4, {});
    std::vector<uint8_t> noSync = good;
    noSync[1] = 0xF4;
    std::vector<uint8_t> continuation = good;
    continuation[4] = 0x80;
    const std::vector<uint8_t> cutHeader = {0xFF, 0xF8, 0xC9, 0x18, 0xC2, 0x80};
    struct Case {
        const char* label;
        std::vector<uint8_t> frame;
        std::string problem;
    };
    const Case cases[] = {
        {"bad CRC-8", flacFrame(12, 9, 1, 4, {}, true), "frame header CRC-8 "},
        {"no sync", noSync, "no FLAC frame sync code at the start of a unit of 26 bytes"},
        {"reserved channel assignment", flacFrame(12, 9, 11, 4, {}), "reserved codes in the frame header C9B8"},
        {"reserved sample size", flacFrame(12, 9, 1, 3, {}), "reserved codes in the frame header C916"},
        {"continuation byte first", continuation, "a coded frame number starting with 80"},
        {"header longer than the unit", cutHeader, "a unit of 6 bytes ends inside its frame header"},
        {"sample size left to STREAMINFO", flacFrame(12, 9, 1, 0, {}),
         "the first frame leaves its sample size to a STREAMINFO the service never gets"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::unique_ptr<hostaudio::FormatAdapter> adapter = hostaudio::makeFlacAdapter();
        audio::audio_codec_parameter_t record{};
        record.sampleRate = 44100;
        adapter->configure(record);
        Captured out;
        std::string problem;
        EXPECT_FALSE(adapter->unpack(c.frame.data(), c.frame.size(), out, problem));
        EXPECT_EQ(0u, problem.find(c.problem)) << problem;
        EXPECT_TRUE(out.packets.empty());
        // The stream goes on: the next good frame opens the codec and is decoded.
        EXPECT_TRUE(adapter->unpack(good.data(), good.size(), out, problem));
        EXPECT_EQ(1u, out.packets.size());
    }
}

}  // namespace
