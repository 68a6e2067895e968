// The command line of ostrel-compare.
#pragma once

#include <string>

namespace compare {

enum class Accuracy { None, Bits, Limited, Full, Exact };  // worst to best

// A class asked for: exact, full, limited, or at least K bits.
struct Requirement {
    Accuracy accuracy = Accuracy::Full;
    int k = 0;  // with Accuracy::Bits
};

struct Options {
    std::string input, decoded, report;
    bool requireGiven = false;
    Requirement require;
    int rate = 0, channels = 0, bitsCode = 0;  // 0: taken from the reference or the WAV header
    bool help = false;
};

// False with `error` set on a usage error.
bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error);

extern const char kUsage[];
extern const char kHelp[];

std::string describe(const Requirement& r);

}  // namespace compare
