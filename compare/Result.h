// Everything one comparison found, as the table and the report show it.
#pragma once

#include <string>
#include <vector>

#include "Align.h"
#include "Metrics.h"
#include "Options.h"
#include "ReferenceDecode.h"
#include "Signal.h"

namespace compare {

struct Result {
    std::string inputPath, decodedPath;
    Signal ref, dec;
    ReferenceInfo reference;
    bool decodedWav = false;
    Requirement required;
    Alignment alignment;
    Measures measures;
    std::vector<std::string> findings;  // about the decoded file itself
    std::vector<std::string> notes;     // informative, no verdict of their own
    bool pass = false;
};

// The lines above the table: what was compared, how it lines up, the largest errors, notes.
std::vector<std::pair<std::string, std::string>> summaryLines(const Result& r);
// The table: a header row, then one row per channel. The report shows the same cells.
std::vector<std::vector<std::string>> channelTable(const Result& r);
// The verdict's text, PASS or FAIL first; sets r.pass.
std::string verdict(Result& r);
// All of it as standard output shows it.
std::string textReport(Result& r);

std::string secondsText(size_t frame, int rate, int decimals = 6);

}  // namespace compare
