// The history layout against today's tables. Two databases take the same
// runs of one real tree under the same keys: one made with
// CORVINA_LAYOUT=tables, which stores every row and is the reference, and one
// made in the layout new databases get. Whatever a reader asks (the tables by
// plain SQL, the catalogue, the directory tree, every analysis, the trend)
// they must answer alike, also after deletes that cut into the rows a
// snapshot shares with its neighbours.
//
// The runs take their keys from a clock the test sets (tests/support/TestClock.h),
// so that both databases get the same keys and no run waits for the next
// second. With CORVINA_TEST_SERVER set (tests/server/with_server.sh sets it)
// the two databases are schemas of that server.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <sqlite3.h>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisRun.h"
#include "analysis/DirectoryChildren.h"
#include "analysis/DirectoryTotal.h"
#include "analysis/GridLayout.h"
#include "analysis/Trend.h"
#include "app/OpenDialogue.h"
#include "capture/SnapshotRun.h"
#include "store/Catalogue.h"
#include "store/HistoryLayout.h"
#include "store/RowWriter.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/ServerSchema.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestClock.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

class QuietObserver final : public WalkObserver {
    void OnStatus(const std::string&) override {}
    void OnCounters(const RunCounters&) override {}
    DebugAnswer OnDebugStop(const std::string&, const std::vector<DebugEntry>&) override {
        return DebugAnswer::Continue;
    }
};

// Every row of the tables a snapshot's readers see, each table in the order
// of its key; of every snapshot when key is null, so that rows a delete left
// behind show as well.
std::string TableRows(DatabaseState& db, const DateTime& key = {}) {
    static const std::pair<const char*, const char*> kTables[] = {
        {"Control", ""},
        {"Dir", ", Dirname, Entrytype"},
        {"files", ", Filedir, Filename"},
        {"Dirdisk", ", Dirname, Entrytype"},
        {"Filedisk", ", Filedir, Filename"},
        {"Diskusage", ""}};
    const std::string where = key.IsNull() ? "" : " WHERE Snapshot = '" + FormatKey(key) + "'";
    std::string text;
    for (const auto& [table, order] : kTables) {
        const std::string sql = fmt::format("SELECT * FROM {}{} ORDER BY Snapshot{}", table, where, order);
        text += fmt::format("{}:\n{}\n", table, test::Query(db, sql, "\n"));
    }
    return text;
}

// The snapshot grid of every base path.
std::string CatalogueText(DatabaseState& db) {
    std::vector<std::string> bases;
    std::string text = ListBasePaths(db, bases).Details() + "\n";
    for (const std::string& base : bases) {
        std::vector<SnapshotListRow> rows;
        text += ListSnapshots(db, base, rows).Details() + "\n";
        for (const SnapshotListRow& r : rows) {
            text += fmt::format("{}|{}|{}|{}|{}|{}|{}\n", r.KeyText, r.Basepath, r.Description, r.SizeText, r.Totdirs,
                                r.Totfiles, r.Totbytes);
        }
    }
    return text;
}

std::string ChildrenText(DatabaseState& db, const DateTime& key, const DateTime& compare, const std::string& parent,
                         SizeBasis basis) {
    std::vector<DirectoryChild> children;
    const StoreError error = ListDirectoryChildren(db, key, parent, PathStyle::Posix, children, compare, basis);
    std::string text = error.Details() + "\n";
    for (const DirectoryChild& c : children) {
        text += fmt::format("{}|{}|{}|{}|{}|{}\n", c.Dirname, c.Shortname, c.HasChildren, c.Files, c.Bytes,
                            c.CompareBytes);
    }
    return text;
}

// The trend's points but the file system's figures, which the runs into the
// two databases read at different moments.
std::string TrendText(DatabaseState& db, const std::string& base, const std::string& directory, SizeBasis basis) {
    std::vector<TrendPoint> points;
    std::string text = ReadTrend(db, base, directory, PathStyle::Posix, std::nullopt, points, basis).Details() + "\n";
    for (const TrendPoint& p : points) {
        text += fmt::format("{}|{}|{}|{}|{}|{}\n", FormatKey(p.Snapshot), p.Present, p.Files, p.Bytes, p.Measured,
                            p.Filesystem.has_value());
    }
    return text;
}

