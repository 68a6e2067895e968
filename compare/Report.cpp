#include "Report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "Correlation.h"
#include "Svg.h"

namespace compare {
namespace {

constexpr int kColumns = 900;
const char* const kChannelColors[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                      "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22"};

double dB(double v) { return 20 * std::log10(v); }

// Decoded frame compared with reference frame i, or -1 where none is.
long decodedFrame(const Alignment& a, size_t i) {
    auto s = std::upper_bound(a.segments.begin(), a.segments.end(), i,
                              [](size_t frame, const Segment& seg) { return frame < seg.begin; });
    if (s == a.segments.begin() || i >= (--s)->end) return -1;
    return long(i) + s->lag;
}

// Reference and decoded samples around the largest difference (when nothing differs, the first
// stretch missing or added, or else the loudest sample), and the difference below them.
std::string overlay(const Result& r) {
    const Signal &ref = r.ref, &dec = r.dec;
    int channel = r.measures.worstChannel;
    size_t center = 0;
    if (!r.measures.worst.empty()) {
        center = r.measures.worst.front().at, channel = r.measures.worst.front().channel;
    } else if (!r.alignment.shifts.empty()) {
        center = r.alignment.shifts.front().at;
    } else {
        int32_t peak = -1;
        for (size_t i = 0; i < ref.frames(); ++i)
            if (std::abs(ref.at(i, channel)) > peak) peak = std::abs(ref.at(i, channel)), center = i;
    }
    const size_t half = size_t(std::max(48, ref.rate / 400));  // 2.5 ms each way
    const size_t from = center > half ? center - half : 0, to = std::min(ref.frames(), center + half + 1);
    Points refLine, decLine, diffLine;
    double top = 0, diffTop = 0;
    const double lsb = ref.lsb(), nan = std::nan("");
    for (size_t i = from; i < to; ++i) {
        const double t = 1000.0 * double(i) / ref.rate;
        const long x = decodedFrame(r.alignment, i);
        const double rv = ref.at(i, channel) * lsb;
        const double dv = x >= 0 ? dec.at(size_t(x), channel) * lsb : nan;
        const double d = x >= 0 ? double(int64_t(dec.at(size_t(x), channel)) - ref.at(i, channel)) : nan;
        refLine.push_back({t, rv});
        decLine.push_back({t, dv});
        diffLine.push_back({t, d});
        top = std::max({top, std::fabs(rv), std::isnan(dv) ? 0.0 : std::fabs(dv)});
        diffTop = std::max(diffTop, std::isnan(d) ? 0.0 : std::fabs(d));
    }
    top = top > 0 ? top * 1.1 : 1;
    const std::string where =
        "channel " + std::to_string(channel + 1) + " around " + secondsText(center, ref.rate) + " s";
    const double msFrom = 1000.0 * double(from) / ref.rate, msTo = 1000.0 * double(to - 1) / ref.rate;
    Chart signals(msFrom, msTo, -top, top, "time (ms)", "full scale");
    signals.line(refLine, "#1f77b4", "reference");
    signals.line(decLine, "#ff7f0e", "decoded", true);
    signals.mark(1000.0 * double(center) / ref.rate, "#d62728");
    const double diffRange = diffTop > 0 ? diffTop * 1.1 : 1;
    Chart difference(msFrom, msTo, -diffRange, diffRange, "time (ms)", "decoded − reference (LSB)");
    difference.line(diffLine, "#d62728", "difference");
    if (diffTop == 0) difference.message("no difference here");
    return signals.svg("Both signals, " + where) + difference.svg("Their difference, " + where);
}

// The largest difference of each column of time per channel, with the reference's peak level,
// the bounds and the stretches without a counterpart.
std::string envelope(const Result& r) {
    const Signal &ref = r.ref, &dec = r.dec;
    const size_t frames = ref.frames();
    const int columns = int(std::min<size_t>(kColumns, frames));
    const double lsb = ref.lsb(), floorDb = std::floor(dB(lsb) / 10) * 10 - 10, seconds = double(frames) / ref.rate;
    std::vector<std::vector<double>> peak(size_t(ref.channels), std::vector<double>(size_t(columns), 0.0));
    std::vector<double> level(size_t(columns), 0.0);
    for (const Segment& s : r.alignment.segments)
        for (size_t i = s.begin; i < s.end; ++i)
            for (int c = 0; c < ref.channels; ++c) {
                const size_t col = i * size_t(columns) / frames;
                const double d = std::fabs(double(int64_t(dec.at(size_t(long(i) + s.lag), c)) - ref.at(i, c))) * lsb;
                peak[size_t(c)][col] = std::max(peak[size_t(c)][col], d);
            }
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < ref.channels; ++c) {
            const size_t col = i * size_t(columns) / frames;
            level[col] = std::max(level[col], std::fabs(ref.at(i, c) * lsb));
        }
    Chart chart(0, seconds, floorDb, 0, "time (s)", "dB full scale");
    auto points = [&](const std::vector<double>& v) {
        Points p;
        for (int k = 0; k < columns; ++k) {
            const double y = v[size_t(k)] > 0 ? dB(v[size_t(k)]) : floorDb;
            p.push_back({seconds * k / columns, y});
            p.push_back({seconds * (k + 1) / columns, y});
        }
        return p;
    };
    chart.line(points(level), "#bbbbbb", "reference peak");
    for (int c = 0; c < ref.channels; ++c)
        chart.line(points(peak[size_t(c)]), kChannelColors[c % 8], "difference, channel " + std::to_string(c + 1));
    chart.level(dB(std::ldexp(1.0, -14)), "#2ca02c", "full: largest 2^-14");
    chart.level(dB(lsb), "#7f7f7f", "1 LSB");
    const Alignment& a = r.alignment;
    const double rate = ref.rate;
    if (a.missingStart > 0) chart.span(0, double(a.missingStart) / rate, "#d62728", "missing at the start");
    if (a.missingEnd > 0)
        chart.span(double(frames - size_t(a.missingEnd)) / rate, seconds, "#d62728", "missing at the end");
    for (const Shift& s : a.shifts)
        chart.span(double(s.at) / rate, double(s.at + size_t(std::max(0L, -s.frames))) / rate, "#d62728",
                   std::to_string(std::labs(s.frames)) + (s.frames < 0 ? " samples missing" : " samples added"));
    return chart.svg("Largest difference per " + secondsText(frames / size_t(columns), ref.rate, 4) + " s");
}

// The RMS of the difference per block of time and channel, against the classes' RMS bounds: what
// a file failing by its RMS fails by.
std::string rmsOverTime(const Result& r) {
    const Signal &ref = r.ref, &dec = r.dec;
    const size_t frames = ref.frames();
    const size_t columns = std::min<size_t>(300, frames);
    const double lsb = ref.lsb(), floorDb = std::floor(dB(lsb / 10) / 10) * 10, seconds = double(frames) / ref.rate;
    std::vector<std::vector<double>> sum(size_t(ref.channels), std::vector<double>(columns, 0.0));
    std::vector<size_t> count(columns, 0);
    for (const Segment& s : r.alignment.segments)
        for (size_t i = s.begin; i < s.end; ++i) {
            const size_t col = i * columns / frames;
            ++count[col];
            for (int c = 0; c < ref.channels; ++c) {
                const double d = double(int64_t(dec.at(size_t(long(i) + s.lag), c)) - ref.at(i, c)) * lsb;
                sum[size_t(c)][col] += d * d;
            }
        }
    Chart chart(0, seconds, floorDb, std::max(0.0, floorDb + 100), "time (s)", "RMS, dB full scale");
    for (int c = 0; c < ref.channels; ++c) {
        Points p;
        for (size_t k = 0; k < columns; ++k) {
            const double rms = count[k] ? std::sqrt(sum[size_t(c)][k] / double(count[k])) : 0;
            const double y = count[k] == 0 ? std::nan("") : rms > 0 ? std::max(floorDb, dB(rms)) : floorDb;
            p.push_back({seconds * double(k) / double(columns), y});
            p.push_back({seconds * double(k + 1) / double(columns), y});
        }
        chart.line(p, kChannelColors[c % 8], "channel " + std::to_string(c + 1));
    }
    chart.level(dB(std::ldexp(1.0, -15) / std::sqrt(12.0)), "#2ca02c", "full: RMS 2^-15/√12");
    chart.level(dB(std::ldexp(1.0, -11) / std::sqrt(12.0)), "#ff7f0e", "limited: RMS 2^-11/√12");
    return chart.svg("RMS of the difference per " + secondsText(frames / columns, ref.rate, 4) + " s");
}

// How often each difference occurs, per channel: a mean off zero is truncation, not rounding.
std::string histogram(const Result& r) {
    double top = 0;
    for (const ChannelResult& c : r.measures.channels)
        for (size_t v : c.histogram) top = std::max(top, c.compared ? 100.0 * double(v) / double(c.compared) : 0);
    Chart chart(-kHistogramReach - 0.5, kHistogramReach + 0.5, 0, top > 0 ? top * 1.05 : 1,
                "decoded − reference (LSB; the outer bins hold all beyond)", "share of samples (%)");
    for (size_t c = 0; c < r.measures.channels.size(); ++c) {
        const ChannelResult& m = r.measures.channels[c];
        Points p;
        for (size_t k = 0; k < m.histogram.size(); ++k) {
            const double x = double(k) - kHistogramReach,
                         y = m.compared ? 100.0 * double(m.histogram[k]) / double(m.compared) : 0;
            p.push_back({x - 0.5, y});
            p.push_back({x + 0.5, y});
        }
        char mean[48];
        snprintf(mean, sizeof mean, ", mean %+.3f LSB", m.meanLsb);
        chart.line(p, kChannelColors[c % 8], "channel " + std::to_string(c + 1) + mean);
    }
    return chart.svg("Differences by size");
}

// Spectra of the difference and of the reference on one channel.
std::string spectrum(const Result& r, int channel) {
    const Signal &ref = r.ref, &dec = r.dec;
    const double lsb = ref.lsb();
    bool any = false;
    for (const Segment& s : r.alignment.segments)
        for (size_t i = s.begin; i < s.end && !any; ++i)
            any = dec.at(size_t(long(i) + s.lag), channel) != ref.at(i, channel);
    const auto reference = [&](size_t i) { return ref.at(i, channel) * lsb; };
    const auto difference = [&](size_t i) {  // 0 where nothing is compared
        const long x = decodedFrame(r.alignment, i);
        return x < 0 ? 0.0 : double(int64_t(dec.at(size_t(x), channel)) - ref.at(i, channel)) * lsb;
    };
    int size = 4096;
    while (size > 64 && size_t(size) > ref.frames()) size /= 2;
    const std::vector<double> refPower = powerSpectrum(reference, ref.frames(), size),
                              errPower = powerSpectrum(difference, ref.frames(), size);
    const double nyquist = ref.rate / 2000.0;
    double top = -400, bottom = 0;
    for (size_t k = 0; k < refPower.size(); ++k) {
        if (refPower[k] > 0) top = std::max(top, 10 * std::log10(refPower[k]));
        if (errPower[k] > 0) bottom = std::min(bottom, 10 * std::log10(errPower[k]));
        if (refPower[k] > 0) bottom = std::min(bottom, 10 * std::log10(refPower[k]));
    }
    top = std::ceil(std::max(top, -100.0) / 10) * 10 + 10;
    bottom = std::max(std::floor(bottom / 10) * 10, top - 240);
    auto points = [&](const std::vector<double>& p) {
        Points out;
        const size_t step = std::max<size_t>(1, p.size() / kColumns);
        for (size_t k = 0; k < p.size(); k += step) {
            double v = 0;
            for (size_t j = k; j < std::min(p.size(), k + step); ++j) v = std::max(v, p[j]);
            out.push_back({nyquist * double(k) / double(p.size() - 1), v > 0 ? 10 * std::log10(v) : bottom});
        }
        return out;
    };
    Chart chart(0, nyquist, bottom, top, "frequency (kHz)", "dB full scale per bin");
    chart.line(points(refPower), "#1f77b4", "reference");
    if (any)
        chart.line(points(errPower), "#d62728", "difference");
    else
        chart.message("no difference on this channel");
    return chart.svg("Spectra on channel " + std::to_string(channel + 1) + ", " + std::to_string(size) +
                     "-point Hann windows");
}

const char kStyle[] =
    "body{font-family:sans-serif;margin:24px;color:#222;max-width:1150px}"
    "h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
    ".verdict{font-size:18px;font-weight:bold;padding:10px 14px;border-radius:6px}"
    ".pass{background:#dff3df;color:#145214}.fail{background:#fbe0e0;color:#7a1010}"
    "table{border-collapse:collapse;margin:10px 0}td,th{padding:3px 10px;text-align:left;border-bottom:1px solid #ddd}"
    "table.channels td{font-family:monospace;text-align:right}"
    "svg{display:block;margin:6px 0;font-size:12px}svg text{fill:#333}.message{font-size:16px;fill:#2ca02c}"
    "p.help{font-size:13px;color:#555}";

}  // namespace

