// WMA (2048): every unit is one ASF payload behind the tool's 8-byte frame prefix
// (55 55 AA AA, media object number, replicated data length, payload length big-endian).
// The codec takes whole media objects of one block alignment; payloads are joined into them.
#include <cstdio>
#include <cstring>

#include "FormatAdapter.h"

namespace hostaudio {
namespace {

const uint8_t kPrefixMagic[4] = {0x55, 0x55, 0xAA, 0xAA};
const size_t kPrefixLength = 8;

std::string format(const char* fmt, long a, long b = 0, long c = 0) {
    char text[160];
    snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

void putLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

class WmaAdapter final : public FormatAdapter {
public:
    bool configure(const audio::audio_codec_parameter_t& input) override {
        mPending.clear();
        int channels = __builtin_popcount(input.channelMap);
        // The codec decodes mono and stereo only, and needs to know how long an object is.
        if (input.sampleRate <= 0 || channels < 1 || channels > 2 || input.wma.blockAlignment == 0) return false;
        mBlockAlign = input.wma.blockAlignment;
        mSetup = CodecSetup();
        mSetup.codecId = AV_CODEC_ID_WMAV2;
        mSetup.sampleRate = input.sampleRate;
        mSetup.channels = channels;
        mSetup.blockAlign = input.wma.blockAlignment;
        mSetup.bitRate = int64_t{input.wma.avgBytesPerSecond} * 8;
        mSetup.bitsPerCodedSample = input.wma.bitsPerSample;
        // The bytes behind the stream's WAVE format: samples per block, encode options and the
        // super block alignment, which the record does not carry (the codec does not use it).
        putLe(mSetup.extradata, input.wma.samplesPerBlock, 4);
        putLe(mSetup.extradata, input.wma.encodeOptions, 2);
        putLe(mSetup.extradata, 0, 4);
        return true;
    }

    bool unpack(const uint8_t* data, size_t length, PacketOutput& out, std::string& problem) override {
        if (length < kPrefixLength || memcmp(data, kPrefixMagic, sizeof kPrefixMagic) != 0) {
            problem = format("a unit of %ld bytes without the WMA frame prefix", long(length));
            return false;
        }
        size_t payload = size_t(data[6]) << 8 | data[7];
        if (payload != length - kPrefixLength) {
            problem = format("the frame prefix says %ld payload bytes, the unit carries %ld", long(payload),
                             long(length - kPrefixLength));
            return false;
        }
        uint8_t object = data[4];
        if (!mPending.empty() && object != mObject) {
            problem = format("media object %ld ends after %ld of %ld bytes; dropped", mObject, long(mPending.size()),
                             long(mBlockAlign));
            mPending.clear();
        }
        mObject = object;
        mPending.insert(mPending.end(), data + kPrefixLength, data + length);

        if (!out.isOpen() && !out.open(mSetup)) {
            problem = "the WMA decoder cannot be opened";
            mPending.clear();
            return false;
        }
        bool decoded = true;
        const std::string failure = format("media object %ld does not decode", object);
        size_t at = 0;
        for (; mPending.size() - at >= mBlockAlign; at += mBlockAlign) {
            if (!out.packet(mPending.data() + at, mBlockAlign, failure)) {
                decoded = false;
                if (problem.empty()) problem = failure;
            }
        }
        mPending.erase(mPending.begin(), mPending.begin() + long(at));
        return decoded;
    }

    void finish(PacketOutput&) override { mPending.clear(); }  // a cut-off object cannot decode

private:
    CodecSetup mSetup;
    size_t mBlockAlign = 0;
    std::vector<uint8_t> mPending;  // the media object being joined
    long mObject = 0;
};

}  // namespace

std::unique_ptr<FormatAdapter> makeWmaAdapter() { return std::make_unique<WmaAdapter>(); }

}  // namespace hostaudio
