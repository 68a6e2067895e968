// Runs the built tool as a user would and collects what it did.
#pragma once

#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "Reference.h"

namespace blackbox {

// Reference decodes and comparisons serve the black-box tests too.
using testsupport::comparePcm;
using testsupport::ffmpegDecode;
using testsupport::PcmMatch;
using testsupport::readUnits;
using testsupport::shell;

struct ToolRun {
    ToolRun(std::vector<std::string> words, std::vector<std::pair<std::string, std::string>> vars = {})
        : args(std::move(words)), env(std::move(vars)) {}

    std::vector<std::string> args;                         // without the program name
    std::vector<std::pair<std::string, std::string>> env;  // added to the environment
    std::vector<std::string> prefix;                       // a wrapper command, if any
    std::string program;                                   // another program than ostrel
    int timeoutSeconds = 120;
    // > 0: the run may write files of at most this many bytes (RLIMIT_FSIZE).
    long fileSizeLimit = 0;
    // When set, `signal` is sent once standard output contains `trigger`, and signalDelayMs later.
    std::string trigger;
    int signal = 0;
    int signalDelayMs = 0;
    int resumeAfterMs = 0;  // > 0: SIGCONT this long after the signal (a SIGSTOP)
    // Standard output goes to a file that is collected, or is closed (standard input too), or is
    // a pipe that nobody reads.
    enum class Stdout { Collected, Closed, BrokenPipe } stdoutTo = Stdout::Collected;
};

struct ToolResult {
    int exitCode = -1;   // exit status, or -1 when ended by a signal
    int termSignal = 0;  // the signal that ended it
    bool timedOut = false;
    bool signalSent = false;
    std::string out;
    std::string err;
};

ToolResult runTool(const ToolRun& run);

// The words of `line`, split at spaces: the arguments of a run, written as a user types them.
std::vector<std::string> words(const std::string& line);

// The prefix that runs the tool as nobody, with `caps` (setpriv's form: "-all", "+sys_nice") as
// its inheritable and ambient capabilities. Where nobody cannot reach the build (a clone in root's
// home), CAP_DAC_READ_SEARCH is added: it lets the loader through, and refuses no write less.
std::vector<std::string> asNobody(const std::string& caps);

// The main thread's lines: the reader thread's own lines (empty-read warnings, the output
// description and changes of the decoded audio, which changeLines keeps) are dropped and repeated waiting lines counted
// once, so that the rest can be compared exactly whatever the timing.
std::string mainThreadLines(const std::string& out);
const char kChangeLine[] = "[AST][WRN]Decoded audio changes";
std::string changeLines(const std::string& out);

// The lines every decode starts with.
std::string argsLines(const std::string& decodeFile, const std::string& saveFile,
                      const std::string& progressName = "example0", const std::string& name = "decoder0");

extern const char kThreadLines[];  // the reader thread's mutex and thread creation
// The WAV reader's summary: its title ("parseWavHeader" or "PCM format") and fields.
std::string wavReaderLines(const char* title, uint32_t rate, uint32_t channelMap, uint32_t bitDepth,
                           int64_t headerLength);
std::string helpText();  // the help, as the tool prints it

// Several runs at once: a run spends most of its time in its fixed waits, so runs overlap.
inline std::vector<ToolResult> runTools(const std::vector<ToolRun>& runs) {
    std::vector<std::future<ToolResult>> pending;
    for (const ToolRun& run : runs) pending.push_back(std::async(std::launch::async, runTool, std::cref(run)));
    std::vector<ToolResult> results;
    for (std::future<ToolResult>& p : pending) results.push_back(p.get());
    return results;
}

#ifdef OSTREL_COMPARE_BINARY
inline std::vector<ToolResult> compare(const std::vector<std::vector<std::string>>& argumentLists) {
    std::vector<ToolRun> runs;
    for (const auto& args : argumentLists) {
        runs.emplace_back(args);
        runs.back().program = OSTREL_COMPARE_BINARY;
    }
    return runTools(runs);
}

// The verdict line's text, or else the first line of standard error.
inline std::string verdict(const ToolResult& r) {
    const size_t at = r.out.find("\nverdict   ");
    if (at != std::string::npos) return r.out.substr(at + 11, r.out.find('\n', at + 1) - at - 11);
    return r.err.substr(0, r.err.find('\n'));
}
#endif

}  // namespace blackbox