// What the window shows for an analysis at directory, the totals read as a
// tree click reads them: title and grid, one line a row. CompareDirectories
// leaves the order of its rows to the engine, so its detail rows are sorted.
std::string AnalysisText(DatabaseState& db, AnalysisKind kind, const DateTime& prime, const DateTime& compare,
                         const std::string& directory, SizeBasis basis) {
    AnalysisState state;
    state.AnalysisKind = kind;
    state.SnapshotDate = prime;
    state.CompareSnapshotDate = compare;
    SnapshotInfo info;
    EXPECT_TRUE(LoadSnapshotInfo(db, prime, info).Ok());
    state.BasePath = info.InfoBasePath;
    state.SizeThreshold = info.InfoFileLimit;
    state.QueryDirectory = state.SelectedDirectory = directory;
    state.SizeUnit = 'B';
    state.SizeBasis = basis;
    state.Style = PathStyle::Posix;
    for (auto [key, total] : {std::pair{prime, &state.DirTotal}, std::pair{compare, &state.CompareDirTotal}}) {
        std::optional<double> found;
        if (!key.IsNull()) {
            EXPECT_TRUE(
                FindDirectoryTotal(db, directory, key, PathStyle::Posix, found, Entrytype::Directory, basis).Ok());
        }
        *total = found.value_or(0);
    }
    FormSnapshotLabels(state);
    GridSettings settings;
    ResultGrid grid;
    LayoutResultGrid(state, settings, grid);
    const AnalysisOutcome outcome = RunAnalysis(db, state, settings, grid);
    EXPECT_TRUE(outcome.Error.Ok()) << outcome.Title << ": " << outcome.Error.Details();
    std::vector<std::string> rows;
    for (int r = 0; r < grid.RowCount(); ++r) {
        std::string row;
        for (int c = 0; c < grid.ColumnCount(); ++c) row += grid.Cell(r, c) + "|";
        rows.push_back(std::move(row));
    }
    if (kind == AnalysisKind::CompareDirectories) {
        std::sort(rows.begin() + std::min(grid.FixedRows(), grid.RowCount()), rows.end());
    }
    std::string text = outcome.Title + "\n";
    for (const std::string& row : rows) text += row + "\n";
    return text;
}

class HistoryLayout : public ::testing::Test {
protected:
    // One database of the pair. Layout is what CORVINA_LAYOUT holds (null:
    // unset) whenever the store may make the database's tables: when it is
    // opened and when a run writes to it.
    struct Side {
        const char* Layout;
        test::ServerSchema Schema = {};
        DatabaseState Db = {};
    };

    void SetUp() override {
        if (const char* layout = std::getenv("CORVINA_LAYOUT")) savedLayout_ = layout;
        for (Side& side : sides_) {
            side.Db.DatabasePath = test::TestServer().empty()
                                       ? dir_.File(std::string(side.Layout ? side.Layout : "history") + ".mdb")
                                       : side.Schema.Location();
            ChooseLayout(side);
            test::RecordingPrompter prompter;
            test::RecordingEnder ender;
            ASSERT_EQ(OpenSnapshotDatabase(side.Db, prompter, ender), OpenOutcome::Created);
        }
    }
    void TearDown() override {
        for (Side& side : sides_) CloseSnapshotDatabase(side.Db);
        test::ClearClock();
        if (savedLayout_) {
            setenv("CORVINA_LAYOUT", savedLayout_->c_str(), 1);
        } else {
            unsetenv("CORVINA_LAYOUT");
        }
    }

    static void ChooseLayout(const Side& side) {
        if (side.Layout != nullptr) {
            setenv("CORVINA_LAYOUT", side.Layout, 1);
        } else {
            unsetenv("CORVINA_LAYOUT");
        }
    }

    std::string Tree() const { return dir_.File("tree"); }

    // The same run into both databases under one key, a minute after the last.
    DateTime Take(const std::string& base, bool files, std::int64_t threshold = 0) {
        clock_ += 60;
        test::SetClock(clock_);
        SnapshotRequest request;
        request.BasePath = base;
        request.Description = "the same run";
        request.CollectFiles = files;
        request.SizeThreshold = threshold;
        request.Style = PathStyle::Posix;
        for (Side& side : sides_) {
            ChooseLayout(side);
            RunControl control;
            QuietObserver observer;
            const RunResult result = TakeSnapshot(side.Db, request, control, observer);
            EXPECT_EQ(result.Outcome, RunOutcome::Completed) << result.StatusText;
            EXPECT_EQ(result.Key, DateTime::FromUnix(clock_));
        }
        return DateTime::FromUnix(clock_);
    }

