// Byte FIFO of decoded PCM in fixed blocks, so holding a second of audio never needs one
// large contiguous buffer. Not synchronised: the decoder guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

namespace hostaudio {

class PcmQueue {
public:
    static constexpr size_t kBlockBytes = 4096;

    void push(const uint8_t* data, size_t length);
    // Copies out and removes up to capacity bytes; returns how many.
    size_t pop(uint8_t* out, size_t capacity);
    void clear();
    size_t size() const { return size_; }

private:
    using Block = std::unique_ptr<uint8_t[]>;

    std::deque<Block> blocks_;
    size_t head_ = 0;  // read offset in the first block
    size_t tail_ = 0;  // bytes used in the last block
    size_t size_ = 0;
    Block spare_;  // one emptied block kept back, so steady streaming does not allocate
};

}  // namespace hostaudio
