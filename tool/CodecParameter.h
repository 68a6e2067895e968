// Translation between the platform's parameter record and the tool's AudioInfo.
#pragma once

#include <cstdint>

#include "AudioCodecParameter.h"
#include "AudioInfo.h"

// param must be zeroed by the caller.
void toCodecParameter(audio::audio_codec_parameter_t* param, int32_t codec, const AudioInfo* info);
// info must be zeroed by the caller; codec receives the codec id (-1 when unknown).
void fromCodecParameter(const audio::audio_codec_parameter_t* param, int32_t* codec, AudioInfo* info);
uint32_t pcmBytesPerSecond(const AudioInfo* info);

int32_t codecTypeOf(int32_t codec);
uint32_t channelMaskOf(uint32_t channelCount);
int32_t pcmFormatOf(uint32_t bitDepth);
uint32_t bitDepthOf(int32_t pcmFormat);
