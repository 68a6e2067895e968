// One decoder unit: a block and how much of it is valid. A plain record: whoever
// reserves a block releases it with reserve(0).
#pragma once

#include <cstdint>

struct FrameBuffer {
    uint8_t* data = nullptr;
    int32_t length = 0;
    int32_t capacity = 0;

    FrameBuffer() = default;
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // Sizes the block for `size` bytes, keeping what it held; always resets length.
    // On a failed allocation the old block stays and the call reports false.
    bool reserve(int32_t size);
};
