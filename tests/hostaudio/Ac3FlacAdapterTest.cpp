// The AC-3 and FLAC adapters on hand-made frame headers: the packets and codec setup they make,
// and the wire violations they refuse. Real decoding is checked end to end.
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

// Feeds the units; the problems, one per unit ("" when taken).
std::vector<std::string> feed(hostaudio::FormatAdapter& adapter, const std::vector<std::vector<uint8_t>>& units,
                              Captured& out, int32_t rate = 48000) {
    audio::audio_codec_parameter_t record{};
    record.sampleRate = rate;
    EXPECT_TRUE(adapter.configure(record));
    std::vector<std::string> problems;
    for (const auto& u : units) {
        std::string problem;
        const bool taken = adapter.unpack(u.data(), u.size(), out, problem);
        EXPECT_EQ(taken, problem.empty()) << problem;
        problems.push_back(problem);
    }
    adapter.finish(out);
    return problems;
}

std::vector<uint8_t> ac3(int rate, int size, size_t length) {
    std::vector<uint8_t> f = {0x0B, 0x77, 0, 0, static_cast<uint8_t>(rate << 6 | size), 8 << 3};
    f.resize(length, static_cast<uint8_t>(length));
    return f;
}
std::vector<uint8_t> eac3(int streamType, int subStream, size_t length) {
    const size_t words = length / 2 - 1;
    std::vector<uint8_t> f = {0x0B, 0x77, static_cast<uint8_t>(streamType << 6 | subStream << 3 | words >> 8),
                              static_cast<uint8_t>(words), 0x34, 16 << 3};
    f.resize(length, static_cast<uint8_t>(length));
    return f;
}

TEST(Ac3Adapter, FramesGroupsAndViolations) {
    Captured plain;
    const std::vector<std::vector<uint8_t>> ac3Units = {ac3(0, 0, 128), ac3(1, 37, 2788), ac3(2, 9, 384)};
    feed(*hostaudio::makeAc3Adapter(), ac3Units, plain);
    EXPECT_TRUE(ac3Units == plain.packets);
    EXPECT_EQ(AV_CODEC_ID_AC3, plain.setups.at(0).codecId);

    // Dependent frames and further substreams travel with the independent frame before them.
    const auto i1 = eac3(0, 0, 200), d1 = eac3(1, 0, 100), s1 = eac3(0, 1, 64), i2 = eac3(2, 0, 120);
    Captured grouped;
    feed(*hostaudio::makeAc3Adapter(), {i1, d1, s1, i2}, grouped);
    std::vector<uint8_t> group = i1;
    group.insert(group.end(), d1.begin(), d1.end());
    group.insert(group.end(), s1.begin(), s1.end());
    EXPECT_TRUE((std::vector<std::vector<uint8_t>>{group, i2}) == grouped.packets);
    EXPECT_EQ(AV_CODEC_ID_EAC3, grouped.setups.at(0).codecId);

    Captured refused;
    EXPECT_EQ((std::vector<std::string>{"a unit of 127 bytes where the frame header says 128",
                                        "reserved rate or frame size code in the AC-3 header (C0)",
                                        "reserved rate or frame size code in the AC-3 header (26)",
                                        "no sync word 0B77 at the start of the unit (0B78)",
                                        "a unit of 5 bytes cannot hold a sync frame header",
                                        "bit stream id 9 is neither AC-3 nor E-AC-3",
                                        "a dependent E-AC-3 frame without the independent frame before it"}),
              feed(*hostaudio::makeAc3Adapter(),
                   {ac3(0, 0, 127), ac3(3, 0, 128), ac3(0, 38, 128), {0x0B, 0x78, 0, 0, 0, 64}, {0x0B, 0x77, 0, 0, 0},
                    {0x0B, 0x77, 0, 0, 0, 9 << 3}, d1},
                   refused));
    EXPECT_TRUE(refused.packets.empty());
}

uint8_t crc8(const std::vector<uint8_t>& bytes) {
    uint8_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = static_cast<uint8_t>(crc & 0x80 ? crc << 1 ^ 0x07 : crc << 1);
    }
    return crc;
}

// A FLAC frame: header with the given codes and extra fields, its CRC-8 (or a wrong one), a body.
std::vector<uint8_t> flac(uint8_t rateCode, uint8_t channelCode, uint8_t sizeCode, std::vector<uint8_t> extra = {},
                          bool badCrc = false) {
    std::vector<uint8_t> f = {0xFF, 0xF8, static_cast<uint8_t>(0xC0 | rateCode),
                              static_cast<uint8_t>(channelCode << 4 | sizeCode << 1), 0x00};
    for (uint8_t b : extra) f.push_back(b);
    f.push_back(static_cast<uint8_t>(crc8(f) ^ (badCrc ? 0xFF : 0)));
    f.resize(f.size() + 20, 0x55);
    return f;
}

// Broken frames are refused; the first good one opens the codec with a STREAMINFO of its own
// channels and bits (mono, 16) and, without a rate in the record, its own rate (11025 Hz).
TEST(FlacAdapter, RefusesBrokenFramesAndOpensOnTheFirstGoodOne) {
    std::vector<uint8_t> noSync = flac(9, 1, 4), continuation = flac(9, 1, 4);
    noSync[1] = 0xF4;
    continuation[4] = 0x80;
    const std::vector<uint8_t> good = flac(13, 0, 4, {0x2B, 0x11});
    Captured out;
    const std::vector<std::string> problems = feed(
        *hostaudio::makeFlacAdapter(),
        {flac(9, 1, 4, {}, true), noSync, flac(9, 11, 4), flac(9, 1, 3), continuation,
         {0xFF, 0xF8, 0xC9, 0x18, 0xC2, 0x80}, flac(9, 1, 0), good},
        out, 0);
    EXPECT_EQ(0u, problems[0].find("frame header CRC-8 ")) << problems[0];
    EXPECT_EQ((std::vector<std::string>{"no FLAC frame sync code at the start of a unit of 26 bytes",
                                        "reserved codes in the frame header C9B8",
                                        "reserved codes in the frame header C916",
                                        "a coded frame number starting with 80",
                                        "a unit of 6 bytes ends inside its frame header",
                                        "the first frame leaves its sample size to a STREAMINFO the service never gets",
                                        ""}),
              std::vector<std::string>(problems.begin() + 1, problems.end()));
    EXPECT_TRUE(std::vector<std::vector<uint8_t>>{good} == out.packets);
    ASSERT_EQ(1u, out.setups.size());
    EXPECT_EQ(AV_CODEC_ID_FLAC, out.setups[0].codecId);
    EXPECT_EQ(1, out.setups[0].channels);
    std::vector<uint8_t> streamInfo = {0x00, 0x10, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0x02, 0xB1, 0x10, 0xF0};
    streamInfo.resize(34, 0);
    EXPECT_TRUE(streamInfo == out.setups[0].extradata);
}

}  // namespace
