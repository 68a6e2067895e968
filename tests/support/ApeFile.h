// Hand-built Monkey's Audio files in either header layout around made-up audio bytes, for the
// layouts and frame sizes real encoders do not produce.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ReaderBytes.h"
#include "TestSupport.h"

namespace testsupport {

struct ApeLayout {
    uint16_t version = 3990, level = 2000, flags = 0, channels = 2;
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
    size_t audioStart = 0, audioEnd = 0;  // where the audio data starts and ends
    std::vector<uint32_t> seekTable;
};

inline ApeFile buildApe(const ApeLayout& l) {
    ApeFile f;
    const bool old = l.version < 3980;
    const uint32_t frames = static_cast<uint32_t>(l.frameLengths.size());
    const uint32_t extraDescriptor = l.descriptorLength > 52 ? l.descriptorLength - 52 : 0;
    const std::vector<uint8_t> wav(l.flags & 0x20 ? 0 : l.wavHeaderLength, 'W');
    uint32_t audioLength = 0;
    for (uint32_t n : l.frameLengths) audioLength += n;
    if (old)
        f.audioStart = 32 + ((l.flags & 0x04) ? 4 : 0) + ((l.flags & 0x10) ? 4 : 0) + frames * 4;
    else
        f.audioStart = 52 + extraDescriptor + l.headerLength + frames * 4 + l.spareSeekBytes;
    f.audioStart += wav.size();
    f.audioEnd = f.audioStart + audioLength;
    std::vector<uint8_t> table;
    for (uint32_t at = static_cast<uint32_t>(f.audioStart), k = 0; k < frames; at += l.frameLengths[k++]) {
        f.seekTable.push_back(at);
        table = cat({table, le(at, 4)});
    }

    std::vector<uint8_t>& b = f.bytes;
    b = cat({str("MAC "), le(l.version, 2)});
    if (old) {
        b = cat({b, le(l.level, 2), le(l.flags, 2), le(l.channels, 2), le(l.rate, 4), le(l.wavHeaderLength, 4),
                 le(0, 4), le(frames, 4), le(l.finalFrameBlocks, 4), (l.flags & 0x04) ? le(0x7FFF, 4) : le(0, 0),
                 (l.flags & 0x10) ? le(frames, 4) : le(0, 0), wav, table});
    } else {
        // Behind the lengths: 16 bytes of MD5 and the descriptor's extra bytes.
        const std::vector<uint8_t> md5(16 + extraDescriptor, 0x5A), pad(std::max(l.headerLength, 24u) - 24, 0),
            spare(l.spareSeekBytes, 0xEE);
        b = cat({b, le(0, 2), le(l.descriptorLength, 4), le(l.headerLength, 4), le(frames * 4 + l.spareSeekBytes, 4),
                 le(l.wavHeaderLength, 4), le(audioLength, 4), le(0, 8), md5});
        b = cat({b, le(l.level, 2), le(l.flags, 2), le(l.blocksPerFrame, 4), le(l.finalFrameBlocks, 4), le(frames, 4),
                 le(l.bitsPerSample, 2), le(l.channels, 2), le(l.rate, 4), pad, table, spare, wav});
    }
    for (uint32_t i = 0; i < audioLength; ++i) b.push_back(static_cast<uint8_t>(i * 7 + i / 251));
    b.resize(b.size() + l.tailBytes, 'T');
    return f;
}

// A stream as the reader should hand it out.
struct ApeStream {
    uint16_t version = 0, level = 0, bits = 0, channels = 0;
    uint32_t rate = 0, blocksPerFrame = 0, finalFrameBlocks = 0;
    std::vector<uint32_t> seekTable;  // where each frame starts in the file
    uint32_t end = 0;                 // where the last one ends
};

// Empty when the units are the stream's frames in order in chunks of at most 1024 bytes, each
// frame opened by its 20-byte header, and the payloads together are the file's bytes from the
// first frame to the end with every 32-bit word reversed; otherwise what differs first.
inline std::string apeUnitsMismatch(const std::vector<std::vector<uint8_t>>& units, const std::vector<uint8_t>& file,
                                    const ApeStream& s) {
    std::vector<uint8_t> payload, reversed;
    size_t frame = 0;
    int64_t left = 0;
    for (const std::vector<uint8_t>& u : units) {
        if (u.size() > 1024) return "a unit of " + std::to_string(u.size()) + " bytes";
        size_t at = 0;
        if (left == 0) {
            if (frame == s.seekTable.size()) return "more frames than the seek table has";
            bool last = frame + 1 == s.seekTable.size();
            uint32_t length = (last ? s.end : s.seekTable[frame + 1]) - s.seekTable[frame];
            std::vector<uint8_t> h = cat({str("APEs"), be(length | (last ? 0x80000000u : 0), 4), be(s.version, 2),
                                          be(s.level, 2), be(last ? s.finalFrameBlocks : s.blocksPerFrame, 4),
                                          be(s.bits, 1), be(uint32_t(s.channels) << 20 | (s.rate & 0xFFFFF), 3)});
            if (u.size() < 20 || !std::equal(h.begin(), h.end(), u.begin()))
                return "the header of frame " + std::to_string(frame);
            left = length;
            at = 20;
            ++frame;
        }
        left -= int64_t(u.size() - at);
        if (left < 0) return "frame " + std::to_string(frame - 1) + " runs over its length";
        payload.insert(payload.end(), u.begin() + long(at), u.end());
    }
    if (frame != s.seekTable.size()) return std::to_string(frame) + " frames";
    for (size_t i = 0; i < s.end - s.seekTable[0]; ++i)
        reversed.push_back(file[s.seekTable[0] + (i & ~size_t(3)) + 3 - (i & 3)]);
    return reversed == payload ? "" : "the payload";
}

// What the reader prints when it opens a file: the seek table, then the header summary.
inline std::string apeOpenLines(const std::vector<uint32_t>& table, uint32_t rate, uint32_t channelMap) {
    std::string lines;
    for (size_t i = 0; i < table.size(); ++i) {
        lines += std::to_string(i) + ":\t" + std::to_string(table[i]) + "\t\n";
        if (i % 8 == 7) lines += "\n";
    }
    return lines + "\n[AST][INF]parseApeHeader:\n[AST][INF]sampleFrequency=" + std::to_string(rate) +
           "\n[AST][INF]channelMap=" + std::to_string(channelMap) + "(1-Mono/2-Stereo)\n";
}

}  // namespace testsupport
