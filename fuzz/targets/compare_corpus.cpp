// ostrel-compare's corpus list and summary rows: every line of the input read as both.
#include <algorithm>
#include <string>

#include "Corpus.h"

using namespace compare;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        CorpusEntry listed, summarized;
        parseCorpusLine(line, listed);
        parseSummaryRow(line, summarized);
        at = end + 1;
    }
    return 0;
}
