#include "Align.h"

#include <algorithm>
#include <cmath>

#include "Correlation.h"

namespace compare {
namespace {

// Frames per block when looking for a change of lag.
constexpr size_t kScanBlock = 4096;
constexpr size_t kMaxShifts = 16;

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
void channelNotes(const Signal& ref, const Signal& dec, const LagErrors& errors, long lag, size_t begin, size_t end,
                  Alignment& a) {
    const int n = ref.channels;
    for (int d = 0; d < n; ++d) {
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
        if (lag < errors.firstLag || lag >= errors.firstLag + long(errors.mix.size())) continue;
        const long ownLag = errors.best(errors.channel[size_t(d)], lag);
        const double atOwn = errors.channel[size_t(d)][size_t(ownLag - errors.firstLag)];
        const double atCommon = errors.channel[size_t(d)][size_t(lag - errors.firstLag)];
        if (ownLag != lag && atOwn < 0.25 * atCommon) {
            const long by = ownLag - lag;
            a.notes.push_back("decoded channel " + std::to_string(d + 1) + " is " + std::to_string(std::labs(by)) +
                              (std::labs(by) == 1 ? " sample " : " samples ") + (by > 0 ? "late" : "early") +
                              " against the others");
        }
    }
}

}  // namespace

Alignment align(const Signal& ref, const Signal& dec) {
    Alignment a;
    const size_t refFrames = ref.frames(), decFrames = dec.frames();
    a.searched = std::max(1024L, long(ref.rate) / 2);
    const LagErrors errors = lagErrors(ref, dec, 0, refFrames, 0, a.searched);
    // The channels' sum finds the lag even when channels are swapped; each channel on its own
    // does better when channels cancel in the sum. The one fitting closer in full wins.
    long lag = errors.best(errors.total(), 0);
    const long mixLag = errors.best(errors.mix, 0);
    if (mixLag != lag) {
        auto assigned = [&](long l) {
            double sum = 0;
            for (int d = 0; d < ref.channels; ++d) {
                double best = HUGE_VAL;
                for (int r = 0; r < ref.channels; ++r)
                    best = std::min(best, squaredError(ref, r, dec, d, 0, refFrames, l));
                sum += best;
            }
            return sum;
        };
        if (assigned(mixLag) < assigned(lag)) lag = mixLag;
    }
    a.atLimit = std::labs(lag) == a.searched;

    // Follow the lag through the file: a far-off block where a nearby lag matches again is a
    // stretch missing or added there.
    size_t begin = size_t(std::max(0L, -lag)), backoff = 1, skip = 0;
    for (size_t at = begin; at < refFrames && a.shifts.size() < kMaxShifts;) {
        const size_t end = std::min(refFrames, at + kScanBlock);
        if (long(end) + lag > long(decFrames)) break;
        double error, energy;
        blockFit(ref, dec, at, end, lag, error, energy);
        const bool bad = farOff(error, energy, end - at);
        if (!bad) backoff = 1;
        if (!bad || skip > 0) {
            skip -= bad ? 1 : 0;
            at = end;
            continue;
        }
        const long next = matchingLag(ref, dec, end, lag, a.searched);
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
    a.segments.erase(std::remove_if(a.segments.begin(), a.segments.end(), [](const Segment& s) { return s.end <= s.begin; }),
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
    const Segment& main = *std::max_element(a.segments.begin(), a.segments.end(), [](const Segment& x, const Segment& y) {
        return x.end - x.begin < y.end - y.begin;
    });
    channelNotes(ref, dec, errors, main.lag, main.begin, main.end, a);
    return a;
}

}  // namespace compare
