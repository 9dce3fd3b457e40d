// Speed of the analysis window on a large snapshot, driving the real window
// offscreen: opening it on the snapshot until tree, grid and chart are shown,
// expanding the tree node with the most children, and a node click that runs
// "&Directory Details" again. Prints the median of each over RUNS runs.
//
//   ui_analysis_window_bench DATABASE [RUNS]     the newest snapshot of DATABASE
//   ui_analysis_window_bench --make FILES DATABASE [RUNS]
//
// --make first writes a synthetic snapshot of FILES files rows into a new
// DATABASE: /bench/wide holds 600 subdirectories, /bench/deep 100 holding 100
// each; the files are spread over all of them.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTreeView>

#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include "analysis/AnalysisSession.h"
#include "app/OpenDialogue.h"
#include "report/SessionMessages.h"
#include "store/Catalogue.h"
#include "store/Statement.h"
#include "store/WriteTransaction.h"
#include "store/RowWriter.h"
#include "store/SnapshotDatabase.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"
#include "ui/AnalysisWindow.h"
#include "ui/DirectoryTreeModel.h"
#include "ui/FileDialogs.h"

using namespace corvina;

namespace {

bool MakeSnapshot(DatabaseState& db, long long files) {
    const DateTime key = DateTime::Now();
    const std::string base = "/bench";
    std::vector<std::string> leaves;
    for (int i = 0; i < 600; ++i) leaves.push_back(base + "/wide/w" + std::to_string(1000 + i));
    for (int a = 0; a < 100; ++a) {
        for (int b = 0; b < 100; ++b) {
            leaves.push_back(base + "/deep/a" + std::to_string(100 + a) + "/b" + std::to_string(100 + b));
        }
    }
    WriteTransaction transaction(db);
    WaitUpTo noWait{std::chrono::milliseconds(0)};
    if (!transaction.Begin(noWait).Ok()) return false;
    RowWriter writer(db, RowContext{key, base, BaseLevelOf(base, PathStyle::Posix), PathStyle::Posix, ""});
    std::map<std::string, std::pair<long long, double>> totals;  // every directory's subtree
    const long long perLeaf = files / static_cast<long long>(leaves.size());
    long long written = 0;
    for (std::size_t l = 0; l < leaves.size(); ++l) {
        const long long count = l + 1 == leaves.size() ? files - written : perLeaf;
        double bytes = 0;
        for (long long f = 0; f < count; ++f) {
            const std::int64_t size = 1000 + (f * 7919 + static_cast<long long>(l) * 104729) % 5000000;
            const std::string name = "file" + std::to_string(f) + ".dat";
            if (!writer.WriteFileRow(FileRowInput{name, size, leaves[l], 0, key}).Ok()) return false;
            bytes += static_cast<double>(size);
        }
        written += count;
        if (!writer.WriteDirRow("1", FilesEntryName(leaves[l], PathStyle::Posix), count, bytes).Ok()) return false;
        for (std::string dir = leaves[l]; dir.size() >= base.size(); dir = dir.substr(0, dir.rfind('/'))) {
            totals[dir].first += count;
            totals[dir].second += bytes;
            if (dir == base) break;
        }
    }
    // Deepest first, as a walk writes them.
    std::vector<std::string> dirs;
    for (const auto& entry : totals) dirs.push_back(entry.first);
    std::sort(dirs.begin(), dirs.end(), [](const std::string& a, const std::string& b) {
        return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
    });
    for (const std::string& dir : dirs) {
        if (!writer.WriteDirRow("2", dir, totals[dir].first, totals[dir].second).Ok()) return false;
    }
    ControlRow control{key, base, "bench", "Y", 0, static_cast<std::int64_t>(dirs.size() + leaves.size()),
                       files, totals[base].second, files, totals[base].second, std::nullopt, std::nullopt};
    if (!WriteControlRow(db, control).Ok()) return false;
    if (!transaction.Commit(noWait).Ok()) return false;
    return true;
}

// The directory of the snapshot with the most children.
std::string WidestDirectory(DatabaseState& db, const DateTime& key) {
    Statement query;
    bool row = false;
    if (!query.Prepare(db, "SELECT Parentdir, count(*) FROM Dir WHERE Snapshot = ? AND Parentdir <> '' "
                           "GROUP BY Parentdir ORDER BY 2 DESC LIMIT 1")
             .Ok() ||
        !query.BindText(1, FormatKey(key)).Ok() || !query.Step(row).Ok() || !row) {
        return {};
    }
    return std::string(query.Text(0));
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QModelIndex FindNode(DirectoryTreeModel& tree, const QModelIndex& parent, const std::string& key) {
    for (int r = 0; r < tree.rowCount(parent); ++r) {
        const QModelIndex child = tree.index(r, 0, parent);
        const std::string childKey = tree.Key(child);
        if (childKey == key) return child;
        if (key.rfind(childKey + "/", 0) == 0) return FindNode(tree, child, key);
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    long long makeFiles = 0;
    if (!args.empty() && args[0] == "--make" && args.size() >= 3) {
        makeFiles = std::atoll(args[1].c_str());
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        std::fprintf(stderr, "usage: %s [--make FILES] DATABASE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = args.size() > 1 ? std::max(1, std::atoi(args[1].c_str())) : 7;

    test::TempDir temp;
    QSettings settings(QString::fromStdString(temp.File("bench.conf")), QSettings::IniFormat);
    test::RecordingPrompter prompter;
    test::RecordingEnder ender;
    QtFileDialogs dialogs;
    DatabaseState db;
    db.DatabasePath = args[0];
    if (makeFiles > 0) std::filesystem::remove(db.DatabasePath);
    prompter.Script({Answer::Yes});
    const OpenOutcome opened = OpenSnapshotDatabase(db, prompter, ender);
    if (opened != OpenOutcome::Opened && opened != OpenOutcome::Created) return 1;
    if (makeFiles > 0) {
        QElapsedTimer made;
        made.start();
        if (!MakeSnapshot(db, makeFiles)) return 1;
        std::printf("wrote %lld files rows in %.1f s\n", makeFiles, made.elapsed() / 1000.0);
    }
    std::optional<DateTime> prime;
    if (!LatestSnapshot(db, prime).Ok() || !prime) return 1;
    const std::string widest = WidestDirectory(db, *prime);
    ProgramContext context{db, prompter, ender, settings, dialogs};
    SessionMessages messages(prompter, db);
    AnalysisSession session(db, messages);
    SnapshotChoice choice;

    std::vector<double> open, expand, click;
    int children = 0;
    for (int run = 0; run < runs; ++run) {
        session.PreferPrime(*prime);
        QElapsedTimer clock;
        clock.start();
        auto window = std::make_unique<AnalysisWindow>(context, session, choice);
        window->Load();
        QCoreApplication::processEvents();
        open.push_back(clock.nsecsElapsed() / 1e6);

        // A fresh tree, so that the widest node's children are read again.
        DirectoryTreeModel& tree = window->Tree();
        tree.BuildDirectoryTree(*prime, session.State().QueryDirectory, session.State().Style);
        window->TreeView().expand(tree.RootIndex());
        QCoreApplication::processEvents();
        const QModelIndex node = widest == tree.Key(tree.RootIndex()) ? tree.RootIndex()
                                                                        : FindNode(tree, tree.RootIndex(), widest);
        if (!node.isValid()) {
            std::fprintf(stderr, "node %s not found\n", widest.c_str());
            return 1;
        }
        // Its ancestors open first, untimed: a view reads nothing below a
        // collapsed node.
        for (QModelIndex up = node.parent(); up.isValid(); up = up.parent()) window->TreeView().expand(up);
        window->TreeView().scrollTo(node);
        QCoreApplication::processEvents();
        if (tree.ChildrenRead(node)) {
            std::fprintf(stderr, "children of %s read before the expansion\n", widest.c_str());
            return 1;
        }
        clock.restart();
        window->TreeView().expand(node);
        QCoreApplication::processEvents();
        expand.push_back(clock.nsecsElapsed() / 1e6);
        if (!tree.ChildrenRead(node)) {
            std::fprintf(stderr, "expanding %s read nothing\n", widest.c_str());
            return 1;
        }
        children = tree.rowCount(node);

        clock.restart();
        window->NodeClicked(node);
        QCoreApplication::processEvents();
        click.push_back(clock.nsecsElapsed() / 1e6);
        window->close();
        window.reset();
        if (!db.IsUsable()) {
            // Closing the window closed the database; the next run opens it again.
            OpenSnapshotDatabase(db, prompter, ender);
        }
    }
    SnapshotInfo info;
    LoadSnapshotInfo(db, *prime, info);
    std::printf("snapshot %s of %s: %lld files rows, %lld directories; widest node %s (%d children)\n",
                FormatKey(*prime).c_str(), info.InfoBasePath.c_str(), static_cast<long long>(info.InfoFilesCollected),
                static_cast<long long>(info.InfoTotalDirs), widest.c_str(), children);
    std::printf("%-40s %10s %10s\n", "median of runs", "ms", "target");
    std::printf("%-40s %10.1f %10s\n", "open window (tree, grid, chart)", Median(open), "300");
    std::printf("%-40s %10.1f %10s\n", "expand widest node", Median(expand), "300");
    std::printf("%-40s %10.1f %10s\n", "node click, Directory Details", Median(click), "300");
    const bool met = Median(open) < 300 && Median(expand) < 300 && Median(click) < 300;
    std::printf("%s\n", met ? "all targets met" : "TARGET MISSED");
    CloseSnapshotDatabase(db);
    return met ? 0 : 1;
}
