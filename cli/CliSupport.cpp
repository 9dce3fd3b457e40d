#include "cli/CliSupport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <QSettings>

#include "analysis/AnalysisSession.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "cli/Output.h"
#include "app/OpenDialogue.h"
#include "capture/SnapshotRun.h"
#include "store/Catalogue.h"
#include "store/HostLabel.h"
#include "base/PathStyle.h"
#include "report/StoreErrorReport.h"

namespace corvina::cli {

// A message keeps its own line breaks (the window program shows it in a box);
// continuation lines are indented, so that none passes for a message of its own.
Answer StderrPrompter::Ask(const Message& message) {
    if (message.MessageButtons == Buttons::YesNo) {
        // The tool never asks: the only question of the store is whether to
        // create a missing database, and a command needs one.
        WriteErr("corvina: " + EscapeEachLine(message.Text, "\n  ") + " Yes.\n");
        return Answer::Yes;
    }
    WriteErr("corvina: " + EscapeEachLine(message.Text, "\n  ") + "\n");
    return Answer::Ok;
}

bool DeleteWait::KeepWaiting(std::chrono::milliseconds waited) {
    if (!told_) PrintMessage(kWaitingForWriter);
    told_ = true;
    return waited < kDeleteWait;
}

std::string ResolveDatabasePath(const std::string& dbOption) {
    if (IsServerLocation(dbOption)) return dbOption;
    if (!dbOption.empty()) return std::filesystem::absolute(dbOption).lexically_normal().string();
    auto settings = OpenProgramSettings();
    return ResolveStartupDatabasePath(*settings, DefaultDatabaseFolder());
}

namespace {

// Refuses an empty value: "<what> is empty".
CLI::Validator NotEmpty(const std::string& what, const std::string& shown) {
    return CLI::Validator([what](std::string& text) { return text.empty() ? what + " is empty" : std::string(); },
                          shown);
}

}  // namespace

void AddDbOption(CLI::App* command, std::string& db) {
    command
        ->add_option("--db", db,
                     "Snapshot database file, or a PostgreSQL server's postgresql:// URI or keyword string "
                     "(default: the one the window program opens)")
        ->check(NotEmpty("the database file name", "FILE"));
}

void AddHostLabelOption(CLI::App* command, std::string& label) {
    command
        ->add_option("--host-label", label,
                     "Host the snapshot is recorded as taken on (default: this machine's name)")
        ->check(NotEmpty("the host label", "TEXT"));
}

void AddHostOption(CLI::App* command, std::string& host) {
    command
        ->add_option("--host", host,
                     "Read the snapshots of this host only (default: this machine's, in a database of several hosts)")
        ->check(NotEmpty("the host name", "NAME"));
}

namespace {

// The hosts of the database, each once, by name; "" for snapshots without a label.
std::vector<std::string> HostsOf(DatabaseState& state) {
    std::vector<BasePathHost> pairs;
    if (StoreError error = ListBasePathHosts(state, pairs); !error.Ok()) EndOnStoreError(state, error);
    std::vector<std::string> hosts;
    for (const BasePathHost& pair : pairs) hosts.push_back(pair.Hostname);
    std::sort(hosts.begin(), hosts.end());
    hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
    return hosts;
}

// The message, then each host on a line of its own, as --host takes it.
void PrintHosts(const std::string& message, const std::vector<std::string>& hosts) {
    PrintMessage(message);
    for (const std::string& name : hosts) WriteErr("  " + EscapeForDisplay(HostDisplayName(name)) + "\n");
}

}  // namespace

int ChooseHost(DatabaseState& state, const std::string& hostOption, std::optional<std::string>& host) {
    host.reset();
    bool several = false;
    if (StoreError error = HoldsSeveralHosts(state, several); !error.Ok()) EndOnStoreError(state, error);
    std::vector<std::string> hosts = HostsOf(state);
    if (!several) {
        // One labelled host: its unlabelled snapshots are its own too.
        std::erase(hosts, std::string());
        if (hostOption.empty() || hosts.empty() || hosts.front() == hostOption) return kExitOk;
        PrintHosts("no snapshot of host " + EscapeForDisplay(hostOption) + " in the snapshot database; its host:",
                   hosts);
        return kExitFailed;
    }
    if (!hostOption.empty()) {
        if (std::find(hosts.begin(), hosts.end(), hostOption) != hosts.end()) {
            host = hostOption;
            return kExitOk;
        }
        PrintHosts("no snapshot of host " + EscapeForDisplay(hostOption) + " in the snapshot database; its hosts:",
                   hosts);
        return kExitFailed;
    }
    const std::string machine = MachineName();
    if (!machine.empty() && std::find(hosts.begin(), hosts.end(), machine) != hosts.end()) {
        host = machine;
        return kExitOk;
    }
    PrintHosts("the snapshot database holds the snapshots of several hosts and none of this machine (" +
                   EscapeForDisplay(HostDisplayName(machine)) + "); name one with --host:",
               hosts);
    return kExitUsage;
}

namespace {
std::string gLastDatabasePath;  // one command per process
}  // namespace

const std::string& LastDatabasePath() { return gLastDatabasePath; }

int OpenForCommand(DatabaseState& state, const std::string& dbOption, StderrPrompter& prompter, OpenMode mode) {
    const std::string path = ResolveDatabasePath(dbOption);
    gLastDatabasePath = WithoutPassword(path);
    state.DatabasePath = path;
    // One command, then the process ends: its reads need not map the file.
    state.MapLongReads = false;
    // A server's notices are said as the tool's own messages are, escaped:
    // a trigger's text could otherwise retitle or clear the terminal.
    state.ServerNotices = [](std::string_view text) {
        WriteErr("corvina: server: " + EscapeEachLine(text, "\n  ") + "\n");
    };
    ThrowingEnder ender;
    OpenOutcome outcome = OpenSnapshotDatabase(state, prompter, ender, mode);
    if (outcome == OpenOutcome::Missing) {
        PrintMessage("No snapshot database at " + path);
        return kExitFailed;
    }
    if (outcome == OpenOutcome::Created) {
        PrintMessage("created snapshot database " + state.DatabasePath);
    }
    return state.DatabasePath.empty() ? kExitFailed : kExitOk;
}

void EndOnStoreError(const DatabaseState& state, const StoreError& error) {
    PrintMessage(StoreErrorText(state.DatabasePath, error));
    throw ProgramEnd{kExitFailed};
}

bool Succeeded(const DatabaseState& state, Prompter& prompter, const StoreError& error) {
    if (!error.Ok()) ReportStoreError(prompter, state.DatabasePath, error);
    return error.Ok();
}

std::optional<DateTime> ResolveKey(DatabaseState& state, const std::string& text,
                                   const std::optional<std::string>& host) {
    if (text != "latest") return DateTime::Parse(text);
    std::optional<DateTime> latest;
    std::optional<std::string_view> hostView;
    if (host) hostView = *host;
    if (StoreError error = LatestSnapshot(state, latest, {}, hostView); !error.Ok()) EndOnStoreError(state, error);
    return latest;
}

// A key from the command line, or the exit code of why not.
int ReadKey(DatabaseState& state, const std::string& text, DateTime& key, const std::optional<std::string>& host) {
    std::optional<DateTime> parsed = ResolveKey(state, text, host);
    if (parsed) {
        key = *parsed;
        return kExitOk;
    }
    if (text == "latest") {
        PrintMessage("the snapshot database holds no snapshot");
        return kExitFailed;
    }
    PrintMessage("not a snapshot key: " + text + " (expected yyyy-MM-dd HH:mm:ss or latest)");
    return kExitUsage;
}

int CheckKeySyntax(const std::string& text, std::string_view option, bool previousToo) {
    if (text == "latest" || (previousToo && text == "previous") || DateTime::Parse(text)) return kExitOk;
    PrintMessage((option.empty() ? "" : std::string(option) + ": ") + "not a snapshot key: " + text +
                 (previousToo ? " (expected yyyy-MM-dd HH:mm:ss, latest or previous)"
                              : " (expected yyyy-MM-dd HH:mm:ss or latest)"));
    return kExitUsage;
}

int ChooseCompareOption(DatabaseState& state, AnalysisSession& session, const std::string& option) {
    const std::string primeBase = session.PrimeInfo().InfoBasePath;
    std::optional<DateTime> compare;
    if (option != "previous") {
        compare = ResolveKey(state, option);
    } else if (!session.PreviousSnapshot(compare).Ok()) {
        return kExitFailed;
    }
    bool found = false;
    if (compare && !session.HasSnapshot(*compare, found).Ok()) return kExitFailed;
    if (!found) {
        PrintMessage(option == "previous" ? "no earlier snapshot of " + primeBase + " to compare with"
                                          : "no snapshot \"" + option + "\" in the database");
        return kExitFailed;
    }
    CompareChoice choice = session.ChooseCompare(*compare);
    if (!choice.Error.Ok()) return kExitFailed;
    if (!choice.Chosen) {
        PrintMessage("snapshot " + FormatKey(*compare) + " is of " + choice.BasePath + ", not of " + primeBase);
        return kExitFailed;
    }
    return kExitOk;
}

void PrintRemovalFailure(const DatabaseState& state, const StoreError& error, const std::string& busyTail,
                         const std::string& failedLead) {
    if (error.IsDamaged()) {
        PrintMessage(DamagedDatabaseText(state.DatabasePath, error.Reason));
    } else if (error.IsBusy()) {
        PrintMessage(BusyDatabaseText(state.DatabasePath) + busyTail);
    } else if (error.Code == StoreCode::OtherHost) {
        PrintMessage(error.Reason + busyTail);
    } else {
        PrintMessage(failedLead + error.Details());
    }
}

bool HasSnapshot(DatabaseState& state, const DateTime& key) {
    bool exists = false;
    if (StoreError error = SnapshotExists(state, key, exists); !error.Ok()) EndOnStoreError(state, error);
    return exists;
}

std::string NormalizeBasePath(const std::string& path) {
    std::error_code error;
    std::string text = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error) return path;
    return std::string(WithoutTrailingSeparators(text, PathStyle::Posix));
}

