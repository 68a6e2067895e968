#include "OutputFormat.h"

#include <algorithm>
#include <cstring>

#include "PcmRecord.h"

namespace hostaudio {
namespace {

AVSampleFormat formatFor(const AVFrame* frame) {
    AVSampleFormat source = av_get_packed_sample_fmt(static_cast<AVSampleFormat>(frame->format));
    return source == AV_SAMPLE_FMT_S32 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
}

}  // namespace

void OutputFormat::clear() {
    av_channel_layout_uninit(&mLayout);
    mFormat = AV_SAMPLE_FMT_NONE;
    mRate = 0;
}

bool OutputFormat::fixFrom(const AVFrame* frame) {
    int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || frame->sample_rate <= 0) return false;
    clear();
    // Keep the source's channel order; an unordered layout gets the usual one for its count.
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        av_channel_layout_copy(&mLayout, &frame->ch_layout);
    else
        av_channel_layout_default(&mLayout, channels);
    mFormat = formatFor(frame);
    mRate = frame->sample_rate;
    return true;
}

size_t OutputFormat::bytesOf(const AVFrame* frame) {
    return static_cast<size_t>(std::max(frame->nb_samples, 0)) *
           static_cast<size_t>(std::max(frame->ch_layout.nb_channels, 0)) *
           static_cast<size_t>(av_get_bytes_per_sample(formatFor(frame)));
}

size_t OutputFormat::frameBytes() const {
    return static_cast<size_t>(mLayout.nb_channels) * static_cast<size_t>(av_get_bytes_per_sample(mFormat));
}

bool OutputFormat::describe(audio::audio_codec_parameter_t& record) const {
    if (!known()) return false;
    std::memset(&record, 0, sizeof record);
    record.codecType = audio::AUDIO_CODEC_PCM;
    record.sampleRate = mRate;
    record.channels = 0;
    record.channelMap = channelMaskForCount(mLayout.nb_channels);
    record.pcm.format = mFormat == AV_SAMPLE_FMT_S32 ? audio::AUDIO_PCM_S32LE : audio::AUDIO_PCM_S16LE;
    record.pcm.blockAlign = static_cast<int32_t>(frameBytes());
    record.pcm.bytesPerSecond = mRate * record.pcm.blockAlign;
    return true;
}

}  // namespace hostaudio
