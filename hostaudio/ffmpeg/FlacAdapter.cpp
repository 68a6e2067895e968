// FLAC (2816): every unit is one frame, from its header up to the next frame's header. The
// file's STREAMINFO never reaches the service, so the codec's own is built from the record's
// rate, the first frame's header (channels, bits per sample) and, for frames that leave the
// sample size to STREAMINFO, the record's sample size; the block size is left open (the largest
// FLAC allows), so frames of any size decode.
#include <cstdio>

extern "C" {
#include <libavutil/crc.h>
}

#include "FormatAdapter.h"

namespace hostaudio {
namespace {

const int kStreamInfoLength = 34;
const std::string kFailure = "the frame does not decode";
const int kBitsBySizeCode[8] = {0, 8, 12, 0, 16, 20, 24, 32};  // 0: from STREAMINFO, 3: reserved

struct FrameHeader {
    int channels = 0;
    int bitsPerSample = 0;
    int codedRate = 0;  // 0 when the header refers to STREAMINFO for it
};

// Sample rates of rate codes 1 to 11.
int tableRate(int code) {
    static const int kRates[12] = {0, 88200, 176400, 192000, 8000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
    return code < 12 ? kRates[code] : 0;
}

bool parseHeader(const uint8_t* d, size_t n, FrameHeader& h, std::string& problem) {
    char text[160];
    if (n < 6 || d[0] != 0xFF || (d[1] & 0xFC) != 0xF8) {
        snprintf(text, sizeof text, "no FLAC frame sync code at the start of a unit of %zu bytes", n);
        problem = text;
        return false;
    }
    const int blockCode = d[2] >> 4, rateCode = d[2] & 15, channelCode = d[3] >> 4, sizeCode = (d[3] >> 1) & 7;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || sizeCode == 3) {
        snprintf(text, sizeof text, "reserved codes in the frame header %02X%02X", d[2], d[3]);
        problem = text;
        return false;
    }
    // The coded frame or sample number: as many bytes as leading 1 bits, one for none.
    int ones = 0;
    while (ones < 8 && (d[4] & (0x80 >> ones))) ++ones;
    if (ones == 1 || ones > 7) {
        snprintf(text, sizeof text, "a coded frame number starting with %02X", d[4]);
        problem = text;
        return false;
    }
    const size_t numberLength = ones == 0 ? 1 : static_cast<size_t>(ones);
    size_t length = 4 + numberLength +
                    (blockCode == 6   ? 1
                     : blockCode == 7 ? 2
                                      : 0) +
                    (rateCode == 12   ? 1
                     : rateCode >= 13 ? 2
                                      : 0);
    if (length + 1 > n) {
        snprintf(text, sizeof text, "a unit of %zu bytes ends inside its frame header", n);
        problem = text;
        return false;
    }
    const uint8_t crc = static_cast<uint8_t>(av_crc(av_crc_get_table(AV_CRC_8_ATM), 0, d, length));
    if (crc != d[length]) {
        snprintf(text, sizeof text, "frame header CRC-8 %02X where the header holds %02X", crc, d[length]);
        problem = text;
        return false;
    }
    h.channels = channelCode < 8 ? channelCode + 1 : 2;
    h.bitsPerSample = kBitsBySizeCode[sizeCode];
    const uint8_t* rate = d + length - (rateCode == 12 ? 1 : rateCode >= 13 ? 2 : 0);
    switch (rateCode) {
    case 0: h.codedRate = 0; break;
    case 12: h.codedRate = rate[0] * 1000; break;
    case 13: h.codedRate = rate[0] << 8 | rate[1]; break;
    case 14: h.codedRate = (rate[0] << 8 | rate[1]) * 10; break;
    default: h.codedRate = tableRate(rateCode); break;
    }
    return true;
}

// STREAMINFO: block sizes 16 to 65535, frame sizes unknown, then rate (20 bits), channels - 1
// (3), bits per sample - 1 (5), total samples unknown (36), MD5 unknown.
std::vector<uint8_t> streamInfo(int rate, int channels, int bitsPerSample) {
    std::vector<uint8_t> s(kStreamInfoLength, 0);
    s[0] = 0x00, s[1] = 0x10, s[2] = 0xFF, s[3] = 0xFF;
    s[10] = static_cast<uint8_t>(rate >> 12);
    s[11] = static_cast<uint8_t>(rate >> 4);
    s[12] = static_cast<uint8_t>((rate & 0xF) << 4 | (channels - 1) << 1 | (bitsPerSample - 1) >> 4);
    s[13] = static_cast<uint8_t>(((bitsPerSample - 1) & 0xF) << 4);
    return s;
}

class FlacAdapter final : public FormatAdapter {
public:
    bool configure(const audio::audio_codec_parameter_t& input) override {
        mRate = input.sampleRate;
        mBitsPerSample = input.flac.bitsPerSample;
        return true;
    }

    bool unpack(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) override {
        FrameHeader h;
        if (!parseHeader(data, length, h, problem)) return false;
        if (!out.isOpen() && !open(h, out, problem)) return false;
        if (!out.packet(data, length, kFailure)) {
            problem = kFailure;
            return false;
        }
        return true;
    }

private:
    bool open(const FrameHeader& h, PacketOutput& out, std::string& problem) {
        const int bits = h.bitsPerSample != 0 ? h.bitsPerSample : mBitsPerSample;
        if (bits < 4 || bits > 32) {
            problem = "neither the record nor the first frame header gives a sample size";
            return false;
        }
        // The record's rate is the file's; a frame that codes its own rate is taken at its word.
        int rate = mRate > 0 && mRate < (1 << 20) ? mRate : h.codedRate;
        if (rate <= 0) {
            problem = "neither the record nor the first frame header gives a sample rate";
            return false;
        }
        CodecSetup setup;
        setup.codecId = AV_CODEC_ID_FLAC;
        setup.sampleRate = rate;
        setup.channels = h.channels;
        setup.bitsPerCodedSample = bits;
        setup.extradata = streamInfo(rate, h.channels, bits);
        if (!out.open(setup)) {
            problem = "the FLAC decoder cannot be opened";
            return false;
        }
        return true;
    }

    int mRate = 0;
    int mBitsPerSample = 0;
};

}  // namespace

std::unique_ptr<FormatAdapter> makeFlacAdapter() { return std::make_unique<FlacAdapter>(); }

}  // namespace hostaudio
