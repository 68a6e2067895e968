// Byte FIFO of decoded PCM in fixed blocks, so holding a second of audio never needs one
// large contiguous buffer. Not synchronised: the decoder guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace hostaudio {

class PcmQueue {
public:
    static constexpr size_t kBlockBytes = 4096;

    void push(const uint8_t* data, size_t length);
    // Copies out and removes up to capacity bytes; returns how many.
    size_t pop(uint8_t* out, size_t capacity);
    void clear();
    size_t size() const { return mSize; }

private:
    using Block = std::unique_ptr<uint8_t[]>;

    std::deque<Block> mBlocks;
    size_t mHead = 0;  // read offset in the first block
    size_t mTail = 0;  // bytes used in the last block
    size_t mSize = 0;
    // Emptied blocks kept for reuse, at most as many as the queue has held at once: one thread
    // allocating and another freeing would contend for the allocator under the decoder's lock.
    std::vector<Block> mSpare;
};

}  // namespace hostaudio
