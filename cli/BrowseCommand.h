#pragma once
// What corvina-cli browse does before the terminal is touched, apart so that
// the benchmark times the same steps.

#include <memory>
#include <string>

#include "cli/BrowseModel.h"
#include "store/SnapshotDatabase.h"

namespace corvina::cli {

struct BrowseOptions {
    std::string Snapshot = "latest";
    std::string Compare;  // "": previous, when there is one
    std::string Dir;
    std::string Size = "apparent";
    std::string Host;  // "": see ChooseHost
    std::string Db;
};

// Opens the database, chooses the snapshots and the host as the options say,
// and reads the first directory into model. Returns the exit code; a
// failure has been said on stderr (a failed query ends the run by throwing
// ProgramEnd, as every command's lookups do).
int OpenBrowser(DatabaseState& db, const BrowseOptions& options, std::unique_ptr<BrowseModel>& model);

}  // namespace corvina::cli
