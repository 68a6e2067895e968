// Hand-built Monkey's Audio files in either header layout around made-up audio bytes, for the
// layouts and frame sizes real encoders do not produce.
#pragma once

#include <cstdint>
#include <vector>

#include "TestSupport.h"

namespace testsupport {

struct ApeLayout {
    uint16_t version = 3990;
    uint16_t level = 2000;
    uint16_t flags = 0;
    uint16_t channels = 2;
    uint32_t rate = 44100;
    uint32_t descriptorLength = 52;  // new layout only, as are the next five
    uint32_t headerLength = 24;
    uint32_t spareSeekBytes = 0;  // seek table room beyond the entries
    uint16_t bitsPerSample = 16;
    uint32_t blocksPerFrame = 73728;
    uint32_t wavHeaderLength = 44;  // stored unless flag 0x20 is set
    uint32_t finalFrameBlocks = 1000;
    std::vector<uint32_t> frameLengths = {3000, 1025, 1, 6};
    uint32_t tailBytes = 0;  // after the audio data, like a tag
};

struct ApeFile {
    std::vector<uint8_t> bytes;
    size_t audioStart = 0;
    size_t audioEnd = 0;  // end of the audio data
    std::vector<uint32_t> seekTable;
};

inline ApeFile buildApe(const ApeLayout& l) {
    ApeFile f;
    const bool old = l.version < 3980;
    const uint32_t frames = static_cast<uint32_t>(l.frameLengths.size());
    const bool wavStored = !(l.flags & 0x20);
    uint32_t audioLength = 0;
    for (uint32_t n : l.frameLengths) audioLength += n;
    if (old)
        f.audioStart = 32 + ((l.flags & 0x04) ? 4 : 0) + ((l.flags & 0x10) ? 4 : 0) + frames * 4;
    else
        f.audioStart = (l.descriptorLength > 52 ? l.descriptorLength : 52) + l.headerLength + frames * 4 + l.spareSeekBytes;
    if (wavStored) f.audioStart += l.wavHeaderLength;
    f.audioEnd = f.audioStart + audioLength;
    uint32_t at = static_cast<uint32_t>(f.audioStart);
    for (uint32_t n : l.frameLengths) {
        f.seekTable.push_back(at);
        at += n;
    }

    std::vector<uint8_t>& b = f.bytes;
    b = {'M', 'A', 'C', ' '};
    appendLe(b, l.version, 2);
    const std::vector<uint8_t> wav(wavStored ? l.wavHeaderLength : 0, 'W');
    if (old) {
        for (uint32_t v : {uint32_t(l.level), uint32_t(l.flags), uint32_t(l.channels)}) appendLe(b, v, 2);
        for (uint32_t v : {l.rate, l.wavHeaderLength, 0u, frames, l.finalFrameBlocks}) appendLe(b, v, 4);
        if (l.flags & 0x04) appendLe(b, 0x7FFF, 4);
        if (l.flags & 0x10) appendLe(b, frames, 4);
        b.insert(b.end(), wav.begin(), wav.end());
        for (uint32_t entry : f.seekTable) appendLe(b, entry, 4);
    } else {
        appendLe(b, 0, 2);
        for (uint32_t v : {l.descriptorLength, l.headerLength, frames * 4 + l.spareSeekBytes, l.wavHeaderLength,
                           audioLength, 0u, 0u})
            appendLe(b, v, 4);
        b.resize(b.size() + 16 + (l.descriptorLength > 52 ? l.descriptorLength - 52 : 0), 0x5A);
        appendLe(b, l.level, 2);
        appendLe(b, l.flags, 2);
        for (uint32_t v : {l.blocksPerFrame, l.finalFrameBlocks, frames}) appendLe(b, v, 4);
        appendLe(b, l.bitsPerSample, 2);
        appendLe(b, l.channels, 2);
        appendLe(b, l.rate, 4);
        b.resize(b.size() + (l.headerLength > 24 ? l.headerLength - 24 : 0), 0);
        for (uint32_t entry : f.seekTable) appendLe(b, entry, 4);
        b.resize(b.size() + l.spareSeekBytes, 0xEE);
        b.insert(b.end(), wav.begin(), wav.end());
    }
    for (uint32_t i = 0; i < audioLength; ++i) b.push_back(static_cast<uint8_t>(i * 7 + i / 251));
    b.resize(b.size() + l.tailBytes, 'T');
    return f;
}

}  // namespace testsupport
