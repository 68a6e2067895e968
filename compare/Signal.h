// Decoded audio as both sides are compared: signed integers at the decoded file's word length.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace compare {

// How samples sit in a file: the codes of ostrel's -b (8 unsigned, 16 and 32 signed little-endian,
// 9, 17 and 33 signed big-endian) and 24 for packed signed 24-bit little-endian.
struct SampleCoding {
    int bits = 0;  // 0: not known yet
    bool isSigned = true;
    bool bigEndian = false;

    static bool fromCode(int code, SampleCoding& out);
    int bytes() const { return bits / 8; }
};

struct Signal {
    int rate = 0;
    int channels = 0;
    int bits = 16;
    std::vector<int32_t> samples;  // interleaved

    size_t frames() const { return channels > 0 ? samples.size() / size_t(channels) : 0; }
    int32_t at(size_t frame, int channel) const { return samples[frame * size_t(channels) + size_t(channel)]; }
    // One LSB as a fraction of full scale, which is 2^(bits-1).
    double lsb() const { return std::ldexp(1.0, 1 - bits); }
};

// Neither side may hold more samples than this: both are kept in memory whole, and a decoded
// file's bytes beside its samples (about 46 minutes of 48 kHz stereo, 2.5 GB at most in all).
constexpr size_t kMaxSamples = size_t(1) << 28;

}  // namespace compare
