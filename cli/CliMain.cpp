// corvina-cli: takes and analyses snapshots without a window.

#include <optional>
#include <sstream>

#include "app/Version.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "store/DamageWatch.h"
#include "store/StoreError.h"

namespace corvina::cli {

namespace {

// The first word that is neither an option nor a command, when the parse
// failed for want of a command.
std::optional<std::string> UnknownCommand(CLI::App& app, const CLI::ParseError& error) {
    if (dynamic_cast<const CLI::RequiredError*>(&error) == nullptr || !app.get_subcommands().empty()) return {};
    for (const std::string& word : app.remaining()) {
        if (!word.starts_with('-')) return word;
    }
    return {};
}

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
    AddPruneCommand(app, &exitCode);
    AddHostsCommand(app, &exitCode);
    AddAlertCommand(app, &exitCode);
    AddHostRoleCommand(app, &exitCode);
    AddImportCommand(app, &exitCode);
    AddExportCommand(app, &exitCode);
    AddBrowseCommand(app, &exitCode);
    // Further commands register here, one line each.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // A mistyped command is no missing one: the parser only counts it as
        // an extra argument once no command came.
        if (const auto unknown = UnknownCommand(app, e)) {
            PrintMessage("unknown command \"" + *unknown + "\" (corvina-cli --help lists the commands)");
            return kExitUsage;
        }
        // Help and usage errors are collected, so that a failed write of
        // them is noticed like any other; an error line may quote an argument.
        std::ostringstream out, err;
        int rc = app.exit(e, out, err);
        WriteOut(out.str());
        WriteErr(EscapeEachLine(err.str(), "\n"));
        if (rc == 0) return kExitOk;
        // A monitoring system reads 2 from a check as CRITICAL: alert's bad
        // usage is UNKNOWN, as a plugin's is.
        return app.got_subcommand("alert") ? kExitUnknown : kExitUsage;
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
