// FFmpeg's decode of the input, or a reference file given with it: what the decoder's output is
// held against.
#pragma once

#include <string>

#include "Signal.h"

namespace compare {

struct RawInput {  // a headerless file, described by the command line
    int rate = 0, channels = 0;
    SampleCoding coding{16, true, false};
};

struct ReferenceInfo {
    std::string codec;                      // FFmpeg's name of the codec
    std::string decoder;                    // and of the decoder that made the reference
    std::string library;                    // the library and release that decoded it
    bool lossless = false;                  // a lossless codec or PCM
    int sourceBits = 0;                     // the decoder's sample resolution, 0 for floating point
    int failedPackets = 0;                  // packets FFmpeg could not decode (left out, as ffmpeg does)
    int frameSamples = 0;                   // the longest frame decoded: the extra an output may hold
    long skippedStart = 0, skippedEnd = 0;  // delay and padding the container marks, left out
    int partialBytes = 0;                   // of a raw file, bytes at the end short of a whole frame
};

// Decodes `path` (or the raw PCM when `raw` is set) and rounds it to `bits`; bits 0 takes the
// source's word length: 8, 16, 24 or 32 for integer sources, 16 for floating point decoders.
bool decodeReference(const std::string& path, const RawInput* raw, int bits, Signal& out, ReferenceInfo& info,
                     std::string& error);

}  // namespace compare
