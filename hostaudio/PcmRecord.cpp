#include "PcmRecord.h"

#include "PcmParameter.h"

namespace hostaudio {

int32_t pcmSampleBytes(int32_t format) { return static_cast<int32_t>(pcmFormatBytes(format)); }

int32_t recordChannels(const audio::audio_codec_parameter_t& record) {
    if (record.channels != 0) {
        return record.channels > 0 ? record.channels : 0;
    }
    return __builtin_popcount(record.channelMap);
}

int64_t playbackBytesPerSecond(const audio::audio_codec_parameter_t& record) {
    if (record.sampleRate <= 0) {
        return 0;
    }
    return int64_t{record.sampleRate} * recordChannels(record) * pcmSampleBytes(record.pcm.format);
}

uint32_t channelMaskForCount(int32_t channels) {
    return channels > 0 ? channelMaskOf(static_cast<uint32_t>(channels)) : 0;
}

}  // namespace hostaudio
