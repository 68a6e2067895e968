// The AC-3 and FLAC adapters on hand-made frame headers: what real encoders' files (checked end
// to end) do not hold, E-AC-3 frame groups and codec setup from a frame header, and the wire
// violations the adapters refuse.
#include "FieldCodec.h"
#include "HostAudioTestUtil.h"

namespace {

Bytes ac3(int rate, int size, size_t length) {
    Bytes f = {0x0B, 0x77, 0, 0, uint8_t(rate << 6 | size), 8 << 3};
    f.resize(length, uint8_t(length));
    return f;
}
Bytes eac3(int streamType, int subStream, size_t length) {
    const size_t words = length / 2 - 1;
    Bytes f = {0x0B, 0x77, uint8_t(streamType << 6 | subStream << 3 | words >> 8), uint8_t(words), 0x34, 16 << 3};
    f.resize(length, uint8_t(length));
    return f;
}

// Dependent frames and further substreams travel with the independent frame before them.
TEST(Ac3Adapter, GroupsEac3FramesAndRefusesViolations) {
    const auto i1 = eac3(0, 0, 200), d1 = eac3(1, 0, 100), s1 = eac3(0, 1, 64), i2 = eac3(2, 0, 120);
    const audio::audio_codec_parameter_t record = codecRecord(audio::AUDIO_CODEC_AC3, 48000, 3);
    CapturedPackets grouped;
    expectProblems(*hostaudio::makeAc3Adapter(), record, {{i1, ""}, {d1, ""}, {s1, ""}, {i2, ""}}, grouped);
    Bytes group = i1;
    group.insert(group.end(), d1.begin(), d1.end());
    group.insert(group.end(), s1.begin(), s1.end());
    EXPECT_TRUE((Units{group, i2}) == grouped.packets);

    CapturedPackets refused;
    // At 44.1 kHz an odd frame size code adds a padding word.
    expectProblems(*hostaudio::makeAc3Adapter(), record,
                   {{ac3(1, 37, 2787), "a unit of 2787 bytes where the frame header says 2788"},
                    {ac3(3, 0, 128), "reserved rate or frame size code in the AC-3 header (C0)"},
                    {ac3(0, 38, 128), "reserved rate or frame size code in the AC-3 header (26)"},
                    {{0x0B, 0x78, 0, 0, 0, 64}, "no sync word 0B77 at the start of the unit (0B78)"},
                    {{0x0B, 0x77, 0, 0, 0}, "a unit of 5 bytes cannot hold a sync frame header"},
                    {{0x0B, 0x77, 0, 0, 0, 9 << 3}, "bit stream id 9 is neither AC-3 nor E-AC-3"},
                    {d1, "a dependent E-AC-3 frame without the independent frame before it"}},
                   refused);
    EXPECT_TRUE(refused.packets.empty());
}

// A FLAC frame: header with the given codes and extra fields, its CRC-8 (or a wrong one), a body.
Bytes flac(uint8_t rateCode, uint8_t channelCode, uint8_t sizeCode, Bytes extra = {}, bool badCrc = false) {
    Bytes f = {0xFF, 0xF8, uint8_t(0xC0 | rateCode), uint8_t(channelCode << 4 | sizeCode << 1), 0x00};
    for (uint8_t b : extra) f.push_back(b);
    f.push_back(uint8_t(crc8(f.data(), uint32_t(f.size())) ^ (badCrc ? 0xFF : 0)));
    f.resize(f.size() + 20, 0x55);
    return f;
}

// Broken frames are refused; the first good one opens the codec with a STREAMINFO of its own
// channels and bits (mono, 16) and, without a rate in the record, its own rate (11025 Hz).
TEST(FlacAdapter, RefusesBrokenFramesAndOpensOnTheFirstGoodOne) {
    Bytes noSync = flac(9, 1, 4), continuation = flac(9, 1, 4);
    noSync[1] = 0xF4;
    continuation[4] = 0x80;
    const Bytes good = flac(13, 0, 4, {0x2B, 0x11});
    CapturedPackets out;
    expectProblems(*hostaudio::makeFlacAdapter(), codecRecord(audio::AUDIO_CODEC_FLAC, 0, 0),
                   {{flac(9, 1, 4, {}, true), "frame header CRC-8 C2 where the header holds 3D"},
                    {noSync, "no FLAC frame sync code at the start of a unit of 26 bytes"},
                    {flac(9, 11, 4), "reserved codes in the frame header C9B8"},
                    {flac(9, 1, 3), "reserved codes in the frame header C916"},
                    {continuation, "a coded frame number starting with 80"},
                    {{0xFF, 0xF8, 0xC9, 0x18, 0xC2, 0x80}, "a unit of 6 bytes ends inside its frame header"},
                    {flac(9, 1, 0), "neither the record nor the first frame header gives a sample size"},
                    {good, ""}},
                   out);
    EXPECT_TRUE(Units{good} == out.packets);
    ASSERT_EQ(1u, out.setups.size());
    EXPECT_EQ(AV_CODEC_ID_FLAC, out.setups[0].codecId);
    EXPECT_EQ(1, out.setups[0].channels);
    Bytes streamInfo = {0x00, 0x10, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0x02, 0xB1, 0x10, 0xF0};
    streamInfo.resize(34, 0);
    EXPECT_TRUE(streamInfo == out.setups[0].extradata);
}

}  // namespace