namespace {

// The bytes a size suffix stands for: K, M, G or T, each 1024 times the one
// before, alone or followed by B or iB (1G, 1GB and 1GiB are all 1024^3, as
// the sizes shown are), or B alone; 0 for no suffix I know.
double SuffixBytes(std::string suffix) {
    for (char& c : suffix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (suffix.empty() || suffix == "B") return 1;
    const std::string_view units = "KMGT";
    const std::size_t step = units.find(suffix.front());
    const std::string_view rest = std::string_view(suffix).substr(1);
    if (step == std::string_view::npos || !(rest.empty() || rest == "B" || rest == "IB")) return 0;
    return std::ldexp(1.0, 10 * static_cast<int>(step + 1));
}

}  // namespace

std::string ParseSize(const std::string& text, std::int64_t* bytes) {
    if (text.empty()) return "empty size";
    const std::size_t end = text.find_first_not_of("0123456789.");
    const std::string number = text.substr(0, end);
    const double unit = SuffixBytes(end == std::string::npos ? "" : text.substr(end));
    if (number.empty() || number == "." || number.find('.') != number.rfind('.') || unit == 0) {
        return "not a size: " + text + " (examples: 0, 4096, 10K, 1.5M, 2G)";
    }
    double value = std::strtod(number.c_str(), nullptr) * unit;
    double rounded = std::nearbyint(value);  // the default rounding mode: half to even
    if (!(rounded < 9.0e18)) return "size too large: " + text;
    if (bytes != nullptr) *bytes = static_cast<std::int64_t>(rounded);
    return {};
}

}  // namespace corvina::cli
