#include <gtest/gtest.h>

#include "CodecParameter.h"
#include "PcmParameter.h"

namespace {

TEST(CodecParameter, ToRecordByCodecId) {
    struct Case {
        int32_t codec;
        int32_t codecType;
    };
    const Case cases[] = {{0, 0x100},   {16, 0x300},  {19, 0x300},  {20, 0xFFFF}, {32, 0x500},  {48, 0x200},
                          {51, 0x200},  {64, 0x400},  {65, 0x400},  {80, 0x600},  {82, 0x600},  {96, 0xB00},
                          {112, 0x900}, {128, 0xA00}, {144, 0x800}, {160, 0xC00}, {176, 0x700}, {-1, 0xFFFF}};
    AudioInfo info{};
    for (const Case& c : cases) {
        audio::audio_codec_parameter_t p{};
        toCodecParameter(&p, c.codec, &info);
        EXPECT_EQ(c.codecType, p.codecType) << c.codec;
    }
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
    for (int32_t format = -1; format < 20; ++format) {
        uint32_t expected = format == 0    ? 9
                            : format == 1  ? 8
                            : format == 2  ? 16
                            : format == 3  ? 17
                            : format == 14 ? 32
                            : format == 15 ? 33
                                           : 0;
        EXPECT_EQ(expected, bitDepthOf(format)) << format;
    }
}

TEST(CodecParameter, PerFormatGroups) {
    AudioInfo info{};
    info.mpeg.layer = 2;
    info.auxFlag1 = true;
    info.wma = {16, 2973, 16000, 2048, 0x1F};
    audio::audio_codec_parameter_t p{};
    toCodecParameter(&p, 48, &info);
    EXPECT_EQ(2, p.mpeg.layer);
    for (auto c : {std::make_pair(49, 0), std::make_pair(50, 1), std::make_pair(51, 2)}) {
        audio::audio_codec_parameter_t q{};
        toCodecParameter(&q, c.first, &info);
        EXPECT_EQ(c.second, q.mpeg.layer);
    }
    p = {};
    toCodecParameter(&p, 64, &info);
    EXPECT_EQ(1, p.aux.option1);
    EXPECT_EQ(0, p.aux.option2);
    p = {};
    toCodecParameter(&p, 65, &info);
    EXPECT_EQ(1, p.aux.option2);
    p = {};
    toCodecParameter(&p, 144, &info);
    EXPECT_EQ(2973, p.wma.blockAlignment);
    EXPECT_EQ(0x1F, p.wma.encodeOptions);

    int32_t codec = 0;
    AudioInfo back{};
    fromCodecParameter(&p, &codec, &back);
    EXPECT_EQ(144, codec);
    EXPECT_EQ(0, memcmp(&info.wma, &back.wma, sizeof(info.wma)));
    p = {};
    p.codecType = 0x400;
    p.aux.option1 = 7;
    p.aux.option2 = 7;
    back = {};
    fromCodecParameter(&p, &codec, &back);
    EXPECT_EQ(64, codec);
    EXPECT_TRUE(back.auxFlag1);
    EXPECT_FALSE(back.auxFlag2);  // only 1 counts
}

TEST(CodecParameter, OutputChannelCount) {
    struct Case {
        int32_t channels;
        uint32_t mask;
        uint32_t before;
        uint32_t count;
    };
    const Case cases[] = {
        {0, 0x3F, 0, 6}, {2, 0x3F, 0, 2},  {0x102, 0, 0, 2},
        {9, 0, 0, 0},    {0, 0x1FF, 0, 0}, {0, 0, 5, 5},  // neither given: unchanged
    };
    for (const Case& c : cases) {
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
