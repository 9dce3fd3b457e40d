// Times every analysis as the window runs it (query build, layout, queries and
// grid fill, chart data) on a snapshot database, at the base path and at a
// directory two levels below it, and prints each query's plan:
//
//   analysis_bench [--size disk] DATABASE [RUNS [CODE...]]
//
// With --size disk every analysis counts sizes on disk (its snapshots' Dirdisk
// and Filedisk rows) in place of apparent sizes.
//
// The prime snapshot is the newest, the compare snapshot the one before it
// (analysis_bench_data writes such a pair). The directory two levels down is
// the one there with the most files, the slowest case. Prints the median of
// RUNS runs (default 5) after one warm-up run, as wall-clock time and as the
// process's CPU time (which other programs on a busy machine do not inflate),
// and the same for a typical directory there (the median by file count).

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>


#include "bench/analysis/BenchSupport.h"
#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisIndexes.h"
#include "analysis/AnalysisQuery.h"
#include "analysis/AnalysisRun.h"
#include "analysis/DirectoryTotal.h"
#include "analysis/DiskFigures.h"
#include "analysis/FileListMerge.h"
#include "analysis/GridLayout.h"
#include "app/OpenDialogue.h"
#include "store/Catalogue.h"
#include "store/FilesLayout.h"
#include "store/SnapshotDatabase.h"

