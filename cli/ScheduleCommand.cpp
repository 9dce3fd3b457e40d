// corvina-cli schedule: snapshots taken on a calendar by a systemd user timer.
// It writes a service that runs "corvina-cli snapshot" with the options given
// (and "corvina-cli prune" of the base path after it, when --keep-… is given)
// and a timer that starts it, into the user's unit folder
// ($XDG_CONFIG_HOME/systemd/user), and enables the timer when a user manager
// runs; otherwise it says how. With --system the units are the machine's,
// in /etc/systemd/system, and run as root into the database --db names
// (root's own default database is nobody's to look at). --remove takes a
// schedule away, --list shows them. One schedule per base path: the unit
// name is the path as systemd escapes it (shortened, with a hash of the path,
// when that is too long for a file name), so scheduling a path again
// replaces its schedule.
//
// Error policy: a usage error (no PATH, a PATH that is no directory, a bad
// size or calendar, a file of patterns that cannot be read, --system without
// --db) exits with 2; a unit file that cannot be written, a systemctl call
// that fails, or --system without root, is said on stderr and exits with 1.
// Files are written under a temporary name and renamed, so a failed write
// leaves the old schedule as it was.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "app/Startup.h"
#include "capture/SnapshotRun.h"
#include "cli/CliSupport.h"
#include "cli/ExclusionOptions.h"
#include "cli/Output.h"
#include "base/DisplayText.h"

extern char** environ;

namespace corvina::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUnitPrefix = "corvina-snapshot-";

struct ScheduleOptions {
    std::string Path;
    bool Daily = false;
    bool Weekly = false;
    std::string On;
    bool Files = false;
    std::string MinSize;
    std::string Db;
    std::string HostLabel;
    ExclusionOptions Exclusions;
    RetentionPolicy Keep;  // no rule: the history is kept whole
    bool Remove = false;
    bool List = false;
    bool System = false;  // the machine's units, run as root, rather than the user's
};

bool IsUnitNameByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
           c == '.';
}

// A path as systemd-escape --path writes it: outer slashes dropped, "/"
// between names as "-", every other byte but letters, digits, ":", "_" and a
// "." that does not lead as \xNN; the root is "-".
std::string EscapeUnitPath(std::string_view path) {
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    if (path.empty()) return "-";
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c == '/') {
            out += '-';
        } else if (IsUnitNameByte(c) && !(c == '.' && i == 0)) {
            out += static_cast<char>(c);
        } else {
            out += fmt::format("\\x{:02x}", c);
        }
    }
    return out;
}

// The longest unit name: with ".service" and the ".tmp" of the copy written
// first it must fit in a file name (255 bytes), and systemd takes no longer
// unit name either.
constexpr std::size_t kMaxUnitName = 255 - std::string_view(".service.tmp").size();

// 64-bit FNV-1a. Units already written are found again by this hash: it must
// never change.
std::uint64_t PathHash(std::string_view path) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : path) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// The unit name of a base path's schedule. A name too long to be a file
// name keeps its start, cut before an escape it would split, and ends in a
// hash of the whole path, so that two long paths with the same start stay
// apart. Names that fit stay as they have always been.
std::string UnitName(std::string_view basePath) {
    std::string name = std::string(kUnitPrefix) + EscapeUnitPath(basePath);
    if (name.size() <= kMaxUnitName) return name;
    const std::string hash = fmt::format("_{:016x}", PathHash(basePath));
    std::size_t keep = kMaxUnitName - hash.size();
    const std::size_t escape = name.rfind('\\', keep - 1);
    if (escape != std::string::npos && escape + 4 > keep) keep = escape;
    return name.substr(0, keep) + hash;
}

// One word of an ExecStart line, quoted so that systemd hands it over as
// given: "%" and "$" doubled (specifiers and variables), quotes and
// backslashes escaped, and bytes outside printable ASCII as \xNN, which
// systemd turns back into the same bytes.
std::string QuoteExecWord(std::string_view word) {
    std::string out = "\"";
    for (const char ch : word) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '%' || c == '$') {
            out.append(2, ch);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7f) {
            out += fmt::format("\\x{:02x}", c);
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// Free text of a unit file (Description): one line, printable, no specifiers.
std::string UnitText(std::string_view text) {
    std::string out;
    for (const char c : EscapeForDisplay(text)) {
        if (c == '%') out += '%';
        out += c;
    }
    return out;
}

constexpr std::string_view kSystemUnitFolder = "/etc/systemd/system";

// CORVINA_SYSTEM_UNIT_DIR puts the machine's units elsewhere, for a test or
// a package being built: the system manager does not read them there.
std::string SystemUnitFolder() {
    const char* folder = std::getenv("CORVINA_SYSTEM_UNIT_DIR");
    return folder != nullptr && folder[0] == '/' ? std::string(folder) : std::string(kSystemUnitFolder);
}

std::string UnitFolder(bool system) {
    if (system) return SystemUnitFolder();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return std::string(config) + "/systemd/user";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/systemd/user";
}

// A user manager answers on its private socket.
bool UserManagerRuns() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code error;
    return runtime != nullptr && runtime[0] == '/' &&
           fs::exists(fs::path(runtime) / "systemd" / "private", error);
}

