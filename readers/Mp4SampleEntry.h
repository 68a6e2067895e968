// The audio sample entry of an MP4 track ('stsd'): which coding its samples hold, what the
// decoder is told about it, and how a sample becomes the decoder's unit: ALAC packets behind the
// 16-byte packet header, AAC access units behind an ADTS header built from the
// AudioSpecificConfig, MPEG audio frames and AC-3 / E-AC-3 sync frames as they are.
#pragma once

#include <cstdint>

#include "ByteCursor.h"

class Mp4SampleEntry {
public:
    enum Kind { NONE, ALAC, AAC, MPEG, AC3, EAC3 };

    // The first entry of an 'stsd' body; false, after one line saying why, for an entry the
    // decoder takes no units of.
    bool parse(ByteCursor& stsd);
    // MPEG audio: the layer, rate and channels of the first frame (its 4 header bytes); false,
    // with a line, when they are not an MPEG audio frame header.
    bool takeFirstFrame(const uint8_t* header);

    Kind kind() const { return mKind; }
    uint32_t format() const { return mFormat; }
    int32_t codec() const;
    // What the entry holds, for the log: "ALAC", "AAC LC", "HE-AAC", "MPEG audio", "E-AC-3" ...
    const char* name() const { return mName; }
    // The name of the parse its summary line carries.
    const char* parserName() const;

    uint32_t sampleRate() const { return mSampleRate; }
    uint8_t channels() const { return mChannels; }  // 0: the entry does not tell
    uint32_t mpegLayer() const { return mMpegLayer; }

    // Bytes put in front of every sample, and the longest sample that can go behind them.
    int32_t prefixLength() const;
    uint32_t longestSample() const;
    // The prefix of a sample of `size` bytes (not above longestSample()); `last` for the
    // stream's last sample.
    void writePrefix(uint8_t* out, uint32_t size, bool last) const;

private:
    bool parseAlac(ByteCursor& children);
    bool parseEsds(ByteCursor& children);
    bool parseAudioSpecificConfig(ByteCursor config);
    bool refuse(const char* why, uint32_t value) const;

    Kind mKind = NONE;
    uint32_t mFormat = 0;
    const char* mName = "";
    uint32_t mSampleRate = 0;
    uint8_t mChannels = 0;
    uint32_t mMpegLayer = 0;

    // ALAC: from the configuration record (the magic cookie).
    uint32_t mMaxSamplePerFrame = 0;
    uint8_t mSampleSize = 0;
    // AAC: the ADTS header's fields.
    uint8_t mProfile = 0;
    uint8_t mSamplingFrequencyIndex = 0;
    uint8_t mChannelConfiguration = 0;
};
