// MP4 atom and sample entry types: four characters compared as a big-endian number.
#pragma once

#include <cstdint>
#include <string>

#include "ASTLog.h"

constexpr uint32_t fourCc(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(s[3]));
}

// The four characters of a type as log text; bytes that are no text are escaped.
inline std::string fourCcText(uint32_t type) {
    const char c[4] = {static_cast<char>(type >> 24), static_cast<char>(type >> 16), static_cast<char>(type >> 8),
                       static_cast<char>(type)};
    return escapeText(c, 4, true);
}
