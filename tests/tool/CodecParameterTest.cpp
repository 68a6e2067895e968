#include <gtest/gtest.h>

#include "CodecParameter.h"
#include "PcmParameter.h"

namespace {

// The record's type by codec id, the stream's rate and channel mask (never a count), and the
// first words of the format group it fills from the stream's info: the PCM format, MPEG layers,
// AUX options, the WMA fields, nothing for the others.
TEST(CodecParameter, ToRecordByCodecId) {
    AudioInfo info{};
    info.sampleFrequency = 48000;
    info.channelMap = 2;
    info.pcm = {16, 4, 192000};
    info.mpeg.layer = 2;
    info.auxFlag1 = true;
    info.wma = {16, 2973, 16000, 2048, 0x1F};
    EXPECT_EQ(192000u, pcmBytesPerSecond(&info));
    const struct {
        int32_t codec, codecType;
        uint32_t group[3];
    } cases[] = {
        {0, 0x100, {2, 4, 192000}},   {16, 0x300, {0, 0, 0}},
        {19, 0x300, {0, 0, 0}},       {20, 0xFFFF, {0, 0, 0}},
        {32, 0x500, {0, 0, 0}},       {48, 0x200, {0, 2, 0}},
        {49, 0x200, {0, 0, 0}},       {50, 0x200, {0, 1, 0}},
        {51, 0x200, {0, 2, 0}},       {64, 0x400, {1, 0, 0}},
        {65, 0x400, {0x10001, 0, 0}}, {80, 0x600, {0, 0, 0}},
        {82, 0x600, {0, 0, 0}},       {96, 0xB00, {0, 0, 0}},
        {112, 0x900, {0, 0, 0}},      {128, 0xA00, {0, 0, 0}},
        {160, 0xC00, {0, 0, 0}},      {176, 0x700, {0, 0, 0}},
        {-1, 0xFFFF, {0, 0, 0}},      {144, 0x800, {2973u << 16 | 16, 16000, 2048}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        audio::audio_codec_parameter_t p{};
        p.channels = 5;
        toCodecParameter(&p, c.codec, &info);
        EXPECT_EQ(c.codecType, p.codecType);
        EXPECT_EQ(48000, p.sampleRate);
        EXPECT_EQ(0, p.channels);
        EXPECT_EQ(0x03u, p.channelMap);
        uint32_t group[3];
        memcpy(group, p.raw, sizeof group);
        EXPECT_EQ(std::vector<uint32_t>(c.group, c.group + 3), std::vector<uint32_t>(group, group + 3));
    }
}

TEST(CodecParameter, OutputChannelCount) {
    const struct {
        int32_t channels;
        uint32_t mask, before, count;
    } cases[] = {
        {0, 0x3F, 0, 6}, {2, 0x3F, 0, 2},  {0x102, 0, 0, 2},
        {9, 0, 0, 0},    {0, 0x1FF, 0, 0}, {0, 0, 5, 5},  // neither given: unchanged
    };
    for (const auto& c : cases) {
        audio::audio_codec_parameter_t p{};
        p.codecType = 0x100;
        p.sampleRate = 44100;
        p.channels = c.channels;
        p.channelMap = c.mask;
        p.pcm.format = 14;
        AudioInfo info{};
        info.channelMap = c.before;
        int32_t codec = -5;
        fromCodecParameter(&p, &codec, &info);
        EXPECT_EQ(0, codec);
        EXPECT_EQ(c.count, info.channelMap);
        EXPECT_EQ(32u, info.pcm.bitDepth);
        EXPECT_EQ(44100u, info.sampleFrequency);
    }
}

}  // namespace
