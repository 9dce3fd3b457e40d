// corvina-cli alert: judges every host and base path, or the ones named, as
// a monitoring plugin does: one line each, and the exit code of the worst.
//
// Error policy: a monitoring system reads any exit code it does not know as
// a fault of the check, so this command never exits 1 or 2: bad usage and a
// database that cannot be read exit 3 (UNKNOWN), after "corvina: ..." on
// stderr.

#include <algorithm>
#include <chrono>
#include <memory>

#include "analysis/HostOverview.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "report/SessionMessages.h"
#include "store/HostLabel.h"

namespace corvina::cli {
namespace {

enum class Status { Ok, Warning, Critical, Unknown };

// The exit codes of monitoring plugins.
int ExitCodeOf(Status status) {
    switch (status) {
        case Status::Ok: return 0;
        case Status::Warning: return 1;
        case Status::Critical: return 2;
        case Status::Unknown: return kExitUnknown;
    }
    return kExitUnknown;
}

const char* NameOf(Status status) {
    switch (status) {
        case Status::Ok: return "OK";
        case Status::Warning: return "WARNING";
        case Status::Critical: return "CRITICAL";
        case Status::Unknown: return "UNKNOWN";
    }
    return "UNKNOWN";
}

// Which of several lines decides: a disk about to fill outweighs a check
// that could not tell.
int Severity(Status status) {
    switch (status) {
        case Status::Ok: return 0;
        case Status::Unknown: return 1;
        case Status::Warning: return 2;
        case Status::Critical: return 3;
    }
    return 1;
}

struct AlertOptions {
    std::string Host;
    std::string Path;
    std::int64_t WarnDays = 0;
    std::int64_t CritDays = 0;
    std::optional<double> MaxAgeHours;
    std::string Db;
};

struct Verdict {
    Status State = Status::Ok;
    std::string Why;
};

Verdict ForecastVerdict(const HostOverviewRow& row, const AlertOptions& options) {
    if (row.DaysLeft) {
        const std::int64_t days = *row.DaysLeft;
        const Status status = days <= options.CritDays   ? Status::Critical
                              : days <= options.WarnDays ? Status::Warning
                                                         : Status::Ok;
        return {status, fmt::format("{} days left (full on {})", days, ForecastText(row.Full, row.Full.FullOn))};
    }
    switch (row.Full.State) {
        case ForecastState::None:
            return {Status::Unknown, "no forecast (needs the file system of three snapshots over a day or more)"};
        case ForecastState::NotFilling: return {Status::Ok, "not filling"};
        case ForecastState::Filling: break;
    }
    return {Status::Ok, "not full within 10 years"};
}

// A latest snapshot too old makes an otherwise quiet line UNKNOWN: its
// forecast says nothing of today. A warning stands, the age beside it.
Verdict Judge(const HostOverviewRow& row, const AlertOptions& options) {
    Verdict verdict = ForecastVerdict(row, options);
    if (options.MaxAgeHours && static_cast<double>(row.AgeSeconds) > *options.MaxAgeHours * 3600.0) {
        if (verdict.State == Status::Ok) verdict.State = Status::Unknown;
        verdict.Why += fmt::format("; snapshot too old: the latest is {} hours old", row.AgeSeconds / 3600);
    }
    return verdict;
}

std::string Line(Status status, const std::string& host, const std::string& path, const std::string& why) {
    return fmt::format("{}\t{}\t{}\t{}\n", NameOf(status), host, path, why);
}

bool Matches(const HostOverviewRow& row, const AlertOptions& options) {
    if (!options.Host.empty() && row.Host != options.Host) return false;
    return options.Path.empty() || row.BasePath == options.Path || row.BasePath == NormalizeBasePath(options.Path);
}

int RunAlert(const AlertOptions& options) {
    if (options.CritDays > options.WarnDays) {
        PrintMessage("--crit-days must not be more than --warn-days");
        return kExitUnknown;
    }
    DatabaseState db;
    StderrPrompter prompter;
    if (OpenForCommand(db, options.Db, prompter) != kExitOk) return kExitUnknown;
    std::vector<HostOverviewRow> rows;
    SessionMessages told(prompter, db);
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    if (StoreError error = ReadHostOverview(db, told, now, rows, OverviewGrowers::Skip); !error.Ok()) {
        EndOnStoreError(db, error);
    }
    std::erase_if(rows, [&](const HostOverviewRow& row) { return !Matches(row, options); });
    if (rows.empty()) {
        const std::string host = options.Host.empty() ? "any host" : EscapeForDisplay(options.Host);
        const std::string path = options.Path.empty() ? "any path" : EscapeForDisplay(options.Path);
        WriteOut(Line(Status::Unknown, host, path, "no snapshot"));
        return kExitUnknown;
    }
    Status worst = Status::Ok;
    for (const HostOverviewRow& row : rows) {
        const Verdict verdict = Judge(row, options);
        if (Severity(verdict.State) > Severity(worst)) worst = verdict.State;
        WriteOut(Line(verdict.State, EscapeForDisplay(HostDisplayName(row.Host)), EscapeForDisplay(row.BasePath),
                      verdict.Why));
    }
    return ExitCodeOf(worst);
}

}  // namespace

void AddAlertCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<AlertOptions>();
    CLI::App* command = app.add_subcommand(
        "alert", "Check when file systems fill, as a monitoring plugin: exit 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN");
    AddHostOption(command, options->Host);
    command->add_option("--path", options->Path, "Base path to check (default: every base path)");
    command->add_option("--warn-days", options->WarnDays, "WARNING when the forecast leaves this many days or fewer")
        ->required()
        ->check(CLI::NonNegativeNumber);
    command->add_option("--crit-days", options->CritDays,
                        "CRITICAL when the forecast leaves this many days or fewer (at most --warn-days)")
        ->required()
        ->check(CLI::NonNegativeNumber);
    command->add_option("--max-age", options->MaxAgeHours,
                        "UNKNOWN when the latest snapshot is older than this many hours")
        ->check(CLI::PositiveNumber);
    AddDbOption(command, options->Db);
    command->callback([options, exitCode] {
        // A database that fails midway is a check that could not tell.
        try {
            *exitCode = RunAlert(*options);
        } catch (const ProgramEnd&) {
            *exitCode = kExitUnknown;
        }
    });
}

}  // namespace corvina::cli
