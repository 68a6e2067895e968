// Sample-by-sample differences over the aligned segments and the accuracy class they reach.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Align.h"
#include "Options.h"
#include "Signal.h"

namespace compare {

constexpr int kAllBits = 99;  // K of an exact match: every bound holds

struct Level {
    Accuracy accuracy = Accuracy::Exact;
    int k = kAllBits;  // the largest K whose bound 2^(1-K)/sqrt(12) the RMS stays below
};

// exact when nothing differs; full: RMS below 2^-15/sqrt(12) and no difference above 2^-14;
// limited: RMS below 2^-11/sqrt(12); otherwise named by K (none below K = 1).
Level levelOf(double rmsFs, double maxFs, bool exact);
bool holds(const Requirement& required, const Level& reached);
std::string nameOf(const Level& level);

constexpr int kHistogramReach = 16;  // differences of more LSBs fall in the outermost bins

struct ChannelResult {
    size_t compared = 0, differing = 0;
    double meanLsb = 0;  // the differences' mean: about -0.5 for a decoder that truncates
    std::vector<size_t> histogram = std::vector<size_t>(2 * kHistogramReach + 1, 0);  // [lsb + reach]
    double rmsFs = 0, rmsLsb = 0, maxFs = 0;
    int64_t maxLsb = 0;
    size_t worstAt = 0;  // reference frame of the largest difference
    Level level;
};

struct Spot {  // one of the largest differences
    size_t at;
    int channel;
    int64_t lsb;
};

struct Measures {
    std::vector<ChannelResult> channels;
    Level overall;
    int worstChannel = 0;     // of the lowest class, then the largest RMS
    std::vector<Spot> worst;  // the largest differences, at least 10 ms apart, largest first
};

// How far the worst channel stays inside the required class's bounds, in dB (negative: outside);
// NaN for an exact requirement, which has no bound to measure against, and +inf with no error.
double marginDb(const Measures& m, const Requirement& required);

Measures measure(const Signal& ref, const Signal& dec, const Alignment& alignment);

}  // namespace compare