namespace {

using namespace corvina;

using bench::CpuMs;
using bench::ExitEnder;
using bench::QuietPrompter;

void PrintPlan(DatabaseState& db, const BoundQuery& query) {
    if (query.Empty()) return;
    Statement plan;
    bool row = false;
    if (!plan.Prepare(db, "EXPLAIN QUERY PLAN " + query.Sql).Ok() || !BindParams(plan, query).Ok()) return;
    while (plan.Step(row).Ok() && row) std::printf("      %s\n", std::string(plan.Text(3)).c_str());
}

// The largest directory two levels below the base path, or the median one.
std::string DirectoryTwoLevelsDown(DatabaseState& db, const DateTime& key, bool median) {
    Statement query;
    bool row = false;
    if (!query.Prepare(db, "SELECT Dirname, Files FROM Dir WHERE Snapshot = ?1 AND Entrytype = '2' AND Dirlevel = 3 "
                           "ORDER BY Files DESC LIMIT 1 OFFSET "
                           "CASE WHEN ?2 = 1 THEN (SELECT count(*) FROM Dir WHERE Snapshot = ?1 AND Entrytype = '2' "
                           "AND Dirlevel = 3) / 2 ELSE 0 END")
             .Ok() ||
        !query.BindText(1, FormatKey(key)).Ok() || !query.BindInt64(2, median ? 1 : 0).Ok() ||
        !query.Step(row).Ok() || !row) {
        return {};
    }
    const std::string name(query.Text(0));
    std::printf("%s directory two levels down: %s (%lld files)\n", median ? "median" : "largest", name.c_str(),
                static_cast<long long>(query.Int64(1)));
    return name;
}

struct Timing {
    double MedianMs = 0;
    double CpuMs = 0;
    int Rows = 0;
};

Timing TimeKind(DatabaseState& db, const AnalysisState& state, int runs) {
    std::vector<double> times;
    std::vector<double> cpu;
    int rows = 0;
    for (int run = 0; run <= runs; ++run) {
        GridSettings settings;
        ResultGrid grid;
        auto start = std::chrono::steady_clock::now();
        double cpuStart = CpuMs();
        LayoutResultGrid(state, settings, grid);
        AnalysisOutcome outcome = RunAnalysis(db, state, settings, grid);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (!outcome.Error.Ok()) {
            std::fprintf(stderr, "%s\n", AnalysisFailureText(db.DatabasePath, outcome.Title, outcome.Error).c_str());
        }
        if (run > 0) {  // run 0 warms the cache
            times.push_back(ms);
            cpu.push_back(CpuMs() - cpuStart);
        }
        rows = grid.RowCount() - grid.FixedRows();
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    return {times[times.size() / 2], cpu[cpu.size() / 2], rows};
}

// What the comparisons are measured against: the engine reading every files
// row once, as the sqlite3 shell does for this query, in the same process.
constexpr const char* kBareScan =
    "select count(*), sum(length(Filedir) + length(Filename) + Filesize) from files";

double BareScanMs(DatabaseState& db, int runs) {
    std::vector<double> times;
    for (int run = 0; run <= runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        Statement scan;
        bool row = false;
        if (!scan.Prepare(db, kBareScan).Ok() || !scan.Step(row).Ok()) return 0;
        if (run > 0) times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool IsComparison(AnalysisKind kind) {
    return kind == AnalysisKind::ChangedFiles || kind == AnalysisKind::NewFiles || kind == AnalysisKind::DeletedFiles;
}

}  // namespace

int main(int argc, char** argv) {
    SizeBasis basis = SizeBasis::Apparent;
    if (argc > 2 && std::string(argv[1]) == "--size") {
        basis = ParseSizeBasis(argv[2]).value_or(SizeBasis::Apparent);
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s [--size disk] DATABASE [RUNS [CODE...]]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    DatabaseState db;
    db.DatabasePath = argv[1];
    QuietPrompter prompter;
    ExitEnder ender;
    if (OpenSnapshotDatabase(db, prompter, ender) != OpenOutcome::Opened) return 1;
    PrepareForAnalysis(db);
    std::optional<DateTime> prime;
    std::optional<DateTime> compare;
    if (!LatestSnapshot(db, prime).Ok() || !prime || !PreviousSnapshot(db, *prime, compare).Ok()) return 1;
    SnapshotInfo info;
    LoadSnapshotInfo(db, *prime, info);
    const std::string base = info.InfoBasePath;
    const std::string down = DirectoryTwoLevelsDown(db, *prime, false);
    const std::string typical = DirectoryTwoLevelsDown(db, *prime, true);
    std::printf("prime %s, compare %s, base %s (%lld files rows), sizes %s\n", FormatKey(*prime).c_str(),
                compare ? FormatKey(*compare).c_str() : "none", base.c_str(),
                static_cast<long long>(info.InfoFilesCollected), std::string(SizeBasisName(basis)).c_str());

    bool keyed = false;
    FilesTableIsKeyed(db, keyed);
    const double bareMs = BareScanMs(db, runs);
    std::printf("files table: %s layout; bare scan of the whole table (%s): %.1f ms\n",
                keyed ? "keyed" : "previous (rowid + File1 index)", kBareScan, bareMs);

    bool allMet = true;
    std::printf("%-21s %18s %5s %18s %5s %18s %5s %8s\n", "analysis", "base ms wall/cpu", "rows",
                "largest ms", "rows", "median ms", "rows", "targets");
    std::vector<int> only;
    for (int i = 3; i < argc; ++i) only.push_back(std::atoi(argv[i]));
    for (const auto& entry : AnalysisCatalogue()) {
        if (!only.empty() && std::find(only.begin(), only.end(), entry.Code()) == only.end()) continue;
        Timing timings[3];
        std::string dirs[3] = {base, down, typical};
        for (int d = 0; d < 3; ++d) {
            AnalysisState state;
            state.AnalysisKind = entry.Kind;
            state.SnapshotDate = *prime;
            if (compare) state.CompareSnapshotDate = *compare;
            state.Style = PathStyleOfBasePath(base);
            state.BasePath = base;
            state.QueryDirectory = state.SelectedDirectory = dirs[d];
            state.SizeBasis = basis;
            std::optional<double> total;
            FindDirectoryTotal(db, dirs[d], *prime, state.Style, total, Entrytype::Directory, basis);
            state.DirTotal = total.value_or(0);
            if (compare) FindDirectoryTotal(db, dirs[d], *compare, state.Style, total, Entrytype::Directory, basis);
            if (compare) state.CompareDirTotal = total.value_or(0);
            FormSnapshotLabels(state);
            timings[d] = TimeKind(db, state, runs);
            if (d == 0) {
                GridSettings settings;
                QueryHints hints;
                EstimateQueryHints(db, state, hints);
                if (basis == SizeBasis::Disk) {
                    DiskTablesExist(db, hints.DiskTables);
                    HasDiskFigures(db, state.SnapshotDate, hints.PrimeDiskFigures);
                }
                BuildAnalysisQuery(state, settings, hints);
                std::printf("  plan of %s:\n", std::string(entry.Name).c_str());
                PrintPlan(db, settings.TotalSql);
                PrintPlan(db, settings.AnalysisSql);
            }
        }
        if (IsComparison(entry.Kind) && bareMs > 0) {
            std::printf("  %s at the base path: %.2f x the bare scan\n", std::string(entry.Name).c_str(),
                        timings[0].MedianMs / bareMs);
        }
        const bool directory = entry.Menu == AnalysisMenu::Directories;
        // Growth reads every directory of the tree, not one level: 300 ms at the base path.
        const bool growth = entry.Kind == AnalysisKind::WhereDidItGrow;
        const double targetBase = growth ? 300 : directory ? 20 : 1000;
        const double targetDown = growth ? 300 : directory ? 20 : 150;
        bool met = timings[0].MedianMs < targetBase && timings[1].MedianMs < targetDown &&
                   timings[2].MedianMs < targetDown;
        allMet = allMet && met;
        std::printf("%-21s %9.1f/%8.1f %5d %9.1f/%8.1f %5d %9.1f/%8.1f %5d %4.0f/%3.0f %s\n",
                    std::string(entry.Name).c_str(), timings[0].MedianMs, timings[0].CpuMs, timings[0].Rows,
                    timings[1].MedianMs, timings[1].CpuMs, timings[1].Rows, timings[2].MedianMs, timings[2].CpuMs,
                    timings[2].Rows, targetBase, targetDown, met ? "ok" : "MISSED");
    }
    std::printf("%s\n", allMet ? "all targets met" : "some targets missed");
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory of the whole run: %.0f MB\n", static_cast<double>(usage.ru_maxrss) / 1024);
    CloseSnapshotDatabase(db);
    return 0;
}
