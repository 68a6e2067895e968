#include "Correlation.h"

#include <algorithm>
#include <cmath>
#include <memory>

extern "C" {
#include <libavutil/tx.h>
}

namespace compare {
namespace {

using Complex = AVComplexDouble;

class Fft {
public:
    Fft(int size, bool inverse) : mSize(size) {
        const double scale = 1.0;
        if (av_tx_init(&mCtx, &mFn, AV_TX_DOUBLE_FFT, inverse, size, &scale, AV_TX_UNALIGNED) < 0) mCtx = nullptr;
    }
    ~Fft() { av_tx_uninit(&mCtx); }
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;
    bool ok() const { return mCtx != nullptr; }
    void run(std::vector<Complex>& in, std::vector<Complex>& out) { mFn(mCtx, out.data(), in.data(), sizeof(Complex)); }
    int size() const { return mSize; }

private:
    int mSize;
    AVTXContext* mCtx = nullptr;
    av_tx_fn mFn = nullptr;
};

int powerOfTwoAtLeast(size_t n) {
    int p = 1;
    while (size_t(p) < n) p <<= 1;
    return p;
}

// Running sums of squares of a channel (or the channels' sum when channel < 0) from frame `from`
// up to `stop`, kept at two windows of `width` positions, and read at any position (before `from`
// they are 0, from `stop` on the whole sum).
class Prefix {
public:
    Prefix(const Signal& s, int channel, long from, long stop, long firstA, long firstB, long width)
        : mFrom(from),
          mStop(std::min(stop, long(s.frames()))),
          mFirstA(clamp(firstA)),
          mFirstB(clamp(firstB)),
          mA(size_t(width)),
          mB(size_t(width)) {
        const double lsb = s.lsb();
        double sum = 0;
        for (long x = mFrom; x <= mStop; ++x) {
            if (x >= mFirstA && x < mFirstA + width) mA[size_t(x - mFirstA)] = sum;
            if (x >= mFirstB && x < mFirstB + width) mB[size_t(x - mFirstB)] = sum;
            if (x < 0 || x == mStop) continue;
            double v = 0;
            if (channel >= 0) {
                v = s.at(size_t(x), channel) * lsb;
            } else {
                for (int c = 0; c < s.channels; ++c) v += s.at(size_t(x), c) * lsb;
            }
            sum += v * v;
        }
        mTotal = sum;
    }

    double at(long position) const {
        const long x = clamp(position);
        if (x == mFrom) return 0;
        if (x == mStop) return mTotal;
        if (x >= mFirstA && x < mFirstA + long(mA.size())) return mA[size_t(x - mFirstA)];
        return mB[size_t(x - mFirstB)];
    }

private:
    long clamp(long x) const { return std::max(mFrom, std::min(mStop, x)); }