bool writeReport(const std::string& path, const Result& r, const std::string& verdictText, std::string& error) {
    std::string spectra;
    for (int c = 0; c < r.ref.channels; ++c) spectra += spectrum(r, c);
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>ostrel-compare: " +
        escapeHtml(r.decodedPath) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n" +
        "<h1>ostrel-compare</h1>\n<p class=\"verdict " + (r.pass ? "pass" : "fail") + "\" id=\"verdict\">" +
        escapeHtml(verdictText) + "</p>\n<table class=\"summary\">\n";
    for (const auto& line : summaryLines(r))
        html += "<tr><th>" + escapeHtml(line.first) + "</th><td>" + escapeHtml(line.second) + "</td></tr>\n";
    html += "</table>\n<table class=\"channels\" id=\"channels\">\n";
    const auto rows = channelTable(r);
    for (size_t i = 0; i < rows.size(); ++i) {
        html += "<tr>";
        for (const std::string& cell : rows[i])
            html += (i == 0 ? "<th>" : "<td>") + escapeHtml(cell) + (i == 0 ? "</th>" : "</td>");
        html += "</tr>\n";
    }
    html += "</table>\n<h2>Around the largest difference</h2>\n" + overlay(r) +
            "<h2>Largest difference over the whole file</h2>\n" + envelope(r) +
            "<h2>RMS of the difference over the whole file</h2>\n" + rmsOverTime(r) + "<h2>Differences by size</h2>\n" +
            histogram(r) + "<h2>Spectrum of the difference against the reference's</h2>\n" + spectra +
            "<p class=\"help\">Differences are in fractions of full scale (2^(bits−1)) and in LSBs of the decoded "
            "word length. exact: no sample differs; full: RMS below 2^−15/√12 and no difference above 2^−14; "
            "limited: RMS below 2^−11/√12; K: the largest K with RMS below 2^(1−K)/√12.</p>\n</body>\n</html>\n";
    FILE* out = fopen(path.c_str(), "wb");
    bool written = out != nullptr && fwrite(html.data(), 1, html.size(), out) == html.size();
    if (out != nullptr && fclose(out) != 0) written = false;
    if (!written) {
        error = "cannot write the report " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

}  // namespace compare
