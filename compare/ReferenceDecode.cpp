#include "ReferenceDecode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
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
    Collector(Signal& out, int bits, int rawBits) : mOut(out), mBits(bits), mRawBits(rawBits) {}

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
        mFrameSamples = std::max(mFrameSamples, frame->nb_samples);
        if ((mOut.frames() + count) * channels > kMaxSamples) {
            error = "its decode is too long to compare";
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
            if (!mOut.samples.push_back(
                    int32_t(std::fmax(-scale, std::fmin(top, std::nearbyint(mBuffer[i] * scale)))))) {
                error = "no room for its samples in the temporary folder";
                return false;
            }
        return true;
    }

    int sourceBits() const { return mSourceBits; }
    int frameSamples() const { return mFrameSamples; }

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
        if (mSourceBits != 0 && mRawBits != 0) mSourceBits = std::min(mSourceBits, mRawBits);
        mOut.bits = mBits = mBits != 0 ? mBits : mSourceBits != 0 ? mSourceBits : 16;
        return true;
    }

    Signal& mOut;
    int mBits, mRawBits;
    int mSourceBits = 0, mFrameSamples = 0;
    Owned<SwrContext> mSwr;
    std::vector<double> mBuffer;
};

// libavcodec's floating-point decoders where a codec has one: the command line would pick the
// fixed-point ones, whose accuracy is limited.
const AVCodec* referenceDecoder(AVCodecID id) {
    static const struct {
        AVCodecID id;
        const char* name;
    } kFloat[] = {{AV_CODEC_ID_MP1, "mp1float"},       {AV_CODEC_ID_MP2, "mp2float"},
                  {AV_CODEC_ID_MP3, "mp3float"},       {AV_CODEC_ID_MP3ADU, "mp3adufloat"},
                  {AV_CODEC_ID_MP3ON4, "mp3on4float"}, {AV_CODEC_ID_AAC, "aac"}};
    for (const auto& f : kFloat)
        if (f.id == id)
            if (const AVCodec* c = avcodec_find_decoder_by_name(f.name)) return c;
    return avcodec_find_decoder(id);
}

class Decoding {
public:
    Decoding(AVCodecContext* decoder, Collector& collector, ReferenceInfo& info)
        : mDecoder(decoder), mCollector(collector), mInfo(info), mFrame(av_frame_alloc()) {}

    // Sends one packet (nullptr drains) and takes every frame it gives.
    bool send(const AVPacket* packet, std::string& error) {
        int rc = avcodec_send_packet(mDecoder, packet);
        if (rc < 0 && rc != AVERROR_EOF) ++mInfo.failedPackets;
        while ((rc = avcodec_receive_frame(mDecoder, mFrame.get())) >= 0) {
            const bool added = mCollector.add(mFrame.get(), error);
            av_frame_unref(mFrame.get());
            if (!added) return false;
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) ++mInfo.failedPackets;
        return true;
    }

private:
    AVCodecContext* mDecoder;
    Collector& mCollector;
    ReferenceInfo& mInfo;
    Owned<AVFrame> mFrame;
};

