// The platform audio service's parameter record, laid out byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace audio {

enum : int32_t {
    AUDIO_CODEC_PCM = 0x100,
    AUDIO_CODEC_MPEG = 0x200,
    AUDIO_CODEC_AAC = 0x300,
    AUDIO_CODEC_AUX = 0x400,
    AUDIO_CODEC_TYPE5 = 0x500,
    AUDIO_CODEC_AC3 = 0x600,
    AUDIO_CODEC_RA = 0x700,
    AUDIO_CODEC_WMA = 0x800,
    AUDIO_CODEC_OGG = 0x900,
    AUDIO_CODEC_APE = 0xA00,
    AUDIO_CODEC_FLAC = 0xB00,
    AUDIO_CODEC_ALAC = 0xC00,
    AUDIO_CODEC_INVALID = 0xFFFF,
};

// pcm.format codes.
enum : int32_t {
    AUDIO_PCM_S8 = 0,
    AUDIO_PCM_U8 = 1,
    AUDIO_PCM_S16LE = 2,
    AUDIO_PCM_S16BE = 3,
    AUDIO_PCM_S32LE = 14,
    AUDIO_PCM_S32BE = 15,
};

struct audio_codec_parameter_t {
    int32_t codecType;
    int32_t sampleRate;
    int32_t channels;
    uint32_t channelMap;
    union {
        struct {
            int32_t format;
            int32_t blockAlign;
            int32_t bytesPerSecond;
        } pcm;
        struct {
            int32_t unused;
            int32_t layer;
        } mpeg;
        struct {
            uint16_t option1;
            uint16_t option2;
        } aux;
        struct {
            uint16_t bitsPerSample;
            uint16_t blockAlignment;
            uint32_t avgBytesPerSecond;
            uint32_t samplesPerBlock;
            uint16_t encodeOptions;
        } wma;
        // For the frames whose headers leave the sample size to STREAMINFO.
        struct {
            uint16_t bitsPerSample;
        } flac;
        uint8_t raw[16];
    };
};

static_assert(sizeof(audio_codec_parameter_t) == 32, "record is 32 bytes");
static_assert(offsetof(audio_codec_parameter_t, codecType) == 0, "");
static_assert(offsetof(audio_codec_parameter_t, sampleRate) == 4, "");
static_assert(offsetof(audio_codec_parameter_t, channels) == 8, "");
static_assert(offsetof(audio_codec_parameter_t, channelMap) == 12, "");
static_assert(offsetof(audio_codec_parameter_t, pcm.format) == 16, "");
static_assert(offsetof(audio_codec_parameter_t, pcm.blockAlign) == 20, "");
static_assert(offsetof(audio_codec_parameter_t, pcm.bytesPerSecond) == 24, "");
static_assert(offsetof(audio_codec_parameter_t, mpeg.layer) == 20, "");
static_assert(offsetof(audio_codec_parameter_t, aux.option1) == 16, "");
static_assert(offsetof(audio_codec_parameter_t, aux.option2) == 18, "");
static_assert(offsetof(audio_codec_parameter_t, wma.bitsPerSample) == 16, "");
static_assert(offsetof(audio_codec_parameter_t, wma.blockAlignment) == 18, "");
static_assert(offsetof(audio_codec_parameter_t, wma.avgBytesPerSecond) == 20, "");
static_assert(offsetof(audio_codec_parameter_t, wma.samplesPerBlock) == 24, "");
static_assert(offsetof(audio_codec_parameter_t, wma.encodeOptions) == 28, "");
static_assert(offsetof(audio_codec_parameter_t, flac.bitsPerSample) == 16, "");

}  // namespace audio