    void Delete(const std::vector<DateTime>& keys) {
        for (Side& side : sides_) {
            WaitUpTo noWait(std::chrono::milliseconds(0));
            ASSERT_TRUE(DeleteSnapshots(side.Db, keys, noWait).Ok());
        }
    }

    // Fails with what the two databases answered when the history layout
    // answers otherwise than the tables.
    template <typename Ask>
    void ExpectSame(const Ask& ask, const std::string& what) {
        EXPECT_EQ(ask(sides_[0].Db), ask(sides_[1].Db)) << what;
    }

    test::TempDir dir_;
    Side sides_[2] = {{"tables"}, {nullptr}};
    std::optional<std::string> savedLayout_;
    std::int64_t clock_ = 1717236000;  // June 2024: no change of daylight-saving time near
};

// Five snapshots of a tree that changes in every way a row can: a file grows,
// shrinks, appears, vanishes, gets a new modification time; a directory comes
// and goes; names that look like a files entry, a second name of a file, a
// sparse file that fills. The third records directories only; the fifth is
// the fourth's tree unchanged.
TEST_F(HistoryLayout, EveryReaderGetsTheAnswersOfTheTables) {
    const std::string tree = Tree();
    const std::string docs = tree + "/docs";
    for (const char* dir : {"docs/old", "odd/(files)", "it's 50%_*", "tmp"}) fs::create_directories(tree + "/" + dir);
    WriteFile(tree + "/readme.txt", std::string(1000, 'r'));
    WriteFile(docs + "/a.txt", std::string(3000, 'a'));
    WriteFile(docs + "/gone.txt", std::string(700, 'g'));
    WriteFile(docs + "/(files)", std::string(10, 'f'));
    WriteFile(docs + "/caf\xc3\xa9 \xff.bin", std::string(1234, 'c'));
    WriteFile(docs + "/old/a.txt", std::string(500, 'o'));
    WriteFile(tree + "/odd/(files)/y", std::string(300, 'y'));
    WriteFile(tree + "/it's 50%_*/x%_*.c", std::string(4096, 'x'));
    WriteFile(tree + "/tmp/t.log", std::string(9000, 't'));
    WriteFile(docs + "/shared.bin", std::string(50000, 's'));
    fs::create_hard_link(docs + "/shared.bin", tree + "/tmp/shared-link.bin");
    WriteFile(tree + "/sparse.img", "");
    fs::resize_file(tree + "/sparse.img", 8 << 20);
    test::WriteAt(tree + "/sparse.img", 4 << 20, std::string(5000, 'd'));
    fs::create_symlink("docs/a.txt", tree + "/link");

    std::vector<DateTime> keys{Take(tree, true)};
    WriteFile(docs + "/a.txt", std::string(6000, 'a'));
    WriteFile(tree + "/tmp/t.log", std::string(100, 't'));
    WriteFile(docs + "/b.doc", std::string(2048, 'b'));
    fs::remove(docs + "/gone.txt");
    fs::create_directories(tree + "/new/deep");
    WriteFile(tree + "/new/deep/n.dat", std::string(777, 'n'));
    fs::last_write_time(docs + "/old/a.txt", fs::last_write_time(docs + "/old/a.txt") - std::chrono::hours(48));
    keys.push_back(Take(tree, true));
    test::WriteAt(tree + "/sparse.img", 6 << 20, std::string(70000, 'e'));
    keys.push_back(Take(tree, false));
    fs::remove_all(tree + "/tmp");
    WriteFile(docs + "/a.txt", std::string(2500, 'a'));
    keys.push_back(Take(tree, true));
    keys.push_back(Take(tree, true));
    ASSERT_FALSE(HasFailure());

    ExpectSame(CatalogueText, "catalogue");
    for (const DateTime& a : keys) ExpectSame([&](DatabaseState& db) { return TableRows(db, a); }, FormatKey(a));
    for (SizeBasis basis : {SizeBasis::Apparent, SizeBasis::Disk}) {
        for (const std::string& dir : {tree, docs}) {
            ExpectSame([&](DatabaseState& db) { return TrendText(db, tree, dir, basis); }, "trend of " + dir);
            for (const DateTime& a : keys) {
                for (const DateTime& b : keys) {
                    const std::string pair = FormatKey(a) + " against " + FormatKey(b) + " at " + dir;
                    ExpectSame([&](DatabaseState& db) { return ChildrenText(db, a, b, dir, basis); }, "tree " + pair);
                    for (const AnalysisEntry& entry : AnalysisCatalogue()) {
                        if (!entry.NeedsCompare && a != b) continue;  // the compare snapshot is not read
                        const DateTime compare = entry.NeedsCompare ? b : DateTime{};
                        auto answer = [&](DatabaseState& db) {
                            return AnalysisText(db, entry.Kind, a, compare, dir, basis);
                        };
                        ExpectSame(answer, std::string(entry.Name) + " " + pair);
                    }
                }
            }
        }
    }
}

