// The HTML report: one self-contained file with the table and three pictures in inline SVG.
#pragma once

#include <string>

#include "Result.h"

namespace compare {

// Writes the report for `r` (its verdict already given); false with `error` when it cannot.
bool writeReport(const std::string& path, const Result& r, const std::string& verdictText, std::string& error);

}  // namespace compare
