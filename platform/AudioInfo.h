// The tool's own audio description; readers fill it, writers receive the decoder's output in it.
#pragma once

#include <cstdint>

// pcm.bitDepth codes.
enum : uint32_t {
    PCM_U8 = 8,
    PCM_S8 = 9,
    PCM_S16LE = 16,
    PCM_S16BE = 17,
    PCM_S32LE = 32,
    PCM_S32BE = 33,
};

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
    struct {
        uint16_t bitsPerSample;  // STREAMINFO's, or the first frame's without it
    } flac;
};

// Bytes per sample of a pcm.bitDepth code; 0 for codes a frame cannot be sized by.
inline uint32_t pcmBytesPerSample(uint32_t bitDepth) {
    switch (bitDepth) {
    case PCM_U8:
    case PCM_S8: return 1;
    case PCM_S16LE:
    case PCM_S16BE: return 2;
    case PCM_S32LE:
    case PCM_S32BE: return 4;
    default: return 0;
    }
}
