#include "FfmpegBackend.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "FramePool.h"
#include "OutputFormat.h"

namespace hostaudio {
namespace {

// A damaged file must not flood standard error: diagnostics stop after this many.
const uint64_t kReportedProblems = 100;
const int kMaxThreads = 16;
// Frames decoded ahead share three quarters of a second of held audio: more contexts than
// this would each get too little of it to help.
const int kMaxPoolContexts = 4;
// A channel map names at most 8 channels; rates past 768 kHz come only from damaged headers.
const int kMaxChannels = 8;
const int kMaxRate = 768000;

// Threads for a lossless decode: HOSTAUDIO_DECODE_THREADS, else the cores this process may
// run on.
int decodeThreads() {
    if (const char* text = getenv("HOSTAUDIO_DECODE_THREADS")) {
        char* end = nullptr;
        long n = strtol(text, &end, 10);
        if (*text != '\0' && *end == '\0' && n >= 1 && n <= kMaxThreads) return int(n);
        fprintf(stderr, "hostaudio: HOSTAUDIO_DECODE_THREADS=%s is not a count from 1 to %d, ignored\n", text,
                kMaxThreads);
    }
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
    return std::max(1, std::min(CPU_COUNT(&cpus), kMaxThreads));
}

class FfmpegBackend final : public DecoderBackend, private PacketOutput, private FramePool::Client {
public:
    explicit FfmpegBackend(std::unique_ptr<FormatAdapter> adapter)
        : mAdapter(std::move(adapter)), mThreads(decodeThreads()) {}
    ~FfmpegBackend() override { closeCodec(); }

    bool configure(const audio::audio_codec_parameter_t& input) override {
        closeCodec();
        mOutput.clear();
        mSourceRate = mSourceChannels = 0;
        mUnits = mProblems = mLateRejects = 0;
        mRefused = false;
        return mAdapter->configure(input);
    }

    bool decode(const uint8_t* data, size_t length, PcmSink& sink) override {
        useSink(sink);
        ++mUnits;
        mInUnit = true;
        mCurrentFailure.clear();
        std::string problem;
        bool ok = mAdapter->unpack(data, length, *this, problem);
        settlePool();
        mInUnit = false;
        // A packet of this unit found bad on another thread before the unit was done with.
        if (!mCurrentFailure.empty()) {
            if (problem.empty()) problem = mCurrentFailure;
            ok = false;
        }
        if (!ok) markCounted(mUnits);
        if (!problem.empty() && !mRefused) report(mUnits, problem);  // the refusal said it all
        return ok;
    }

    void drain(PcmSink& sink) override {
        useSink(sink);
        mAdapter->finish(*this);
        flushCodec();
    }

    uint64_t lateRejects() const override { return mLateRejects; }
    bool refused() const override { return mRefused; }

    bool outputParameter(audio::audio_codec_parameter_t& output) const override { return mOutput.describe(output); }

private:
    // A packet on its way through the pool: whose it is and what to say if it fails.
    struct InFlight {
        uint64_t number;
        uint64_t unit;  // 0: sent at the end of the stream, after the last unit
        std::string failure;
        bool counted;  // its unit is counted as skipped already
    };

    bool open(const CodecSetup& setup) override;
    bool isOpen() const override { return mCodec != nullptr || mPool != nullptr; }
    bool packet(const uint8_t* data, size_t length, const std::string& failure) override;

    // FramePool::Client, on the pool's threads one at a time.
    void frame(const AVFrame* frame) override { emit(frame); }
    bool reserve(const AVFrame* frame) override { return mSink->reserve(OutputFormat::bytesOf(frame)); }
    void release(const AVFrame* frame) override { mSink->release(OutputFormat::bytesOf(frame)); }

