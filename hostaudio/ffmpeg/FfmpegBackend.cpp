#include "FfmpegBackend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "OutputFormat.h"

namespace hostaudio {
namespace {

// A damaged file must not flood standard error: diagnostics stop after this many.
const uint64_t kReportedProblems = 100;

class FfmpegBackend final : public DecoderBackend, private PacketOutput {
public:
    explicit FfmpegBackend(std::unique_ptr<FormatAdapter> adapter) : adapter_(std::move(adapter)) {}
    ~FfmpegBackend() override { closeCodec(); }

    bool configure(const audio::audio_codec_parameter_t& input) override {
        closeCodec();
        output_.clear();
        units_ = problems_ = 0;
        return adapter_->configure(input);
    }

    bool decode(const uint8_t* data, size_t length, PcmSink& sink) override {
        sink_ = &sink;
        ++units_;
        std::string problem;
        bool ok = adapter_->unpack(data, length, *this, problem);
        if (!problem.empty()) report(problem);
        sink_ = nullptr;
        return ok;
    }

    void drain(PcmSink& sink) override {
        sink_ = &sink;
        adapter_->finish(*this);
        flushCodec();
        sink_ = nullptr;
    }

    bool outputParameter(audio::audio_codec_parameter_t& output) const override { return output_.describe(output); }

private:
    bool open(const CodecSetup& setup) override;
    bool isOpen() const override { return codec_ != nullptr; }
    bool packet(const uint8_t* data, size_t length) override;

    void report(const std::string& problem) {
        if (++problems_ <= kReportedProblems)
            std::fprintf(stderr, "hostaudio: unit %llu: %s\n", static_cast<unsigned long long>(units_),
                         problem.c_str());
    }
    void receiveFrames();
    void flushCodec();
    void closeCodec();
    void emit(const AVFrame* frame);
    bool prepareConverter(const AVFrame* frame);
    void convertAndAppend(const uint8_t* const* input, int samples);

    std::unique_ptr<FormatAdapter> adapter_;
    PcmSink* sink_ = nullptr;
    uint64_t units_ = 0;
    uint64_t problems_ = 0;

    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int64_t skip_ = 0;

