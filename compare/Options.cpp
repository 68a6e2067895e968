#include "Options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Signal.h"

namespace compare {

const char kUsage[] =
    "usage: ostrel-compare --input=FILE --decoded=PCM [--require=exact|full|limited|K] [--report=HTML]\n"
    "                      [--rate=HZ] [--channels=N] [--bits=8|9|16|17|24|32|33]\n";

const char kHelp[] = "Compares the PCM a decoder wrote (--decoded, raw or WAV) with FFmpeg's decode of the same\n"
                     "input (--input), aligned by cross-correlation, and tells the accuracy class reached.\n"
                     "\n"
                     "  --input=FILE      the file that was decoded; its suffix is read as ostrel reads it\n"
                     "  --decoded=PCM     the decoded output: raw PCM, or WAV with its header\n"
                     "  --require=CLASS   exact, full, limited, or a number K of bits (default: exact for lossless\n"
                     "                    and PCM inputs, full otherwise)\n"
                     "  --report=HTML     also writes a self-contained HTML report with pictures\n"
                     "  --rate=HZ         rate of a raw decoded file (default: the reference's)\n"
                     "  --channels=N      channels of a raw decoded file (default: the reference's)\n"
                     "  --bits=CODE       sample format of a raw decoded file, as ostrel's -b: 8 unsigned, 16 or 32\n"
                     "                    signed little-endian, 9, 17 or 33 signed big-endian, 24 packed signed\n"
                     "                    little-endian (default: the reference's word length)\n"
                     "  A headerless .pcm input is read with the same --rate, --channels and --bits (default\n"
                     "  48000 Hz, 2 channels, 16 bits, as ostrel's).\n"
                     "\n"
                     "Exit status: 0 when the required class holds, 1 when it does not, 2 on a usage or input error.\n";

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
        else if (name == "--report")
            o.report = value, ok = ok && *value;
        else if (name == "--require")
            ok = ok && (o.requireGiven = requirement(value, o.require));
        else if (name == "--rate")
            ok = ok && number(value, 1, 1000000, o.rate);
        else if (name == "--channels")
            ok = ok && number(value, 1, 64, o.channels);
        else if (name == "--bits") {
            SampleCoding coding;
            ok = ok && number(value, 8, 33, o.bitsCode) && SampleCoding::fromCode(o.bitsCode, coding);
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
