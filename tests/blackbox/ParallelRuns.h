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

}  // namespace blackbox
