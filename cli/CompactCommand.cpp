// corvina-cli compact: converts a database of the tables layout to the
// history layout that new databases get (store/HistoryLayout.h), or, where
// new databases keep the tables layout, a file's files table to its keyed
// form (store/FilesLayout.h); then rebuilds the file without its free pages.
// It does not wait for a snapshot being written: the copy would hold the
// write lock for as long again, so it leaves the database alone and says so.

#include <filesystem>
#include <system_error>

#include "base/SizeFormat.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "store/FilesLayout.h"
#include "store/HistoryLayout.h"

namespace corvina::cli {
namespace {

// The file and its log, in bytes; -1 for a server.
std::int64_t FileBytes(const DatabaseState& state) {
    if (IsServerLocation(state.DatabasePath)) return -1;
    std::int64_t total = 0;
    for (const char* suffix : {"", "-wal"}) {
        std::error_code error;
        const auto size = std::filesystem::file_size(state.DatabasePath + suffix, error);
        if (!error) total += static_cast<std::int64_t>(size);
    }
    return total;
}

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
    const bool history = state.History || history::NewDatabasesUseHistory();
    const std::int64_t before = FileBytes(state);
    bool converted = false;
    StoreError error = history ? history::ConvertToHistory(state, noWait, converted, rows)
                               : CompactFilesTable(state, noWait, outcome, rows);
    if (!error.Ok()) {
        if (error.IsDamaged()) {
            PrintMessage(DamagedDatabaseText(state.DatabasePath, error.Reason));
        } else if (error.IsBusy()) {
            PrintMessage(BusyDatabaseText(state.DatabasePath) + "; nothing compacted");
        } else {
            PrintMessage("Snapshot database " + path + " could not be compacted: " + error.Reason);
        }
        return kExitFailed;
    }
    if (!history) {
        PrintOut("Snapshot database {}: {} files rows {}\n", path, rows,
                 outcome == CompactOutcome::Converted ? "converted to the compact layout"
                                                      : "in the compact layout already");
    } else if (!converted) {
        PrintOut("Snapshot database {}: in the history layout already\n", path);
    } else if (before < 0) {
        PrintOut("Snapshot database {}: {} snapshots converted to the history layout\n", path, rows);
    } else {
        PrintOut("Snapshot database {}: {} snapshots converted to the history layout, {} before, {} now\n", path,
                 rows, FormatSize(static_cast<double>(before)), FormatSize(static_cast<double>(FileBytes(state))));
    }
    return kExitOk;
}

}  // namespace

void AddCompactCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("compact", "Convert an older database to the layout that keeps history compactly");
    auto db = std::make_shared<std::string>();
    AddDbOption(command, *db);
    command->callback([db, exitCode] { *exitCode = RunCompact(*db); });
}

}  // namespace corvina::cli
