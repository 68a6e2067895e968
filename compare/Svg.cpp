#include "Svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace compare {
namespace {

constexpr double kWidth = 960, kHeight = 300, kLeft = 70, kRight = 150, kTop = 30, kBottom = 45;

std::string num(double v) {
    char text[32];
    snprintf(text, sizeof text, "%.1f", v);
    return text;
}

// Tick values at 1, 2 or 5 times a power of ten, about six over the range.
std::vector<double> ticks(double lo, double hi) {
    const double raw = (hi - lo) / 6, power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) {
            step = m * power;
            break;
        }
    std::vector<double> out;
    for (double t = std::ceil(lo / step) * step; t <= hi + step * 1e-9; t += step)
        out.push_back(std::fabs(t) < step * 1e-9 ? 0 : t);
    return out;
}

std::string tickText(double v) {
    char text[32];
    snprintf(text, sizeof text, "%g", v);
    return text;
}

}  // namespace

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

Chart::Chart(double xMin, double xMax, double yMin, double yMax, std::string xLabel, std::string yLabel)
    : mX0(xMin),
      mX1(xMax > xMin ? xMax : xMin + 1),
      mY0(yMin),
      mY1(yMax > yMin ? yMax : yMin + 1),
      mXLabel(std::move(xLabel)),
      mYLabel(std::move(yLabel)) {}

double Chart::px(double x) const { return kLeft + (x - mX0) / (mX1 - mX0) * (kWidth - kLeft - kRight); }
double Chart::py(double y) const {
    const double clamped = std::min(mY1, std::max(mY0, y));
    return kTop + (mY1 - clamped) / (mY1 - mY0) * (kHeight - kTop - kBottom);
}

void Chart::line(const Points& points, const std::string& color, const std::string& label, bool dashed) {
    std::string path;
    bool open = false;
    for (const auto& p : points) {
        if (std::isnan(p.second)) {
            open = false;
            continue;
        }
        path += (open ? " L" : " M") + num(px(p.first)) + " " + num(py(p.second));
        open = true;
    }
    if (!path.empty())
        mBody += "<path d=\"" + path + "\" fill=\"none\" stroke=\"" + color + "\" stroke-width=\"1.4\"" +
                 (dashed ? " stroke-dasharray=\"5 3\"" : "") + "/>\n";
    const double lx = kLeft + 10 + 190 * mLegendItems++;
    mLegend += "<line x1=\"" + num(lx) + "\" y1=\"14\" x2=\"" + num(lx + 24) + "\" y2=\"14\" stroke=\"" + color +
               "\" stroke-width=\"2\"" + (dashed ? " stroke-dasharray=\"5 3\"" : "") + "/><text x=\"" + num(lx + 30) +
               "\" y=\"18\">" + escapeHtml(label) + "</text>\n";
}

void Chart::level(double y, const std::string& color, const std::string& label) {
    if (y < mY0 || y > mY1) return;
    mBody += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(py(y)) + "\" x2=\"" + num(kWidth - kRight) + "\" y2=\"" +
             num(py(y)) + "\" stroke=\"" + color + "\" stroke-dasharray=\"2 3\"/><text x=\"" +
             num(kWidth - kRight + 6) + "\" y=\"" + num(py(y) + 4) + "\" fill=\"" + color + "\">" + escapeHtml(label) +
             "</text>\n";
}

void Chart::span(double a, double b, const std::string& color, const std::string& label) {
    const double l = px(std::max(mX0, a)), r = std::max(l + 2, px(std::min(mX1, b)));
    mBody += "<rect x=\"" + num(l) + "\" y=\"" + num(kTop) + "\" width=\"" + num(r - l) + "\" height=\"" +
             num(kHeight - kTop - kBottom) + "\" fill=\"" + color + "\" opacity=\"0.25\"><title>" + escapeHtml(label) +
             "</title></rect>\n";
}

void Chart::mark(double x, const std::string& color) {
    mBody += "<line x1=\"" + num(px(x)) + "\" y1=\"" + num(kTop) + "\" x2=\"" + num(px(x)) + "\" y2=\"" +
             num(kHeight - kBottom) + "\" stroke=\"" + color + "\" stroke-width=\"1\"/>\n";
}

void Chart::message(const std::string& text) {
    mBody += "<text x=\"" + num(kWidth / 2) + "\" y=\"" + num(kHeight / 2) +
             "\" text-anchor=\"middle\" class=\"message\">" + escapeHtml(text) + "</text>\n";
}

std::string Chart::svg(const std::string& title) const {
    std::string out = "<svg viewBox=\"0 0 " + num(kWidth) + " " + num(kHeight) + "\" width=\"" + num(kWidth) +
                      "\" height=\"" + num(kHeight) + "\" role=\"img\"><title>" + escapeHtml(title) +
                      "</title>\n<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" +
                      num(kWidth - kLeft - kRight) + "\" height=\"" + num(kHeight - kTop - kBottom) +
                      "\" fill=\"#fff\" stroke=\"#888\"/>\n";
    for (double t : ticks(mX0, mX1))
        out += "<line x1=\"" + num(px(t)) + "\" y1=\"" + num(kTop) + "\" x2=\"" + num(px(t)) + "\" y2=\"" +
               num(kHeight - kBottom) + "\" stroke=\"#eee\"/><text x=\"" + num(px(t)) + "\" y=\"" +
               num(kHeight - kBottom + 16) + "\" text-anchor=\"middle\">" + tickText(t) + "</text>\n";
    for (double t : ticks(mY0, mY1))
        out += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(py(t)) + "\" x2=\"" + num(kWidth - kRight) + "\" y2=\"" +
               num(py(t)) + "\" stroke=\"#eee\"/><text x=\"" + num(kLeft - 6) + "\" y=\"" + num(py(t) + 4) +
               "\" text-anchor=\"end\">" + tickText(t) + "</text>\n";
    out += "<text x=\"" + num((kLeft + kWidth - kRight) / 2) + "\" y=\"" + num(kHeight - 6) +
           "\" text-anchor=\"middle\">" + escapeHtml(mXLabel) + "</text>\n<text transform=\"translate(16 " +
           num((kTop + kHeight - kBottom) / 2) + ") rotate(-90)\" text-anchor=\"middle\">" + escapeHtml(mYLabel) +
           "</text>\n";
    return out + mBody + mLegend + "</svg>\n";
}

}  // namespace compare
