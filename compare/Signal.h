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

// Samples on the heap up to kInMemory, beyond that in an unlinked temporary file mapped in: a
// long file's samples then take page cache, which the kernel can write out, not the heap.
class SampleStore {
public:
    static constexpr size_t kInMemory = size_t(1) << 24;

    SampleStore() = default;
    SampleStore(const SampleStore& other) { *this = other; }
    SampleStore& operator=(const SampleStore& other);
    ~SampleStore() { release(); }

    // False when the storage cannot grow (no room in the temporary folder).
    bool push_back(int32_t v) {
        if (mSize == mCapacity && !reserve(mSize + 1)) return false;
        mData[mSize++] = v;
        return true;
    }
    bool resize(size_t n) {
        if (n > mCapacity && !reserve(n)) return false;
        mSize = n;
        return true;
    }
    size_t size() const { return mSize; }
    int32_t& operator[](size_t i) { return mData[i]; }
    int32_t operator[](size_t i) const { return mData[i]; }

private:
    bool reserve(size_t need);
    void release();

    int32_t* mData = nullptr;
    size_t mSize = 0, mCapacity = 0;
    std::vector<int32_t> mHeap;
    int mFd = -1;
};

struct Signal {
    int rate = 0;
    int channels = 0;
    int bits = 16;
    SampleStore samples;  // interleaved

    size_t frames() const { return channels > 0 ? samples.size() / size_t(channels) : 0; }
    int32_t at(size_t frame, int channel) const { return samples[frame * size_t(channels) + size_t(channel)]; }
    // One LSB as a fraction of full scale, which is 2^(bits-1).
    double lsb() const { return std::ldexp(1.0, 1 - bits); }
};

// Neither side may hold more samples than this (about 12 hours of 48 kHz stereo; 8 GB of
// temporary file each).
constexpr size_t kMaxSamples = size_t(1) << 31;

}  // namespace compare