// One random change of a small tree: a file written (new, grown or shrunk),
// removed, given a second name or an older modification time, a directory
// made or removed. Says what it did, for the log of a failing run.
std::string ChangeTree(const std::string& base, std::mt19937& random) {
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    static const char* const kDirs[] = {"", "/a", "/a/b", "/c", "/c/(files)"};
    static const char* const kNames[] = {"/x", "/y.txt", "/(files)", "/it's%_.c"};
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(base)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    const std::string dir = base + kDirs[pick(std::size(kDirs))];
    const std::string file = dir + kNames[pick(std::size(kNames))];
    const fs::path some = files.empty() ? fs::path() : files[pick(files.size())];
    switch (pick(6)) {
    case 0:
        if (!fs::is_directory(dir) || fs::is_directory(file)) return "none";
        WriteFile(file, std::string(pick(9000), 'w'));
        return "write " + file + " " + std::to_string(fs::file_size(file));
    case 1:
        if (some.empty()) return "none";
        fs::remove(some);
        return "remove " + some.string();
    case 2:
        if (some.empty() || !fs::is_directory(dir) || fs::exists(file)) return "none";
        fs::create_hard_link(some, file);
        return "link " + some.string() + " as " + file;
    case 3:
        if (some.empty()) return "none";
        fs::last_write_time(some, fs::last_write_time(some) - std::chrono::hours(1 + pick(100)));
        return "touch " + some.string();
    case 4:
        if (fs::exists(dir)) return "none";
        fs::create_directories(dir);
        return "mkdir " + dir;
    default:
        if (dir == base || !fs::exists(dir)) return "none";
        fs::remove_all(dir);
        return "rmdir " + dir;
    }
}

