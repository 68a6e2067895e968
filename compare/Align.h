// Where the decoded output lies against the reference: a lag (codec delay, a frame dropped or
// added at the start), the stretches missing or added in the middle, and channel notes.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "Signal.h"

namespace compare {

// Reference frames [begin, end) are compared with decoded frames [begin + lag, end + lag).
struct Segment {
    size_t begin, end;
    long lag;
};

// A change of lag between two segments, at reference frame `at`: `frames` > 0 decoded frames
// added there, < 0 reference frames missing there.
struct Shift {
    size_t at;
    long frames;
};

struct Alignment {
    std::vector<Segment> segments;  // in order; empty when nothing overlaps
    std::vector<Shift> shifts;
    long missingStart = 0, extraStart = 0, missingEnd = 0, extraEnd = 0;
    std::vector<std::string> notes;  // about single channels: lags of their own, permutations
    long searched = 0;               // the lag search's reach either way, in frames
    bool atLimit = false;            // the best lag lies at the edge of that reach
    // How much better the lag taken fits than the next best shift, in dB of relative error
    // (infinite when nothing else fits at all); with a periodic signal several fit about as well.
    double confidenceDb = HUGE_VAL;
    int equivalent = 0;  // other shifts that fit within 3 dB of the best, when ambiguous
};

Alignment align(const Signal& ref, const Signal& dec);

}  // namespace compare
