// Several tool runs at once: a run spends most of its time in its fixed waits, so runs overlap.
#pragma once

#include <functional>
#include <future>
#include <vector>

#include "ToolRunner.h"

namespace blackbox {

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
