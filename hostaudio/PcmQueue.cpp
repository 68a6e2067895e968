#include "PcmQueue.h"

#include <algorithm>
#include <cstring>

namespace hostaudio {

void PcmQueue::push(const uint8_t* data, size_t length) {
    while (length > 0) {
        if (mBlocks.empty() || mTail == kBlockBytes) {
            if (mSpare.empty()) {
                mBlocks.push_back(Block(new uint8_t[kBlockBytes]));
            } else {
                mBlocks.push_back(std::move(mSpare.back()));
                mSpare.pop_back();
            }
            mTail = 0;
        }
        size_t n = std::min(length, kBlockBytes - mTail);
        std::memcpy(mBlocks.back().get() + mTail, data, n);
        mTail += n;
        mSize += n;
        data += n;
        length -= n;
    }
}

size_t PcmQueue::pop(uint8_t* out, size_t capacity) {
    size_t copied = 0;
    while (copied < capacity && mSize > 0) {
        size_t end = mBlocks.size() == 1 ? mTail : kBlockBytes;
        size_t n = std::min(capacity - copied, end - mHead);
        std::memcpy(out + copied, mBlocks.front().get() + mHead, n);
        mHead += n;
        mSize -= n;
        copied += n;
        if (mHead == end) {
            mSpare.push_back(std::move(mBlocks.front()));
            mBlocks.pop_front();
            mHead = 0;
            if (mBlocks.empty()) {
                mTail = 0;
            }
        }
    }
    return copied;
}

void PcmQueue::clear() {
    for (Block& b : mBlocks) {
        mSpare.push_back(std::move(b));
    }
    mBlocks.clear();
    mHead = 0;
    mTail = 0;
    mSize = 0;
}

}  // namespace hostaudio