// A seeded run of snapshots and deletes against both databases: snapshots of
// two base paths (two chains side by side), with every file or directories
// only, after a change or of the tree unchanged; deletes of the first, a
// middle or the last snapshot of a chain, its only one, or two at once. After
// every step both databases hold the same rows. CORVINA_TEST_SEED replays
// another seed.
TEST_F(HistoryLayout, DeletingSnapshotsLeavesTheOthersWhole) {
    const char* seedText = std::getenv("CORVINA_TEST_SEED");
    const unsigned seed = seedText != nullptr ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 20240601u;
    std::mt19937 random(seed);
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const std::string bases[] = {Tree() + "/p", Tree() + "/q"};
    for (const std::string& base : bases) {
        fs::create_directories(base + "/a/b");
        WriteFile(base + "/a/x", std::string(3000, 'x'));
        WriteFile(base + "/y.txt", std::string(100, 'y'));
    }
    std::vector<DateTime> chains[2];  // live snapshots of each base path, oldest first
    std::string log = "seed " + std::to_string(seed);
    for (int step = 0; step < 300; ++step) {
        const std::size_t live = chains[0].size() + chains[1].size();
        if (live == 0 || pick(10) < (live < 6 ? 7u : 3u)) {
            const std::size_t chain = pick(2);
            const std::string change = pick(4) != 0 ? ChangeTree(bases[chain], random) : "none";
            const bool files = pick(3) != 0;
            const std::int64_t threshold = pick(2) != 0 ? 0 : 2000;
            chains[chain].push_back(Take(bases[chain], files, threshold));
            log += fmt::format("\n{}: take {} of {} ({}, threshold {}) after change: {}", step,
                               FormatKey(chains[chain].back()), bases[chain], files ? "files" : "directories only",
                               threshold, change);
        } else {
            std::vector<DateTime> gone;
            for (std::size_t count = pick(5) == 0 ? 2 : 1; count > 0; --count) {
                std::vector<DateTime>& chain = chains[chains[0].empty() ? 1 : chains[1].empty() ? 0 : pick(2)];
                if (chain.empty()) break;
                const std::size_t at = std::array{std::size_t{0}, chain.size() / 2, chain.size() - 1}[pick(3)];
                gone.push_back(chain[at]);
                chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(at));
            }
            Delete(gone);
            log += fmt::format("\n{}: delete", step);
            for (const DateTime& key : gone) log += " " + FormatKey(key);
        }
        ASSERT_FALSE(HasFailure()) << log;
        ASSERT_EQ(TableRows(sides_[0].Db), TableRows(sides_[1].Db)) << log;
    }
    // Compacting drops the paths the deletes left unused, and no other: every
    // reader still sees each snapshot's rows, and a second time drops nothing.
    auto paths = [&] { return test::Query(sides_[1].Db, "SELECT count(*) FROM Dirpath"); };
    const std::string before = paths();
    std::string after;
    for (int round = 0; round < 2; ++round) {
        WaitUpTo noWait(std::chrono::milliseconds(0));
        bool converted = true;
        std::int64_t snapshots = 0;
        ASSERT_TRUE(history::ConvertToHistory(sides_[1].Db, noWait, converted, snapshots).Ok());
        EXPECT_FALSE(converted);
        ASSERT_EQ(TableRows(sides_[0].Db), TableRows(sides_[1].Db)) << log;
        if (round == 1) {
            EXPECT_EQ(paths(), after);
        }
        after = paths();
    }
    EXPECT_LT(std::stoll(after), std::stoll(before));
}

// Rows in an order no walk gives: a directory's files in several groups, files
// of a directory without an entry of its own, a name written twice. Each
// snapshot still holds exactly its rows, and a name given twice in one
// snapshot is refused.
TEST_F(HistoryLayout, RowsInAnyOrderGiveTheSameSnapshots) {
    using test::FileRow;
    const std::vector<test::DirRow> dirs{{"2", "/d", 5, 50}, {"2", "/d/a", 3, 30}, {"2", "/d/b", 1, 10}};
    const std::vector<std::vector<FileRow>> runs{
        {{"/d/a", "x", 10}, {"/d/b", "y", 10}, {"/d/a", "w", 10}, {"/d/c", "v", 5}, {"/d/a", "z", 10}},
        {{"/d/a", "z", 11}, {"/d/b", "y", 10}, {"/d/a", "x", 10}, {"/d/c", "v", 5}},
        {{"/d/b", "y", 12}, {"/d/a", "x", 10}, {"/d/b", "u", 1}},
        {{"/d/a", "x", 10}, {"/d/b", "u", 1}, {"/d/c", "v", 5}},
    };
    const char* keys[] = {"2024-06-01 10:00:00", "2024-06-02 10:00:00", "2024-06-03 10:00:00", "2024-06-04 10:00:00"};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        for (Side& side : sides_) {
            ChooseLayout(side);
            test::AddSnapshot(side.Db, {.Key = keys[i], .BasePath = "/d", .Dirs = dirs, .Files = runs[i]});
        }
        for (std::size_t j = 0; j <= i; ++j) {
            ExpectSame(
                [&](DatabaseState& db) {
                    const std::string where = fmt::format(" WHERE Snapshot = '{}' ORDER BY ", keys[j]);
                    return test::Query(db, "SELECT * FROM Dir" + where + "Dirname", "\n") + "\n" +
                           test::Query(db, "SELECT * FROM files" + where + "Filedir, Filename", "\n");
                },
                keys[j]);
        }
    }
    // The history layout refuses it at the row itself, so that the run names
    // the file (the tables may hold it until the rows are sent).
    RowWriter writer(sides_[1].Db, RowContext{test::Key("2024-06-05 10:00:00"), "/d", 0, PathStyle::Posix, ""});
    const FileRowInput twice{"x", 1, "/d/a", 0, DateTime{}};
    EXPECT_TRUE(writer.WriteFileRow(twice).Ok());
    EXPECT_EQ(writer.WriteFileRow(twice).Code, StoreCode::Constraint);
}

