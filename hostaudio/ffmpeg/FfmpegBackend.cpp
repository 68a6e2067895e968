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
    explicit FfmpegBackend(std::unique_ptr<FormatAdapter> adapter) : mAdapter(std::move(adapter)) {}
    ~FfmpegBackend() override { closeCodec(); }

    bool configure(const audio::audio_codec_parameter_t& input) override {
        closeCodec();
        mOutput.clear();
        mUnits = mProblems = 0;
        return mAdapter->configure(input);
    }

    bool decode(const uint8_t* data, size_t length, PcmSink& sink) override {
        mSink = &sink;
        ++mUnits;
        std::string problem;
        bool ok = mAdapter->unpack(data, length, *this, problem);
        if (!problem.empty()) report(problem);
        mSink = nullptr;
        return ok;
    }

    void drain(PcmSink& sink) override {
        mSink = &sink;
        mAdapter->finish(*this);
        flushCodec();
        mSink = nullptr;
    }

    bool outputParameter(audio::audio_codec_parameter_t& output) const override { return mOutput.describe(output); }

private:
    bool open(const CodecSetup& setup) override;
    bool isOpen() const override { return mCodec != nullptr; }
    bool packet(const uint8_t* data, size_t length) override;

    void report(const std::string& problem) {
        if (++mProblems <= kReportedProblems)
            std::fprintf(stderr, "hostaudio: unit %llu: %s\n", static_cast<unsigned long long>(mUnits),
                         problem.c_str());
    }
    void receiveFrames();
    void flushCodec();
    void closeCodec();
    void emit(const AVFrame* frame);
    bool prepareConverter(const AVFrame* frame);
    void convertAndAppend(const uint8_t* const* input, int samples);

    std::unique_ptr<FormatAdapter> mAdapter;
    PcmSink* mSink = nullptr;
    uint64_t mUnits = 0;
    uint64_t mProblems = 0;

    AVCodecContext* mCodec = nullptr;
    AVPacket* mPacket = nullptr;
    AVFrame* mFrame = nullptr;
    int64_t mSkip = 0;

    OutputFormat mOutput;
    SwrContext* mSwr = nullptr;
    AVSampleFormat mSwrFormat = AV_SAMPLE_FMT_NONE;
    int mSwrRate = 0;
    AVChannelLayout mSwrLayout{};
    std::vector<uint8_t> mConverted;
};

