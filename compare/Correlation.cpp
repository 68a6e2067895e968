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
    Fft(int size, bool inverse) : size_(size) {
        const double scale = 1.0;
        if (av_tx_init(&ctx_, &fn_, AV_TX_DOUBLE_FFT, inverse, size, &scale, AV_TX_UNALIGNED) < 0) ctx_ = nullptr;
    }
    ~Fft() { av_tx_uninit(&ctx_); }
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;
    bool ok() const { return ctx_ != nullptr; }
    void run(std::vector<Complex>& in, std::vector<Complex>& out) { fn_(ctx_, out.data(), in.data(), sizeof(Complex)); }
    int size() const { return size_; }

private:
    int size_;
    AVTXContext* ctx_ = nullptr;
    av_tx_fn fn_ = nullptr;
};

int powerOfTwoAtLeast(size_t n) {
    int p = 1;
    while (size_t(p) < n) p <<= 1;
    return p;
}

// Running sums of squares of decoded channel(s) from `from`, kept at two windows of positions.
struct Windows {
    long firstA, firstB, width;
    std::vector<double> a, b;
};

void energyWindows(const Signal& dec, int channel, long from, long firstA, long firstB, long width, Windows& w) {
    w = {firstA, firstB, width, std::vector<double>(size_t(width)), std::vector<double>(size_t(width))};
    const long frames = long(dec.frames()), last = firstB + width - 1;
    const double lsb = dec.lsb();
    double sum = 0;
    for (long x = from; x <= last; ++x) {
        if (x >= firstA && x < firstA + width) w.a[size_t(x - firstA)] = sum;
        if (x >= firstB && x < firstB + width) w.b[size_t(x - firstB)] = sum;
        if (x < 0 || x >= frames) continue;
        double v = 0;
        if (channel >= 0) {
            v = dec.at(size_t(x), channel) * lsb;
        } else {
            for (int c = 0; c < dec.channels; ++c) v += dec.at(size_t(x), c) * lsb;
        }
        sum += v * v;
    }
}

}  // namespace

std::vector<double> LagErrors::total() const {
    std::vector<double> t(mix.size(), 0.0);
    for (const auto& c : channel)
        for (size_t i = 0; i < t.size(); ++i) t[i] += c[i];
    return t;
}

long LagErrors::best(const std::vector<double>& errors, long center) const {
    const double top = *std::max_element(errors.begin(), errors.end());
    long bestLag = center;
    double bestValue = HUGE_VAL;
    for (size_t i = 0; i < errors.size(); ++i) {
        const long lag = firstLag + long(i);
        // Differences at rounding level are ties.
        const double margin = 1e-12 * top;
        if (errors[i] < bestValue - margin ||
            (errors[i] <= bestValue + margin && std::labs(lag - center) < std::labs(bestLag - center))) {
            bestValue = std::min(bestValue, errors[i]);
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
    out.channel.assign(size_t(channels), std::vector<double>(size_t(lags), 0.0));
    out.mix.assign(size_t(lags), 0.0);
    out.refEnergy.assign(size_t(channels), 0.0);

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
                const double y = j < n + size_t(2 * radius) && x >= 0 && x < decFrames ? dec.at(size_t(x), c) * dl : 0.0;
                z[j] = {r, y};
                out.refEnergy[size_t(c)] += r * r;
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
            std::vector<double>& first = c < channels ? out.channel[size_t(c)] : out.mix;
            std::vector<double>* second = !p1 ? nullptr : c + 1 < channels ? &out.channel[size_t(c) + 1] : &out.mix;
            for (long k = 0; k < lags; ++k) {
                first[size_t(k)] -= 2 * result[size_t(k)].re / size;
                if (second) (*second)[size_t(k)] -= 2 * result[size_t(k)].im / size;
            }
        }
    }

    // Energies: the reference's, and the decoded output's under each lag.
    for (int c = -1; c < channels; ++c) {
        Windows w;
        energyWindows(dec, c, long(begin) + lo, long(begin) + lo, long(end) + lo, lags, w);
        std::vector<double>& e = c < 0 ? out.mix : out.channel[size_t(c)];
        double refEnergy = 0;
        if (c < 0) {
            for (size_t i = begin; i < end; ++i) {
                double v = 0;
                for (int k = 0; k < channels; ++k) v += ref.at(i, k) * rl;
                refEnergy += v * v;
            }
            out.mixEnergy = refEnergy;
        } else {
            refEnergy = out.refEnergy[size_t(c)];
        }
        for (long k = 0; k < lags; ++k) e[size_t(k)] = std::max(0.0, e[size_t(k)] + refEnergy + w.b[size_t(k)] - w.a[size_t(k)]);
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

std::vector<double> powerSpectrum(const std::vector<double>& x, int size) {
    std::vector<double> power(size_t(size) / 2 + 1, 0.0);
    Fft fft(size, false);
    if (!fft.ok() || x.size() < size_t(size)) return power;
    const size_t points = size_t(size);
    std::vector<Complex> in(points), out(points);
    std::vector<double> window(points);
    double windowPower = 0;
    for (int i = 0; i < size; ++i) {
        window[size_t(i)] = 0.5 - 0.5 * std::cos(2 * M_PI * i / size);
        windowPower += window[size_t(i)] * window[size_t(i)];
    }
    size_t blocks = 0;
    for (size_t at = 0; at + size_t(size) <= x.size(); at += size_t(size) / 2, ++blocks) {
        for (size_t i = 0; i < size_t(size); ++i) in[i] = {x[at + i] * window[i], 0};
        fft.run(in, out);
        for (size_t k = 0; k < power.size(); ++k) power[k] += (out[k].re * out[k].re + out[k].im * out[k].im);
    }
    // Mean square per bin (one-sided): a sine of amplitude A gives about A^2 / 2 summed over its bins.
    for (size_t k = 0; k < power.size(); ++k)
        power[k] = power[k] / double(blocks) / windowPower / size * (k == 0 || k == power.size() - 1 ? 1 : 2);
    return power;
}

}  // namespace compare
