// Finding the next frame of a sync-word stream behind bytes that are not one (junk left by a
// cutting or tagging tool, a damaged frame). A candidate header counts only when a second header
// with the same key stands exactly one frame length behind it, or when its frame ends the file:
// a sync word alone is too common in other data to trust.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ASTDataAccess;

// One format's header test, silent: the frame length in bytes of the header at `p` (`n` bytes
// readable there, at least the format's header length), and in `key` what the header behind it
// has to repeat (version, layer, rate ...); 0 when there is no usable header at `p`.
using FrameProbe = int32_t (*)(const uint8_t* p, size_t n, uint32_t* key);

struct FrameSync {
    const char* name;      // in the skip line
    int32_t headerLength;  // bytes the probes read
    FrameProbe probe;
    FrameProbe behind = nullptr;  // for the header behind the candidate, when it may be less
};

class FrameSearch {
public:
    // The position of the first confirmed frame at or behind `from`, or -1 when the rest of the
    // file holds none. The file position is left anywhere.
    int64_t find(ASTDataAccess& access, int64_t from, const FrameSync& sync);

    // For a header expected at `expected` that did not parse: searches from the byte behind it,
    // prints how many bytes were skipped and seeks to the frame found. Its position, or -1 with
    // nothing printed.
    int64_t resynchronise(ASTDataAccess& access, int64_t expected, const FrameSync& sync);

private:
    bool fill(ASTDataAccess& access, int64_t at);

    // Bytes of the file from mBase on, kept between searches: a stream damaged every few bytes
    // must not read the same window again for each of its frames.
    std::vector<uint8_t> mWindow;
    int64_t mBase = -1;
    int64_t mLength = 0;
    bool mAtEnd = false;  // the window reaches the end of the file
};
