#include "Align.h"

#include <algorithm>
#include <cmath>

#include "Correlation.h"

namespace compare {
namespace {

// Frames per block when looking for a change of lag.
constexpr size_t kScanBlock = 4096;
constexpr size_t kMaxShifts = 16;

// Louder than -60 dB FS on some channel.
bool audible(const Signal& s, size_t frame) {
    const int32_t threshold = int32_t(std::ldexp(1.0, s.bits - 11));
    for (int c = 0; c < s.channels; ++c)
        if (std::abs(s.at(frame, c)) > threshold) return true;
    return false;
}

// Error and reference energy of reference frames [begin, end) at `lag`, over all channels.
void blockFit(const Signal& ref, const Signal& dec, size_t begin, size_t end, long lag, double& error, double& energy) {
    error = energy = 0;
    const double lsb = ref.lsb();
    for (int c = 0; c < ref.channels; ++c) {
        error += squaredError(ref, c, dec, c, begin, end, lag);
        for (size_t i = begin; i < end; ++i) energy += (ref.at(i, c) * lsb) * (ref.at(i, c) * lsb);
    }
}

// A block is far off when its error is a tenth of its energy or more, and not mere noise in silence.
bool farOff(double error, double energy, size_t frames) {
    const double limitedRms = std::ldexp(1.0, -11) / std::sqrt(12.0);
    return error >= 0.1 * energy && error > limitedRms * limitedRms * double(frames);
}

// The lag (other than `lag`) under which the reference from `from` matches closely, or `lag`.
long matchingLag(const Signal& ref, const Signal& dec, size_t from, long lag, long radius) {
    const size_t end = std::min(ref.frames(), from + 2 * kScanBlock);
    if (end <= from) return lag;
    const LagErrors e = lagErrors(ref, dec, from, end, lag, radius);
    const long best = e.best(e.total(), lag);
    double error, energy;
    blockFit(ref, dec, from, end, best, error, energy);
    return best != lag && energy > 0 && error < 0.01 * energy ? best : lag;
}

// Where the lag changes from `oldLag` to `newLag` within reference frames [from, to): the split
// with the least error, the missing frames (if any) left out of both sides.
size_t splitPoint(const Signal& ref, const Signal& dec, size_t from, size_t to, long oldLag, long newLag) {
    const size_t gap = newLag < oldLag ? size_t(oldLag - newLag) : 0;
    std::vector<double> before(to - from + 1, 0.0), after(to - from + 1, 0.0);
    for (size_t i = from; i < to; ++i) {
        before[i - from + 1] = before[i - from];
        after[i - from + 1] = after[i - from];
        for (int c = 0; c < ref.channels; ++c) {
            before[i - from + 1] += squaredError(ref, c, dec, c, i, i + 1, oldLag);
            after[i - from + 1] += squaredError(ref, c, dec, c, i, i + 1, newLag);
        }
    }
    size_t best = from;
    double bestCost = HUGE_VAL;
    for (size_t p = from; p + gap <= to; ++p) {
        const double cost = before[p - from] + after[to - from] - after[p + gap - from];
        if (cost < bestCost) bestCost = cost, best = p;
    }
    return best;
}

// Channel notes: a decoded channel that holds another reference channel, or matches its own
// at a different lag.
void channelNotes(const Signal& ref, const Signal& dec, const LagErrors& errors, long startLag, const Segment& main,
                  Alignment& a) {
    const int n = ref.channels;
    const size_t begin = main.begin, end = main.end;
    for (int d = 0; d < n && n > 1; ++d) {
        long lag = main.lag;
        const double own = squaredError(ref, d, dec, d, begin, end, lag);
        int holds = d;
        double best = own;
        for (int r = 0; r < n && n > 1; ++r) {
            if (r == d) continue;
            const double e = squaredError(ref, r, dec, d, begin, end, lag);
            if (e < 0.25 * best) best = e, holds = r;
        }
        if (holds != d) {
            a.notes.push_back("decoded channel " + std::to_string(d + 1) + " holds reference channel " +
                              std::to_string(holds + 1));
            continue;
        }
        lag = startLag;
        const Fit& fit = errors.channel[size_t(d)];
        const long ownLag = errors.best(fit, lag);
        const double atOwn = errors.relative(fit, ownLag), atCommon = errors.relative(fit, lag);
        if (ownLag != lag && atOwn < 0.25 * atCommon) {
            const long by = ownLag - lag;
            a.notes.push_back("decoded channel " + std::to_string(d + 1) + " is " + std::to_string(std::labs(by)) +
                              (std::labs(by) == 1 ? " sample " : " samples ") + (by > 0 ? "late" : "early") +
                              " against the others");
        }
    }
}

// Mean squared error per frame over everything both sides have at `lag`, and how many frames that is.
double meanError(const Signal& ref, const Signal& dec, long lag, size_t& frames) {
    const size_t begin = size_t(std::max(0L, -lag));
    const size_t end = size_t(std::max(long(begin), std::min(long(ref.frames()), long(dec.frames()) - lag)));
    frames = end - begin;
    if (end == begin) return HUGE_VAL;
    double e = 0;
    for (int c = 0; c < ref.channels; ++c) e += squaredError(ref, c, dec, c, begin, end, lag);
    return e / double(end - begin);
}

// The margin of `lag` over the next best shift (a local minimum of the error elsewhere). Shifts
// within 3 dB of it are equivalent, as a periodic signal's are a period apart: of those the one of
// least error over the whole file is taken.
long weighAlternatives(const Signal& ref, const Signal& dec, const LagErrors& errors, long lag, Alignment& a) {
    const Fit total = errors.total();
    const long last = errors.firstLag + long(total.error.size()) - 1;
    const double floor = 1e-12, best = std::max(floor, errors.relative(total, lag));
    std::vector<std::pair<double, long>> minima;
    for (long l = errors.firstLag + 1; l < last; ++l) {
        const double v = errors.relative(total, l);
        if (std::labs(l - lag) > 1 && v <= errors.relative(total, l - 1) && v < errors.relative(total, l + 1))
            minima.push_back({std::max(floor, v), l});
    }
    std::sort(minima.begin(), minima.end());
    if (minima.empty()) return lag;
    a.confidenceDb = 10 * std::log10(minima.front().first / best);
    // The equivalent ones nearest to the lag first: a decoder's delay is seldom many periods off.
    minima.erase(std::find_if(minima.begin(), minima.end(), [&](const auto& m) { return m.first > 2 * best; }),
                 minima.end());
    std::sort(minima.begin(), minima.end(),
              [&](const auto& x, const auto& y) { return std::labs(x.second - lag) < std::labs(y.second - lag); });
    a.equivalent = int(minima.size());
    long chosen = lag;
    size_t overlap = 0, frames = 0;
    double least = meanError(ref, dec, lag, overlap);
    for (size_t i = 0; i < minima.size() && i < 16; ++i) {
        // Not one that holds much less of the file, whose few frames could fit by chance.
        const double e = meanError(ref, dec, minima[i].second, frames);
        if (e < least && frames >= overlap / 10 * 9) least = e, chosen = minima[i].second;
    }
    return chosen;
}

}  // namespace

Alignment align(const Signal& ref, const Signal& dec) {
    Alignment a;
    const size_t refFrames = ref.frames(), decFrames = dec.frames();
    a.searched = std::max(1024L, long(ref.rate) / 2);
    // The lag is taken in the first quarter second of sound, as codec delay is; the scan below
    // follows it. Over a longer stretch a frame lost in the output could pull the match of a
    // periodic signal a few periods away.
    size_t sound = 0;
    while (sound < refFrames && !audible(ref, sound)) ++sound;
    if (sound == refFrames) sound = 0;
    const size_t window = std::min(refFrames, sound + size_t(std::max(4096, ref.rate / 4)));
    const LagErrors errors = lagErrors(ref, dec, sound, window, 0, a.searched);
    // Candidates: the best lag of all channels together, of their sum (which a permutation of
    // channels leaves alone) and of each channel. Each decoded channel is held against every
    // reference channel in the window; the lag at which most channels match as well as they do
    // anywhere wins, then the one of least error (with one channel shifted, a lag between could
    // fit all a little).
    std::vector<long> candidates = {errors.best(errors.total(), 0), errors.best(errors.mix, 0)};
    for (const Fit& fit : errors.channel) candidates.push_back(errors.best(fit, 0));
    const size_t n = size_t(ref.channels);
    std::vector<double> energy(n, 0.0);
    // Against a lag past the decoded output's end: the reference's own energy.
    for (size_t r = 0; r < n; ++r)
        energy[r] = squaredError(ref, int(r), dec, int(r), sound, window, long(dec.frames()));
    std::vector<std::vector<double>> fits;  // [candidate][decoded channel]: least relative error
    std::vector<double> best(n, HUGE_VAL);
    for (long l : candidates) {
        fits.emplace_back(n, HUGE_VAL);
        for (size_t d = 0; d < n; ++d) {
            for (size_t r = 0; r < n; ++r) {
                const double e = squaredError(ref, int(r), dec, int(d), sound, window, l);
                fits.back()[d] = std::min(fits.back()[d], energy[r] > 0 ? e / energy[r] : e > 0 ? 1.0 : 0.0);
            }
            best[d] = std::min(best[d], fits.back()[d]);
        }
    }
    size_t chosen = 0;
    std::vector<std::pair<int, double>> scores;
    for (const auto& f : fits) {
        int matching = 0;
        double sum = 0;
        for (size_t d = 0; d < n; ++d) matching += f[d] <= 1.5 * best[d] + 1e-9, sum += f[d];
        scores.push_back({matching, sum});
        const auto& top = scores[chosen];
        if (matching > top.first || (matching == top.first && sum < top.second)) chosen = scores.size() - 1;
    }
    long lag = weighAlternatives(ref, dec, errors, candidates[chosen], a);
    const long startLag = lag;
    a.atLimit = std::labs(lag) == a.searched;

    // Follow the lag through the file: a far-off block where a nearby lag matches again is a
    // stretch missing or added there. Up to the first block with sound that matches, a lag that
    // matches better is where the output starts.
    size_t begin = size_t(std::max(0L, -lag)), backoff = 1, skip = 0;
    bool anchored = false;
    for (size_t at = begin; at < refFrames && a.shifts.size() < kMaxShifts;) {
        const size_t end = std::min(refFrames, at + kScanBlock);
        if (long(end) + lag > long(decFrames)) break;
        double error, blockEnergy;
        blockFit(ref, dec, at, end, lag, error, blockEnergy);
        const bool bad = farOff(error, blockEnergy, end - at);
        if (!bad) backoff = 1;
        anchored = anchored || (!bad && blockEnergy > 0);
        if (!bad || skip > 0) {
            skip -= bad ? 1 : 0;
            at = end;
            continue;
        }
        const long next = matchingLag(ref, dec, anchored ? end : at, lag, a.searched);
        if (!anchored && next != lag) {
            anchored = true;
            lag = next;
            at = begin = size_t(std::max(0L, -lag));
            continue;
        }
        if (next == lag) {
            // A bad stretch, not a shift: look again after ever longer pauses.
            skip = backoff;
            backoff *= 2;
            at = end;
            continue;
        }
        const size_t from = at > begin + kScanBlock ? at - kScanBlock : begin;
        const size_t split = splitPoint(ref, dec, from, std::min(refFrames, end + kScanBlock), lag, next);
        a.segments.push_back({begin, split, lag});
        a.shifts.push_back({split, next - lag});
        begin = split + size_t(next < lag ? lag - next : 0);
        lag = next;
        backoff = 1;
        at = begin;
    }
    const size_t last = size_t(std::max(long(begin), std::min(long(refFrames), long(decFrames) - lag)));
    a.segments.push_back({begin, last, lag});
    a.segments.erase(
        std::remove_if(a.segments.begin(), a.segments.end(), [](const Segment& s) { return s.end <= s.begin; }),
        a.segments.end());

    const Segment& first = a.segments.empty() ? Segment{0, 0, 0} : a.segments.front();
    a.missingStart = long(first.begin);
    a.extraStart = a.segments.empty() ? 0 : long(first.begin) + first.lag;
    a.missingEnd = long(refFrames - last);
    a.extraEnd = a.segments.empty() ? long(decFrames) - a.extraStart : long(decFrames) - (long(last) + lag);
    if (a.segments.empty()) {
        a.missingStart = long(refFrames), a.missingEnd = 0;
        a.extraStart = long(decFrames), a.extraEnd = 0;
        return a;
    }
    const Segment& main =
        *std::max_element(a.segments.begin(), a.segments.end(),
                          [](const Segment& x, const Segment& y) { return x.end - x.begin < y.end - y.begin; });
    channelNotes(ref, dec, errors, startLag, main, a);
    return a;
}

}  // namespace compare
