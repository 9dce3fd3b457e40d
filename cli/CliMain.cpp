// corvina-cli: takes and analyses snapshots without a window.

#include <sstream>

#include "app/Version.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "store/DamageWatch.h"
#include "store/StoreError.h"

namespace corvina::cli {

namespace {

int ParseAndRun(int argc, char** argv) {
    CLI::App app{"Corvina: records where disk space goes and how that changes over time.", "corvina-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "corvina-cli " + std::string(kVersion), "Print the version and exit");
    int exitCode = kExitOk;
    AddCheckCommand(app, &exitCode);
    AddSnapshotCommand(app, &exitCode);
    AddListCommand(app, &exitCode);
    AddInfoCommand(app, &exitCode);
    AddDeleteCommand(app, &exitCode);
    AddAnalyseCommand(app, &exitCode);
    AddGrowthCommand(app, &exitCode);
    AddTrendCommand(app, &exitCode);
    AddScheduleCommand(app, &exitCode);
    AddCompactCommand(app, &exitCode);
    // Further commands register here, one line each.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and usage errors are collected, so that a failed write of
        // them is noticed like any other; an error line may quote an argument.
        std::ostringstream out, err;
        int rc = app.exit(e, out, err);
        WriteOut(out.str());
        WriteErr(EscapeEachLine(err.str(), "\n"));
        return rc == 0 ? kExitOk : kExitUsage;
    } catch (const ProgramEnd& end) {
        return end.ExitCode;
    }
    return exitCode;
}

}  // namespace

int RunCli(int argc, char** argv) {
    WatchForDamage();
    int exitCode = ParseAndRun(argc, argv);
    // A result that passed over a damaged page is no result: whatever was
    // printed, the command failed.
    if (exitCode == kExitOk && DamageWasMet()) {
        PrintMessage(DamagedDatabaseText(LastDatabasePath(), "database disk image is malformed"));
        exitCode = kExitFailed;
    }
    return FinishOutput() ? exitCode : kExitFailed;
}

}  // namespace corvina::cli
