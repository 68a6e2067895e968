// Shared parts of the fuzz targets: quiet logs, the input as a file, and a reader run to its
// end with every byte of every frame touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "AudioDataReader.h"

namespace fuzzsupport {

// Readers print a line per event on fd 1; fuzzing must not be bound by that output.
void silenceStdout();

// The bytes as a file in memory (a memfd), reachable by a path that the stdio open of
// ASTFileAccess takes like any other path, so the readers run unchanged.
const char* asFile(const uint8_t* data, size_t size);

// Reads every byte, so that ASan sees a block shorter than its claimed length.
inline void touch(const uint8_t* data, size_t length) {
    volatile uint8_t sink = 0;
    for (size_t i = 0; i < length; ++i) sink = sink ^ data[i];
    (void)sink;
}

// Far more calls than a fuzzer-sized input has frames; a reader that never ends is a finding.
const int kMaxReads = 100000;

template <class Reader, class... Args>
int readAll(const uint8_t* data, size_t size, Args... args) {
    std::unique_ptr<Reader> reader(new Reader(asFile(data, size), args...));
    if (reader->isInvalid()) return 0;
    for (int i = 0; i < kMaxReads; ++i) {
        FrameBuffer* f = reader->readFrame();
        if (f == nullptr || f->data == nullptr || f->length <= 0) return 0;
        touch(f->data, size_t(f->length));
    }
    __builtin_trap();
}

}  // namespace fuzzsupport
