#pragma once
// Runs the built corvina-cli in its own process and collects what it printed.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/SnapshotRows.h"  // Query, for what a run left in a database file
#include "tests/support/TempDir.h"      // ReadFile, for what a run left in a file

namespace corvina::test {

struct ToolRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

struct ToolOptions {
    bool Unprivileged = false;  // runs as user and group 65534 through setpriv
    std::string StdinPath = "/dev/null";  // what the tool reads as its input
    // Files written instead of the captured Out or Err (/dev/full), and a
    // settings folder that outlives the run.
    std::string StdoutPath = {};
    std::string StderrPath = {};
    std::string ConfigHome = {};
    // Limits of the process, soft and hard alike; 0 keeps the inherited one.
    std::uint64_t StackBytes = 0;
    std::uint64_t OpenFiles = 0;
};

// The tool running while the test goes on: for several processes at once,
// and for stopping one in the middle of its work.
class RunningTool {
public:
    explicit RunningTool(const std::vector<std::string>& args, const ToolOptions& options = {});
    ~RunningTool();  // kills the process if it still runs
    RunningTool(const RunningTool&) = delete;
    RunningTool& operator=(const RunningTool&) = delete;

    // Waits until stderr holds text (false at its end, or after WaitUntil's timeout).
    bool WaitForErr(const std::string& text);
    // Waits until the process has ended (false after the timeout), leaving it to Finish.
    bool WaitForEnd();
    void Signal(int signal) const;
    // Waits for the end and returns what it printed (exit code 128 + signal
    // when a signal ended it).
    ToolRun Finish();

private:
    bool Ended() const;  // the process has ended (it stays to be waited for)

    std::string dir_;  // the run's own folder: stdout, stderr, HOME and settings
    pid_t pid_ = -1;
};

inline ToolRun RunTool(const std::vector<std::string>& args, const ToolOptions& options = {}) {
    return RunningTool(args, options).Finish();
}
// The arguments with "--db db" at the end.
inline std::vector<std::string> WithDb(std::vector<std::string> args, const std::string& db) {
    args.insert(args.end(), {"--db", db});
    return args;
}
inline ToolRun RunOn(const std::string& db, const std::vector<std::string>& args, const ToolOptions& options = {}) {
    return RunTool(WithDb(args, db), options);
}
// RunTool and RunOn for a run that must succeed: any other exit code fails
// the test, naming the command and what it said on stderr.
ToolRun RunOk(const std::vector<std::string>& args, const ToolOptions& options = {});
inline ToolRun RunOkOn(const std::string& db, const std::vector<std::string>& args, const ToolOptions& options = {}) {
    return RunOk(WithDb(args, db), options);
}

// Starts count runs of args at once and waits for them all, each of which
// must succeed; the keys their summary lines begin with.
std::set<std::string> KeysOfRunsAtOnce(const std::vector<std::string>& args, int count);

// A tree of many entries made quickly: hard links to one file (a file
// system may stop at 65,000 links to one file).
void MakeLinkTree(const std::string& root, int dirs, int linksPerDir);

// True when the tests run as root and setpriv is there.
bool CanDropPrivileges();

// Folds a database file's write-ahead log into the file and empties it, so
// that the log's size shows what the next run writes.
void EmptyLog(const std::string& db);
// Waits until done() holds, looking every few milliseconds (false after the
// timeout: only a hung run takes that long).
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::minutes(1));
// True while another connection holds the database file's write lock: a
// write transaction of ours is refused at once.
bool WriteLockHeld(const std::string& db);

// Every row of a query on a database file or a server's, as Query gives a file's.
std::string RowsAt(const std::string& location, const std::string& sql);

// The text up to the first tab: the key in a snapshot's summary or list line.
inline std::string FirstField(const std::string& line) { return line.substr(0, line.find('\t')); }

}  // namespace corvina::test
