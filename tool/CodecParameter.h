// Translation between the platform's parameter record and the tool's AudioInfo with a codec id.
#pragma once

#include <cstdint>

#include "AudioCodecParameter.h"
#include "AudioInfo.h"

// param must be zeroed by the caller.
void toCodecParameter(audio::audio_codec_parameter_t* param, int32_t codec, const AudioInfo* info);
// info must be zeroed by the caller; codec receives the codec id (-1 when unknown).
void fromCodecParameter(const audio::audio_codec_parameter_t* param, int32_t* codec, AudioInfo* info);
