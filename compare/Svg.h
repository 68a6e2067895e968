// A small line chart drawn as inline SVG: axes with ticks, lines, level marks and shaded spans.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace compare {

using Points = std::vector<std::pair<double, double>>;  // data coordinates; NaN y breaks a line

class Chart {
public:
    Chart(double xMin, double xMax, double yMin, double yMax, std::string xLabel, std::string yLabel);

    void line(const Points& points, const std::string& color, const std::string& label, bool dashed = false);
    void level(double y, const std::string& color, const std::string& label);
    void span(double x0, double x1, const std::string& color, const std::string& label);
    void mark(double x, const std::string& color);
    void message(const std::string& text);
    std::string svg(const std::string& title) const;

private:
    double px(double x) const;
    double py(double y) const;

    double mX0, mX1, mY0, mY1;
    std::string mXLabel, mYLabel, mBody, mLegend;
    int mLegendItems = 0;
};

std::string escapeHtml(const std::string& text);

}  // namespace compare
