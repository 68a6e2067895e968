#include <gtest/gtest.h>

#include "CodecParameter.h"
#include "PcmParameter.h"

namespace {

// The record's type by codec id, and the first words of the format group it fills from the
// stream's info: MPEG layers, AUX options, the WMA fields, nothing for the others.
TEST(CodecParameter, ToRecordByCodecId) {
    AudioInfo info{};
    info.mpeg.layer = 2;
    info.auxFlag1 = true;
    info.wma = {16, 2973, 16000, 2048, 0x1F};
    const struct {
        int32_t codec, codecType;
        uint32_t group[2];
    } cases[] = {
        {16, 0x300, {0, 0}},  {19, 0x300, {0, 0}},       {20, 0xFFFF, {0, 0}}, {32, 0x500, {0, 0}},
        {48, 0x200, {0, 2}},  {49, 0x200, {0, 0}},       {50, 0x200, {0, 1}},  {51, 0x200, {0, 2}},
        {64, 0x400, {1, 0}},  {65, 0x400, {0x10001, 0}}, {80, 0x600, {0, 0}},  {82, 0x600, {0, 0}},
        {96, 0xB00, {0, 0}},  {112, 0x900, {0, 0}},      {128, 0xA00, {0, 0}}, {144, 0x800, {2973u << 16 | 16, 16000}},
        {160, 0xC00, {0, 0}}, {176, 0x700, {0, 0}},      {-1, 0xFFFF, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        audio::audio_codec_parameter_t p{};
        toCodecParameter(&p, c.codec, &info);
        EXPECT_EQ(c.codecType, p.codecType);
        uint32_t group[2];
        memcpy(group, p.raw, sizeof group);
        EXPECT_EQ(c.group[0], group[0]);
        EXPECT_EQ(c.group[1], group[1]);
    }
    audio::audio_codec_parameter_t p{};
    toCodecParameter(&p, 144, &info);
    int32_t codec = 0;
    AudioInfo back{};
    fromCodecParameter(&p, &codec, &back);
    EXPECT_EQ(144, codec);
    EXPECT_EQ(0, memcmp(&info.wma, &back.wma, sizeof(info.wma)));
    p = {};
    p.codecType = 0x400;
    p.aux.option1 = 7;
    p.aux.option2 = 7;
    fromCodecParameter(&p, &codec, &back);
    EXPECT_EQ(64, codec);
    EXPECT_TRUE(back.auxFlag1);
    EXPECT_FALSE(back.auxFlag2);  // only 1 counts
}

TEST(CodecParameter, PcmStereo48k) {
    AudioInfo info{};
    info.sampleFrequency = 48000;
    info.channelMap = 2;
    info.pcm.bitDepth = 16;
    info.pcm.blockAlign = 4;
    info.pcm.bytesPerSecond = 192000;
    audio::audio_codec_parameter_t p{};
    toCodecParameter(&p, 0, &info);
    EXPECT_EQ(256, p.codecType);
    EXPECT_EQ(48000, p.sampleRate);
    EXPECT_EQ(0, p.channels);
    EXPECT_EQ(0x03u, p.channelMap);
    EXPECT_EQ(2, p.pcm.format);
    EXPECT_EQ(4, p.pcm.blockAlign);
    EXPECT_EQ(192000, p.pcm.bytesPerSecond);
    EXPECT_EQ(192000u, pcmBytesPerSecond(&info));
}

TEST(CodecParameter, Tables) {
    const uint32_t masks[] = {0, 0x01, 0x03, 0x23, 0x0F, 0x1F, 0x3F, 0xDF, 0xFF, 0};
    for (uint32_t n = 0; n < 10; ++n) EXPECT_EQ(masks[n], channelMaskOf(n)) << n;
    const std::pair<uint32_t, int32_t> formats[] = {{8, 1},   {9, 0},   {16, 2},  {17, 3},
                                                    {32, 14}, {33, 15}, {24, -1}, {0, -1}};
    for (auto f : formats) EXPECT_EQ(f.second, pcmFormatOf(f.first)) << f.first;
    for (int32_t format = -1; format < 20; ++format) {  // the way back; every other format is 0
        uint32_t depth = 0;
        for (auto f : formats) depth = f.second == format && format >= 0 ? f.first : depth;
        EXPECT_EQ(depth, bitDepthOf(format)) << format;
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
    audio::audio_codec_parameter_t p{};
    p.codecType = 0x1234;
    int32_t codec = 0;
    AudioInfo info{};
    fromCodecParameter(&p, &codec, &info);
    EXPECT_EQ(-1, codec);
}

}  // namespace
