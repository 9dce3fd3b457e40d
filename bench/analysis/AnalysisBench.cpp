// Times every analysis as the window runs it (query build, layout, queries and
// grid fill, chart data) on a snapshot database, at the base path and at a
// directory two levels below it, and prints each query's plan:
//
//   analysis_bench DATABASE [RUNS [CODE...]]
//
// The prime snapshot is the newest, the compare snapshot the one before it
// (analysis_bench_data writes such a pair). The directory two levels down is
// the one there with the most files, the slowest case. Prints the median of
// RUNS runs (default 5) after one warm-up run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <SQLiteCpp/Statement.h>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisIndexes.h"
#include "analysis/AnalysisQuery.h"
#include "analysis/AnalysisRun.h"
#include "analysis/DirectoryTotal.h"
#include "analysis/FileListMerge.h"
#include "analysis/GridLayout.h"
#include "store/Catalogue.h"
#include "store/SnapshotDatabase.h"

namespace {

using namespace corvina;

class QuietPrompter : public Prompter {
public:
    Answer Ask(const Message& message) override {
        if (message.MessageIcon == Icon::Exclamation) std::fprintf(stderr, "%s\n", message.Text.c_str());
        return Answer::Yes;
    }
};
class ExitEnder : public ProgramEnder {
public:
    void EndProgram(int code) override { std::exit(code); }
};

void PrintPlan(DatabaseState& db, const BoundQuery& query) {
    if (query.Empty()) return;
    SQLite::Statement plan(*db.SnapshotDatabase, "EXPLAIN QUERY PLAN " + query.Sql);
    BindParams(plan, query);
    while (plan.executeStep()) std::printf("      %s\n", plan.getColumn(3).getText());
}

std::string DirectoryTwoLevelsDown(DatabaseState& db, const DateTime& key) {
    SQLite::Statement query(*db.SnapshotDatabase,
                            "SELECT Dirname FROM Dir WHERE Snapshot = ? AND Entrytype = '2' AND Dirlevel = 3 "
                            "ORDER BY Files DESC LIMIT 1");
    query.bind(1, FormatKey(key));
    return query.executeStep() ? query.getColumn(0).getString() : std::string();
}

struct Timing {
    double MedianMs = 0;
    int Rows = 0;
};

Timing TimeKind(DatabaseState& db, QuietPrompter& prompter, const AnalysisState& state, int runs) {
    std::vector<double> times;
    int rows = 0;
    for (int run = 0; run <= runs; ++run) {
        GridSettings settings;
        ResultGrid grid;
        auto start = std::chrono::steady_clock::now();
        LayoutResultGrid(state, settings, grid);
        RunOutcome outcome = RunAnalysis(db, prompter, state, settings, grid);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (run > 0) times.push_back(ms);  // run 0 warms the cache
        rows = grid.RowCount() - grid.FixedRows();
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], rows};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DATABASE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    DatabaseState db;
    db.DatabasePath = argv[1];
    QuietPrompter prompter;
    ExitEnder ender;
    if (OpenSnapshotDatabase(db, prompter, ender) != OpenOutcome::Opened) return 1;
    PrepareForAnalysis(*db.SnapshotDatabase);
    auto prime = LatestSnapshot(db);
    if (!prime) return 1;
    auto compare = PreviousSnapshot(db, *prime);
    SnapshotInfo info;
    LoadSnapshotInfo(db, prompter, *prime, info);
    const std::string base = info.InfoBasePath;
    const std::string down = DirectoryTwoLevelsDown(db, *prime);
    std::printf("prime %s, compare %s, base %s (%lld files rows), two levels down %s\n", FormatKey(*prime).c_str(),
                compare ? FormatKey(*compare).c_str() : "none", base.c_str(),
                static_cast<long long>(info.InfoFilesCollected), down.c_str());

    bool allMet = true;
    std::printf("%-24s %12s %7s %12s %7s %10s %10s\n", "analysis", "base ms", "rows", "down ms", "rows", "target b",
                "target d");
    std::vector<int> only;
    for (int i = 3; i < argc; ++i) only.push_back(std::atoi(argv[i]));
    for (const auto& entry : AnalysisCatalogue()) {
        if (!only.empty() && std::find(only.begin(), only.end(), entry.Code) == only.end()) continue;
        Timing timings[2];
        std::string dirs[2] = {base, down};
        for (int d = 0; d < 2; ++d) {
            AnalysisState state;
            state.AnalysisKind = entry.Code;
            state.SnapshotDate = *prime;
            if (compare) state.CompareSnapshotDate = *compare;
            state.Style = PathStyleOfBasePath(base);
            state.BasePath = base;
            state.QueryDirectory = state.SelectedDirectory = dirs[d];
            state.DirTotal = GetDirectoryTotal(db, dirs[d], *prime, state.Style);
            if (compare) state.CompareDirTotal = GetDirectoryTotal(db, dirs[d], *compare, state.Style);
            FormSnapshotLabels(state);
            timings[d] = TimeKind(db, prompter, state, runs);
            if (d == 0) {
                GridSettings settings;
                BuildAnalysisQuery(state, settings, EstimateQueryHints(db, state));
                std::printf("  plan of %s:\n", std::string(entry.Name).c_str());
                PrintPlan(db, settings.TotalSql);
                PrintPlan(db, settings.AnalysisSql);
            }
        }
        const bool directory = entry.Code <= DirectoryHistory;
        const double targetBase = directory ? 20 : 1000;
        const double targetDown = directory ? 20 : 150;
        bool met = timings[0].MedianMs < targetBase && timings[1].MedianMs < targetDown;
        allMet = allMet && met;
        std::printf("%-24s %12.2f %7d %12.2f %7d %10.0f %10.0f %s\n", std::string(entry.Name).c_str(),
                    timings[0].MedianMs, timings[0].Rows, timings[1].MedianMs, timings[1].Rows, targetBase,
                    targetDown, met ? "ok" : "MISSED");
    }
    std::printf("%s\n", allMet ? "all targets met" : "some targets missed");
    CloseSnapshotDatabase(db);
    return 0;
}
