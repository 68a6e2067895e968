// FLAC files as the tests need them: metadata blocks spliced in, and what reading a file through
// a window that starts at each frame must print, worked out from where its frames really are.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "Reference.h"

namespace testsupport {

// A fixture's shell command with $S<seconds> for ffmpeg making a 440 Hz sine of that length
// (output options follow), $W for a WAV file next to the output, $O for the output.
inline std::string flacFixtureCommand(std::string command, const std::string& out) {
    const std::string sine = "ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:duration=";
    for (size_t at; (at = command.find("$O")) != std::string::npos;) command.replace(at, 2, "'" + out + "'");
    for (size_t at; (at = command.find("$W")) != std::string::npos;) command.replace(at, 2, "'" + out + ".wav'");
    for (size_t at; (at = command.find("$S")) != std::string::npos;) command.replace(at, 2, sine);
    return command;
}

// The file with one more metadata block right behind STREAMINFO, which encoders write first.
inline std::vector<uint8_t> withMetadataBlock(const std::vector<uint8_t>& flac, uint8_t type,
                                              const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(flac.begin(), flac.begin() + 42);
    const bool streamInfoWasLast = (out[4] & 0x80) != 0;
    out[4] &= 0x7F;
    const uint32_t n = static_cast<uint32_t>(data.size());
    out.push_back(static_cast<uint8_t>((streamInfoWasLast ? 0x80 : 0) | type));
    out.push_back(static_cast<uint8_t>(n >> 16));
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), flac.begin() + 42, flac.end());
    return out;
}

inline uint32_t streamInfoMaxFrameSize(const std::vector<uint8_t>& flac) {
    return uint32_t(flac[15]) << 16 | uint32_t(flac[16]) << 8 | flac[17];
}

// Byte pairs in [from, to) that start like a frame header (14-bit sync code).
inline size_t syncLookalikes(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    size_t n = 0;
    for (size_t i = from; i + 1 < bytes.size() && i < to; ++i)
        if (bytes[i] == 0xFF && (bytes[i + 1] & 0xFC) == 0xF8) ++n;
    return n;
}

// The lines a header parse prints for a sync look-alike: one each, whatever failed.
inline bool isLookalikeLine(const std::string& line) {
    return line.rfind("[AST][ERR]FLAC file CRC-8 check error(", 0) == 0 ||
           line.rfind("[AST][ERR]FLAC file UTF-8 string error(", 0) == 0;
}

// Splits text into look-alike lines (counted) and the rest (returned).
inline std::string withoutLookalikeLines(const std::string& text, size_t& lookalikeLines) {
    std::string rest;
    lookalikeLines = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(at, end - at);
        if (isLookalikeLine(line))
            ++lookalikeLines;
        else
            rest += line;
        at = end;
    }
    return rest;
}

struct FlacReadPlan {
    std::string lines;       // the end-of-data and find-header lines, in order
    size_t frames = 0;       // frames handed out
    size_t lookalikes = 0;   // sync look-alikes the searches pass over
};

// What reading must do when each frame is delimited by the next frame's header within a window
// of `window` bytes that starts at the frame. Frame starts come from ffmpeg's demuxer.
inline FlacReadPlan planFlacReads(const std::vector<uint8_t>& bytes, const std::vector<Packet>& frames,
                                  long window) {
    FlacReadPlan plan;
    if (frames.empty()) return plan;
    const long end = static_cast<long>(bytes.size());
    long start = frames[0].position, readEnd = start;
    for (size_t k = 0;; ++k) {
        const long wanted = window - (readEnd - start);
        const long got = std::min(wanted, end - readEnd);
        if (got < wanted) {
            plan.lines += "[AST][INF]Reached end of data:" + std::to_string(got) + ".\n";
            window = readEnd - start + got;
        }
        readEnd += got;
        const long searchEnd = start + window - 16;  // no header is tested closer to the end
        const bool found = k + 1 < frames.size() && frames[k + 1].position < searchEnd;
        const long stop = found ? frames[k + 1].position : std::max(searchEnd, start + 1);
        plan.lookalikes += syncLookalikes(bytes, static_cast<size_t>(start + 1), static_cast<size_t>(stop));
        if (!found) {
            plan.lines += "[AST][ERR]Failed to find header, maybe file reading buffer is NOT enough.\n";
            return plan;
        }
        ++plan.frames;
        start = frames[k + 1].position;
    }
}

}  // namespace testsupport