    void useSink(PcmSink& sink) {
        if (mSink == &sink) return;
        if (mPool != nullptr) mPool->finish();  // its threads read mSink
        mSink = &sink;
    }
    void report(uint64_t unit, const std::string& problem) {
        if (++mProblems > kReportedProblems) return;
        if (unit == 0)
            std::fprintf(stderr, "hostaudio: %s\n", problem.c_str());
        else
            std::fprintf(stderr, "hostaudio: unit %llu: %s\n", static_cast<unsigned long long>(unit), problem.c_str());
    }
    bool admits(int channels, int rate);
    void failed(const InFlight& packet);
    void markCounted(uint64_t unit);
    void settlePool();
    void receiveFrames();
    void flushCodec();
    void closeCodec();
    void emit(const AVFrame* frame);
    bool prepareConverter(const AVFrame* frame);
    void convertAndAppend(const uint8_t* const* input, int samples);

    std::unique_ptr<FormatAdapter> mAdapter;
    const int mThreads;
    PcmSink* mSink = nullptr;
    uint64_t mUnits = 0;
    uint64_t mProblems = 0;
    bool mInUnit = false;
    std::atomic<bool> mRefused{false};  // set on the pool's threads too

    AVCodecContext* mCodec = nullptr;
    std::unique_ptr<FramePool> mPool;
    AVPacket* mPacket = nullptr;
    AVBufferRef* mPacketBuffer = nullptr;
    AVFrame* mFrame = nullptr;
    int64_t mSkip = 0;

    // The pool finds a bad packet late; these say whose it was.
    std::deque<InFlight> mInFlight;
    uint64_t mSent = 0;
    std::string mCurrentFailure;
    uint64_t mLateRejects = 0;
    std::vector<uint64_t> mPoolFailures;

