// Times the trend of a directory over 50 snapshots of one base path as
// "corvina-cli trend" and the trend window read it: the points with their
// file system figures and the forecast, and apart from those the top grower
// (the growth analysis between the first and the last snapshot), at the base
// path and at the largest directory two levels below it:
//
//   trend_bench PAIR_DATABASE WORK_DATABASE [RUNS]
//
// PAIR_DATABASE is the pair analysis_bench_data writes. WORK_DATABASE is made
// from it on the first run and kept: 50 snapshots a day apart, each holding
// the Dir rows of the older snapshot of the pair (the first 25) or of the
// newer one (the rest), no file rows, and a file system row each whose used
// space grows a gigabyte a day. The rows go in as the older layout's; unless
// CORVINA_LAYOUT=tables asks for that layout, the database is then converted
// to the history layout as "corvina-cli compact" does, so that the two are
// timed on the same snapshots. Prints the median of RUNS runs (default 5)
// after one warm-up run, wall-clock and CPU time.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include "bench/analysis/BenchSupport.h"
#include "analysis/AnalysisIndexes.h"
#include "analysis/Trend.h"
#include "app/OpenDialogue.h"
#include "report/SessionMessages.h"
#include "store/Catalogue.h"
#include "store/HistoryLayout.h"
#include "store/Schema.h"
#include "store/Statement.h"
#include "store/SnapshotDatabase.h"

