// corvina-cli check: opens the database as the window program would (creating
// it when missing, upgrading an older file), runs the engine's consistency
// check on it (quick, or thorough with --full) and says what it found. An
// older file that cannot be written is read, but the command fails: the
// upgrade it was asked for did not happen.

#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "store/Catalogue.h"

namespace corvina::cli {
namespace {

struct CheckOptions {
    std::string Db;
    bool Full = false;
};

int RunCheck(const CheckOptions& options) {
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter, OpenMode::CreateWhenMissing); rc != kExitOk) return rc;
    if (StoreError error = CheckDatabaseIntegrity(state, options.Full); !error.Ok()) {
        if (error.IsDamaged()) {
            PrintMessage(DamagedDatabaseText(state.DatabasePath, error.Reason));
        } else {
            PrintMessage("Snapshot database " + state.DatabasePath + " could not be checked: " + error.Reason);
        }
        return kExitFailed;
    }
    std::vector<std::string> paths;
    bool ok = Succeeded(state, prompter, ListBasePaths(state, paths));
    std::size_t snapshots = 0;
    for (const std::string& path : paths) {
        std::vector<SnapshotListRow> rows;
        ok = Succeeded(state, prompter, ListSnapshots(state, path, rows)) && ok;
        snapshots += rows.size();
    }
    if (!ok) return kExitFailed;
    PrintOut("Snapshot database {}: {} snapshot{} of {} base path{}{}\n", EscapeForDisplay(state.DatabasePath),
             snapshots, snapshots == 1 ? "" : "s", paths.size(), paths.size() == 1 ? "" : "s",
             state.ReadOnly ? " (read-only)" : "");
    // What it holds is said all the same; the upgrade it needs is not done.
    if (state.OlderLayout) {
        PrintMessage(CannotWriteText(state) + "; it stays in the older format");
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

void AddCheckCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand(
        "check", "Open, validate or upgrade a snapshot database, check it for damage and say what it holds");
    auto options = std::make_shared<CheckOptions>();
    AddDbOption(command, options->Db);
    command->add_flag("--full", options->Full,
                      "Thorough check: also every index against its table (slower on large databases)");
    command->callback([options, exitCode] { *exitCode = RunCheck(*options); });
}

}  // namespace corvina::cli