// The system manager reads /etc/systemd/system, and runs where this folder
// exists (systemd's own test, sd_booted): a container often has none.
bool SystemManagerRuns() {
    std::error_code error;
    return SystemUnitFolder() == kSystemUnitFolder && fs::is_directory("/run/systemd/system", error);
}

bool ManagerRuns(bool system) { return system ? SystemManagerRuns() : UserManagerRuns(); }

// A systemctl command line for the user's manager or the machine's.
std::vector<std::string> Systemctl(bool system, std::initializer_list<std::string> args) {
    std::vector<std::string> line{"systemctl"};
    if (!system) line.emplace_back("--user");
    line.insert(line.end(), args);
    return line;
}

// Runs a program found on PATH with its output going where ours goes; its exit code, 127 when it could not start.
int RunProgram(const std::vector<std::string>& args, bool quiet = false) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    FlushOut();
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return 127;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

bool WriteUnitFile(const fs::path& path, const std::string& text) {
    const fs::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            PrintMessage("cannot write " + temporary.string());
            return false;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) PrintMessage("cannot write " + path.string() + ": " + error.message());
    return !error;
}

std::string Calendar(const ScheduleOptions& options) {
    if (!options.On.empty()) return options.On;
    return options.Weekly ? "weekly" : "daily";
}

std::string ServiceText(const ScheduleOptions& options, const std::string& basePath, const std::string& db) {
    std::vector<std::string> words{ProgramFolder() + "/corvina-cli", "snapshot", "--db", db};
    if (options.Files) words.insert(words.end(), {"--files", "--min-size", options.MinSize});
    if (!options.HostLabel.empty()) words.insert(words.end(), {"--host-label", options.HostLabel});
    // A file of patterns is read by every run, so that editing it changes
    // what the next run leaves out; the run starts elsewhere, so its path is absolute.
    for (const ExclusionArgument& argument : options.Exclusions.Given()) {
        switch (argument.From) {
            case ExclusionArgument::Source::Pattern: words.insert(words.end(), {"--exclude", argument.Text}); break;
            case ExclusionArgument::Source::FromFile: {
                std::error_code error;
                const fs::path file = fs::absolute(argument.Text, error);
                words.insert(words.end(), {"--exclude-from", error ? argument.Text : file.lexically_normal().string()});
                break;
            }
            case ExclusionArgument::Source::Caches: words.emplace_back("--exclude-caches"); break;
        }
    }
    words.insert(words.end(), {"--", basePath});
    const auto execLine = [](const std::vector<std::string>& line) {
        std::string exec;
        for (const std::string& word : line) exec += (exec.empty() ? "" : " ") + QuoteExecWord(word);
        return exec;
    };
    std::string exec = execLine(words);
    // A oneshot service runs its ExecStart lines in turn and stops at the
    // first that fails: a run that took no snapshot thins nothing.
    if (options.Keep.KeepsAnything()) {
        std::vector<std::string> prune{ProgramFolder() + "/corvina-cli", "prune"};
        const std::vector<std::string> keep = RetentionArguments(options.Keep);
        prune.insert(prune.end(), keep.begin(), keep.end());
        prune.insert(prune.end(), {"--path", basePath, "--db", db});
        // The runs' own snapshots, whatever other hosts share the database.
        if (!options.HostLabel.empty()) prune.insert(prune.end(), {"--host", options.HostLabel});
        exec += "\nExecStart=" + execLine(prune);
    }
    return "[Unit]\n"
           "Description=Corvina snapshot of " + UnitText(basePath) + "\n"
           "Documentation=man:corvina-cli(1)\n"
           "\n"
           "[Service]\n"
           "Type=oneshot\n"
           "ExecStart=" + exec + "\n"
           // A snapshot walks the whole tree: it gives way to what the user does.
           "Nice=10\n"
           "IOSchedulingClass=idle\n";
}