namespace {

using namespace corvina;

constexpr int kSnapshots = 50;

using bench::CpuMs;
using bench::ExitEnder;
using bench::QuietPrompter;

// The pair's two keys, older first.
std::vector<std::string> PairKeys(SQLite::Database& pair) {
    std::vector<std::string> keys;
    SQLite::Statement query(pair, "SELECT Snapshot FROM Control ORDER BY Snapshot DESC LIMIT 2");
    while (query.executeStep()) keys.insert(keys.begin(), query.getColumn(0).getString());
    return keys;
}

void MakeWorkDatabase(const std::string& pairPath, const std::string& workPath) {
    const bool history = history::NewDatabasesUseHistory();
    setenv("CORVINA_LAYOUT", "tables", 1);
    {
        // The store makes the tables, as a first run would.
        DatabaseState made;
        made.DatabasePath = workPath;
        if (OpenDatabase(made, OpenMode::Create).Outcome != OpenOutcome::Created) {
            throw std::runtime_error("cannot make " + workPath);
        }
        // A run makes this table when it first writes a row; here no run does.
        const std::string filesystem = schema::CreateTableSql(made.Engine->SqlDialect(), schema::kFilesystem,
                                                              schema::Create::TableIfMissing);
        if (!Execute(made, filesystem).Ok()) throw std::runtime_error("cannot make " + workPath);
    }
    SQLite::Database work(workPath, SQLite::OPEN_READWRITE);
    work.exec("ATTACH DATABASE '" + pairPath + "' AS pair");
    SQLite::Database pair(pairPath, SQLite::OPEN_READONLY);
    const std::vector<std::string> keys = PairKeys(pair);
    if (keys.size() != 2) throw std::runtime_error("the pair database does not hold two snapshots");
    SQLite::Transaction transaction(work);
    for (int i = 0; i < kSnapshots; ++i) {
        DateTime date{2024, 1, 1, 3, 0, 0};
        date.Day += i % 31;
        date.Month += i / 31;
        const std::string key = FormatKey(date);
        const std::string& from = keys[i < kSnapshots / 2 ? 0 : 1];
        SQLite::Statement control(work,
                                  "INSERT INTO Control SELECT ?, Basepath, Description, 'N', 0, Totdirs, Totfiles, "
                                  "Totbytes, Totbytesf, 0, 0, 0 FROM pair.Control WHERE Snapshot = ?");
        control.bind(1, key);
        control.bind(2, from);
        control.exec();
        SQLite::Statement dirs(work,
                               "INSERT INTO Dir SELECT ?, Entrytype, Dirname, Shortname, Parentdir, Dirlevel, "
                               "Files, Totsize, TotsizeF FROM pair.Dir WHERE Snapshot = ?");
        dirs.bind(1, key);
        dirs.bind(2, from);
        dirs.exec();
        SQLite::Statement filesystem(work, "INSERT INTO Filesystem VALUES (?, ?, ?)");
        const std::int64_t gigabyte = std::int64_t{1} << 30;
        filesystem.bind(1, key);
        filesystem.bind(2, 1000 * gigabyte);
        filesystem.bind(3, (900 - i) * gigabyte);
        filesystem.exec();
    }
    transaction.commit();
    if (!history) return;
    unsetenv("CORVINA_LAYOUT");
    DatabaseState made;
    made.DatabasePath = workPath;
    if (OpenDatabase(made, OpenMode::ExistingOnly).Outcome != OpenOutcome::Opened) {
        throw std::runtime_error("cannot open " + workPath);
    }
    WaitUpTo wait{std::chrono::milliseconds(0)};
    bool converted = false;
    std::int64_t snapshots = 0;
    if (!history::ConvertToHistory(made, wait, converted, snapshots).Ok() || !converted) {
        throw std::runtime_error("cannot convert " + workPath + " to the history layout");
    }
}

std::string LargestTwoLevelsDown(DatabaseState& db, const std::string& key) {
    Statement query;
    bool row = false;
    if (!query.Prepare(db, "SELECT Dirname FROM Dir WHERE Snapshot = ? AND Entrytype = '2' AND Dirlevel = 3 "
                           "ORDER BY Files DESC LIMIT 1")
             .Ok() ||
        !query.BindText(1, key).Ok() || !query.Step(row).Ok() || !row) {
        return {};
    }
    return std::string(query.Text(0));
}

struct Timing {
    double WallMs = 0;
    double CpuMs = 0;
};

template <typename Step>
Timing Median(int runs, Step step) {
    std::vector<double> wall, cpu;
    for (int run = 0; run <= runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuMs();
        step();
        if (run == 0) continue;  // run 0 warms the cache
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        cpu.push_back(CpuMs() - cpuStart);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PAIR_DATABASE WORK_DATABASE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    if (!std::filesystem::exists(argv[2])) {
        std::printf("writing %d snapshots into %s\n", kSnapshots, argv[2]);
        MakeWorkDatabase(argv[1], argv[2]);
    }
    DatabaseState db;
    db.DatabasePath = argv[2];
    QuietPrompter prompter;
    SessionMessages messages(prompter, db);
    ExitEnder ender;
    if (OpenSnapshotDatabase(db, prompter, ender) != OpenOutcome::Opened) return 1;
    PrepareForAnalysis(db);
    std::optional<std::string> base;
    if (!NewestBasePath(db, "", base).Ok() || !base) return 1;
    std::optional<DateTime> latest;
    if (!LatestSnapshot(db, latest).Ok() || !latest) return 1;
    const std::string down = LargestTwoLevelsDown(db, FormatKey(*latest));

    bool met = true;
    std::printf("%-40s %8s %18s %18s\n", "directory", "points", "trend ms wall/cpu", "grower ms wall/cpu");
    for (const std::string& directory : {*base, down}) {
        TrendReport report;
        report.BasePath = *base;
        report.Directory = directory;
        const PathStyle style = PathStyleOfBasePath(*base);
        const Timing trend = Median(runs, [&]() {
            if (!ReadTrend(db, *base, directory, style, std::nullopt, report.Points).Ok()) std::exit(1);
            report.Full = ForecastFull(UsageOf(report.Points));
        });
        const Timing grower = Median(runs, [&]() {
            if (!CompleteTrend(db, messages, report).Ok()) std::exit(1);
        });
        met = met && trend.WallMs < 50;
        std::printf("%-40s %8zu %9.1f/%8.1f %9.1f/%8.1f\n", directory.c_str(), report.Points.size(), trend.WallMs,
                    trend.CpuMs, grower.WallMs, grower.CpuMs);
        std::printf("  %s; %s\n", ForecastSummary(report.Full).c_str(), GrowerSummary(report).c_str());
    }
    std::printf("trend under 50 ms: %s\n", met ? "met" : "MISSED");
    CloseSnapshotDatabase(db);
    return 0;
}
