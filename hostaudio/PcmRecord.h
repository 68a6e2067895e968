// Reading the PCM layout out of a parameter record.
#pragma once

#include <cstdint>

#include "AudioCodecParameter.h"

namespace hostaudio {

// Bytes of one sample for a pcm.format code, 0 for codes the service does not know.
int32_t pcmSampleBytes(int32_t format);

// The record's channel count, or the number of positions in its mask when the count is 0.
int32_t recordChannels(const audio::audio_codec_parameter_t& record);

// Bytes of one second of PCM as a device plays it: rate x channels x sample size; 0 if unknown.
int64_t playbackBytesPerSecond(const audio::audio_codec_parameter_t& record);

// The platform's channel position mask for a channel count (1 to 8), 0 for other counts.
uint32_t channelMaskForCount(int32_t channels);

}  // namespace hostaudio
