// corvina-cli browse: one snapshot's directory tree, full screen in the
// terminal, with each directory's growth since a compare snapshot.
//
// Error policy: as analyse, up to the moment the screen opens: a snapshot
// or directory that is not there, or a failed query, is said by
// "corvina: ..." on stderr and exits with 1; a usage error, and standard
// input or output that is no terminal, exit with 2. Once the screen is open,
// what fails is said on its message line (BrowseModel).

#include <unistd.h>

#include <clocale>
#include <memory>

#include "analysis/AnalysisSession.h"
#include "cli/BrowseCommand.h"
#include "cli/BrowseTerminal.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "report/SessionMessages.h"

namespace corvina::cli {
namespace {

int Fail(const std::string& text) {
    PrintMessage(text);
    return kExitFailed;
}

int CheckUsage(const BrowseOptions& options) {
    if (int rc = CheckKeySyntax(options.Snapshot, "--snapshot"); rc != kExitOk) return rc;
    if (!options.Compare.empty() && options.Compare != "none") {
        if (int rc = CheckKeySyntax(options.Compare, "--compare", true); rc != kExitOk) return rc;
    }
    // The screen needs a terminal to draw on and to read keys from; output
    // sent to a file or a pipe would fill it with escape sequences.
    if (isatty(STDOUT_FILENO) == 0 || isatty(STDIN_FILENO) == 0) {
        PrintMessage("browse needs a terminal: its standard input and output must be one (analyse and growth print "
                     "to a file or a pipe)");
        return kExitUsage;
    }
    return kExitOk;
}

// Without --compare the previous snapshot is the compare snapshot when there
// is one: growth is what the browser is for, but a first snapshot has none.
int ChooseSnapshots(DatabaseState& db, const BrowseOptions& options, const std::optional<std::string>& host,
                    AnalysisSession& session) {
    bool found = false;
    std::optional<DateTime> prime = ResolveKey(db, options.Snapshot, host);
    if (prime && !session.HasSnapshot(*prime, found).Ok()) return kExitFailed;
    if (!found) return Fail("no snapshot \"" + options.Snapshot + "\" in the database");
    if (!session.ChoosePrime(*prime).Ok()) return kExitFailed;
    if (options.Compare == "none") return kExitOk;
    if (options.Compare.empty()) {
        std::optional<DateTime> previous;
        if (!session.PreviousSnapshot(previous).Ok()) return kExitFailed;
        if (!previous) return kExitOk;
    }
    return ChooseCompareOption(db, session, options.Compare.empty() ? "previous" : options.Compare);
}

int Prepare(DatabaseState& db, const BrowseOptions& options, const std::optional<std::string>& host,
            AnalysisSession& session, BrowseSetup& setup) {
    if (int rc = ChooseSnapshots(db, options, host, session); rc != kExitOk) return rc;
    const AnalysisState& state = session.State();
    setup.DatabaseName = LastDatabasePath();
    setup.Snapshot = state.SnapshotDate;
    setup.Compare = state.CompareSnapshotDate;
    setup.BasePath = session.PrimeInfo().InfoBasePath;
    setup.Style = state.Style;
    setup.Host = state.Host;
    setup.Basis = *ParseSizeBasis(options.Size);
    setup.SnapshotOnDisk = session.PrimeHasDiskFigures();
    setup.CompareOnDisk = !setup.Compare.IsNull() && session.CompareHasDiskFigures();
    if (setup.Basis == SizeBasis::Disk && !setup.SnapshotOnDisk) {
        return Fail("Snapshot " + FormatKey(setup.Snapshot) +
                    " has no on-disk figures (it was taken before they were recorded). Use --size apparent.");
    }
    return kExitOk;
}

int RunBrowseCommand(const BrowseOptions& options) {
    if (int rc = CheckUsage(options); rc != kExitOk) return rc;
    DatabaseState db;
    std::unique_ptr<BrowseModel> model;
    if (int rc = OpenBrowser(db, options, model); rc != kExitOk) return rc;
    // Names in UTF-8 show as characters where the terminal's locale is UTF-8.
    std::setlocale(LC_ALL, "");
    return RunBrowserTerminal(*model);
}

}  // namespace

int OpenBrowser(DatabaseState& db, const BrowseOptions& options, std::unique_ptr<BrowseModel>& model) {
    StderrPrompter prompter;
    if (int rc = OpenForCommand(db, options.Db, prompter); rc != kExitOk) return rc;
    // As analyse: a key names one snapshot whoever took it; latest needs a host.
    std::optional<std::string> host;
    if (options.Snapshot == "latest" || !options.Host.empty()) {
        if (int rc = ChooseHost(db, options.Host, host); rc != kExitOk) return rc;
    }
    SessionMessages messages(prompter, db);
    AnalysisSession session(db, messages);
    BrowseSetup setup;
    if (int rc = Prepare(db, options, host, session, setup); rc != kExitOk) return rc;
    model = std::make_unique<BrowseModel>(db, setup);
    const std::string dir(WithoutTrailingSeparators(options.Dir, setup.Style));
    bool found = false;
    if (StoreError error = model->Open(dir, found); !error.Ok()) EndOnStoreError(db, error);
    if (!found) return Fail("snapshot " + FormatKey(setup.Snapshot) + " holds no directory " + dir);
    return kExitOk;
}

void AddBrowseCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<BrowseOptions>();
    CLI::App* command =
        app.add_subcommand("browse", "Browse a snapshot's directory tree full screen, with growth since a compare snapshot");
    command->add_option("--snapshot", options->Snapshot, "Snapshot key (yyyy-MM-dd HH:mm:ss) or latest")
        ->default_val("latest");
    command->add_option("--compare", options->Compare,
                        "Compare snapshot key, previous (the newest earlier snapshot of the same base path), or none "
                        "(default: previous when there is one)");
    command->add_option("--dir", options->Dir, "Directory shown first (default: the snapshot's base path)");
    command->add_option("--size", options->Size,
                        "Sizes shown first: apparent (the files' lengths) or disk (the blocks they take); a toggles")
        ->check(CLI::IsMember({"apparent", "disk"}))
        ->default_val("apparent");
    AddDbOption(command, options->Db);
    AddHostOption(command, options->Host);
    command->callback([options, exitCode] { *exitCode = RunBrowseCommand(*options); });
}

}  // namespace corvina::cli