std::string TimerText(const ScheduleOptions& options, const std::string& basePath) {
    return "[Unit]\n"
           "Description=Corvina snapshot of " + UnitText(basePath) + ", " + UnitText(Calendar(options)) + "\n"
           "\n"
           "[Timer]\n"
           "OnCalendar=" + UnitText(Calendar(options)) + "\n"
           // A run missed while the machine was off happens at the next start.
           "Persistent=true\n"
           "RandomizedDelaySec=10min\n"
           "\n"
           "[Install]\n"
           "WantedBy=timers.target\n";
}

// A calendar expression systemd understands, where systemd-analyze is there to ask.
bool CalendarIsValid(const std::string& calendar) {
    const int rc = RunProgram({"systemd-analyze", "calendar", calendar}, true);
    return rc == 0 || rc == 127;
}

// A message naming a unit as it is, to be copied into a shell: a unit name
// holds letters, digits, ":_.-" and \xNN escapes only, nothing to escape
// again for display.
void SayOfUnit(const std::string& text) { WriteErr("corvina: " + text + "\n"); }

void SayHowToEnable(const std::string& timer, bool system) {
    if (!system) {
        PrintMessage("no systemd user manager runs in this session, so the timer is not enabled yet; once one runs:");
        SayOfUnit("  systemctl --user daemon-reload && systemctl --user enable --now '" + timer + "'");
        return;
    }
    if (SystemUnitFolder() != kSystemUnitFolder) {
        PrintMessage("the units are not in " + std::string(kSystemUnitFolder) +
                     ", so the timer is not enabled; once they are:");
    } else {
        PrintMessage("no systemd system manager runs here, so the timer is not enabled yet; once one runs:");
    }
    SayOfUnit("  systemctl daemon-reload && systemctl enable --now '" + timer + "'");
}

int Schedule(const ScheduleOptions& options) {
    const std::string basePath = NormalizeBasePath(options.Path);
    // The checks the scheduled run makes, made now: a path that is no
    // directory would fail every time, unseen.
    SnapshotRequest request;
    request.BasePath = basePath;
    request.Description = DefaultDescription(basePath, DateTime::Now());
    request.HostLabel = options.HostLabel;
    if (std::optional<RunMessage> refusal = CheckSnapshotInput(request)) {
        StderrPrompter prompter;
        ShowMessage(prompter, refusal->Text);
        return kExitUsage;
    }
    // A file of patterns that cannot be read now would fail every run.
    if (std::vector<Exclusion> exclusions;
        ReadExclusionArguments(options.Exclusions.Given(), exclusions) != kExitOk) {
        return kExitUsage;
    }
    if (!CalendarIsValid(Calendar(options))) {
        PrintMessage("not a calendar expression systemd understands: " + Calendar(options) +
                     " (examples: daily, weekly, Mon *-*-* 02:00)");
        return kExitUsage;
    }
    // A unit is a file others may read: a server's password stays out of it
    // (the scheduled run reads ~/.pgpass as any libpq program does).
    const std::string db = WithoutPassword(ResolveDatabasePath(options.Db));
    const fs::path folder = UnitFolder(options.System);
    std::error_code error;
    fs::create_directories(folder, error);
    const std::string name = UnitName(basePath);
    const bool replacing = fs::exists(folder / (name + ".timer"), error);
    if (!WriteUnitFile(folder / (name + ".service"), ServiceText(options, basePath, db)) ||
        !WriteUnitFile(folder / (name + ".timer"), TimerText(options, basePath))) {
        return kExitFailed;
    }
    SayOfUnit(std::string(replacing ? "replaced " : "wrote ") + name + ".service and " + name + ".timer");
    PrintMessage("in " + folder.string() + ": a snapshot of " + basePath + " (" + Calendar(options) + ") into " + db);
    const bool system = options.System;
    if (!ManagerRuns(system)) {
        SayHowToEnable(name + ".timer", system);
    } else if (RunProgram(Systemctl(system, {"daemon-reload"})) != 0 ||
               RunProgram(Systemctl(system, {"enable", "--now", name + ".timer"})) != 0) {
        SayOfUnit("systemctl could not enable " + name + ".timer");
        return kExitFailed;
    } else {
        SayOfUnit("enabled " + name + ".timer; systemctl " + (system ? "" : "--user ") +
                  "list-timers shows its next run");
    }
    if (!system) PrintMessage("a user's timers stop when the user logs out; loginctl enable-linger keeps them running");
    return kExitOk;
}

