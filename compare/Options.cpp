#include "Options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Signal.h"

namespace compare {

const char kUsage[] =
    "usage: ostrel-compare --input=FILE --decoded=PCM [--reference=PCM] [--require=exact|full|limited|K]\n"
    "                      [--report=HTML] [--rate=HZ] [--channels=N] [--input-bits=CODE] [--decoded-bits=CODE]\n"
    "       ostrel-compare --corpus=LIST --report=DIR/index.html [--jobs=N] [--shard=I/N] [--require=CLASS]\n"
    "       ostrel-compare --merge --report=DIR/index.html SHARD.tsv...\n";

const char kHelp[] =
    "Compares the PCM a decoder wrote (--decoded, raw or WAV) with FFmpeg's decode of the same\n"
    "input (--input), aligned by cross-correlation, and tells the accuracy class reached.\n"
    "\n"
    "  --input=FILE      the file that was decoded; its suffix is read as ostrel reads it\n"
    "  --decoded=PCM     the decoded output: raw PCM, or WAV with its header\n"
    "  --reference=PCM   a reference decode (raw PCM or WAV) to hold the output against instead\n"
    "  --require=CLASS   exact, full, limited, or a number K of bits (default: exact for lossless\n"
    "                    and PCM inputs, full otherwise)\n"
    "  --report=HTML     also writes a self-contained HTML report with pictures\n"
    "  --rate=HZ         rate of raw files (default for a raw output: the reference's)\n"
    "  --channels=N      channels of raw files (default for a raw output: the reference's)\n"
    "                    A raw reference or .pcm input needs both, or a WAV output to give them.\n"
    "  --input-bits=CODE sample format of a raw reference or .pcm input (default 16), as ostrel's\n"
    "                    -b: 8 unsigned, 16 or 32 signed little-endian, 9, 17 or 33 signed\n"
    "                    big-endian, 24 packed signed little-endian\n"
    "  --decoded-bits=CODE  sample format of a raw decoded file (default: the reference's word length)\n"
    "  --corpus=LIST     compares every line of LIST: input, decoded file or a command that writes\n"
    "                    it ({out} in it names the file, else its standard output is taken), and\n"
    "                    an optional reference, separated by tabs (or spaces when there is no tab)\n"
    "  --jobs=N          comparisons at once in a corpus run (default: one per core)\n"
    "  --shard=I/N       runs the I-th of N slices of the corpus\n"
    "  --merge           joins the TSVs of shards given after the options into one summary\n"
    "\n"
    "Exit status: 0 when the required class holds, 1 when it does not, 2 on a usage or input error;\n"
    "of a corpus: 0 when all pass, 1 when any fails, 2 when any could not be compared.\n";

bool SampleCoding::fromCode(int code, SampleCoding& out) {
    switch (code) {
    case 8: out = {8, false, false}; return true;
    case 9: out = {8, true, false}; return true;
    case 16: out = {16, true, false}; return true;
    case 17: out = {16, true, true}; return true;
    case 24: out = {24, true, false}; return true;
    case 32: out = {32, true, false}; return true;
    case 33: out = {32, true, true}; return true;
    default: return false;
    }
}

namespace {

bool number(const char* text, long low, long high, int& out) {
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = int(value);
    return true;
}

bool requirement(const char* text, Requirement& r) {
    if (strcmp(text, "exact") == 0)
        r = {Accuracy::Exact, 0};
    else if (strcmp(text, "full") == 0)
        r = {Accuracy::Full, 0};
    else if (strcmp(text, "limited") == 0)
        r = {Accuracy::Limited, 0};
    else if (number(text, 1, 32, r.k))
        r.accuracy = Accuracy::Bits;
    else
        return false;
    return true;
}

}  // namespace

bool parseOptions(int argc, const char* const* argv, Options& o, std::string& error) {
    std::string seen;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            o.help = true;
            continue;
        }
        if (strcmp(arg, "--merge") == 0) {
            o.merge = true;
            continue;
        }
        if (strncmp(arg, "--", 2) != 0) {
            o.files.push_back(arg);
            continue;
        }
        const char* eq = strchr(arg, '=');
        const std::string name = eq != nullptr ? std::string(arg, size_t(eq - arg)) : arg;
        const char* value = eq != nullptr ? eq + 1 : "";
        if (seen.find(" " + name + " ") != std::string::npos) {
            error = name + " is given twice";
            return false;
        }
        seen += " " + name + " ";
        bool ok = eq != nullptr;
        if (name == "--input")
            o.input = value, ok = ok && *value;
        else if (name == "--decoded")
            o.decoded = value, ok = ok && *value;
        else if (name == "--reference")
            o.reference = value, ok = ok && *value;
        else if (name == "--report")
            o.report = value, ok = ok && *value;
        else if (name == "--corpus")
            o.corpus = value, ok = ok && *value;
        else if (name == "--jobs")
            ok = ok && number(value, 1, 1024, o.jobs);
        else if (name == "--shard") {
            const char* slash = strchr(value, '/');
            ok = ok && slash != nullptr && number(slash + 1, 1, 100000, o.shardCount) &&
                 number(std::string(value, size_t(slash - value)).c_str(), 1, o.shardCount, o.shardIndex);
        } else if (name == "--require")
            ok = ok && (o.requireGiven = requirement(value, o.require));
        else if (name == "--rate")
            ok = ok && number(value, 1, 1000000, o.rate);
        else if (name == "--channels")
            ok = ok && number(value, 1, 64, o.channels);
        else if (name == "--input-bits" || name == "--decoded-bits") {
            SampleCoding coding;
            int& code = name == "--input-bits" ? o.inputBitsCode : o.decodedBitsCode;
            ok = ok && number(value, 8, 33, code) && SampleCoding::fromCode(code, coding);
        } else {
            error = "unknown option " + name;
            return false;
        }
        if (!ok) {
            error = "bad value in " + std::string(arg);
            return false;
        }
    }
    if (o.help) return true;
    if (!o.files.empty() && !o.merge) {
        error = "unexpected argument " + o.files.front();
        return false;
    }
    if (o.merge || !o.corpus.empty()) {
        error = o.report.empty()             ? "--report=DIR/index.html is missing"
                : o.merge && o.files.empty() ? "--merge needs the shards' TSV files"
                                             : "";
        return error.empty();
    }
    if (o.input.empty() || o.decoded.empty()) {
        error = o.input.empty() ? "--input is missing" : "--decoded is missing";
        return false;
    }
    return true;
}

std::string describe(const Requirement& r) {
    switch (r.accuracy) {
    case Accuracy::Exact: return "exact";
    case Accuracy::Full: return "full";
    case Accuracy::Limited: return "limited";
    default: return "K=" + std::to_string(r.k);
    }
}

}  // namespace compare