// A comparison of two snapshots of a chain reads the rows that differ between
// them, not the snapshots: the engine's steps over the files and directory
// entries that differ stay near the number of changes, whichever snapshot is
// the older. Counted by the file engine, which says how many steps a
// statement took, whichever engine the other tests here use.
TEST_F(HistoryLayout, AComparisonReadsWhatChangedNotTheSnapshots) {
    using test::FileRow;
    std::vector<FileRow> before, after;
    for (int i = 0; i < 3000; ++i) {
        const std::string dir = fmt::format("/d/{}", i % 30);
        before.push_back({dir, fmt::format("f{}", i), 100});
        // 30 files grow, 30 go, 30 come.
        if (i % 100 == 1) continue;
        after.push_back({dir, fmt::format("f{}", i), i % 100 == 2 ? 101 : 100});
        if (i % 100 == 3) after.push_back({dir, fmt::format("new{}", i), 5});
    }
    std::sort(after.begin(), after.end(),
              [](const FileRow& x, const FileRow& y) { return std::tie(x.Dir, x.Name) < std::tie(y.Dir, y.Name); });
    // 1,000 directories, of which 30 hold other files in the second snapshot.
    std::vector<test::DirRow> dirsBefore{{"2", "/d", 3000, 3e5}}, dirsAfter{{"2", "/d", 3000, 3e5}};
    for (int k = 0; k < 1000; ++k) {
        const std::string dir = fmt::format("/d/{}", k);
        for (auto* dirs : {&dirsBefore, &dirsAfter}) {
            const double bytes = k < 30 && dirs == &dirsAfter ? 9999 : 1e4;
            dirs->push_back({"2", dir, 100, bytes});
            dirs->push_back({"1", dir + "/(files)", 100, bytes});
        }
    }
    unsetenv("CORVINA_LAYOUT");
    DatabaseState db;
    db.DatabasePath = dir_.File("steps.mdb");
    test::RecordingPrompter prompter;
    test::RecordingEnder ender;
    ASSERT_EQ(OpenSnapshotDatabase(db, prompter, ender), OpenOutcome::Created);
    test::AddSnapshot(db, {.Key = "2024-06-01 10:00:00", .BasePath = "/d", .Dirs = dirsBefore, .Files = before});
    test::AddSnapshot(db, {.Key = "2024-06-02 10:00:00", .BasePath = "/d", .Dirs = dirsAfter, .Files = after});
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db.DatabasePath.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    const std::pair<std::string, int> queries[] = {
        {"SELECT count(*) FROM (" + history::DifferingFilesSql("?1") + ") x WHERE Snapshot = ?2", 60},
        {"SELECT count(*) FROM (" + history::DifferingDirsSql("?1") + ") x WHERE Snapshot = ?2", 60}};
    for (const auto& [sql, rows] : queries) {
        for (const auto& [side, other] : {std::pair{"2024-06-02 10:00:00", "2024-06-01 10:00:00"},
                                          std::pair{"2024-06-01 10:00:00", "2024-06-02 10:00:00"}}) {
            SCOPED_TRACE(std::string(side) + ": " + sql);
            sqlite3_stmt* statement = nullptr;
            ASSERT_EQ(sqlite3_prepare_v2(raw, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(raw);
            sqlite3_bind_text(statement, 1, other, -1, SQLITE_STATIC);
            sqlite3_bind_text(statement, 2, side, -1, SQLITE_STATIC);
            ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
            EXPECT_EQ(sqlite3_column_int(statement, 0), rows);
            // 2,000 to 2,700 steps for the 60 rows; a scan of either
            // snapshot, 2,000 rows or more, takes over 30,000.
            EXPECT_LT(sqlite3_stmt_status(statement, SQLITE_STMTSTATUS_VM_STEP, 0), 5000);
            sqlite3_finalize(statement);
        }
    }
    sqlite3_close(raw);
    CloseSnapshotDatabase(db);
}
}  // namespace
}  // namespace corvina
