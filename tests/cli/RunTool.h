#pragma once
// Runs the built corvina-cli and collects what it printed.

#include <cstdint>
#include <string>
#include <vector>

namespace corvina::test {

struct ToolRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

// Files the tool writes to instead of the captured Out or Err (/dev/full).
struct ToolRedirect {
    std::string StdoutPath = {};
    std::string StderrPath = {};
};

// Limits of the tool's process, soft and hard alike; 0 keeps the inherited one.
struct ToolLimits {
    std::uint64_t StackBytes = 0;
    std::uint64_t OpenFiles = 0;
};

// unprivileged runs the tool as user and group 65534 through setpriv.
ToolRun RunTool(const std::vector<std::string>& args, bool unprivileged = false, const ToolRedirect& redirect = {},
                const ToolLimits& limits = {});

// True when the tests run as root and setpriv is there.
bool CanDropPrivileges();

}  // namespace corvina::test
