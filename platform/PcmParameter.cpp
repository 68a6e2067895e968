#include "PcmParameter.h"

namespace {

const uint32_t kChannelMasks[] = {0x01, 0x03, 0x23, 0x0F, 0x1F, 0x3F, 0xDF, 0xFF};

struct PcmFormat {
    uint32_t bitDepth;
    int32_t format;
};

const PcmFormat kPcmFormats[] = {
    {PCM_U8, audio::AUDIO_PCM_U8},       {PCM_S8, audio::AUDIO_PCM_S8},       {PCM_S16LE, audio::AUDIO_PCM_S16LE},
    {PCM_S16BE, audio::AUDIO_PCM_S16BE}, {PCM_S32LE, audio::AUDIO_PCM_S32LE}, {PCM_S32BE, audio::AUDIO_PCM_S32BE},
};

}  // namespace

uint32_t channelMaskOf(uint32_t channelCount) {
    return (channelCount >= 1 && channelCount <= 8) ? kChannelMasks[channelCount - 1] : 0;
}

uint32_t channelCountOf(const audio::audio_codec_parameter_t* param, uint32_t current) {
    if (param->channels != 0) {
        uint32_t low = static_cast<uint32_t>(param->channels) & 0xFF;
        return (low >= 1 && low <= 8) ? low : 0;
    }
    if (param->channelMap != 0) {
        uint32_t bits = static_cast<uint32_t>(__builtin_popcount(param->channelMap));
        return (bits >= 1 && bits <= 8) ? bits : 0;
    }
    return current;
}

int32_t pcmFormatOf(uint32_t bitDepth) {
    for (const PcmFormat& f : kPcmFormats)
        if (f.bitDepth == bitDepth) return f.format;
    return -1;
}

uint32_t bitDepthOf(int32_t pcmFormat) {
    for (const PcmFormat& f : kPcmFormats)
        if (f.format == pcmFormat) return f.bitDepth;
    return 0;
}

uint32_t pcmFormatBytes(int32_t pcmFormat) { return pcmBytesPerSample(bitDepthOf(pcmFormat)); }

uint32_t pcmBytesPerSecond(const AudioInfo* info) {
    uint32_t channels = (info->channelMap >= 1 && info->channelMap <= 8) ? info->channelMap : 0;
    return channels * info->sampleFrequency * pcmBytesPerSample(info->pcm.bitDepth);
}

void toPcmParameter(audio::audio_codec_parameter_t* param, const AudioInfo* info) {
    param->codecType = audio::AUDIO_CODEC_PCM;
    param->sampleRate = static_cast<int32_t>(info->sampleFrequency);
    param->channels = 0;
    param->channelMap = channelMaskOf(info->channelMap);
    param->pcm.format = pcmFormatOf(info->pcm.bitDepth);
    param->pcm.blockAlign = static_cast<int32_t>(info->pcm.blockAlign);
    param->pcm.bytesPerSecond = static_cast<int32_t>(info->pcm.bytesPerSecond);
}
