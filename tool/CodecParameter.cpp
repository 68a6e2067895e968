#include "CodecParameter.h"

namespace {

struct CodecRange {
    int32_t first;
    int32_t last;
    int32_t codecType;
};

// Codec id ranges to format codes; the first id of each range is also the way back.
const CodecRange kCodecTypes[] = {
    {0, 0, 0x100},     {16, 19, 0x300},  {32, 32, 0x500},   {48, 51, 0x200},
    {64, 65, 0x400},   {80, 82, 0x600},  {96, 96, 0xB00},   {112, 112, 0x900},
    {128, 128, 0xA00}, {144, 144, 0x800}, {160, 160, 0xC00}, {176, 176, 0x700},
};

const uint32_t kChannelMasks[] = {0x01, 0x03, 0x23, 0x0F, 0x1F, 0x3F, 0xDF, 0xFF};

struct PcmFormat {
    uint32_t bitDepth;
    int32_t format;
};

const PcmFormat kPcmFormats[] = {{8, 1}, {9, 0}, {16, 2}, {17, 3}, {32, 14}, {33, 15}};

int32_t codecOf(int32_t codecType) {
    for (const CodecRange& r : kCodecTypes)
        if (r.codecType == codecType) return r.first;
    return -1;
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

}  // namespace

int32_t codecTypeOf(int32_t codec) {
    for (const CodecRange& r : kCodecTypes)
        if (codec >= r.first && codec <= r.last) return r.codecType;
    return 0xFFFF;
}

uint32_t channelMaskOf(uint32_t channelCount) {
    return (channelCount >= 1 && channelCount <= 8) ? kChannelMasks[channelCount - 1] : 0;
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

void toCodecParameter(audio::audio_codec_parameter_t* param, int32_t codec, const AudioInfo* info) {
    param->codecType = codecTypeOf(codec);
    param->sampleRate = static_cast<int32_t>(info->sampleFrequency);
    param->channels = 0;
    param->channelMap = channelMaskOf(info->channelMap);
    switch (codec) {
    case 0:
        param->pcm.format = pcmFormatOf(info->pcm.bitDepth);
        param->pcm.blockAlign = static_cast<int32_t>(info->pcm.blockAlign);
        param->pcm.bytesPerSecond = static_cast<int32_t>(info->pcm.bytesPerSecond);
        break;
    case 48: param->mpeg.layer = static_cast<int32_t>(info->mpeg.layer); break;
    case 49: param->mpeg.layer = 0; break;
    case 50: param->mpeg.layer = 1; break;
    case 51: param->mpeg.layer = 2; break;
    case 64:
        param->aux.option1 = info->auxFlag1;
        param->aux.option2 = info->auxFlag2;
        break;
    case 65:
        param->aux.option1 = info->auxFlag1;
        param->aux.option2 = 1;
        break;
    case 144:
        param->wma.bitsPerSample = info->wma.bitsPerSample;
        param->wma.blockAlignment = info->wma.blockAlignment;
        param->wma.avgBytesPerSecond = info->wma.avgBytesPerSecond;
        param->wma.samplesPerBlock = info->wma.samplesPerBlock;
        param->wma.encodeOptions = info->wma.encodeOptions;
        break;
    default: break;
    }
}

void fromCodecParameter(const audio::audio_codec_parameter_t* param, int32_t* codec, AudioInfo* info) {
    *codec = codecOf(param->codecType);
    info->sampleFrequency = static_cast<uint32_t>(param->sampleRate);
    info->channelMap = channelCountOf(param, info->channelMap);
    switch (param->codecType) {
    case 0x100:
        info->pcm.bitDepth = bitDepthOf(param->pcm.format);
        info->pcm.blockAlign = static_cast<uint32_t>(param->pcm.blockAlign);
        info->pcm.bytesPerSecond = static_cast<uint32_t>(param->pcm.bytesPerSecond);
        break;
    case 0x200: info->mpeg.layer = static_cast<uint32_t>(param->mpeg.layer); break;
    case 0x400:
        info->auxFlag1 = param->aux.option1 != 0;
        info->auxFlag2 = param->aux.option2 == 1;
        break;
    case 0x800:
        info->wma.bitsPerSample = param->wma.bitsPerSample;
        info->wma.blockAlignment = param->wma.blockAlignment;
        info->wma.avgBytesPerSecond = param->wma.avgBytesPerSecond;
        info->wma.samplesPerBlock = param->wma.samplesPerBlock;
        info->wma.encodeOptions = param->wma.encodeOptions;
        break;
    default: break;
    }
}

uint32_t pcmBytesPerSecond(const AudioInfo* info) {
    uint32_t channels = (info->channelMap >= 1 && info->channelMap <= 8) ? info->channelMap : 0;
    return channels * info->sampleFrequency * pcmBytesPerSample(info->pcm.bitDepth);
}
