#pragma once
// What every command of corvina-cli shares: the database it works on, a
// prompter that prints to stderr and never asks, and the exit codes.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/DateTime.h"
#include "base/Prompter.h"
#include "store/Retention.h"
#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {
class AnalysisSession;
}

namespace corvina::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// alert's every failure, its usage too, as monitoring plugins exit.
inline constexpr int kExitUnknown = 3;

// Prints messages as "corvina: <text>" lines on stderr. Questions are answered
// Yes without asking (the tool runs unattended); the line says what was done.
class StderrPrompter : public Prompter {
public:
    Answer Ask(const Message& message) override;
};

// The program ends by throwing this, so that main unwinds and closes the
// database before it exits with the code.
struct ProgramEnd {
    int ExitCode;
};
class ThrowingEnder : public ProgramEnder {
public:
    void EndProgram(int exitCode) override { throw ProgramEnd{exitCode}; }
};

// The database the window program would open: --db when given, else the first
// recent entry, else the default location (then stored as the first recent
// entry, as the window program does).
std::string ResolveDatabasePath(const std::string& dbOption);

// Adds --db: a file name, never empty (an empty one would silently mean the
// default database).
void AddDbOption(CLI::App* command, std::string& db);
// Adds --host-label: never empty (a snapshot's label is this machine's name
// unless given).
void AddHostLabelOption(CLI::App* command, std::string& label);

// Adds --host: the host whose snapshots a command reads; never empty.
void AddHostOption(CLI::App* command, std::string& host);

// The host a command that reads snapshots keeps to, its latest and previous
// included: nullopt in a database of one host, which reads as it always has
// (a --host that names another is refused). In a database of several, the
// host given, else this machine's when it has snapshots there; never
// silently another machine's: without --host and without snapshots of this
// machine the hosts are listed and kExitUsage returned. Returns the exit code.
int ChooseHost(DatabaseState& state, const std::string& hostOption, std::optional<std::string>& host);

// Opens the database for a command: CreateWhenMissing for the commands that
// write (a line on stderr says when a file was created), ExistingOnly for the
// others ("No snapshot database at X" when there is none). A server's notices
// go to stderr, escaped, as "corvina: server: ..." lines. Returns the exit
// code; on kExitOk the state is open and usable.
int OpenForCommand(DatabaseState& state, const std::string& dbOption, StderrPrompter& prompter,
                   OpenMode mode = OpenMode::ExistingOnly);

// The database the last OpenForCommand resolved, for messages about it.
const std::string& LastDatabasePath();

// An absolute path without a trailing separator ("/" stays "/"), as the
// snapshot command stores it in Basepath; the path as given when it cannot be
// made absolute.
std::string NormalizeBasePath(const std::string& path);

// Lookups of the commands. A command has nothing left to do after a failure
// of the database: it is said (the damaged-file text for a damaged file,
// else "Error: <code> <reason>") and the command ends with kExitFailed, by
// throwing ProgramEnd.
[[noreturn]] void EndOnStoreError(const DatabaseState& state, const StoreError& error);
// A failure a command goes on after, or ends with its own exit code: said
// through the prompter as the window program says it (a missing snapshot as
// "Snapshot <date> not found"). True when there was none.
bool Succeeded(const DatabaseState& state, Prompter& prompter, const StoreError& error);

// Reads a snapshot key: the general date-time text, or "latest" (the newest
// snapshot of the database in time, of host when given: see ChooseHost).
std::optional<DateTime> ResolveKey(DatabaseState& state, const std::string& text,
                                   const std::optional<std::string>& host = {});
// ResolveKey, or the exit code of why not, told: no snapshot for "latest",
// bad usage for a text that is no key.
int ReadKey(DatabaseState& state, const std::string& text, DateTime& key, const std::optional<std::string>& host = {});
// A key that cannot be one is bad usage, whatever the database holds: told
// (naming the option, when it came from one) before the database is opened.
// kExitOk when text is a date-time key, "latest", or "previous" where
// previousToo; else kExitUsage.
int CheckKeySyntax(const std::string& text, std::string_view option = {}, bool previousToo = false);
// Makes the snapshot --compare names the session's compare snapshot: a key,
// or "previous", the newest earlier snapshot of the prime snapshot's base
// path. One that is missing or of another base path is said, and kExitFailed
// returned; so is a failure of the database, which the session has told.
int ChooseCompareOption(DatabaseState& state, AnalysisSession& session, const std::string& option);

// A delete or a prune waits for a snapshot being written, up to a minute,
// and says so once.
class DeleteWait final : public LockWait {
public:
    bool KeepWaiting(std::chrono::milliseconds waited) override;

private:
    bool told_ = false;
};

// Says why a delete or a prune removed nothing: damage as damage, another
// program's write as busy and another host's snapshot as the store words it
// (each followed by busyTail), anything else after failedLead with the
// store's details.
void PrintRemovalFailure(const DatabaseState& state, const StoreError& error, const std::string& busyTail,
                         const std::string& failedLead);

// Whether a snapshot of this key is in the database.
bool HasSnapshot(DatabaseState& state, const DateTime& key);

// SIZE as 0, 4096, 10K, 1.5M, 2G, 1GiB: K is 1024, M 1024 * 1024 and so on
// to T, with or without B or iB after the letter; a fraction of a byte
// rounds half to even. Empty text when the value is fine, else why not.
std::string ParseSize(const std::string& text, std::int64_t* bytes);

// Each command adds itself to the app; its callback stores its exit code in *exitCode.

void AddCheckCommand(CLI::App& app, int* exitCode);
void AddSnapshotCommand(CLI::App& app, int* exitCode);
void AddListCommand(CLI::App& app, int* exitCode);
void AddInfoCommand(CLI::App& app, int* exitCode);
void AddDeleteCommand(CLI::App& app, int* exitCode);
void AddAnalyseCommand(CLI::App& app, int* exitCode);
void AddGrowthCommand(CLI::App& app, int* exitCode);
void AddTrendCommand(CLI::App& app, int* exitCode);
void AddScheduleCommand(CLI::App& app, int* exitCode);
void AddCompactCommand(CLI::App& app, int* exitCode);
void AddPruneCommand(CLI::App& app, int* exitCode);
void AddHostsCommand(CLI::App& app, int* exitCode);
void AddHostRoleCommand(CLI::App& app, int* exitCode);
void AddAlertCommand(CLI::App& app, int* exitCode);
void AddImportCommand(CLI::App& app, int* exitCode);
void AddExportCommand(CLI::App& app, int* exitCode);
void AddBrowseCommand(CLI::App& app, int* exitCode);

// --keep-last, --keep-daily, --keep-weekly, --keep-monthly and --keep-yearly,
// each a count from 1 up, for prune and for the prune step of a schedule;
// --keep-last from 0 where lastMayBeZero (prune retires a host so).
void AddRetentionOptions(CLI::App* command, RetentionPolicy& policy, bool lastMayBeZero = false);
// The options that give policy again, for a command line of its own.
std::vector<std::string> RetentionArguments(const RetentionPolicy& policy);

// Runs the tool; returns the exit code.
int RunCli(int argc, char** argv);

}  // namespace corvina::cli
