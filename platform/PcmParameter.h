// The PCM half of the translation between AudioInfo and the platform's parameter record: what the
// decoder's output and a track are described by.
#pragma once

#include <cstdint>

#include "AudioCodecParameter.h"
#include "AudioInfo.h"

// The channel position mask of a channel count (1 to 8), 0 for other counts.
uint32_t channelMaskOf(uint32_t channelCount);
// A record's channel count: `channels` when set, else the bits of `channelMap`; 1 to 8, else 0.
// `current` when the record names neither.
uint32_t channelCountOf(const audio::audio_codec_parameter_t* param, uint32_t current);
// pcm.bitDepth to pcm.format and back; -1 and 0 for codes without a counterpart.
int32_t pcmFormatOf(uint32_t bitDepth);
uint32_t bitDepthOf(int32_t pcmFormat);
// Bytes of one sample of a pcm.format code, 0 for unknown codes.
uint32_t pcmFormatBytes(int32_t pcmFormat);
uint32_t pcmBytesPerSecond(const AudioInfo* info);

// Describes PCM of info's layout: format code, rate, channels by mask and the PCM group. param must
// be zeroed by the caller.
void toPcmParameter(audio::audio_codec_parameter_t* param, const AudioInfo* info);
