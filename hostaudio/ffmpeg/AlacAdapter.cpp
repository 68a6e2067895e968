// ALAC (3072): one ALAC packet per unit behind a 16-byte header ("ALAC", the packet size with
// the last-packet bit, bit depth, 24-bit sample rate, samples per frame). The decoder's
// configuration record is rebuilt from that header and the record's channel count, with the
// format's standard Rice parameters. A record without a count (more than two channels) has
// the count found by the first packet, the one count it decodes with.
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include "FormatAdapter.h"

namespace hostaudio {
namespace {

const uint32_t kSyncword = 0x414C4143;  // "ALAC"
const uint32_t kLastPacketBit = 0x80000000u;
const size_t kHeaderLength = 16;
const int kMaxChannels = 8;
const std::string kFailure = "the packet does not decode";
// libavcodec sizes its buffers by the samples a frame may hold (up to 16M, gigabytes of buffers
// for a few bytes of header); encoders use 4096.
const uint32_t kMaxFrameLength = 1u << 16;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

std::string format(const char* fmt, long a, long b = 0) {
    char text[200];
    snprintf(text, sizeof text, fmt, a, b);
    return text;
}

struct StreamHeader {
    int bitDepth;
    int sampleRate;
    uint32_t frameLength;
    bool operator!=(const StreamHeader& o) const {
        return bitDepth != o.bitDepth || sampleRate != o.sampleRate || frameLength != o.frameLength;
    }
};

// The 'alac' atom as the decoder takes it: size, type, version, then the 24-byte config.
std::vector<uint8_t> magicCookie(const StreamHeader& h, int channels) {
    std::vector<uint8_t> c;
    auto put = [&c](uint32_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) c.push_back(uint8_t(v >> (8 * i)));
    };
    put(36, 4);
    put(0x616C6163, 4);  // "alac"
    put(0, 4);
    put(h.frameLength, 4);
    put(0, 1);  // compatible version
    put(uint32_t(h.bitDepth), 1);
    put(40, 1);  // Rice history multiplier
    put(10, 1);  // Rice initial history
    put(14, 1);  // Rice parameter limit
    put(uint32_t(channels), 1);
    put(255, 2);  // maximum run
    put(0, 4);    // maximum frame bytes: unknown
    put(0, 4);    // average bit rate: unknown
    put(uint32_t(h.sampleRate), 4);
    return c;
}

// Whether the packet decodes whole with this channel count, on a scratch decoder.
bool decodesWith(const StreamHeader& h, int channels, const uint8_t* p, size_t n) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ALAC);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ok = false;
    std::vector<uint8_t> cookie = magicCookie(h, channels);
    if (ctx != nullptr && packet != nullptr && frame != nullptr) {
        ctx->log_level_offset = AV_LOG_DEBUG;  // the wrong counts' complaints are expected
        ctx->extradata = static_cast<uint8_t*>(av_mallocz(cookie.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (ctx->extradata != nullptr) {
            memcpy(ctx->extradata, cookie.data(), cookie.size());
            ctx->extradata_size = int(cookie.size());
        }
        ok = ctx->extradata != nullptr && avcodec_open2(ctx, codec, nullptr) >= 0 && av_new_packet(packet, int(n)) >= 0;
        if (ok) {
            memcpy(packet->data, p, n);
            ok = avcodec_send_packet(ctx, packet) >= 0 && avcodec_receive_frame(ctx, frame) >= 0 &&
                 frame->ch_layout.nb_channels == channels && frame->nb_samples > 0;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return ok;
}

class AlacAdapter final : public FormatAdapter {
public:
    bool configure(const audio::audio_codec_parameter_t& input) override {
        mChannels = input.channels > 0 ? input.channels : __builtin_popcount(uint32_t(input.channelMap));
        if (mChannels > kMaxChannels) mChannels = 0;
        mEnded = false;
        return true;
    }

    bool unpack(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) override {
        if (length < kHeaderLength) {
            problem = format("a unit of %ld bytes cannot hold the packet header", long(length));
            return false;
        }
        if (be32(data) != kSyncword) {
            problem = format("no packet sync word at the start of the unit (%08lX)", long(be32(data)));
            return false;
        }
        uint32_t size = be32(data + 4);
        if ((size & ~kLastPacketBit) != length - kHeaderLength) {
            problem = format("a unit of %ld bytes whose header says %ld", long(length),
                             long(size & ~kLastPacketBit) + long(kHeaderLength));
            return false;
        }
        if (mEnded) {
            problem = "a packet after the last one";
            return false;
        }
        StreamHeader h{data[8], int(data[9] << 16 | data[10] << 8 | data[11]), be32(data + 12)};
        if ((h.bitDepth != 16 && h.bitDepth != 20 && h.bitDepth != 24 && h.bitDepth != 32) || h.sampleRate == 0 ||
            h.frameLength == 0) {
            problem = format("a packet header with %ld bits at %ld Hz", h.bitDepth, h.sampleRate);
            return false;
        }
        if (h.frameLength > kMaxFrameLength) {
            problem = format("a packet header with %ld samples a frame", long(h.frameLength));
            return false;
        }
        const uint8_t* p = data + kHeaderLength;
        const size_t n = length - kHeaderLength;
        if (!out.isOpen()) {
            if (!open(h, p, n, out, problem)) return false;
        } else if (h != mStream) {
            problem = "a packet header that differs from the stream's first";
            return false;
        }
        mEnded = (size & kLastPacketBit) != 0;
        if (n == 0) return true;
        if (!out.packet(p, n, kFailure)) {
            problem = kFailure;
            return false;
        }
        return true;
    }

private:
    bool open(const StreamHeader& h, const uint8_t* p, size_t n, PacketOutput& out, std::string& problem) {
        int channels = mChannels;
        for (int c = 1; channels == 0 && c <= kMaxChannels; ++c)
            if (decodesWith(h, c, p, n)) channels = c;
        if (channels == 0) {
            problem = "no channel count from 1 to 8 decodes the first packet";
            return false;
        }
        CodecSetup setup;
        setup.codecId = AV_CODEC_ID_ALAC;
        setup.sampleRate = h.sampleRate;
        setup.channels = channels;
        setup.bitsPerCodedSample = h.bitDepth;
        setup.extradata = magicCookie(h, channels);
        if (!out.open(setup)) {
            problem = "the ALAC decoder does not accept the packet header";
            return false;
        }
        mStream = h;
        return true;
    }

    int mChannels = 0;
    bool mEnded = false;
    StreamHeader mStream{};
};

}  // namespace

std::unique_ptr<FormatAdapter> makeAlacAdapter() { return std::make_unique<AlacAdapter>(); }

}  // namespace hostaudio
