#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "Result.h"

namespace compare {

size_t audibleFrames(const Signal& s, size_t from, size_t to) {
    const double threshold = std::pow(10.0, -90 / 20.0) / s.lsb();
    size_t n = 0;
    for (size_t i = from; i < std::min(to, s.frames()); ++i)
        for (int c = 0; c < s.channels; ++c)
            if (std::abs(double(s.at(i, c))) > threshold) {
                ++n;
                break;
            }
    return n;
}

namespace {

std::string format(const char* pattern, double value) {
    char text[64];
    snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string samples(long n) { return std::to_string(n) + (n == 1 ? " sample" : " samples"); }

std::string layout(const Signal& s) {
    return std::to_string(s.rate) + " Hz, " + std::to_string(s.channels) +
           (s.channels == 1 ? " channel, " : " channels, ") + std::to_string(s.frames()) + " samples";
}

// What is missing at one place: the count, and how many of them are audible when not all are.
std::string missingText(const Signal& ref, size_t from, size_t to) {
    const size_t audible = audibleFrames(ref, from, to);
    return std::to_string(to - from) + " missing" +
           (audible == to - from || to == from ? "" : " (" + std::to_string(audible) + " audible)");
}

// More extra samples at an end than one frame and what the file marks as delay or padding there:
// a decoder that does not trim them is not at fault.
std::string extraProblem(const Result& r, long extra, long marked, const char* where) {
    if (extra <= r.reference.frameSamples + marked || r.alignment.segments.empty()) return "";
    return samples(extra) + " extra at the " + where + ", more than one frame (" +
           std::to_string(r.reference.frameSamples) + ")" +
           (marked > 0 ? " and the " + std::to_string(marked) + " the file marks to skip" : "");
}

}  // namespace

std::string marginText(const Result& r) {
    const double m = marginDb(r.measures, r.required);
    if (std::isnan(m)) return "none for an exact requirement";
    if (std::isinf(m)) return m > 0 ? "no difference" : "nothing compared";
    return format("%+.1f dB", m) + (m >= 0 ? " inside the " : " outside the ") + describe(r.required) + " bounds";
}

std::string secondsText(size_t frame, int rate, int decimals) {
    char text[32];
    snprintf(text, sizeof text, "%.*f", decimals, double(frame) / rate);
    return text;
}

std::vector<std::pair<std::string, std::string>> summaryLines(const Result& r) {
    const Alignment& a = r.alignment;
    std::vector<std::pair<std::string, std::string>> lines;
    if (r.referencePath.empty()) {
        lines.push_back({"input", r.inputPath + ": " + r.reference.codec + (r.reference.lossless ? " (lossless)" : "") +
                                      ", " + layout(r.ref)});
        lines.push_back({"reference", "decoded by " + r.reference.decoder + ", " + r.reference.library});
    } else {
        lines.push_back({"input", r.inputPath});
        lines.push_back({"reference", r.referencePath + ": " + r.reference.codec + ", " + layout(r.ref)});
    }
    lines.push_back({"decoded", r.decodedPath + ": " + (r.decodedWav ? "WAV" : "raw PCM") + ", " +
                                    std::to_string(r.dec.bits) + "-bit, " + layout(r.dec)});
    if (!a.segments.empty()) {
        const long lag = a.segments.front().lag;
        lines.push_back({"aligned", lag == 0 ? std::string("decoded output starts with the reference")
                                             : "decoded output " + samples(std::labs(lag)) + " (" +
                                                   format("%.3f ms", 1000.0 * double(std::labs(lag)) / r.ref.rate) +
                                                   ") " + (lag > 0 ? "late" : "early")});
        lines.push_back({"certainty", a.equivalent > 0
                                          ? "ambiguous: " + std::to_string(a.equivalent) +
                                                " other shifts fit within 3 dB (a periodic signal); the one "
                                                "of least error over the whole file is taken"
                                      : std::isinf(a.confidenceDb)
                                          ? std::string("no other shift fits")
                                          : format("%.1f dB", a.confidenceDb) + " better than the next best shift"});
    }
    const size_t refFrames = r.ref.frames();
    lines.push_back({"ends", "samples at the start: " + std::to_string(a.extraStart) + " extra, " +
                                 missingText(r.ref, 0, size_t(a.missingStart)) +
                                 "; at the end: " + std::to_string(a.extraEnd) + " extra, " +
                                 missingText(r.ref, refFrames - size_t(a.missingEnd), refFrames)});
    lines.push_back({"margin", marginText(r)});
    std::string worst;
    for (const Spot& s : r.measures.worst)
        worst += (worst.empty() ? "" : ", ") + std::string("channel ") + std::to_string(s.channel + 1) + " at " +
                 secondsText(s.at, r.ref.rate) + " s (" + std::to_string(s.lsb) + " LSB)";
    if (!worst.empty()) lines.push_back({"largest", worst});
    if (!a.shifts.empty())
        lines.push_back({"note", "the RMS and maxima are of the samples left after realigning around the stretches "
                                 "missing or added"});
    for (const std::string& n : r.notes) lines.push_back({"note", n});
    return lines;
}

std::vector<std::vector<std::string>> channelTable(const Result& r) {
    std::vector<std::vector<std::string>> rows = {{"channel", "compared", "differ(%)", "mean(LSB)", "rms(FS)",
                                                   "rms(LSB)", "PSNR(dB)", "max(FS)", "max(LSB)", "worst(s)", "K",
                                                   "class"}};
    for (size_t c = 0; c < r.measures.channels.size(); ++c) {
        const ChannelResult& m = r.measures.channels[c];
        const double share = m.compared ? 100.0 * double(m.differing) / double(m.compared) : 0;
        rows.push_back({std::to_string(c + 1), std::to_string(m.compared), format("%.2f", share),
                        format("%+.3f", m.meanLsb), format("%.3e", m.rmsFs), format("%.3f", m.rmsLsb),
                        m.rmsFs > 0 ? format("%.1f", -20 * std::log10(m.rmsFs)) : "inf", format("%.3e", m.maxFs),
                        std::to_string(m.maxLsb), m.maxLsb == 0 ? "-" : secondsText(m.worstAt, r.ref.rate),
                        m.level.k == kAllBits ? "all" : std::to_string(m.level.k), nameOf(m.level)});
    }
    return rows;
}

std::string verdict(Result& r) {
    const Alignment& a = r.alignment;
    std::vector<std::string> problems;
    if (a.segments.empty()) problems.push_back("no sample lines up with the reference");
    // Silence the reference ends in is no loss; audible samples missing fail whatever the class.
    const size_t refFrames = r.ref.frames();
    if (const size_t n = audibleFrames(r.ref, 0, size_t(a.missingStart)))
        problems.push_back(samples(long(n)) + " of audio missing at the start");
    for (const Shift& s : a.shifts)
        problems.push_back(samples(std::labs(s.frames)) + (s.frames < 0 ? " missing" : " added") + " at " +
                           secondsText(s.at, r.ref.rate, 3) + " s");
    if (const size_t n = audibleFrames(r.ref, refFrames - size_t(a.missingEnd), refFrames))
        problems.push_back(samples(long(n)) + " of audio missing at the end");
    for (const std::string& extra : {extraProblem(r, a.extraStart, r.reference.skippedStart, "start"),
                                     extraProblem(r, a.extraEnd, r.reference.skippedEnd, "end")})
        if (!extra.empty()) problems.push_back(extra);
    problems.insert(problems.end(), a.notes.begin(), a.notes.end());
    problems.insert(problems.end(), r.findings.begin(), r.findings.end());
    const Level& reached = r.measures.overall;
    const bool classHolds = holds(r.required, reached);
    r.pass = classHolds && problems.empty();
    std::string text = std::string(r.pass ? "PASS" : "FAIL") + ": " + describe(r.required) + " required, " +
                       nameOf(reached) + " reached";
    if (!classHolds && r.measures.channels.size() > 1)
        text += " (channel " + std::to_string(r.measures.worstChannel + 1) + ")";
    for (const std::string& p : problems) text += "; " + p;
    return text;
}

std::string textReport(Result& r) {
    std::string out;
    for (const auto& line : summaryLines(r))
        out += line.first + std::string(10 - line.first.size(), ' ') + line.second + "\n";
    const auto rows = channelTable(r);
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i)
            line += row[i] + (i + 1 < row.size() ? std::string(widths[i] - row[i].size() + 2, ' ') : "");
        out += line + "\n";
    }
    out += "verdict   " + verdict(r) + "\n";
    return out;
}

}  // namespace compare
