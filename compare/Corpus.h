// A corpus run: one comparison per line of a list, each a run of this program with a report of
// its own, on all cores, and one summary page with a TSV beside it; or the TSVs of several
// slices of a corpus joined into one summary.
#pragma once

#include <string>
#include <vector>

#include "Options.h"

namespace compare {

// One line of the list and what became of it; a row of the TSV.
struct CorpusEntry {
    long index = 0;                         // the line's place among the entries, from 1
    std::string input, decoded, reference;  // decoded: a file, or a command that makes one
    std::vector<std::string> options;       // of this line alone
    int status = 2;                         // 0 pass, 1 fail, 2 not compared
    std::string reached = "-", margin = "-", report, message;
};

// A line of the list: fields by tabs, or by spaces on a line without one (whose decoded field
// cannot be a command); fields that start with -- are options of this comparison alone.
bool parseCorpusLine(const std::string& line, CorpusEntry& e);
// A row of a summary TSV, its report's name as written there; false when it is not one.
bool parseSummaryRow(const std::string& row, CorpusEntry& e);

// Exit status: 0 when every file passes, 1 when any fails, 2 when any could not be compared.
int runCorpus(const Options& o, const char* self);
int mergeCorpus(const Options& o);

}  // namespace compare
