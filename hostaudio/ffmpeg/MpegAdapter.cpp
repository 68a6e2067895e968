// MPEG audio (512): every unit is one whole frame, header included; Layers I to III of
// MPEG-1, MPEG-2 and MPEG 2.5. The layer comes from the record.
#include <atomic>
#include <cstdio>

#include "FormatAdapter.h"

namespace hostaudio {
namespace {

const std::string kFailure = "the frame does not decode";

// Bit rates in kbit/s by [MPEG-1 or not][layer - 1][index], as the standards give them.
const int kBitRates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
// Sample rates by version field (0 MPEG 2.5, 2 MPEG-2, 3 MPEG-1) and rate index.
const int kSampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

std::string format(const char* fmt, long a, long b = 0) {
    char text[160];
    snprintf(text, sizeof text, fmt, a, b);
    return text;
}

class MpegAdapter final : public FormatAdapter {
public:
    bool configure(const audio::audio_codec_parameter_t& input) override {
        static const AVCodecID kCodecs[] = {AV_CODEC_ID_MP1, AV_CODEC_ID_MP2, AV_CODEC_ID_MP3};
        // The fixed-point decoders are off by a step in about a quarter of Layer I and II samples.
        static const char* const kFloatDecoders[] = {"mp1float", "mp2float", "mp3float"};
        if (input.mpeg.layer < 0 || input.mpeg.layer > 2) return false;
        mLayer = input.mpeg.layer + 1;
        mSetup = CodecSetup();
        mSetup.codecId = kCodecs[input.mpeg.layer];
        mSetup.decoderName = kFloatDecoders[input.mpeg.layer];
        const AVCodec* decoder = avcodec_find_decoder_by_name(mSetup.decoderName);
        if (decoder == nullptr || decoder->id != mSetup.codecId) {
            static std::atomic<bool> said{false};
            const AVCodec* other = avcodec_find_decoder(mSetup.codecId);
            if (!said.exchange(true))
                fprintf(stderr, "hostaudio: this libavcodec has no %s decoder, Layer %d decodes with %s\n",
                        mSetup.decoderName, mLayer, other != nullptr ? other->name : "none");
            mSetup.decoderName = nullptr;
        }
        return true;
    }

    bool unpack(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) override {
        if (length < 4) {
            problem = format("a unit of %ld bytes cannot hold an MPEG audio header", long(length));
            return false;
        }
        uint32_t h = uint32_t(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3];
        if ((h >> 21) != 0x7FF) {
            problem = format("no MPEG audio sync word at the start of the unit (%08lX)", long(h));
            return false;
        }
        int version = (h >> 19) & 3, layer = 4 - ((h >> 17) & 3), bitRate = (h >> 12) & 15;
        int rateIndex = (h >> 10) & 3, padding = (h >> 9) & 1;
        if (version == 1 || layer == 4 || rateIndex == 3 || bitRate == 15) {
            problem = format("reserved values in the frame header %08lX", long(h));
            return false;
        }
        if (layer != mLayer) problem = format("a Layer %ld frame in a Layer %ld stream", layer, mLayer);
        const int rate = kSampleRates[version][rateIndex];
        if (bitRate != 0) {
            long expected = frameLength(version, layer, bitRate, rate, padding);
            if (long(length) != expected)
                problem = format("a unit of %ld bytes where the frame header says %ld", long(length), expected);
        } else {
            // libavcodec refuses free format: the frame gets a bit rate that sizes it at least as
            // long (the decoder reads the packet's own length) and decodes it alike.
            const int channels = ((h >> 6) & 3) == 3 ? 1 : 2;
            const int index = freeFormatIndex(version, layer, rate, padding, channels, long(length));
            mFree.assign(data, data + length);
            mFree[2] = uint8_t((mFree[2] & 0x0F) | index << 4);
            data = mFree.data();
        }
        if (!out.isOpen() && !out.open(mSetup)) {
            problem = "the MPEG audio decoder cannot be opened";
            return false;
        }
        if (!out.packet(data, length, kFailure)) {
            if (problem.empty()) problem = kFailure;
            return false;
        }
        return true;
    }

private:
    static long frameLength(int version, int layer, int bitRateIndex, int rate, int padding) {
        long bitRate = kBitRates[version == 3 ? 0 : 1][layer - 1][bitRateIndex] * 1000L;
        if (layer == 1) return (12 * bitRate / rate + padding) * 4;
        long perFrame = (layer == 3 && version != 3) ? 72 : 144;
        return perFrame * bitRate / rate + padding;
    }

    // MPEG-1 Layer II's allocation table, chosen by the bit rate a channel (kbit/s).
    static int layer2Table(long perChannel, int rate) {
        if ((rate == 48000 && perChannel >= 56) || (perChannel >= 56 && perChannel <= 80)) return 0;
        if (rate != 48000 && perChannel >= 96) return 1;
        if (rate != 32000 && perChannel <= 48) return 2;
        return 3;
    }

    // The smallest bit-rate index whose frame holds `length` bytes; for MPEG-1 Layer II also one
    // that selects the allocation table of the stream's real bit rate.
    static int freeFormatIndex(int version, int layer, int rate, int padding, int channels, long length) {
        const bool tables = version == 3 && layer == 2;
        const long real = length * rate / 144000 / channels;
        for (int index = 1; index < 15; ++index) {
            const long kbps = kBitRates[version == 3 ? 0 : 1][layer - 1][index];
            if (frameLength(version, layer, index, rate, padding) < length) continue;
            if (!tables || layer2Table(kbps / channels, rate) == layer2Table(real, rate)) return index;
        }
        return 14;
    }

    int mLayer = 3;
    CodecSetup mSetup;
    std::vector<uint8_t> mFree;
};

}  // namespace

std::unique_ptr<FormatAdapter> makeMpegAdapter() { return std::make_unique<MpegAdapter>(); }

}  // namespace hostaudio
