// corvina-cli host-role: keeps a role of a PostgreSQL server to the snapshots
// of one host (store/HostRoles.h). The database's owner runs it; it says
// each step on stdout, and running it again changes nothing.
//
// Error policy: a refusal (no server, no such role, a role the policies
// cannot bind, a connection without the owner's rights) is said by
// "corvina: ..." on stderr and exits with 1, having changed nothing.

#include <memory>

#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "store/HostRoles.h"

namespace corvina::cli {
namespace {

struct HostRoleOptions {
    std::string Role;
    std::string Host;
    std::string Reads = "own";
    std::string Db;
};

int RunHostRole(const HostRoleOptions& options) {
    if (!IsServerLocation(ResolveDatabasePath(options.Db))) {
        PrintMessage("host-role keeps roles of a PostgreSQL server: --db names the server's database");
        return kExitUsage;
    }
    StderrPrompter prompter;
    DatabaseState state;
    // An empty database is set up first, as for a first snapshot, so that
    // the roles may be made before any machine writes.
    if (int rc = OpenForCommand(state, options.Db, prompter, OpenMode::CreateWhenMissing); rc != kExitOk) return rc;
    if (state.ReadOnly) {
        PrintMessage(CannotWriteText(state) + "; the database's owner sets host roles up");
        return kExitFailed;
    }
    DeleteWait wait;
    std::vector<std::string> done;
    const HostRole role{options.Role, options.Host, options.Reads == "all"};
    if (StoreError error = SetUpHostRole(state, role, wait, done); !error.Ok()) {
        PrintRemovalFailure(state, error, "; nothing changed", "Role " + options.Role + " not set up: ");
        return kExitFailed;
    }
    for (const std::string& line : done) PrintOut("{}\n", EscapeForDisplay(line));
    return kExitOk;
}

}  // namespace

void AddHostRoleCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand(
        "host-role", "Keep a role of a PostgreSQL server to adding and deleting one host's snapshots");
    auto options = std::make_shared<HostRoleOptions>();
    command->add_option("ROLE", options->Role, "The server's role, made beforehand")->required();
    command->add_option("HOST", options->Host, "The host label of the snapshots it takes")
        ->required()
        ->check(CLI::Validator([](const std::string& text) { return text.empty() ? "an empty host label" : ""; },
                               "LABEL"));
    AddDbOption(command, options->Db);
    command->add_option("--reads", options->Reads, "Whose snapshots the role reads: own (default) or all hosts'")
        ->check(CLI::IsMember({"own", "all"}));
    command->callback([options, exitCode] { *exitCode = RunHostRole(*options); });
}

}  // namespace corvina::cli
