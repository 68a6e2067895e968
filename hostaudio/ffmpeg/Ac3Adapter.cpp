// AC-3 and E-AC-3 (1536): every unit is one sync frame as it stands in the file. The decoder
// takes an E-AC-3 frame of substream 0 together with the dependent and further substream
// frames behind it in one packet, so E-AC-3 frames are held until the next such frame (or the
// end) shows that the group is complete. AC-3 frames go out as they come.
#include <cstdio>
#include <vector>

#include "FormatAdapter.h"

namespace hostaudio {
namespace {

// AC-3 bit rates in kbit/s by frame size code / 2.
const int kAc3BitRates[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
const int kAc3Rates[3] = {48000, 44100, 32000};
const std::string kFailure = "the frame does not decode";
const std::string kHeldFailure = "the E-AC-3 frames before this one do not decode";

struct SyncFrame {
    bool eac3 = false;
    bool startsGroup = true;  // an AC-3 frame, or an E-AC-3 independent frame of substream 0
    long length = 0;          // bytes, from the header
};

// Frame bytes of an AC-3 sync frame: 1536 samples at the code's bit rate; at 44.1 kHz the odd
// codes carry one padding word.
long ac3FrameLength(int rateCode, int sizeCode) {
    long bitRate = kAc3BitRates[sizeCode / 2] * 1000L;
    long words = bitRate * 1536 / 16 / kAc3Rates[rateCode];
    if (rateCode == 1) words += sizeCode & 1;
    return words * 2;
}

bool parseSyncFrame(const uint8_t* d, size_t n, SyncFrame& f, std::string& problem) {
    char text[160];
    if (n < 6) {
        snprintf(text, sizeof text, "a unit of %zu bytes cannot hold a sync frame header", n);
        problem = text;
        return false;
    }
    if (d[0] != 0x0B || d[1] != 0x77) {
        snprintf(text, sizeof text, "no sync word 0B77 at the start of the unit (%02X%02X)", d[0], d[1]);
        problem = text;
        return false;
    }
    int bitStreamId = d[5] >> 3;
    if (bitStreamId <= 8) {
        int rateCode = d[4] >> 6, sizeCode = d[4] & 0x3F;
        if (rateCode == 3 || sizeCode > 37) {
            snprintf(text, sizeof text, "reserved rate or frame size code in the AC-3 header (%02X)", d[4]);
            problem = text;
            return false;
        }
        f.eac3 = false;
        f.startsGroup = true;
        f.length = ac3FrameLength(rateCode, sizeCode);
    } else if (bitStreamId >= 11 && bitStreamId <= 16) {
        int streamType = d[2] >> 6, subStream = (d[2] >> 3) & 7;
        if (streamType == 3) {
            problem = "reserved stream type 3 in the E-AC-3 header";
            return false;
        }
        f.eac3 = true;
        f.startsGroup = streamType != 1 && subStream == 0;
        f.length = ((long(d[2] & 7) << 8 | d[3]) + 1) * 2;
    } else {
        snprintf(text, sizeof text, "bit stream id %d is neither AC-3 nor E-AC-3", bitStreamId);
        problem = text;
        return false;
    }
    if (long(n) != f.length) {
        snprintf(text, sizeof text, "a unit of %zu bytes where the frame header says %ld", n, f.length);
        problem = text;
        return false;
    }
    return true;
}

class Ac3Adapter final : public FormatAdapter {
public:
    bool configure(const audio::audio_codec_parameter_t& input) override {
        mRate = input.sampleRate > 0 ? input.sampleRate : 0;
        mHeld.clear();
        return true;
    }

    bool unpack(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) override {
        SyncFrame f;
        if (!parseSyncFrame(data, length, f, problem)) return false;
        if (!out.isOpen()) {
            CodecSetup setup;
            setup.codecId = f.eac3 ? AV_CODEC_ID_EAC3 : AV_CODEC_ID_AC3;
            setup.sampleRate = mRate;
            if (!out.open(setup)) {
                problem = "the AC-3 decoder cannot be opened";
                return false;
            }
        }
        if (!f.startsGroup) {
            if (mHeld.empty()) {
                problem = "a dependent E-AC-3 frame without the independent frame before it";
                return false;
            }
            mHeld.insert(mHeld.end(), data, data + length);
            return true;
        }
        bool ok = sendHeld(out);
        if (!ok) problem = kHeldFailure;
        if (f.eac3) {
            mHeld.assign(data, data + length);
            return ok;
        }
        if (!out.packet(data, length, kFailure)) {
            problem = kFailure;
            return false;
        }
        return ok;
    }

    void finish(PacketOutput& out) override { sendHeld(out); }

private:
    bool sendHeld(PacketOutput& out) {
        if (mHeld.empty()) return true;
        bool ok = out.packet(mHeld.data(), mHeld.size(), kHeldFailure);
        mHeld.clear();
        return ok;
    }

    int mRate = 0;
    std::vector<uint8_t> mHeld;
};

}  // namespace

std::unique_ptr<FormatAdapter> makeAc3Adapter() { return std::make_unique<Ac3Adapter>(); }

}  // namespace hostaudio
