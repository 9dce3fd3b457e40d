// corvina-cli check: opens the database as the window program would (creating
// it when missing, upgrading an older file) and says what it found.

#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "store/Catalogue.h"

namespace corvina::cli {
namespace {

int RunCheck(const std::string& dbOption) {
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, dbOption, prompter); rc != kExitOk) return rc;
    std::vector<std::string> paths = ListBasePaths(state, prompter);
    std::size_t snapshots = 0;
    for (const std::string& path : paths) snapshots += ListSnapshots(state, prompter, path).size();
    PrintOut("Snapshot database {}: {} snapshot{} of {} base path{}{}\n", EscapeForDisplay(state.DatabasePath),
             snapshots, snapshots == 1 ? "" : "s", paths.size(), paths.size() == 1 ? "" : "s",
             state.ReadOnly ? " (read-only)" : "");
    return kExitOk;
}

}  // namespace

void AddCheckCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("check", "Open, validate or upgrade a snapshot database and say what it holds");
    auto db = std::make_shared<std::string>();
    command->add_option("--db", *db, "Snapshot database file (default: the one the window program opens)");
    command->callback([db, exitCode] { *exitCode = RunCheck(*db); });
}

}  // namespace corvina::cli
