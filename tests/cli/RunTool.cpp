#include "tests/cli/RunTool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <thread>

#include "store/DatabaseState.h"
#include "tests/support/ServerSchema.h"
#include "tests/support/TempDir.h"

namespace corvina::test {
namespace {

// In the child before exec; a limit that cannot be set ends the child with 126.
void LimitChild(int resource, std::uint64_t value) {
    if (value == 0) return;
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(value);
    if (::setrlimit(resource, &limit) != 0) ::_exit(126);
}

}  // namespace

ToolRun RunOk(const std::vector<std::string>& args, const ToolOptions& options) {
    ToolRun run = RunTool(args, options);
    if (run.ExitCode != 0) {
        std::string command = "corvina-cli";
        for (const std::string& arg : args) command += " " + arg;
        ADD_FAILURE() << command << ": exit " << run.ExitCode << "\n" << run.Err;
    }
    return run;
}

std::set<std::string> KeysOfRunsAtOnce(const std::vector<std::string>& args, int count) {
    std::list<RunningTool> runs;
    for (int i = 0; i < count; ++i) runs.emplace_back(args);
    std::set<std::string> keys;
    for (RunningTool& run : runs) {
        const ToolRun done = run.Finish();
        EXPECT_EQ(done.ExitCode, 0) << done.Err;
        keys.insert(FirstField(done.Out));
    }
    return keys;
}

void MakeLinkTree(const std::string& root, int dirs, int linksPerDir) {
    std::filesystem::create_directories(root);
    WriteFile(root + "/origin", "0123456789");
    for (int d = 0; d < dirs; ++d) {
        std::string sub = root + "/directory-" + std::to_string(d);
        ::mkdir(sub.c_str(), 0755);
        for (int i = 0; i < linksPerDir; ++i) {
            ::link((root + "/origin").c_str(), (sub + "/a-file-with-a-longer-name-" + std::to_string(i)).c_str());
        }
    }
}

std::string RowsAt(const std::string& location, const std::string& sql) {
    if (!IsServerLocation(location)) return Query(location, sql);
    std::string rows = RunOnServer(location, sql);
    if (!rows.empty()) rows.pop_back();
    std::replace(rows.begin(), rows.end(), '\n', ',');
    return rows;
}

bool CanDropPrivileges() { return ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0; }

void EmptyLog(const std::string& db) {
    SQLite::Database file(db, SQLite::OPEN_READWRITE);
    file.exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    for (const auto end = std::chrono::steady_clock::now() + timeout; !done();) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool WriteLockHeld(const std::string& db) {
    SQLite::Database file(db, SQLite::OPEN_READWRITE);
    file.setBusyTimeout(0);
    try {
        file.exec("BEGIN IMMEDIATE");
    } catch (const SQLite::Exception& e) {
        return e.getErrorCode() == SQLITE_BUSY;
    }
    file.exec("ROLLBACK");
    return false;
}

RunningTool::RunningTool(const std::vector<std::string>& args, const ToolOptions& options) {
    char pattern[] = "/tmp/corvina-run-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    ::chmod(dir_.c_str(), 0777);  // an unprivileged run writes its settings here
    std::vector<std::string> argv;
    if (options.Unprivileged) argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    argv.push_back(CORVINA_CLI_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string streams[] = {options.StdinPath, options.StdoutPath.empty() ? dir_ + "/out" : options.StdoutPath,
                                   options.StderrPath.empty() ? dir_ + "/err" : options.StderrPath};

    pid_ = ::fork();
    if (pid_ == 0) {
        for (int target = 0; target < 3; ++target) {
            const int fd = ::open(streams[target].c_str(), target == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0666);
            ::dup2(fd, target);
            // Not inherited by the tool, where it would count against its descriptor limit.
            if (fd > 2) ::close(fd);
        }
        LimitChild(RLIMIT_STACK, options.StackBytes);
        LimitChild(RLIMIT_NOFILE, options.OpenFiles);
        // Each run gets its own settings folder, so that no test reads or
        // writes the user's recent list.
        ::setenv("XDG_CONFIG_HOME", (options.ConfigHome.empty() ? dir_ + "/config" : options.ConfigHome).c_str(), 1);
        ::setenv("HOME", dir_.c_str(), 1);
        std::vector<char*> cargs;
        for (auto& a : argv) cargs.push_back(a.data());
        cargs.push_back(nullptr);
        ::execv(cargs[0], cargs.data());
        ::_exit(127);
    }
}

RunningTool::~RunningTool() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::kill(pid_, SIGCONT);
        Finish();
    }
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool RunningTool::Ended() const {
    siginfo_t info{};
    return pid_ <= 0 || ::waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
}

bool RunningTool::WaitForErr(const std::string& text) {
    bool said = false;
    WaitUntil([&] {
        // Whether the run has ended is asked before its text is read, so that
        // an ended run's text is read in full. The process is left to Finish.
        const bool ended = Ended();
        said = ReadFile(dir_ + "/err").find(text) != std::string::npos;
        return said || ended;
    });
    return said;
}

bool RunningTool::WaitForEnd() {
    return WaitUntil([this] { return Ended(); });
}

void RunningTool::Signal(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
}

ToolRun RunningTool::Finish() {
    ToolRun run;
    if (pid_ <= 0) return run;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.Out = ReadFile(dir_ + "/out");
    run.Err = ReadFile(dir_ + "/err");
    return run;
}

}  // namespace corvina::test
