// Time to the first full screen of corvina-cli browse: the database opened,
// the latest snapshot and the previous one chosen, the base path's entries
// read and drawn into a screen of 80 by 24, as the command does before the
// terminal shows it. Prints each run and the median; the goal is under 0.2 s
// on a pair of million-file snapshots (Release build).
//
//   browse_bench DATABASE [RUNS [DIR]]
//
// The pair is the analysis benchmark's (bench/analysis/README.md): a tree of a
// million files made by make_tree.py, then
//
//   build-rel/bench/analysis/analysis_bench_data /tmp/t1m /tmp/t1m.db
//
// which writes two snapshots 1 % apart in the layout new databases get (the
// history layout). DIR, when given, is the directory opened first, as --dir.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/BrowseCommand.h"
#include "cli/BrowseScreen.h"
#include "cli/CliSupport.h"

using namespace corvina;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: browse_bench DATABASE [RUNS [DIR]]\n");
        return 2;
    }
    cli::BrowseOptions options;
    options.Db = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (argc > 3) options.Dir = argv[3];
    std::vector<double> times;
    std::string screen;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        DatabaseState db;
        std::unique_ptr<cli::BrowseModel> model;
        try {
            if (const int rc = cli::OpenBrowser(db, options, model); rc != cli::kExitOk) return rc;
        } catch (const cli::ProgramEnd& end) {
            return end.ExitCode;
        }
        model->SetPageRows(cli::BrowseListRows(24));
        screen = cli::ScreenText(cli::RenderBrowser(*model, 80, 24, true));
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        times.push_back(took.count());
        std::printf("run %d: %.1f ms\n", run + 1, took.count());
    }
    std::sort(times.begin(), times.end());
    std::printf("first full screen, median of %d: %.1f ms (goal: under 200 ms)\n\n%s", runs, times[times.size() / 2],
                screen.c_str());
    return 0;
}
