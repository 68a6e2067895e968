// Least-squares alignment errors over a range of lags, by FFT cross-correlation.
#pragma once

#include <cstddef>
#include <vector>

#include "Signal.h"

namespace compare {

// For the reference over [begin, end) against the decoded output shifted by each lag in
// [center - radius, center + radius] (reference frame i against decoded frame i + lag, silence
// outside the decoded file): the sum of squared differences in full-scale units, per channel and
// for the sum of the channels (a permutation of channels leaves that one alone).
struct LagErrors {
    long firstLag = 0;
    std::vector<std::vector<double>> channel;  // [channel][lag - firstLag]
    std::vector<double> mix;
    std::vector<double> refEnergy;  // per channel
    double mixEnergy = 0;

    std::vector<double> total() const;  // over the channels
    // The lag of the smallest value; of equal ones, the nearest to `center`.
    long best(const std::vector<double>& errors, long center) const;
};

LagErrors lagErrors(const Signal& ref, const Signal& dec, size_t begin, size_t end, long center, long radius);

// Squared differences of reference channel `rc` and decoded channel `dc` over [begin, end) at `lag`.
double squaredError(const Signal& ref, int rc, const Signal& dec, int dc, size_t begin, size_t end, long lag);

// Power spectrum of `x` (full-scale units) averaged over Hann-windowed blocks of `size` (a power of
// two) overlapping by half: size / 2 + 1 bins of mean square, so that the bins add up to the
// signal's mean square.
std::vector<double> powerSpectrum(const std::vector<double>& x, int size);

}  // namespace compare
