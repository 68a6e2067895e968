// Least-squares alignment errors over a range of lags, by FFT cross-correlation.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "Signal.h"

namespace compare {

// For the reference over [begin, end) against the decoded output shifted by each lag in
// [center - radius, center + radius] (reference frame i against decoded frame i + lag): over the
// frames both have, the sum of squared differences and the energy of both sides, in full-scale
// units, per channel and for the sum of the channels (which a permutation of channels leaves alone).
struct Fit {
    std::vector<double> error, power;  // [lag - firstLag]
};

struct LagErrors {
    long firstLag = 0;
    std::vector<Fit> channel;
    Fit mix;
    std::vector<long> overlap;  // frames both have

    Fit total() const;  // over the channels
    // The error relative to the power at a lag: 0 for a perfect match, about 1 for none.
    double relative(const Fit& fit, long lag) const;
    // The lag of the smallest relative error; of equal ones the largest overlap, then the nearest
    // to `center` (a periodic signal matches itself a period away).
    long best(const Fit& fit, long center) const;
};

LagErrors lagErrors(const Signal& ref, const Signal& dec, size_t begin, size_t end, long center, long radius);

// Squared differences of reference channel `rc` and decoded channel `dc` over [begin, end) at `lag`.
double squaredError(const Signal& ref, int rc, const Signal& dec, int dc, size_t begin, size_t end, long lag);

// Power spectrum of `x` (full-scale units) averaged over Hann-windowed blocks of `size` (a power of
// two) overlapping by half: size / 2 + 1 bins of mean square, so that the bins add up to the
// signal's mean square.
std::vector<double> powerSpectrum(const std::function<double(size_t)>& x, size_t length, int size);

}  // namespace compare
