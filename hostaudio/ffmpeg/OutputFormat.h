// The PCM the FFmpeg backend delivers: fixed by the first decoded frame for the whole stream.
#pragma once

#include <cstddef>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include "AudioCodecParameter.h"

namespace hostaudio {

class OutputFormat {
public:
    OutputFormat() = default;
    OutputFormat(const OutputFormat&) = delete;
    OutputFormat& operator=(const OutputFormat&) = delete;
    ~OutputFormat() { av_channel_layout_uninit(&mLayout); }
    void clear();

    bool known() const { return mFormat != AV_SAMPLE_FMT_NONE; }
    // Signed 32-bit for sources deeper than 16 bits (lossless ones), signed 16-bit otherwise.
    bool fixFrom(const AVFrame* frame);
    // The bytes a frame becomes in the output fixFrom would choose for it.
    static size_t bytesOf(const AVFrame* frame);
    // The service's description: PCM, rate, mask by channel count, format code.
    bool describe(audio::audio_codec_parameter_t& record) const;

    const AVChannelLayout* layout() const { return &mLayout; }
    AVSampleFormat sampleFormat() const { return mFormat; }
    int rate() const { return mRate; }
    size_t frameBytes() const;

private:
    AVSampleFormat mFormat = AV_SAMPLE_FMT_NONE;
    int mRate = 0;
    AVChannelLayout mLayout{};
};

}  // namespace hostaudio