int Remove(const ScheduleOptions& options) {
    const std::string basePath = NormalizeBasePath(options.Path);
    const fs::path folder = UnitFolder(options.System);
    const std::string name = UnitName(basePath);
    std::error_code error;
    if (!fs::exists(folder / (name + ".timer"), error) && !fs::exists(folder / (name + ".service"), error)) {
        PrintMessage("no scheduled snapshot of " + basePath);
        return kExitFailed;
    }
    const bool manager = ManagerRuns(options.System);
    if (manager) RunProgram(Systemctl(options.System, {"disable", "--now", name + ".timer"}));
    bool removed = true;
    for (const char* suffix : {".timer", ".service"}) {
        fs::remove(folder / (name + suffix), error);
        removed = removed && !error;
    }
    if (!removed) {
        PrintMessage("cannot remove " + (folder / name).string() + ": " + error.message());
        return kExitFailed;
    }
    if (manager) RunProgram(Systemctl(options.System, {"daemon-reload"}));
    PrintMessage("removed the scheduled snapshot of " + basePath);
    return kExitOk;
}

// The value of the first "key=" line of a unit file.
std::string UnitValue(const fs::path& file, std::string_view key) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=') {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

std::string UndoubledPercent(std::string text) {
    for (std::size_t at = text.find("%%"); at != std::string::npos; at = text.find("%%", at + 1)) text.erase(at, 1);
    return text;
}

// One line per schedule: the timer, its calendar and the service's description.
int List(bool system) {
    const fs::path folder = UnitFolder(system);
    std::vector<std::string> timers;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(kUnitPrefix) && name.ends_with(".timer")) timers.push_back(name);
    }
    std::sort(timers.begin(), timers.end());
    if (timers.empty()) PrintMessage("no scheduled snapshots in " + folder.string());
    std::ostringstream out;
    for (const std::string& timer : timers) {
        const fs::path service = folder / (timer.substr(0, timer.size() - 6) + ".service");
        out << timer << '\t' << UnitValue(folder / timer, "OnCalendar") << '\t'
            << UndoubledPercent(UnitValue(service, "Description")) << '\n';
    }
    WriteOut(out.str());
    return kExitOk;
}

int RunSchedule(const ScheduleOptions& options) {
    if (options.List) return List(options.System);
    if (options.Path.empty()) {
        PrintMessage("schedule needs a PATH (or --list)");
        return kExitUsage;
    }
    if (options.System && !options.Remove && options.Db.empty()) {
        PrintMessage("schedule --system needs --db: the runs take their snapshots as root, and root's own "
                     "database is nobody's to look at");
        return kExitUsage;
    }
    if (options.System && ::geteuid() != 0) {
        PrintMessage("schedule --system writes into " + SystemUnitFolder() +
                     " and its runs take their snapshots as root: run it as root (sudo corvina-cli schedule ...)");
        return kExitFailed;
    }
    return options.Remove ? Remove(options) : Schedule(options);
}

}  // namespace

void AddScheduleCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<ScheduleOptions>();
    CLI::App* command = app.add_subcommand(
        "schedule", "Take snapshots of a directory on a calendar, through a systemd user timer (or a system one)");
    command->add_option("PATH", options->Path, "Directory to take the snapshots of");
    auto* daily = command->add_flag("--daily", options->Daily, "Every day (the default)");
    auto* weekly = command->add_flag("--weekly", options->Weekly, "Every Monday");
    auto* on = command->add_option("--on", options->On, "A systemd calendar expression: Mon..Fri *-*-* 02:00")
                   ->check(CLI::Validator(
                       [](std::string& text) { return text.empty() ? std::string("the calendar is empty") : ""; },
                       "CALENDAR"));
    daily->excludes(weekly)->excludes(on);
    weekly->excludes(on);
    command->add_flag("--files", options->Files, "Record a row for every file at or above --min-size");
    command->add_option("--min-size", options->MinSize, "Smallest file recorded: 0, 4096, 10K, 1.5M, 2G (default 0)")
        ->check(CLI::Validator([](std::string& text) { return ParseSize(text, nullptr); }, "SIZE"))
        ->default_val("0");
    AddDbOption(command, options->Db);
    AddHostLabelOption(command, options->HostLabel);
    options->Exclusions.AddTo(command);
    AddRetentionOptions(command, options->Keep);
    auto* remove = command->add_flag("--remove", options->Remove, "Take the schedule of PATH away");
    auto* list = command->add_flag("--list", options->List, "List the scheduled snapshots");
    remove->excludes(list);
    command->add_flag("--system", options->System,
                      "The machine's units, in " + std::string(kSystemUnitFolder) + " and run as root (needs --db)");
    command->callback([options, exitCode] { *exitCode = RunSchedule(*options); });
}

}  // namespace corvina::cli
