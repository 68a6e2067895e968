#include "ReferenceDecode.h"

#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace compare {
namespace {

struct Freer {
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(AVFrame* p) const { av_frame_free(&p); }
    void operator()(SwrContext* p) const { swr_free(&p); }
};
template <class T>
using Owned = std::unique_ptr<T, Freer>;

std::string averror(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

const char* rawFormatName(const SampleCoding& c) {
    switch (c.bits) {
    case 8: return c.isSigned ? "s8" : "u8";
    case 16: return c.bigEndian ? "s16be" : "s16le";
    case 24: return "s24le";
    default: return c.bigEndian ? "s32be" : "s32le";
    }
}

int bitsOfFormat(AVSampleFormat f) {
    switch (av_get_packed_sample_fmt(f)) {
    case AV_SAMPLE_FMT_U8: return 8;
    case AV_SAMPLE_FMT_S16: return 16;
    case AV_SAMPLE_FMT_S32: return 32;
    default: return 0;
    }
}

// Rounds and converts every frame into `out`; the first frame fixes rate and channels.
class Collector {
public:
    Collector(Signal& out, int bits) : mOut(out), mBits(bits) {}

    bool add(const AVFrame* frame, std::string& error) {
        if (mSwr == nullptr) {
            if (!start(frame, error)) return false;
        } else if (frame->sample_rate != mOut.rate || frame->ch_layout.nb_channels != mOut.channels) {
            error = "its audio changes to " + std::to_string(frame->sample_rate) + " Hz, " +
                    std::to_string(frame->ch_layout.nb_channels) + " channels at sample " +
                    std::to_string(mOut.frames()) + "; only one format can be compared";
            return false;
        }
        const size_t count = size_t(frame->nb_samples), channels = size_t(mOut.channels);
        if ((mOut.frames() + count) * channels > kMaxSamples) {
            error = "its decode is too long to compare in memory";
            return false;
        }
        mBuffer.resize(count * channels);
        uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(mBuffer.data())};
        const int got = swr_convert(mSwr.get(), planes, int(count), const_cast<const uint8_t**>(frame->extended_data),
                                    frame->nb_samples);
        if (got < 0) {
            error = "converting its samples failed: " + averror(got);
            return false;
        }
        // Rounded as a decoder writing this word length rounds: to nearest, clipped to full scale.
        const double scale = std::ldexp(1.0, mBits - 1), top = scale - 1;
        for (size_t i = 0; i < size_t(got) * channels; ++i)
            mOut.samples.push_back(int32_t(std::fmax(-scale, std::fmin(top, std::nearbyint(mBuffer[i] * scale)))));
        return true;
    }

    int sourceBits() const { return mSourceBits; }

private:
    bool start(const AVFrame* frame, std::string& error) {
        AVChannelLayout layout{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&layout, &frame->ch_layout);
        SwrContext* swr = nullptr;
        int rc = swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_DBL, frame->sample_rate, &layout,
                                     AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (rc >= 0) rc = swr_init(swr);
        mSwr.reset(swr);
        if (rc < 0 || frame->ch_layout.nb_channels < 1 || frame->sample_rate < 1) {
            error = "its decoded format cannot be converted: " + averror(rc);
            return false;
        }
        mOut.rate = frame->sample_rate;
        mOut.channels = frame->ch_layout.nb_channels;
        mSourceBits = bitsOfFormat(AVSampleFormat(frame->format));
        mOut.bits = mBits = mBits != 0 ? mBits : mSourceBits != 0 ? mSourceBits : 16;
        return true;
    }

    Signal& mOut;
    int mBits;
    int mSourceBits = 0;
    Owned<SwrContext> mSwr;
    std::vector<double> mBuffer;
};

}  // namespace

bool decodeReference(const std::string& path, const RawInput* raw, int bits, Signal& out, ReferenceInfo& info,
                     std::string& error) {
    av_log_set_level(AV_LOG_QUIET);
    const AVInputFormat* format = nullptr;
    AVDictionary* options = nullptr;
    if (raw != nullptr) {
        format = av_find_input_format(rawFormatName(raw->coding));
        av_dict_set_int(&options, "sample_rate", raw->rate, 0);
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, raw->channels);
        char name[64] = {};
        av_channel_layout_describe(&layout, name, sizeof name);
        av_dict_set(&options, "ch_layout", name, 0);
    }
    AVFormatContext* opened = nullptr;
    int rc = avformat_open_input(&opened, path.c_str(), format, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = "cannot read " + path + " as audio: " + averror(rc);
        return false;
    }
    Owned<AVFormatContext> container(opened);
    if ((rc = avformat_find_stream_info(opened, nullptr)) < 0) {
        error = "cannot read " + path + " as audio: " + averror(rc);
        return false;
    }
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(opened, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0 || codec == nullptr) {
        error = path + " holds no audio stream FFmpeg can decode";
        return false;
    }
    // MPEG audio is judged against libavcodec's floating-point decoders: its fixed-point ones
    // are off by a step in about a quarter of Layer I and II samples.
    const AVCodecID id = codec->id;
    if (id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3) {
        const AVCodec* floating = avcodec_find_decoder_by_name(id == AV_CODEC_ID_MP1   ? "mp1float"
                                                               : id == AV_CODEC_ID_MP2 ? "mp2float"
                                                                                       : "mp3float");
        if (floating != nullptr && floating->id == id) codec = floating;
    }
    Owned<AVCodecContext> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), opened->streams[stream]->codecpar) < 0 ||
        (rc = avcodec_open2(decoder.get(), codec, nullptr)) < 0) {
        error = "cannot open FFmpeg's " + std::string(codec->name) + " decoder for " + path;
        return false;
    }
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
    info.codec = descriptor != nullptr ? descriptor->name : codec->name;
    info.lossless = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) != 0;

    Collector collector(out, bits);
    Owned<AVPacket> packet(av_packet_alloc());
    Owned<AVFrame> frame(av_frame_alloc());
    bool draining = false;
    while (!draining) {
        rc = av_read_frame(opened, packet.get());
        if (rc < 0) {
            draining = true;
            rc = avcodec_send_packet(decoder.get(), nullptr);
        } else if (packet->stream_index != stream) {
            av_packet_unref(packet.get());
            continue;
        } else {
            rc = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
        }
        if (rc < 0 && rc != AVERROR_EOF) ++info.failedPackets;
        while ((rc = avcodec_receive_frame(decoder.get(), frame.get())) >= 0) {
            const bool added = collector.add(frame.get(), error);
            av_frame_unref(frame.get());
            if (!added) {
                error = path + ": " + error;
                return false;
            }
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) ++info.failedPackets;
    }
    info.sourceBits = collector.sourceBits();
    if (out.frames() == 0) {
        error = "FFmpeg decodes no audio from " + path;
        return false;
    }
    return true;
}

}  // namespace compare
