// corvina-cli trend: one directory across every snapshot of its base path,
// with a forecast of when the file system fills and the directory whose own
// files grew most, as a table, CSV or JSON.
//
// Error policy: as analyse: every problem (no snapshot of the base path, no
// snapshot holding the directory, a failed query) is said by "corvina: ..."
// on stderr and exits with 1; a usage error exits with 2.

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "analysis/AnalysisState.h"
#include "analysis/HostOverview.h"
#include "analysis/Trend.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "report/SessionMessages.h"
#include "store/DamageWatch.h"
#include "store/HostLabel.h"
#include "base/SizeFormat.h"

namespace corvina::cli {
namespace {

using Json = nlohmann::json;

struct TrendOptions {
    std::string Dir;
    std::string Path;
    std::string Format = "table";
    std::string Unit = "auto";  // B, K, M, G, T or auto
    std::string Size = "apparent";  // apparent or disk
    std::string Db;
    std::string Host;  // "": see ChooseHost

    // Sizes in a unit of their own are for people: CSV carries bytes unless
    // a unit is named.
    char SizeUnit() const {
        if (Unit != "auto") return Unit.front();
        return Format == "table" ? kAutoUnit : 'B';
    }
};

int Fail(const std::string& text) {
    PrintMessage(text);
    return kExitFailed;
}

// The base path and the directory from the options, defaulting each from the
// other; result.Host is the host the trend keeps to, when there is one.
int ResolveTrendPlace(DatabaseState& db, const TrendOptions& options, TrendReport& result) {
    if (!options.Path.empty()) {
        result.BasePath = WithoutTrailingSeparators(options.Path, PathStyleOfBasePath(options.Path));
    } else {
        std::string dir(WithoutTrailingSeparators(options.Dir, PathStyleOfBasePath(options.Dir)));
        std::optional<std::string> base;
        if (StoreError error = NewestBasePath(db, dir, base, result.Host); !error.Ok()) EndOnStoreError(db, error);
        if (!base && !dir.empty()) return Fail("no snapshot holds the directory " + dir);
        if (!base) return Fail("the snapshot database holds no snapshot");
        result.BasePath = *base;
    }
    const PathStyle style = PathStyleOfBasePath(result.BasePath);
    result.Directory = options.Dir.empty() ? result.BasePath : std::string(WithoutTrailingSeparators(options.Dir, style));
    return kExitOk;
}

// The points of the report's base path and directory on the host they keep
// to: the one chosen, else (in a database of one host) none.
void ReadHostTrend(DatabaseState& db, PathStyle style, TrendReport& result) {
    StoreError error;
    if (!result.Host) error = TrendHost(db, result.BasePath, result.Directory, style, result.Host);
    if (error.Ok()) {
        error = ReadTrend(db, result.BasePath, result.Directory, style, result.Host, result.Points, result.Basis);
    }
    if (!error.Ok()) EndOnStoreError(db, error);
}

int Trend(DatabaseState& db, StderrPrompter& prompter, const TrendOptions& options, TrendReport& result) {
    result.Basis = *ParseSizeBasis(options.Size);
    if (int rc = ChooseHost(db, options.Host, result.Host); rc != kExitOk) return rc;
    if (int rc = ResolveTrendPlace(db, options, result); rc != kExitOk) return rc;
    const PathStyle style = PathStyleOfBasePath(result.BasePath);
    ReadHostTrend(db, style, result);
    if (result.Points.empty() && !options.Path.empty()) {
        // The snapshot command stores the path as NormalizeBasePath gives it.
        std::string normal = NormalizeBasePath(options.Path);
        if (normal != result.BasePath) {
            if (options.Dir.empty()) result.Directory = normal;
            result.BasePath = normal;
            ReadHostTrend(db, style, result);
        }
    }
    if (result.Points.empty()) return Fail("no snapshot of " + result.BasePath);
    std::vector<const TrendPoint*> holding;
    for (const TrendPoint& point : result.Points) {
        if (point.Present) holding.push_back(&point);
    }
    if (holding.empty()) return Fail("no snapshot of " + result.BasePath + " holds the directory " + result.Directory);

    // The grower's session has told its failure.
    SessionMessages told(prompter, db);
    return CompleteTrend(db, told, result).Ok() ? kExitOk : kExitFailed;
}

void PrintTable(const TrendReport& result, char unit, std::ostream& out) {
    out << "Trend of " << EscapeForDisplay(result.Directory) << BasisSuffix(result.Basis) << '\n';
    PrintAlignedTable(TrendCells(result.Points, unit, result.Basis), {false, true, true, true, true}, true, out);
    out << ForecastSummary(result.Full, unit) << '\n' << GrowerSummary(result, unit) << '\n';
}

// A size on disk not recorded is an empty field, as in the grid's CSV.
void PrintCsv(const TrendReport& result, char unit, std::ostream& out) {
    for (const auto& row : TrendCells(result.Points, unit, result.Basis, "")) {
        for (std::size_t c = 0; c < row.size(); ++c) out << (c > 0 ? "," : "") << row[c];
        out << "\r\n";
    }
}

// Dates or null: "not filling" and "not within 10 years" are for people; a
// script reads a falling or flat line from bytes_per_day.
Json ForecastJson(const Forecast& full) {
    if (full.State == ForecastState::None) {
        return {{"full_on", nullptr}, {"earliest", nullptr}, {"latest", nullptr}, {"bytes_per_day", nullptr}};
    }
    const auto date = [&full](const std::optional<DateTime>& day) {
        return day ? Json(ForecastText(full, day)) : Json(nullptr);
    };
    return {{"full_on", date(full.FullOn)},
            {"earliest", date(full.Earliest)},
            {"latest", date(full.Latest)},
            {"bytes_per_day", full.BytesPerDay}};
}

// Whole days from the latest snapshot's date to the full date, as hosts and
// alert count them.
Json DaysLeftJson(const TrendReport& result) {
    if (!result.Full.FullOn || result.Points.empty()) return nullptr;
    return DaysBetween(result.Points.back().Snapshot, *result.Full.FullOn);
}

// The host label JSON names: the one kept to, else (in a database of one
// host) the latest snapshot's; null for an unknown host.
Json HostJson(DatabaseState& db, const TrendReport& result) {
    std::string label = result.Host.value_or("");
    if (!result.Host) {
        if (StoreError error = ReadHostLabel(db, result.Points.back().Snapshot, label); !error.Ok()) {
            EndOnStoreError(db, error);
        }
    }
    return label.empty() ? Json(nullptr) : Json(label);
}

void PrintJson(const TrendReport& result, const Json& host, std::ostream& out) {
    Json points = Json::array();
    for (const TrendPoint& point : result.Points) {
        const auto& fs = point.Filesystem;
        points.push_back({{"snapshot", FormatKey(point.Snapshot)},
                          {"files", point.Files},
                          {"bytes", point.Measured ? Json(point.Bytes) : Json(nullptr)},
                          {"fs_size", fs ? Json(fs->Fssize) : Json(nullptr)},
                          {"fs_free", fs ? Json(fs->Fsfree) : Json(nullptr)}});
    }
    Json grower = result.Grower ? Json{{"directory", result.Grower->Directory}, {"bytes", result.Grower->Bytes}}
                                : Json{{"directory", nullptr}, {"bytes", nullptr}};
    Json document{{"host", host},
                  {"path", result.BasePath},
                  {"points", points},
                  {"forecast", ForecastJson(result.Full)},
                  {"days_left", DaysLeftJson(result)},
                  {"top_grower", grower}};
    // Apparent sizes are what a trend has always carried; a trend on disk says so.
    if (result.Basis == SizeBasis::Disk) document["size"] = SizeBasisName(result.Basis);
    out << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

int RunTrendCommand(const TrendOptions& options) {
    DatabaseState db;
    StderrPrompter prompter;
    if (int rc = OpenForCommand(db, options.Db, prompter); rc != kExitOk) return rc;
    TrendReport result;
    if (int rc = Trend(db, prompter, options, result); rc != kExitOk) return rc;
    if (DamageWasMet()) {
        PrintMessage(DamagedDatabaseText(db.DatabasePath, "database disk image is malformed"));
        return kExitFailed;
    }
    std::ostringstream out;
    if (options.Format == "csv") {
        PrintCsv(result, options.SizeUnit(), out);
    } else if (options.Format == "json") {
        PrintJson(result, HostJson(db, result), out);
    } else {
        PrintTable(result, options.SizeUnit(), out);
    }
    WriteOut(out.str());
    return kExitOk;
}

}  // namespace

void AddTrendCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<TrendOptions>();
    CLI::App* command = app.add_subcommand(
        "trend", "Show a directory in every snapshot of its base path and forecast when its file system fills");
    command->add_option("--dir", options->Dir, "Directory to follow (default: the base path)");
    command->add_option("--path", options->Path,
                        "Base path whose snapshots are read (default: that of the newest snapshot holding --dir)");
    command->add_option("--format", options->Format, "Output: table, csv or json")
        ->check(CLI::IsMember({"table", "csv", "json"}))
        ->default_val("table");
    command->add_option("--unit", options->Unit,
                        "Size unit of the table and CSV: B, K, M, G, T (powers of 1024) or auto (each size in the "
                        "largest unit that keeps it at least 1; CSV then carries bytes). JSON is always in bytes")
        ->check(CLI::IsMember({"B", "K", "M", "G", "T", "auto"}))
        ->default_val("auto");
    command->add_option("--size", options->Size,
                        "The directory's sizes: apparent (the files' lengths) or disk (the blocks they take); the "
                        "file system's figures are its own either way")
        ->check(CLI::IsMember({"apparent", "disk"}))
        ->default_val("apparent");
    AddDbOption(command, options->Db);
    AddHostOption(command, options->Host);
    command->callback([options, exitCode] { *exitCode = RunTrendCommand(*options); });
}

}  // namespace corvina::cli
