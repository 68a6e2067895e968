#include "Metrics.h"

#include <algorithm>
#include <cmath>

namespace compare {
namespace {

constexpr size_t kSpots = 5;

bool lower(const Level& a, const Level& b) { return a.accuracy != b.accuracy ? a.accuracy < b.accuracy : a.k < b.k; }

}  // namespace

Level levelOf(double rmsFs, double maxFs, bool exact) {
    if (exact) return {};
    const double root12 = std::sqrt(12.0);
    Level l{Accuracy::None, 0};
    for (int k = 1; k < kAllBits && rmsFs * root12 < std::ldexp(1.0, 1 - k); ++k) l.k = k;
    if (rmsFs < std::ldexp(1.0, -15) / root12 && maxFs <= std::ldexp(1.0, -14))
        l.accuracy = Accuracy::Full;
    else if (rmsFs < std::ldexp(1.0, -11) / root12)
        l.accuracy = Accuracy::Limited;
    else if (l.k >= 1)
        l.accuracy = Accuracy::Bits;
    return l;
}

bool holds(const Requirement& required, const Level& reached) {
    switch (required.accuracy) {
    case Accuracy::Exact: return reached.accuracy == Accuracy::Exact;
    case Accuracy::Full: return reached.accuracy >= Accuracy::Full;
    case Accuracy::Limited: return reached.accuracy >= Accuracy::Limited;
    default: return reached.k >= required.k;
    }
}

std::string nameOf(const Level& level) {
    switch (level.accuracy) {
    case Accuracy::Exact: return "exact";
    case Accuracy::Full: return "full";
    case Accuracy::Limited: return "limited";
    case Accuracy::Bits: return "K=" + std::to_string(level.k);
    default: return "none";
    }
}

double marginDb(const Measures& m, const Requirement& required) {
    const double root12 = std::sqrt(12.0);
    const double rmsBound = required.accuracy == Accuracy::Full      ? std::ldexp(1.0, -15) / root12
                            : required.accuracy == Accuracy::Limited ? std::ldexp(1.0, -11) / root12
                            : required.accuracy == Accuracy::Bits    ? std::ldexp(1.0, 1 - required.k) / root12
                                                                     : 0;
    if (rmsBound == 0 || m.channels.empty()) return std::nan("");
    double margin = HUGE_VAL;
    for (const ChannelResult& c : m.channels) {
        if (c.compared == 0) return -HUGE_VAL;
        if (c.rmsFs > 0) margin = std::min(margin, 20 * std::log10(rmsBound / c.rmsFs));
        if (required.accuracy == Accuracy::Full && c.maxFs > 0)
            margin = std::min(margin, 20 * std::log10(std::ldexp(1.0, -14) / c.maxFs));
    }
    return margin;
}

Measures measure(const Signal& ref, const Signal& dec, const Alignment& alignment) {
    const int channels = ref.channels;
    Measures m;
    m.channels.resize(size_t(channels));
    std::vector<double> sums(size_t(channels), 0.0), means(size_t(channels), 0.0);
    // The largest difference of each 10 ms, from which the spots are taken.
    const size_t span = std::max(1, ref.rate / 100);
    std::vector<Spot> spans(ref.frames() / span + 1, Spot{0, 0, 0});
    for (const Segment& s : alignment.segments) {
        for (size_t i = s.begin; i < s.end; ++i) {
            const size_t x = size_t(long(i) + s.lag);
            Spot& top = spans[i / span];
            for (int c = 0; c < channels; ++c) {
                const int64_t d = int64_t(dec.at(x, c)) - ref.at(i, c);
                const int64_t a = d < 0 ? -d : d;
                ChannelResult& r = m.channels[size_t(c)];
                sums[size_t(c)] += double(d) * double(d);
                means[size_t(c)] += double(d);
                r.differing += d != 0;
                ++r.histogram[size_t(std::max<int64_t>(-kHistogramReach, std::min<int64_t>(kHistogramReach, d)) +
                                     kHistogramReach)];
                if (a > r.maxLsb) r.maxLsb = a, r.worstAt = i;
                if (a > top.lsb) top = {i, c, a};
            }
        }
        for (ChannelResult& r : m.channels) r.compared += s.end - s.begin;
    }
    const double lsb = ref.lsb();
    m.overall = {};
    for (int c = 0; c < channels; ++c) {
        ChannelResult& r = m.channels[size_t(c)];
        if (r.compared == 0) {
            r.level = {Accuracy::None, 0};
        } else {
            r.rmsLsb = std::sqrt(sums[size_t(c)] / double(r.compared));
            r.meanLsb = means[size_t(c)] / double(r.compared);
            r.rmsFs = r.rmsLsb * lsb;
            r.maxFs = double(r.maxLsb) * lsb;
            r.level = levelOf(r.rmsFs, r.maxFs, r.maxLsb == 0);
            // No more bits than the output has: below one LSB the bound is met by rounding alone.
            if (r.level.k != kAllBits) r.level.k = std::min(r.level.k, dec.bits);
        }
        const ChannelResult& w = m.channels[size_t(m.worstChannel)];
        if (lower(r.level, w.level) || (!lower(w.level, r.level) && r.rmsFs > w.rmsFs)) m.worstChannel = c;
        m.overall = {std::min(m.overall.accuracy, r.level.accuracy), std::min(m.overall.k, r.level.k)};
    }
    std::stable_sort(spans.begin(), spans.end(), [](const Spot& a, const Spot& b) { return a.lsb > b.lsb; });
    for (const Spot& s : spans) {
        if (s.lsb == 0 || m.worst.size() == kSpots) break;
        bool near = false;
        for (const Spot& t : m.worst) near = near || (s.at > t.at ? s.at - t.at : t.at - s.at) < span;
        if (!near) m.worst.push_back(s);
    }
    return m;
}

}  // namespace compare
