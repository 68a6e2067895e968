// The command line of ostrel-compare.
#pragma once

#include <string>
#include <vector>

namespace compare {

enum class Accuracy { None, Bits, Limited, Full, Exact };  // worst to best

// A class asked for: exact, full, limited, or at least K bits.
struct Requirement {
    Accuracy accuracy = Accuracy::Full;
    int k = 0;  // with Accuracy::Bits
};

struct Options {
    std::string input, decoded, reference, report, corpus;
    bool requireGiven = false;
    Requirement require;
    int rate = 0, channels = 0;                    // 0: taken from the reference or the WAV header
    int inputBitsCode = 0, decodedBitsCode = 0;    // of raw files; 0: the default of each side
    int jobs = 0, shardIndex = 1, shardCount = 1;  // of a corpus run; jobs 0: one per core
    bool merge = false, help = false;
    std::vector<std::string> files;  // the TSVs that --merge joins
};

// False with `error` set on a usage error.
bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error);

extern const char kUsage[];
extern const char kHelp[];

std::string describe(const Requirement& r);

}  // namespace compare
