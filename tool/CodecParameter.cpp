#include "CodecParameter.h"

#include "Codecs.h"
#include "FormatTable.h"
#include "PcmParameter.h"

using namespace audio;

void toCodecParameter(audio_codec_parameter_t* param, int32_t codec, const AudioInfo* info) {
    if (codec == CODEC_PCM) {
        toPcmParameter(param, info);
        return;
    }
    param->codecType = codecTypeOf(codec);
    param->sampleRate = static_cast<int32_t>(info->sampleFrequency);
    param->channels = 0;
    param->channelMap = channelMaskOf(info->channelMap);
    switch (codec) {
    case CODEC_MPEG: param->mpeg.layer = static_cast<int32_t>(info->mpeg.layer); break;
    case CODEC_MPEG_LAYER1: param->mpeg.layer = 0; break;
    case CODEC_MPEG_LAYER2: param->mpeg.layer = 1; break;
    case CODEC_MPEG_LAYER3: param->mpeg.layer = 2; break;
    case CODEC_AUX:
        param->aux.option1 = info->auxFlag1;
        param->aux.option2 = info->auxFlag2;
        break;
    case CODEC_AUX_FIXED:
        param->aux.option1 = info->auxFlag1;
        param->aux.option2 = 1;
        break;
    case CODEC_WMA:
        param->wma.bitsPerSample = info->wma.bitsPerSample;
        param->wma.blockAlignment = info->wma.blockAlignment;
        param->wma.avgBytesPerSecond = info->wma.avgBytesPerSecond;
        param->wma.samplesPerBlock = info->wma.samplesPerBlock;
        param->wma.encodeOptions = info->wma.encodeOptions;
        break;
    case CODEC_FLAC: param->flac.bitsPerSample = info->flac.bitsPerSample; break;
    default: break;
    }
}

void fromCodecParameter(const audio_codec_parameter_t* param, int32_t* codec, AudioInfo* info) {
    *codec = codecOf(param->codecType);
    info->sampleFrequency = static_cast<uint32_t>(param->sampleRate);
    info->channelMap = channelCountOf(param, info->channelMap);
    switch (param->codecType) {
    case AUDIO_CODEC_PCM:
        info->pcm.bitDepth = bitDepthOf(param->pcm.format);
        info->pcm.blockAlign = static_cast<uint32_t>(param->pcm.blockAlign);
        info->pcm.bytesPerSecond = static_cast<uint32_t>(param->pcm.bytesPerSecond);
        break;
    case AUDIO_CODEC_MPEG: info->mpeg.layer = static_cast<uint32_t>(param->mpeg.layer); break;
    case AUDIO_CODEC_AUX:
        info->auxFlag1 = param->aux.option1 != 0;
        info->auxFlag2 = param->aux.option2 == 1;
        break;
    case AUDIO_CODEC_WMA:
        info->wma.bitsPerSample = param->wma.bitsPerSample;
        info->wma.blockAlignment = param->wma.blockAlignment;
        info->wma.avgBytesPerSecond = param->wma.avgBytesPerSecond;
        info->wma.samplesPerBlock = param->wma.samplesPerBlock;
        info->wma.encodeOptions = param->wma.encodeOptions;
        break;
    default: break;
    }
}
