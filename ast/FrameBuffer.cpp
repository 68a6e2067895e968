#include "FrameBuffer.h"

#include <cstdlib>
#include <cstring>

#include "ASTLog.h"

bool FrameBuffer::reserve(int32_t size) {
    length = 0;
    if (size <= 0) {
        free(data);
        data = nullptr;
        capacity = 0;
        return true;
    }
    if (size <= capacity) return true;
    uint8_t* grown = static_cast<uint8_t*>(malloc(static_cast<size_t>(size)));
    if (grown == nullptr) {
        // Callers end the stream on it with an empty frame; this says why.
        astLog("[AST][ERR]Failed to allocate %d bytes for a frame.\n", size);
        return false;  // the old block stays usable
    }
    if (data != nullptr) {
        memcpy(grown, data, static_cast<size_t>(capacity));
        free(data);
    }
    data = grown;
    capacity = size;
    return true;
}
