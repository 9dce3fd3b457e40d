#include "tests/analysis/SnapshotFixture.h"

#include "analysis/DirectoryTotal.h"
#include "app/OpenDialogue.h"
#include "store/Statement.h"

namespace corvina::test {

bool SnapshotDatabaseTest::OnServer() { return !TestServer().empty(); }

void SnapshotDatabaseTest::SetUp() {
    db_.DatabasePath = OnServer() ? schema_.Location() : dir_.File("corvina.mdb");
    ASSERT_EQ(OpenSnapshotDatabase(db_, prompter_, ender_), OpenOutcome::Created);
    ASSERT_TRUE(db_.IsUsable());
    prompter_.Clear();
}

void SnapshotDatabaseTest::TearDown() { CloseSnapshotDatabase(db_); }

double SnapshotDatabaseTest::DirBytes(const char* key, const std::string& dirname) {
    Statement query;
    bool row = false;
    EXPECT_TRUE(query.Prepare(db_, "SELECT TotsizeF FROM Dir WHERE Snapshot = ? AND Dirname = ?").Ok());
    query.BindText(1, FormatKey(Key(key)));
    query.BindText(2, dirname);
    return query.Step(row).Ok() && row ? query.Double(0) : 0;
}

AnalysisState SnapshotDatabaseTest::StateFor(AnalysisKind kind, const char* key, const char* compareKey,
                                             const std::string& directory, PathStyle style, char unit,
                                             SizeBasis basis) {
    AnalysisState state;
    state.AnalysisKind = kind;
    state.SnapshotDate = Key(key);
    if (compareKey != nullptr) state.CompareSnapshotDate = Key(compareKey);
    SnapshotInfo info;
    LoadSnapshotInfo(db_, state.SnapshotDate, info);
    state.BasePath = info.InfoBasePath;
    state.SizeThreshold = info.InfoFileLimit;
    state.QueryDirectory = directory;
    state.SelectedDirectory = directory;
    for (auto [at, total] : {std::pair{key, &state.DirTotal}, std::pair{compareKey, &state.CompareDirTotal}}) {
        if (at == nullptr) continue;
        std::optional<double> found = DirBytes(at, directory);
        if (basis == SizeBasis::Disk) {
            EXPECT_TRUE(FindDirectoryTotal(db_, directory, Key(at), style, found, Entrytype::Directory, basis).Ok());
        }
        *total = found.value_or(0);
    }
    state.SizeUnit = unit;
    state.SizeBasis = basis;
    state.Style = style;
    FormSnapshotLabels(state);
    return state;
}

Rows SnapshotDatabaseTest::Run(const AnalysisState& state) {
    LayoutResultGrid(state, settings_, grid_);
    outcome_ = RunAnalysis(db_, state, settings_, grid_);
    EXPECT_TRUE(outcome_.Error.Ok()) << outcome_.Error.Details() << "\n" << outcome_.Error.Datum;
    Rows rows;
    for (int r = 0; r < grid_.RowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < grid_.ColumnCount(); ++c) row.push_back(grid_.Cell(r, c));
        rows.push_back(std::move(row));
    }
    return rows;
}

Rows SnapshotDatabaseTest::Details(const AnalysisState& state) {
    Rows rows = Run(state);
    rows.erase(rows.begin(), rows.begin() + std::min<std::ptrdiff_t>(grid_.FixedRows(), static_cast<std::ptrdiff_t>(rows.size())));
    return rows;
}

void SnapshotDatabaseTest::AddDataPair() {
    // The compare snapshot: /data/tmp and gone.txt exist only here.
    AddSnapshot(kCompare, "/data", PathStyle::Posix,
                {{"1", "/data/docs/old/(files)", 1, 500}, {"2", "/data/docs/old", 1, 500},
                 {"1", "/data/docs/(files)", 2, 3700},    {"2", "/data/docs", 3, 4200},
                 {"1", "/data/tmp/(files)", 1, 9000},     {"2", "/data/tmp", 1, 9000},
                 {"1", "/data/(files)", 1, 1000},         {"2", "/data", 5, 14200}},
                {{"/data", "readme.txt", 1000, "2024-02-01 10:00:00"},
                 {"/data/docs", "a.txt", 3000, "2024-02-10 08:00:00"},
                 {"/data/docs", "gone.txt", 700, "2024-01-05 12:00:00"},
                 {"/data/docs/old", "a.txt", 500, "2023-12-01 00:00:00"},
                 {"/data/tmp", "t.log", 9000, "2024-02-20 10:00:00"}});
    // The prime snapshot: docs/a.txt grew, docs/old/a.txt was touched,
    // b.doc and the directory with odd characters are new.
    AddSnapshot(kPrime, "/data", PathStyle::Posix,
                {{"1", "/data/docs/old/(files)", 1, 500},   {"2", "/data/docs/old", 1, 500},
                 {"1", "/data/docs/(files)", 2, 8048},      {"2", "/data/docs", 3, 8548},
                 {"1", "/data/it's 50%_*/(files)", 1, 4096}, {"2", "/data/it's 50%_*", 1, 4096},
                 {"1", "/data/(files)", 1, 1000},           {"2", "/data", 6, 13644}},
                {{"/data", "readme.txt", 1000, "2024-02-01 10:00:00"},
                 {"/data/docs", "a.txt", 6000, "2024-03-05 09:30:00"},
                 {"/data/docs", "b.doc", 2048, "2024-03-06 11:00:00"},
                 {"/data/docs/old", "a.txt", 500, "2024-03-02 12:00:00"},
                 {"/data/it's 50%_*", "x%_*.c", 4096, "2024-03-07 13:00:00"}});
}

void SnapshotDatabaseTest::AddDataPairOnDisk() {
    AddDiskRows(db_, {.Key = kCompare,
                      .Total = 51200,
                      .Dirs = {{"/data/docs/old/(files)", 4096}, {"/data/docs/old", 8192},
                               {"/data/docs/(files)", 14336},    {"/data/docs", 26624},
                               {"/data/tmp/(files)", 12288},     {"/data/tmp", 16384},
                               {"/data/(files)", 4096},          {"/data", 51200}},
                      .Files = {{"/data", "readme.txt", 4096},
                                {"/data/docs", "a.txt", 4096},
                                {"/data/docs", "gone.txt", 10240},
                                {"/data/docs/old", "a.txt", 4096},
                                {"/data/tmp", "t.log", 12288}}});
    // The prime's readme.txt takes its length in whole units: no Filedisk row.
    AddDiskRows(db_, {.Key = kPrime,
                      .Total = 61440,
                      .Blockunit = 4096,
                      .Dirs = {{"/data/docs/old/(files)", 0},      {"/data/docs/old", 4096},
                               {"/data/docs/(files)", 12288},      {"/data/docs", 24576},
                               {"/data/it's 50%_*/(files)", 16384}, {"/data/it's 50%_*", 28672},
                               {"/data/(files)", 4096},            {"/data", 61440}},
                      .Files = {{"/data", "readme.txt", 4096, 1, true},
                                {"/data/docs", "a.txt", 4096},
                                {"/data/docs", "b.doc", 8192},
                                {"/data/docs/old", "a.txt", 0, 2},
                                {"/data/it's 50%_*", "x%_*.c", 16384}}});
}

}  // namespace corvina::test
