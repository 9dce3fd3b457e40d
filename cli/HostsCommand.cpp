// corvina-cli hosts: every host and base path of the snapshot database in
// one list, the fullest first, as a table, CSV, JSON or Prometheus text for
// a monitoring system's collector.
//
// Error policy: as trend: a failed query is said by "corvina: ..." on stderr
// and exits with 1; a usage error exits with 2.

#include <chrono>
#include <cmath>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "analysis/GridExport.h"
#include "analysis/HostOverview.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "report/SessionMessages.h"
#include "base/SizeFormat.h"
#include "store/HostLabel.h"

namespace corvina::cli {
namespace {

using Json = nlohmann::json;

struct HostsOptions {
    std::string Format = "table";
    std::string Db;
};

std::int64_t AgeHours(const HostOverviewRow& row) { return row.AgeSeconds / 3600; }

// The forecast date as the trend shows it, "none" without a forecast.
std::string FullOnText(const HostOverviewRow& row) {
    const std::string text = ForecastText(row.Full, row.Full.FullOn);
    return text.empty() ? "none" : text;
}

std::string SizeText(std::optional<double> bytes) {
    return bytes ? FormatSizeCell(CellValue(*bytes), kAutoUnit, SizeRounding::TowardZero) : std::string(kNoFigure);
}

void PrintTable(const std::vector<HostOverviewRow>& rows, std::ostream& out) {
    std::vector<std::vector<std::string>> cells{{"Host", "Path", "Latest snapshot", "Age (h)", "FS size", "FS used",
                                                 "Growth a day", "Full on", "Days left", "Top grower (week)"}};
    for (const HostOverviewRow& row : rows) {
        const auto used = UsedBytes(row);
        const auto perDay = BytesPerDay(row);
        cells.push_back({EscapeForDisplay(HostDisplayName(row.Host)), EscapeForDisplay(row.BasePath),
                         FormatKey(row.Latest), FormatNumber(AgeHours(row)),
                         SizeText(row.Filesystem ? std::optional<double>(row.Filesystem->Fssize) : std::nullopt),
                         SizeText(used ? std::optional<double>(*used) : std::nullopt),
                         perDay ? SizeText(perDay) : "none", FullOnText(row),
                         row.DaysLeft ? FormatNumber(*row.DaysLeft) : "none",
                         row.Grower ? EscapeForDisplay(row.Grower->Directory) + " (+" +
                                          SizeText(row.Grower->Bytes) + ")"
                                    : "none"});
    }
    PrintAlignedTable(cells, {false, false, false, true, true, true, true, false, true, false}, true, out);
}

template <typename T>
std::string CsvNumber(const std::optional<T>& value) {
    return value ? fmt::format("{}", *value) : std::string();
}

// Sizes in bytes; a figure there is none of is an empty field.
void PrintCsv(const std::vector<HostOverviewRow>& rows, std::ostream& out) {
    out << "host,path,latest,age_hours,fs_size,fs_used,bytes_per_day,full_on,days_left,top_grower,top_grower_bytes\r\n";
    for (const HostOverviewRow& row : rows) {
        const std::string fullOn = row.Full.FullOn ? ForecastText(row.Full, row.Full.FullOn) : std::string();
        out << CsvField(row.Host) << ',' << CsvField(row.BasePath) << ',' << FormatKey(row.Latest) << ','
            << AgeHours(row) << ','
            << CsvNumber(row.Filesystem ? std::optional(row.Filesystem->Fssize) : std::nullopt) << ','
            << CsvNumber(UsedBytes(row)) << ',' << CsvNumber(BytesPerDay(row)) << ',' << fullOn << ','
            << CsvNumber(row.DaysLeft) << ',' << (row.Grower ? CsvField(row.Grower->Directory) : std::string())
            << ',' << CsvNumber(row.Grower ? std::optional(row.Grower->Bytes) : std::nullopt) << "\r\n";
    }
}

template <typename T>
Json JsonOf(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

void PrintJson(const std::vector<HostOverviewRow>& rows, std::ostream& out) {
    Json list = Json::array();
    for (const HostOverviewRow& row : rows) {
        list.push_back(
            {{"host", row.Host.empty() ? Json(nullptr) : Json(row.Host)},
             {"path", row.BasePath},
             {"latest", FormatKey(row.Latest)},
             {"age_hours", AgeHours(row)},
             {"fs_size", JsonOf(row.Filesystem ? std::optional(row.Filesystem->Fssize) : std::nullopt)},
             {"fs_used", JsonOf(UsedBytes(row))},
             {"bytes_per_day", JsonOf(BytesPerDay(row))},
             {"full_on", row.Full.FullOn ? Json(ForecastText(row.Full, row.Full.FullOn)) : Json(nullptr)},
             {"days_left", JsonOf(row.DaysLeft)},
             {"top_grower", row.Grower ? Json{{"directory", row.Grower->Directory}, {"bytes", row.Grower->Bytes}}
                                       : Json(nullptr)}});
    }
    out << list.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

// A label value of the exposition format: UTF-8 (bytes that are not become
// U+FFFD, as in JSON), with backslash, quote and line feed escaped.
std::string PrometheusLabel(const std::string& text) {
    const std::string valid =
        Json::parse(Json(text).dump(-1, ' ', false, Json::error_handler_t::replace)).get<std::string>();
    std::string escaped;
    for (char c : valid) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '"') escaped += "\\\"";
        else if (c == '\n') escaped += "\\n";
        else escaped += c;
    }
    return escaped;
}

struct Gauge {
    const char* Name;
    const char* Help;
    std::optional<double> (*Value)(const HostOverviewRow&);
};

// Base units throughout, as the format's conventions ask: seconds, not hours
// or days, so that a dashboard converts once.
const Gauge kGauges[] = {
    {"corvina_filesystem_size_bytes", "Size of the file system at the latest snapshot that recorded it.",
     [](const HostOverviewRow& row) {
         return row.Filesystem ? std::optional<double>(row.Filesystem->Fssize) : std::nullopt;
     }},
    {"corvina_filesystem_used_bytes", "Used space of the file system at the latest snapshot that recorded it.",
     [](const HostOverviewRow& row) {
         const auto used = UsedBytes(row);
         return used ? std::optional<double>(*used) : std::nullopt;
     }},
    {"corvina_filesystem_growth_bytes_per_second", "Growth of the used space by the least-squares forecast.",
     [](const HostOverviewRow& row) {
         if (row.Full.State == ForecastState::None) return std::optional<double>();
         return std::optional<double>(row.Full.BytesPerDay / 86400.0);
     }},
    {"corvina_filesystem_full_in_seconds",
     "Whole days from the latest snapshot to the forecast full date, in seconds; absent without such a date.",
     [](const HostOverviewRow& row) {
         return row.DaysLeft ? std::optional<double>(static_cast<double>(*row.DaysLeft) * 86400.0) : std::nullopt;
     }},
    {"corvina_snapshot_age_seconds", "Time since the latest snapshot was taken.",
     [](const HostOverviewRow& row) { return std::optional<double>(static_cast<double>(row.AgeSeconds)); }},
};

void PrintPrometheus(const std::vector<HostOverviewRow>& rows, std::ostream& out) {
    for (const Gauge& gauge : kGauges) {
        out << "# HELP " << gauge.Name << ' ' << gauge.Help << "\n# TYPE " << gauge.Name << " gauge\n";
        for (const HostOverviewRow& row : rows) {
            const std::optional<double> value = gauge.Value(row);
            if (!value) continue;
            out << gauge.Name << "{host=\"" << PrometheusLabel(row.Host) << "\",path=\""
                << PrometheusLabel(row.BasePath) << "\"} " << fmt::format("{}", *value) << '\n';
        }
    }
}

int RunHosts(const HostsOptions& options) {
    DatabaseState db;
    StderrPrompter prompter;
    if (int rc = OpenForCommand(db, options.Db, prompter); rc != kExitOk) return rc;
    std::vector<HostOverviewRow> rows;
    SessionMessages told(prompter, db);
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    if (StoreError error = ReadHostOverview(db, told, now, rows); !error.Ok()) EndOnStoreError(db, error);
    std::ostringstream out;
    if (options.Format == "csv") {
        PrintCsv(rows, out);
    } else if (options.Format == "json") {
        PrintJson(rows, out);
    } else if (options.Format == "prometheus") {
        PrintPrometheus(rows, out);
    } else {
        PrintTable(rows, out);
    }
    WriteOut(out.str());
    return kExitOk;
}

}  // namespace

void AddHostsCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<HostsOptions>();
    CLI::App* command = app.add_subcommand(
        "hosts", "List every host and base path with its file system, forecast and top grower, fullest first");
    command->add_option("--format", options->Format,
                        "Output: table, csv, json or prometheus (text exposition format, for a textfile collector)")
        ->check(CLI::IsMember({"table", "csv", "json", "prometheus"}))
        ->default_val("table");
    AddDbOption(command, options->Db);
    command->callback([options, exitCode] { *exitCode = RunHosts(*options); });
}

}  // namespace corvina::cli