    OutputFormat output_;
    SwrContext* swr_ = nullptr;
    AVSampleFormat swrFormat_ = AV_SAMPLE_FMT_NONE;
    int swrRate_ = 0;
    AVChannelLayout swrLayout_{};
    std::vector<uint8_t> converted_;
};

bool FfmpegBackend::open(const CodecSetup& setup) {
    if (codec_ != nullptr) flushCodec();  // a new stream: what the old one holds comes first
    closeCodec();
    const AVCodec* codec = avcodec_find_decoder(setup.codecId);
    if (codec == nullptr) return false;
    codec_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (codec_ == nullptr || packet_ == nullptr || frame_ == nullptr) {
        closeCodec();
        return false;
    }
    codec_->sample_rate = setup.sampleRate;
    if (setup.channels > 0) av_channel_layout_default(&codec_->ch_layout, setup.channels);
    codec_->block_align = setup.blockAlign;
    codec_->bit_rate = setup.bitRate;
    codec_->bits_per_coded_sample = setup.bitsPerCodedSample;
    if (!setup.extradata.empty()) {
        codec_->extradata = static_cast<uint8_t*>(av_mallocz(setup.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (codec_->extradata == nullptr) {
            closeCodec();
            return false;
        }
        memcpy(codec_->extradata, setup.extradata.data(), setup.extradata.size());
        codec_->extradata_size = static_cast<int>(setup.extradata.size());
    }
    if (avcodec_open2(codec_, codec, nullptr) < 0) {
        closeCodec();
        return false;
    }
    skip_ = setup.skipSamples;
    return true;
}

bool FfmpegBackend::packet(const uint8_t* data, size_t length) {
    if (codec_ == nullptr || length == 0 || length > INT32_MAX) return false;
    if (av_new_packet(packet_, static_cast<int>(length)) < 0) return false;
    memcpy(packet_->data, data, length);
    int rc = avcodec_send_packet(codec_, packet_);
    if (rc == AVERROR(EAGAIN)) {  // frames still waiting: take them, then send again
        receiveFrames();
        rc = avcodec_send_packet(codec_, packet_);
    }
    av_packet_unref(packet_);
    receiveFrames();
    return rc >= 0;
}

void FfmpegBackend::receiveFrames() {
    while (avcodec_receive_frame(codec_, frame_) >= 0) {
        emit(frame_);
        av_frame_unref(frame_);
    }
}

void FfmpegBackend::flushCodec() {
    if (codec_ != nullptr && avcodec_send_packet(codec_, nullptr) >= 0) receiveFrames();
    if (swr_ != nullptr && sink_ != nullptr) convertAndAppend(nullptr, 0);  // the resampler's tail
}

void FfmpegBackend::closeCodec() {
    avcodec_free_context(&codec_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    swr_free(&swr_);
    av_channel_layout_uninit(&swrLayout_);
    swrFormat_ = AV_SAMPLE_FMT_NONE;
    swrRate_ = 0;
}

// The first frame fixes the output; later frames in another layout are converted to it.
void FfmpegBackend::emit(const AVFrame* frame) {
    if (frame->nb_samples <= 0 || sink_ == nullptr) return;
    if (!output_.known() && !output_.fixFrom(frame)) return;
    if (!prepareConverter(frame)) return;
    convertAndAppend(frame->extended_data, frame->nb_samples);
}

bool FfmpegBackend::prepareConverter(const AVFrame* frame) {
    AVSampleFormat format = static_cast<AVSampleFormat>(frame->format);
    if (swr_ != nullptr && format == swrFormat_ && frame->sample_rate == swrRate_ &&
        av_channel_layout_compare(&frame->ch_layout, &swrLayout_) == 0)
        return true;
    if (swr_ != nullptr) convertAndAppend(nullptr, 0);  // what the old conversion still holds
    swr_free(&swr_);
    av_channel_layout_uninit(&swrLayout_);
    // FFmpeg 5 declares these layouts non-const, though it only reads them.
    AVChannelLayout* outLayout = const_cast<AVChannelLayout*>(output_.layout());
    AVChannelLayout* inLayout = const_cast<AVChannelLayout*>(&frame->ch_layout);
    if (swr_alloc_set_opts2(&swr_, outLayout, output_.sampleFormat(), output_.rate(), inLayout, format,
                            frame->sample_rate, 0, nullptr) < 0 ||
        swr_init(swr_) < 0) {
        swr_free(&swr_);
        return false;
    }
    swrFormat_ = format;
    swrRate_ = frame->sample_rate;
    av_channel_layout_copy(&swrLayout_, &frame->ch_layout);
    return true;
}

void FfmpegBackend::convertAndAppend(const uint8_t* const* input, int samples) {
    int capacity = swr_get_out_samples(swr_, samples);
    if (capacity <= 0) return;
    size_t frameBytes = output_.frameBytes();
    converted_.resize(static_cast<size_t>(capacity) * frameBytes);
    uint8_t* out = converted_.data();
    int got = swr_convert(swr_, &out, capacity, const_cast<const uint8_t**>(input), samples);
    if (got <= 0) return;
    int64_t dropped = std::min<int64_t>(skip_, got);
    skip_ -= dropped;
    size_t from = static_cast<size_t>(dropped) * frameBytes;
    sink_->append(converted_.data() + from, static_cast<size_t>(got) * frameBytes - from);
}

}  // namespace

std::unique_ptr<DecoderBackend> makeFfmpegBackend(std::unique_ptr<FormatAdapter> adapter) {
    if (!adapter) return nullptr;
    return std::make_unique<FfmpegBackend>(std::move(adapter));
}

std::unique_ptr<FormatAdapter> makeFormatAdapter(int32_t codecType) {
    switch (codecType) {
    case audio::AUDIO_CODEC_MPEG: return makeMpegAdapter();
    case audio::AUDIO_CODEC_AAC: return makeAacAdapter();
    case audio::AUDIO_CODEC_APE: return makeApeAdapter();
    case audio::AUDIO_CODEC_WMA: return makeWmaAdapter();
    case audio::AUDIO_CODEC_AC3: return makeAc3Adapter();
    case audio::AUDIO_CODEC_FLAC: return makeFlacAdapter();
    case audio::AUDIO_CODEC_OGG: return makeOggAdapter();
    case audio::AUDIO_CODEC_ALAC: return makeAlacAdapter();
    default: return nullptr;
    }
}

}  // namespace hostaudio