    long mFrom, mStop, mFirstA, mFirstB;
    std::vector<double> mA, mB;
    double mTotal = 0;
};

}  // namespace

Fit LagErrors::total() const {
    Fit t{std::vector<double>(overlap.size(), 0.0), std::vector<double>(overlap.size(), 0.0)};
    for (const Fit& c : channel)
        for (size_t i = 0; i < overlap.size(); ++i) t.error[i] += c.error[i], t.power[i] += c.power[i];
    return t;
}

double LagErrors::relative(const Fit& fit, long lag) const {
    const size_t k = size_t(lag - firstLag);
    if (overlap[k] <= 0) return HUGE_VAL;
    return fit.power[k] > 0 ? fit.error[k] / fit.power[k] : 1.0;
}

long LagErrors::best(const Fit& fit, long center) const {
    long bestLag = center;
    double bestValue = HUGE_VAL;
    for (size_t i = 0; i < overlap.size(); ++i) {
        const long lag = firstLag + long(i);
        const double value = relative(fit, lag);
        const size_t b = size_t(bestLag - firstLag);
        const bool tie = std::fabs(value - bestValue) <= 1e-9;
        if ((!tie && value < bestValue) ||
            (tie && (overlap[i] > overlap[b] ||
                     (overlap[i] == overlap[b] && std::labs(lag - center) < std::labs(bestLag - center))))) {
            bestValue = std::min(value, bestValue);
            bestLag = lag;
        }
    }
    return bestLag;
}

LagErrors lagErrors(const Signal& ref, const Signal& dec, size_t begin, size_t end, long center, long radius) {
    const int channels = ref.channels;
    const long lags = 2 * radius + 1, lo = center - radius;
    LagErrors out;
    out.firstLag = lo;
    const Fit zero{std::vector<double>(size_t(lags), 0.0), std::vector<double>(size_t(lags), 0.0)};
    out.channel.assign(size_t(channels), zero);
    out.mix = zero;
    out.overlap.assign(size_t(lags), 0);

    const size_t range = end - begin;
    const int size = powerOfTwoAtLeast(std::min(range, size_t(std::max(2 * radius, 4096L))) + size_t(2 * radius));
    const size_t block = size_t(size) - size_t(2 * radius);
    Fft forward(size, false), inverse(size, true);
    if (!forward.ok() || !inverse.ok()) return out;
    const size_t points = size_t(size);
    std::vector<Complex> z(points), spectrum(points), sumR(points), sumY(points), pair(points), result(points);
    std::vector<std::vector<Complex>> products(size_t(channels) + 1, std::vector<Complex>(points));
    const double rl = ref.lsb(), dl = dec.lsb();
    const long decFrames = long(dec.frames());

    for (size_t a = begin; a < end; a += block) {
        const size_t n = std::min(block, end - a);
        std::fill(sumR.begin(), sumR.end(), Complex{0, 0});
        std::fill(sumY.begin(), sumY.end(), Complex{0, 0});
        for (int c = 0; c < channels; ++c) {
            for (size_t j = 0; j < size_t(size); ++j) {
                const long x = long(a) + lo + long(j);
                const double r = j < n ? ref.at(a + j, c) * rl : 0.0;
                const double y =
                    j < n + size_t(2 * radius) && x >= 0 && x < decFrames ? dec.at(size_t(x), c) * dl : 0.0;
                z[j] = {r, y};
            }
            forward.run(z, spectrum);
            // Two real signals from one transform: R from the even part, Y from the odd part.
            std::vector<Complex>& p = products[size_t(c)];
            for (size_t k = 0; k < size_t(size); ++k) {
                const Complex s = spectrum[k], m = spectrum[(size_t(size) - k) % size_t(size)];
                const Complex R{(s.re + m.re) / 2, (s.im - m.im) / 2};
                const Complex Y{(s.im + m.im) / 2, (m.re - s.re) / 2};
                p[k] = {R.re * Y.re + R.im * Y.im, R.re * Y.im - R.im * Y.re};  // conj(R) * Y
                sumR[k].re += R.re, sumR[k].im += R.im, sumY[k].re += Y.re, sumY[k].im += Y.im;
            }
        }
        std::vector<Complex>& pm = products[size_t(channels)];
        for (size_t k = 0; k < size_t(size); ++k) {
            const Complex R = sumR[k], Y = sumY[k];
            pm[k] = {R.re * Y.re + R.im * Y.im, R.re * Y.im - R.im * Y.re};
        }
        // Real correlations, two per inverse transform (one in the real part, one in the imaginary).
        for (int c = 0; c <= channels; c += 2) {
            const std::vector<Complex>& p0 = products[size_t(c)];
            const std::vector<Complex>* p1 = c + 1 <= channels ? &products[size_t(c) + 1] : nullptr;
            for (size_t k = 0; k < size_t(size); ++k)
                pair[k] = p1 ? Complex{p0[k].re - (*p1)[k].im, p0[k].im + (*p1)[k].re} : p0[k];
            inverse.run(pair, result);
            std::vector<double>& first = c < channels ? out.channel[size_t(c)].error : out.mix.error;
            std::vector<double>* second = !p1                ? nullptr
                                          : c + 1 < channels ? &out.channel[size_t(c) + 1].error
                                                             : &out.mix.error;
            for (long k = 0; k < lags; ++k) {
                first[size_t(k)] -= 2 * result[size_t(k)].re / size;
                if (second) (*second)[size_t(k)] -= 2 * result[size_t(k)].im / size;
            }
        }
    }

    // Energies of both sides over the frames they share at each lag: reference frames
    // [max(begin, -lag), min(end, decoded frames - lag)).
    const long decN = long(dec.frames()), hi = center + radius;
    for (long k = 0; k < lags; ++k) {
        const long lag = lo + k;
        out.overlap[size_t(k)] = std::max(0L, std::min(long(end), decN - lag) - std::max(long(begin), -lag));
    }
    for (int c = -1; c < channels; ++c) {
        const Prefix d(dec, c, long(begin) + lo, long(end) + hi, long(begin) + lo, long(end) + lo, lags);
        const Prefix r(ref, c, long(begin), long(end), -hi, decN - hi, lags);
        Fit& fit = c < 0 ? out.mix : out.channel[size_t(c)];
        for (long k = 0; k < lags; ++k) {
            const long lag = lo + k;
            const double refPart = std::max(0.0, r.at(decN - lag) - r.at(-lag));
            const double decPart = std::max(0.0, d.at(long(end) + lag) - d.at(long(begin) + lag));
            fit.power[size_t(k)] = refPart + decPart;
            fit.error[size_t(k)] = std::max(0.0, fit.error[size_t(k)] + refPart + decPart);
        }
    }
    return out;
}

double squaredError(const Signal& ref, int rc, const Signal& dec, int dc, size_t begin, size_t end, long lag) {
    const double rl = ref.lsb(), dl = dec.lsb();
    const long frames = long(dec.frames());
    double sum = 0;
    for (size_t i = begin; i < end; ++i) {
        const long x = long(i) + lag;
        const double d = (x >= 0 && x < frames ? dec.at(size_t(x), dc) * dl : 0.0) - ref.at(i, rc) * rl;
        sum += d * d;
    }
    return sum;
}

std::vector<double> powerSpectrum(const std::function<double(size_t)>& x, size_t length, int size) {
    std::vector<double> power(size_t(size) / 2 + 1, 0.0);
    Fft fft(size, false);
    if (!fft.ok() || length < size_t(size)) return power;
    const size_t points = size_t(size);
    std::vector<Complex> in(points), out(points);
    std::vector<double> window(points);
    double windowPower = 0;
    for (int i = 0; i < size; ++i) {
        window[size_t(i)] = 0.5 - 0.5 * std::cos(2 * M_PI * i / size);
        windowPower += window[size_t(i)] * window[size_t(i)];
    }
    size_t blocks = 0;
    for (size_t at = 0; at + size_t(size) <= length; at += size_t(size) / 2, ++blocks) {
        for (size_t i = 0; i < size_t(size); ++i) in[i] = {x(at + i) * window[i], 0};
        fft.run(in, out);
        for (size_t k = 0; k < power.size(); ++k) power[k] += (out[k].re * out[k].re + out[k].im * out[k].im);
    }
    // Mean square per bin (one-sided): a sine of amplitude A gives about A^2 / 2 summed over its bins.
    for (size_t k = 0; k < power.size(); ++k)
        power[k] = power[k] / double(blocks) / windowPower / size * (k == 0 || k == power.size() - 1 ? 1 : 2);
    return power;
}

}  // namespace compare
