// corvina-cli compact: converts a file's files table to the keyed layout that
// new files get (store/FilesLayout.h) and rebuilds the file without its free
// pages. It does not wait for a snapshot being written: the copy would hold
// the write lock for as long again, so it leaves the file alone and says so.

#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "store/FilesLayout.h"

namespace corvina::cli {
namespace {

int RunCompact(const std::string& db) {
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, db, prompter); rc != kExitOk) return rc;
    const std::string path = EscapeForDisplay(state.DatabasePath);
    if (state.ReadOnly) {
        PrintMessage(CannotWriteText(state) + "; nothing compacted");
        return kExitFailed;
    }
    WaitUpTo noWait{std::chrono::milliseconds(0)};
    CompactOutcome outcome = CompactOutcome::Already;
    std::int64_t rows = 0;
    if (StoreError error = CompactFilesTable(state, noWait, outcome, rows); !error.Ok()) {
        if (error.IsDamaged()) {
            PrintMessage(DamagedDatabaseText(state.DatabasePath, error.Reason));
        } else if (error.IsBusy()) {
            PrintMessage(BusyDatabaseText(state.DatabasePath) + "; nothing compacted");
        } else {
            PrintMessage("Snapshot database " + path + " could not be compacted: " + error.Reason);
        }
        return kExitFailed;
    }
    PrintOut("Snapshot database {}: {} files rows {}\n", path, rows,
             outcome == CompactOutcome::Converted ? "converted to the compact layout" : "in the compact layout already");
    return kExitOk;
}

}  // namespace

void AddCompactCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("compact", "Convert the database's file list to the compact layout");
    auto db = std::make_shared<std::string>();
    AddDbOption(command, *db);
    command->callback([db, exitCode] { *exitCode = RunCompact(*db); });
}

}  // namespace corvina::cli