// Layer I and II straight from the bytes through the parser: the demuxer drops the first frames
// when their header differs from the next ones', and the decoder then starts without their history.
bool decodeParsed(const std::string& path, AVCodecContext* decoder, Decoding& decoding, std::string& error) {
    std::unique_ptr<FILE, int (*)(FILE*)> in(fopen(path.c_str(), "rb"), fclose);
    AVCodecParserContext* parser = av_parser_init(decoder->codec_id);
    std::unique_ptr<AVCodecParserContext, void (*)(AVCodecParserContext*)> owned(parser, av_parser_close);
    if (!in || parser == nullptr) {
        error = "cannot read it";
        return false;
    }
    std::vector<uint8_t> chunk(65536 + AV_INPUT_BUFFER_PADDING_SIZE);
    Owned<AVPacket> packet(av_packet_alloc());
    size_t got = fread(chunk.data(), 1, 65536, in.get());
    size_t skip = 0;  // an ID3v2 tag, whose bytes could pass for a frame header
    if (got >= 10 && memcmp(chunk.data(), "ID3", 3) == 0)
        skip = 10 +
               (size_t(chunk[6] & 0x7F) << 21 | size_t(chunk[7] & 0x7F) << 14 | size_t(chunk[8] & 0x7F) << 7 |
                size_t(chunk[9] & 0x7F)) +
               ((chunk[5] & 0x10) ? 10 : 0);
    for (bool last = false; !last;) {
        last = got == 0;
        const size_t from = std::min(skip, got);
        skip -= from;
        const uint8_t* data = chunk.data() + from;
        int left = int(got - from);
        do {
            uint8_t* out = nullptr;
            int size = 0;
            const int used =
                av_parser_parse2(parser, decoder, &out, &size, data, left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0) break;
            data += used, left -= used;
            if (size > 0) {
                packet->data = out, packet->size = size;
                if (!decoding.send(packet.get(), error)) return false;
            }
        } while (left > 0);
        if (!last) got = fread(chunk.data(), 1, 65536, in.get());
    }
    return decoding.send(nullptr, error);
}

std::string libraryVersion() {
    const unsigned v = avcodec_version();
    return "libavcodec " + std::to_string(v >> 16) + "." + std::to_string(v >> 8 & 0xFF) + "." +
           std::to_string(v & 0xFF) + " (FFmpeg " + av_version_info() + ")";
}

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
    const int stream = av_find_best_stream(opened, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVCodec* codec = stream < 0 ? nullptr : referenceDecoder(opened->streams[stream]->codecpar->codec_id);
    if (stream < 0 || codec == nullptr) {
        error = path + " holds no audio stream FFmpeg can decode";
        return false;
    }
    const AVCodecParameters* par = opened->streams[stream]->codecpar;
    Owned<AVCodecContext> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), par) < 0 ||
        (rc = avcodec_open2(decoder.get(), codec, nullptr)) < 0) {
        error = "cannot open FFmpeg's " + std::string(codec->name) + " decoder for " + path;
        return false;
    }
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
    info.codec = descriptor != nullptr ? descriptor->name : codec->name;
    info.decoder = codec->name;
    info.library = libraryVersion();
    info.lossless = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) != 0;
    if (raw != nullptr) {
        const int64_t size = avio_size(opened->pb);
        const int64_t frameBytes = int64_t(raw->channels) * raw->coding.bytes();
        if (size > 0) info.partialBytes = int(size % frameBytes);
    }

    // Decoders that work in wider integers than their source say so only in the stream.
    const int rawBits = par->bits_per_raw_sample;
    Collector collector(out, bits, rawBits > 0 && rawBits < 32 ? rawBits : 0);
    Decoding decoding(decoder.get(), collector, info);
    const bool parsed = codec->id == AV_CODEC_ID_MP1 || codec->id == AV_CODEC_ID_MP2;
    bool ok = true;
    if (parsed) {
        container.reset();
        ok = decodeParsed(path, decoder.get(), decoding, error);
    } else {
        Owned<AVPacket> packet(av_packet_alloc());
        while (ok && av_read_frame(opened, packet.get()) >= 0) {
            size_t size = 0;
            const uint8_t* skip = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (packet->stream_index == stream && skip != nullptr && size >= 8) {
                info.skippedStart += long(AV_RL32(skip));
                info.skippedEnd += long(AV_RL32(skip + 4));
            }
            if (packet->stream_index == stream) ok = decoding.send(packet.get(), error);
            av_packet_unref(packet.get());
        }
        ok = ok && decoding.send(nullptr, error);
    }
    if (!ok) {
        error = path + ": " + error;
        return false;
    }
    info.sourceBits = collector.sourceBits();
    info.frameSamples = collector.frameSamples();
    if (out.frames() == 0) {
        error = "FFmpeg decodes no audio from " + path;
        return false;
    }
    return true;
}

}  // namespace compare
