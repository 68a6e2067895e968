// Byte builders for hand-made file images of the input formats.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

// `width` bytes of `value`, most significant first (be) or last (le).
inline std::vector<uint8_t> be(uint64_t value, int width) {
    std::vector<uint8_t> b;
    for (int i = width - 1; i >= 0; --i) b.push_back(i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0);
    return b;
}
inline std::vector<uint8_t> le(uint64_t value, int width) {
    std::vector<uint8_t> b = be(value, width);
    std::reverse(b.begin(), b.end());
    return b;
}
inline std::vector<uint8_t> str(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }
inline std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t>& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
// n bytes that differ with the seed.
inline std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

}  // namespace testsupport
