// The tool's own audio description; readers fill it, writers receive the decoder's output in it.
#pragma once

#include <cstdint>

struct AudioInfo {
    uint32_t sampleFrequency;
    uint32_t channelMap;  // a channel count: 1 mono, 2 stereo, 0 unknown
    struct {
        uint32_t bitDepth;  // 8 U8, 9 S8, 16 S16LE, 17 S16BE, 32 S32LE, 33 S32BE, 0 other
        uint32_t blockAlign;
        uint32_t bytesPerSecond;
    } pcm;
    struct {
        uint32_t layer;  // 0 Layer I, 1 Layer II, 2 Layer III
    } mpeg;
    bool auxFlag1;
    bool auxFlag2;
    struct {
        uint16_t bitsPerSample;
        uint16_t blockAlignment;
        uint32_t avgBytesPerSecond;
        uint32_t samplesPerBlock;
        uint16_t encodeOptions;
    } wma;
};

// Bytes per sample of a pcm.bitDepth code; 0 for codes a frame cannot be sized by.
inline uint32_t pcmBytesPerSample(uint32_t bitDepth) {
    switch (bitDepth) {
    case 8: case 9: return 1;
    case 16: case 17: return 2;
    case 32: case 33: return 4;
    default: return 0;
    }
}
