#pragma once
// Runs the built corvina-cli and collects what it printed.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvina::test {

struct ToolRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

// Files the tool writes to instead of the captured Out or Err (/dev/full),
// and a settings folder that outlives the run.
struct ToolRedirect {
    std::string StdoutPath = {};
    std::string StderrPath = {};
    std::string ConfigHome = {};
};

// Limits of the tool's process, soft and hard alike; 0 keeps the inherited one.
struct ToolLimits {
    std::uint64_t StackBytes = 0;
    std::uint64_t OpenFiles = 0;
};

// unprivileged runs the tool as user and group 65534 through setpriv.
ToolRun RunTool(const std::vector<std::string>& args, bool unprivileged = false, const ToolRedirect& redirect = {},
                const ToolLimits& limits = {});

// The tool running in its own process while the test goes on: for several
// processes at once, and for stopping one in the middle of its work.
class RunningTool {
public:
    explicit RunningTool(const std::vector<std::string>& args);
    ~RunningTool();  // kills the process if it still runs
    RunningTool(const RunningTool&) = delete;
    RunningTool& operator=(const RunningTool&) = delete;

    // Waits until stderr holds text (false after the timeout or at its end).
    bool WaitForErr(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    void Signal(int signal) const;
    // Waits for the end and returns what it printed.
    ToolRun Finish();

private:
    pid_t pid_ = -1;
    int errFd_ = -1;
    std::string outPath_;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::string err_;
    bool ended_ = false;
};

// A tree of many entries made quickly: hard links to one file (a file
// system may stop at 65,000 links to one file).
void MakeLinkTree(const std::string& root, int dirs, int linksPerDir);

// True when the tests run as root and setpriv is there.
bool CanDropPrivileges();

}  // namespace corvina::test
