#include "PcmQueue.h"

#include <algorithm>
#include <cstring>

namespace hostaudio {

void PcmQueue::push(const uint8_t* data, size_t length) {
    while (length > 0) {
        if (blocks_.empty() || tail_ == kBlockBytes) {
            blocks_.push_back(spare_ ? std::move(spare_) : Block(new uint8_t[kBlockBytes]));
            tail_ = 0;
        }
        size_t n = std::min(length, kBlockBytes - tail_);
        std::memcpy(blocks_.back().get() + tail_, data, n);
        tail_ += n;
        size_ += n;
        data += n;
        length -= n;
    }
}

size_t PcmQueue::pop(uint8_t* out, size_t capacity) {
    size_t copied = 0;
    while (copied < capacity && size_ > 0) {
        size_t end = blocks_.size() == 1 ? tail_ : kBlockBytes;
        size_t n = std::min(capacity - copied, end - head_);
        std::memcpy(out + copied, blocks_.front().get() + head_, n);
        head_ += n;
        size_ -= n;
        copied += n;
        if (head_ == end) {
            spare_ = std::move(blocks_.front());
            blocks_.pop_front();
            head_ = 0;
            if (blocks_.empty()) {
                tail_ = 0;
            }
        }
    }
    return copied;
}

void PcmQueue::clear() {
    blocks_.clear();
    head_ = 0;
    tail_ = 0;
    size_ = 0;
}

}  // namespace hostaudio
