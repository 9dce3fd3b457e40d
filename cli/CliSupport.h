#pragma once
// What every command of corvina-cli shares: the database it works on, a
// prompter that prints to stderr and never asks, and the exit codes.

#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "store/DateTime.h"
#include "store/Prompter.h"
#include "store/SnapshotDatabase.h"

namespace corvina::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

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
// recent entry, else the default location.
std::string ResolveDatabasePath(const std::string& dbOption);

// Opens (creating it when missing, with a line on stderr) the database for a
// command. Returns nullopt-equivalent exit code when it cannot be used.
// On success, state is open and usable.
int OpenForCommand(DatabaseState& state, const std::string& dbOption, StderrPrompter& prompter);

// Reads a snapshot key: the general date-time text, or "latest" (the newest
// snapshot of the database).
std::optional<DateTime> ResolveKey(DatabaseState& state, const std::string& text);

// Shared state of one invocation: the subcommand sets Run to the action.
struct CliContext {
    std::string DbOption;
};

// Each command adds itself to the app; its callback stores its exit code in *exitCode.
void AddCheckCommand(CLI::App& app, int* exitCode);
void AddSnapshotCommand(CLI::App& app, int* exitCode);
void AddListCommand(CLI::App& app, int* exitCode);
void AddInfoCommand(CLI::App& app, int* exitCode);
void AddDeleteCommand(CLI::App& app, int* exitCode);
void AddAnalyseCommand(CLI::App& app, int* exitCode);

// Runs the tool; returns the exit code.
int RunCli(int argc, char** argv);

}  // namespace corvina::cli
