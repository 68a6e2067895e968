#include "PcmRecord.h"

namespace hostaudio {

int32_t pcmSampleBytes(int32_t format) {
    switch (format) {
    case 0:
    case 1:
        return 1;
    case 2:
    case 3:
        return 2;
    case 14:
    case 15:
        return 4;
    default:
        return 0;
    }
}

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
    static const uint32_t kMasks[] = {0x01, 0x03, 0x23, 0x0F, 0x1F, 0x3F, 0xDF, 0xFF};
    return (channels >= 1 && channels <= 8) ? kMasks[channels - 1] : 0;
}

}  // namespace hostaudio
