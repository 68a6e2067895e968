// FFmpeg's decode of the input: the reference the decoder's output is held against.
#pragma once

#include <string>

#include "Signal.h"

namespace compare {

struct RawInput {  // a headerless input, described by the command line
    int rate = 48000, channels = 2;
    SampleCoding coding{16, true, false};
};

struct ReferenceInfo {
    std::string codec;      // FFmpeg's name of the codec
    bool lossless = false;  // a lossless codec or PCM
    int sourceBits = 0;     // the decoder's sample resolution, 0 for floating point
    int failedPackets = 0;  // packets FFmpeg could not decode (left out, as the ffmpeg command does)
};

// Decodes `path` (or the raw PCM when `raw` is set) and rounds it to `bits`; bits 0 takes the
// source's word length: 8, 16 or 32 for integer decoders, 16 for floating point ones.
bool decodeReference(const std::string& path, const RawInput* raw, int bits, Signal& out, ReferenceInfo& info,
                     std::string& error);

}  // namespace compare
