// Checks that the units a run handed to the decoder are a file's frames, against ffprobe's
// account of where the packets are.
#pragma once

#include <string>
#include <vector>

#include "Reference.h"

namespace blackbox {

// Empty when units are exactly bytes [start, end) of file, cut so that the last units are
// ffprobe's packets one for one and `leading` units come before them (a Xing frame, which
// the demuxer keeps to itself). Otherwise what is wrong.
inline std::string unitsAreFrames(const std::vector<std::vector<uint8_t>>& units, const std::vector<uint8_t>& file,
                                  size_t start, size_t end, const std::vector<testsupport::Packet>& packets,
                                  size_t leading) {
    std::vector<size_t> offsets;
    size_t at = start;
    for (size_t i = 0; i < units.size(); ++i) {
        const std::vector<uint8_t>& u = units[i];
        if (at + u.size() > end || !std::equal(u.begin(), u.end(), file.begin() + static_cast<long>(at)))
            return "unit " + std::to_string(i) + " (" + std::to_string(u.size()) + " bytes) is not the file's bytes at " +
                   std::to_string(at);
        offsets.push_back(at);
        at += u.size();
    }
    if (at != end) return "units end at " + std::to_string(at) + ", the frames at " + std::to_string(end);
    if (packets.empty()) return "ffprobe found no packets";
    if (units.size() != packets.size() + leading)
        return std::to_string(units.size()) + " units for " + std::to_string(packets.size()) + " packets";
    for (size_t k = 0; k < packets.size(); ++k) {
        size_t i = k + leading;
        if (static_cast<long>(offsets[i]) != packets[k].position || static_cast<long>(units[i].size()) != packets[k].size)
            return "unit " + std::to_string(i) + " at " + std::to_string(offsets[i]) + " (" +
                   std::to_string(units[i].size()) + " bytes), packet at " + std::to_string(packets[k].position) +
                   " (" + std::to_string(packets[k].size) + " bytes)";
    }
    return "";
}

}  // namespace blackbox
