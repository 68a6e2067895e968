// AAC (768): ADTS frames with their header, or LOAS frames with their sync layer. The first
// unit tells which; the stream keeps that framing.
#include <cstdio>

#include "FormatAdapter.h"

namespace hostaudio {
namespace {

const std::string kFailure = "the frame does not decode";

enum class Framing { Unknown, Adts, Loas };

bool isAdts(const uint8_t* d, size_t n) { return n >= 7 && d[0] == 0xFF && (d[1] & 0xF0) == 0xF0; }
bool isLoas(const uint8_t* d, size_t n) { return n >= 3 && d[0] == 0x56 && (d[1] & 0xE0) == 0xE0; }

class AacAdapter final : public FormatAdapter {
public:
    bool configure(const audio::audio_codec_parameter_t&) override {
        mFraming = Framing::Unknown;
        return true;
    }

    bool unpack(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) override {
        if (mFraming == Framing::Unknown && !detect(data, length, out, problem)) return false;
        char text[160];
        size_t declared;
        if (mFraming == Framing::Adts) {
            if (!isAdts(data, length)) {
                problem = "a unit without an ADTS header in an ADTS stream";
                return false;
            }
            declared = size_t(data[3] & 3) << 11 | size_t(data[4]) << 3 | data[5] >> 5;
        } else {
            if (!isLoas(data, length)) {
                problem = "a unit without the LOAS sync word in a LOAS stream";
                return false;
            }
            declared = (size_t(data[1] & 0x1F) << 8 | data[2]) + 3;
        }
        if (declared != length) {
            snprintf(text, sizeof text, "a unit of %zu bytes where its header says %zu", length, declared);
            problem = text;
        }
        if (!out.packet(data, length, kFailure)) {
            if (problem.empty()) problem = kFailure;
            return false;
        }
        return true;
    }

private:
    bool detect(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) {
        CodecSetup setup;
        if (isAdts(data, length)) {
            mFraming = Framing::Adts;
            setup.codecId = AV_CODEC_ID_AAC;
        } else if (isLoas(data, length)) {
            mFraming = Framing::Loas;
            setup.codecId = AV_CODEC_ID_AAC_LATM;
        } else {
            problem = "the first unit is neither an ADTS nor a LOAS frame";
            return false;
        }
        if (!out.open(setup)) {
            mFraming = Framing::Unknown;
            problem = "the AAC decoder cannot be opened";
            return false;
        }
        return true;
    }

    Framing mFraming = Framing::Unknown;
};

}  // namespace

std::unique_ptr<FormatAdapter> makeAacAdapter() { return std::make_unique<AacAdapter>(); }

}  // namespace hostaudio
