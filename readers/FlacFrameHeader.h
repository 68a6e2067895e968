// A FLAC frame header: its fields, and what a header right behind its frame has to carry.
#pragma once

#include <cstdint>

struct FlacFrameHeader {
    uint16_t syncWord;
    uint8_t reserved1;
    uint8_t variableBlockSize;
    uint8_t blockSizeInSampleIndex;
    uint8_t samplingFrequencyIndex;
    uint8_t channelAssignmentIndex;
    uint8_t sampleSizeIndex;
    uint8_t reserved2;
    uint8_t utf8Str[7];
    uint16_t blockSizeInSample;
    uint16_t samplingFrequency;
    uint8_t crc8;
    int32_t length;      // bytes, the CRC-8 included
    uint64_t number;     // the frame number, or the first sample's for variable blocking
    uint32_t blockSize;  // samples; 0 for the reserved code

    // Whether this header can be the one right behind `previous`'s frame.
    bool continues(const FlacFrameHeader& previous) const {
        const uint64_t next = previous.variableBlockSize ? previous.number + previous.blockSize : previous.number + 1;
        return variableBlockSize == previous.variableBlockSize && number == next;
    }
    uint8_t channels() const { return static_cast<uint8_t>(channelAssignmentIndex < 8 ? channelAssignmentIndex + 1 : 2); }
    // Bits per sample; 0 when STREAMINFO gives them or the code is reserved.
    uint8_t bitsPerSample() const;
};

// Decodes the header at data (at most 16 bytes are looked at); a header longer than `available`
// bytes is none. Unless quiet, prints why a header is refused.
bool parseFlacFrameHeader(const uint8_t* data, int32_t available, FlacFrameHeader& h, bool quiet);
