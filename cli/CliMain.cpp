// corvina-cli: takes and analyses snapshots without a window.

#include <cstdio>

#include "cli/CliSupport.h"

namespace corvina::cli {

int RunCli(int argc, char** argv) {
    CLI::App app{"Corvina: records where disk space goes and how that changes over time.", "corvina-cli"};
    app.require_subcommand(1);
    int exitCode = kExitOk;
    AddCheckCommand(app, &exitCode);
    AddSnapshotCommand(app, &exitCode);
    AddListCommand(app, &exitCode);
    AddInfoCommand(app, &exitCode);
    AddDeleteCommand(app, &exitCode);
    AddAnalyseCommand(app, &exitCode);
    // Further commands register here, one line each.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    } catch (const ProgramEnd& end) {
        return end.ExitCode;
    }
    return exitCode;
}

}  // namespace corvina::cli