bool FfmpegBackend::open(const CodecSetup& setup) {
    if (mCodec != nullptr) flushCodec();  // a new stream: what the old one holds comes first
    closeCodec();
    const AVCodec* codec = avcodec_find_decoder(setup.codecId);
    if (codec == nullptr) return false;
    mCodec = avcodec_alloc_context3(codec);
    mPacket = av_packet_alloc();
    mFrame = av_frame_alloc();
    if (mCodec == nullptr || mPacket == nullptr || mFrame == nullptr) {
        closeCodec();
        return false;
    }
    mCodec->sample_rate = setup.sampleRate;
    if (setup.channels > 0) av_channel_layout_default(&mCodec->ch_layout, setup.channels);
    mCodec->block_align = setup.blockAlign;
    mCodec->bit_rate = setup.bitRate;
    mCodec->bits_per_coded_sample = setup.bitsPerCodedSample;
    if (!setup.extradata.empty()) {
        mCodec->extradata = static_cast<uint8_t*>(av_mallocz(setup.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (mCodec->extradata == nullptr) {
            closeCodec();
            return false;
        }
        memcpy(mCodec->extradata, setup.extradata.data(), setup.extradata.size());
        mCodec->extradata_size = static_cast<int>(setup.extradata.size());
    }
    if (avcodec_open2(mCodec, codec, nullptr) < 0) {
        closeCodec();
        return false;
    }
    mSkip = setup.skipSamples;
    return true;
}

bool FfmpegBackend::packet(const uint8_t* data, size_t length) {
    if (mCodec == nullptr || length == 0 || length > INT32_MAX) return false;
    if (av_new_packet(mPacket, static_cast<int>(length)) < 0) return false;
    memcpy(mPacket->data, data, length);
    int rc = avcodec_send_packet(mCodec, mPacket);
    if (rc == AVERROR(EAGAIN)) {  // frames still waiting: take them, then send again
        receiveFrames();
        rc = avcodec_send_packet(mCodec, mPacket);
    }
    av_packet_unref(mPacket);
    receiveFrames();
    return rc >= 0;
}

void FfmpegBackend::receiveFrames() {
    while (avcodec_receive_frame(mCodec, mFrame) >= 0) {
        emit(mFrame);
        av_frame_unref(mFrame);
    }
}

void FfmpegBackend::flushCodec() {
    if (mCodec != nullptr && avcodec_send_packet(mCodec, nullptr) >= 0) receiveFrames();
    if (mSwr != nullptr && mSink != nullptr) convertAndAppend(nullptr, 0);  // the resampler's tail
}

void FfmpegBackend::closeCodec() {
    avcodec_free_context(&mCodec);
    av_packet_free(&mPacket);
    av_frame_free(&mFrame);
    swr_free(&mSwr);
    av_channel_layout_uninit(&mSwrLayout);
    mSwrFormat = AV_SAMPLE_FMT_NONE;
    mSwrRate = 0;
}

// The first frame fixes the output; later frames in another layout are converted to it.
void FfmpegBackend::emit(const AVFrame* frame) {
    if (frame->nb_samples <= 0 || mSink == nullptr) return;
    if (!mOutput.known() && !mOutput.fixFrom(frame)) return;
    if (!prepareConverter(frame)) return;
    convertAndAppend(frame->extended_data, frame->nb_samples);
}

bool FfmpegBackend::prepareConverter(const AVFrame* frame) {
    AVSampleFormat format = static_cast<AVSampleFormat>(frame->format);
    if (mSwr != nullptr && format == mSwrFormat && frame->sample_rate == mSwrRate &&
        av_channel_layout_compare(&frame->ch_layout, &mSwrLayout) == 0)
        return true;
    if (mSwr != nullptr) convertAndAppend(nullptr, 0);  // what the old conversion still holds
    swr_free(&mSwr);
    av_channel_layout_uninit(&mSwrLayout);
    // FFmpeg 5 declares these layouts non-const, though it only reads them.
    AVChannelLayout* outLayout = const_cast<AVChannelLayout*>(mOutput.layout());
    AVChannelLayout* inLayout = const_cast<AVChannelLayout*>(&frame->ch_layout);
    if (swr_alloc_set_opts2(&mSwr, outLayout, mOutput.sampleFormat(), mOutput.rate(), inLayout, format,
                            frame->sample_rate, 0, nullptr) < 0 ||
        swr_init(mSwr) < 0) {
        swr_free(&mSwr);
        return false;
    }
    mSwrFormat = format;
    mSwrRate = frame->sample_rate;
    av_channel_layout_copy(&mSwrLayout, &frame->ch_layout);
    return true;
}

void FfmpegBackend::convertAndAppend(const uint8_t* const* input, int samples) {
    int capacity = swr_get_out_samples(mSwr, samples);
    if (capacity <= 0) return;
    size_t frameBytes = mOutput.frameBytes();
    mConverted.resize(static_cast<size_t>(capacity) * frameBytes);
    uint8_t* out = mConverted.data();
    int got = swr_convert(mSwr, &out, capacity, const_cast<const uint8_t**>(input), samples);
    if (got <= 0) return;
    int64_t dropped = std::min<int64_t>(mSkip, got);
    mSkip -= dropped;
    size_t from = static_cast<size_t>(dropped) * frameBytes;
    mSink->append(mConverted.data() + from, static_cast<size_t>(got) * frameBytes - from);
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
