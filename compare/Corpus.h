// A corpus run: one comparison per line of a list, each a run of this program with a report of
// its own, on all cores, and one summary page with a TSV beside it; or the TSVs of several
// slices of a corpus joined into one summary.
#pragma once

#include "Options.h"

namespace compare {

// Exit status: 0 when every file passes, 1 when any fails, 2 when any could not be compared.
int runCorpus(const Options& o, const char* self);
int mergeCorpus(const Options& o);

}  // namespace compare
