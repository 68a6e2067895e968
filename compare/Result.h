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
    std::string inputPath, decodedPath, referencePath;  // referencePath empty: FFmpeg's decode
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

// Reference frames in [from, to) louder than -90 dB FS on some channel: missing ones fail.
size_t audibleFrames(const Signal& s, size_t from, size_t to);

// How far inside the required class the worst channel is ("+3.1 dB inside the full bounds").
std::string marginText(const Result& r);

std::string secondsText(size_t frame, int rate, int decimals = 6);

}  // namespace compare