    OutputFormat mOutput;
    int mSourceRate = 0, mSourceChannels = 0;  // of the last frame emitted
    SwrContext* mSwr = nullptr;
    AVSampleFormat mSwrFormat = AV_SAMPLE_FMT_NONE;
    int mSwrRate = 0;
    AVChannelLayout mSwrLayout{};
    std::vector<uint8_t> mConverted;
};

// Lossless codecs, whose every frame decodes on its own, decode frames side by side on a pool
// of contexts; the others keep one stream, their frames depending on each other. (libavcodec's
// frame threads would do for FLAC and ALAC, but they hand frames over in ways ThreadSanitizer
// cannot follow, and say nothing of a packet that gave neither audio nor an error.)
bool FfmpegBackend::open(const CodecSetup& setup) {
    if (isOpen()) flushCodec();  // a new stream: what the old one holds comes first
    closeCodec();
    if (!admits(setup.channels, setup.sampleRate == 0 ? 1 : setup.sampleRate)) return false;
    mPacket = av_packet_alloc();
    mFrame = av_frame_alloc();
    if (mPacket == nullptr || mFrame == nullptr) {
        closeCodec();
        return false;
    }
    const AVCodecID id = setup.codecId;
    if (mThreads > 1 && (id == AV_CODEC_ID_FLAC || id == AV_CODEC_ID_ALAC || id == AV_CODEC_ID_APE)) {
        FramePool::Client& client = *this;
        mPool = std::make_unique<FramePool>(client, std::min(mThreads, kMaxPoolContexts));
        if (!mPool->open(setup)) mPool.reset();
    }
    if (mPool == nullptr) mCodec = openCodecContext(setup);
    if (!isOpen()) {
        closeCodec();
        return false;
    }
    mSkip = setup.skipSamples;
    return true;
}

bool FfmpegBackend::packet(const uint8_t* data, size_t length, const std::string& failure) {
    if (!isOpen() || length == 0 || length > INT32_MAX) return false;
    if (mPool != nullptr) {
        if (!mPool->submit(data, length)) return false;
        mInFlight.push_back({mSent++, mInUnit ? mUnits : 0, failure, false});
        settlePool();
        return true;
    }
    // One buffer for every packet while the codec lets go of it: a fresh one would cost two
    // allocations a packet.
    if (!fillPacketBuffer(mPacketBuffer, data, length) || !refPacket(mPacket, mPacketBuffer, static_cast<int>(length)))
        return false;
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
    // libavcodec's MPEG audio decoders stamp the first frame at a new rate with the old one; the
    // context has the frame's own by then.
    const AVCodecID id = mCodec->codec_id;
    const bool mpeg = id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3;
    while (avcodec_receive_frame(mCodec, mFrame) >= 0) {
        if (mpeg && mCodec->sample_rate > 0) mFrame->sample_rate = mCodec->sample_rate;
        emit(mFrame);
        av_frame_unref(mFrame);
    }
}

// A failure found on a pool thread. One of the unit being decoded is reported with it, as
// the serial decode does; one of an earlier unit on its own, counted once for that unit.
void FfmpegBackend::failed(const InFlight& packet) {
    if (mInUnit && packet.unit == mUnits) {
        mCurrentFailure = packet.failure;
        return;
    }
    report(packet.unit, packet.failure);
    if (packet.unit != 0 && !packet.counted) {
        ++mLateRejects;
        markCounted(packet.unit);
    }
}

void FfmpegBackend::markCounted(uint64_t unit) {
    for (InFlight& p : mInFlight)
        if (p.unit == unit) p.counted = true;
}

// Retires the packets the pool has handed out, reporting those that failed.
void FfmpegBackend::settlePool() {
    if (mPool == nullptr) return;
    mPoolFailures.clear();
    const uint64_t done = mPool->handedOut(mPoolFailures);
    size_t next = 0;
    while (!mInFlight.empty() && mInFlight.front().number < done) {
        InFlight p = std::move(mInFlight.front());
        mInFlight.pop_front();
        while (next < mPoolFailures.size() && mPoolFailures[next] < p.number) ++next;
        if (next < mPoolFailures.size() && mPoolFailures[next] == p.number) failed(p);
    }
}

void FfmpegBackend::flushCodec() {
    if (mPool != nullptr) {
        mPool->finish();
        settlePool();
    } else if (mCodec != nullptr && avcodec_send_packet(mCodec, nullptr) >= 0) {
        receiveFrames();
    }
    if (mSwr != nullptr && mSink != nullptr) convertAndAppend(nullptr, 0);  // the resampler's tail
}

void FfmpegBackend::closeCodec() {
    mPool.reset();
    avcodec_free_context(&mCodec);
    mInFlight.clear();
    mSent = 0;
    av_packet_free(&mPacket);
    av_buffer_unref(&mPacketBuffer);
    av_frame_free(&mFrame);
    swr_free(&mSwr);
    av_channel_layout_uninit(&mSwrLayout);
    mSwrFormat = AV_SAMPLE_FMT_NONE;
    mSwrRate = 0;
}

// Channels and rate the output could not describe refuse the stream, with one line.
bool FfmpegBackend::admits(int channels, int rate) {
    if (mRefused) return false;
    const char* what = channels > kMaxChannels        ? "channels, more than the 8 a channel map names"
                       : rate <= 0 || rate > kMaxRate ? "Hz, not a sample rate of 1 to 768000 Hz"
                                                      : nullptr;
    if (what == nullptr) return true;
    mRefused = true;
    std::fprintf(stderr, "hostaudio: the stream is not decoded: %d %s\n", channels > kMaxChannels ? channels : rate,
                 what);
    return false;
}

// The first frame fixes the output; later frames in another layout are converted to it.
void FfmpegBackend::emit(const AVFrame* frame) {
    if (frame->nb_samples <= 0 || mSink == nullptr) return;
    if (!admits(frame->ch_layout.nb_channels, frame->sample_rate)) return;
    if (!mOutput.known() && !mOutput.fixFrom(frame)) return;
    const int channels = frame->ch_layout.nb_channels;
    if (mSourceRate != 0 && (frame->sample_rate != mSourceRate || channels != mSourceChannels)) {
        if (mSwr != nullptr) convertAndAppend(nullptr, 0);  // the old stream's tail goes first
        mSink->sourceChanged(frame->sample_rate, channels);
    }
    mSourceRate = frame->sample_rate;
    mSourceChannels = channels;
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
