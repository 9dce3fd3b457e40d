#include <gtest/gtest.h>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include "store/Catalogue.h"
#include "store/DatabaseConnection.h"
#include "store/RowWriter.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override {
        state.DatabasePath = dir.File("cat.mdb");
        ASSERT_EQ(OpenSnapshotDatabase(state, prompter, ender), OpenOutcome::Created);
        prompter.Clear();
    }
    void AddSnapshot(const DateTime& key, const std::string& base, double bytes = 2048) {
        RowWriter writer(state, RowContext{key, base, BaseLevelOf(base, PathStyle::Posix), PathStyle::Posix},
                         &prompter);
        ASSERT_TRUE(writer.WriteFileRow({"f", 5, base, 0, DateTime{}}).Ok());
        ASSERT_TRUE(writer.WriteDirRow("2", base, 1, bytes).Ok());
        ControlRow row{key, base, "desc of " + base, "Y", 0, 1, 1, bytes, 1, 5};
        ASSERT_TRUE(WriteControlRow(state, row).Ok());
    }
    RowWriter Writer(const std::string& base, PathStyle style) {
        return RowWriter(state, RowContext{rowKey, base, BaseLevelOf(base, style), style}, &prompter);
    }
    // The first row of a query, fields joined by "|".
    std::string Row(const std::string& sql) {
        SQLite::Statement q(*state.SnapshotDatabase, sql);
        std::string text;
        if (!q.executeStep()) return "(none)";
        for (int i = 0; i < q.getColumnCount(); ++i) {
            text += (i ? "|" : "") + (q.getColumn(i).isNull() ? std::string("NULL") : q.getColumn(i).getString());
        }
        return text;
    }
    std::int64_t Count(const std::string& table) {
        return state.SnapshotDatabase->execAndGet("SELECT count(*) FROM " + table).getInt64();
    }

    test::TempDir dir;
    DatabaseState state;
    test::RecordingPrompter prompter;
    test::RecordingEnder ender;
    WaitUpTo noWait{std::chrono::milliseconds(0)};
    DateTime rowKey{2026, 12, 6, 7, 30, 0};
};

TEST_F(Catalogue, LoadFillsInfoAndAMissingKeyEmptiesOnlyTheBasePath) {
    DateTime key{2024, 3, 7, 14, 5, 9};
    AddSnapshot(key, "/home/ann", 3.5e9);
    SnapshotInfo info;
    LoadSnapshotInfo(state, prompter, key, info);
    EXPECT_EQ(std::tie(info.InfoBasePath, info.InfoDescription, info.InfoCollectFiles, info.InfoTotalBytes,
                       info.InfoCollectedBytes),
              std::tuple("/home/ann", "desc of /home/ann", "Y", 3.5e9, 5.0));
    EXPECT_TRUE(prompter.Texts().empty());

    EXPECT_EQ(LoadSnapshotInfo(state, prompter, DateTime{2024, 3, 7, 14, 5, 10}, info).Code, kErrRowNotFound);
    EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Snapshot 2024-03-07 14:05:10 not found"});
    EXPECT_EQ(info.InfoBasePath, "");
    EXPECT_EQ(info.InfoDescription, "desc of /home/ann");

    // A query that fails is told as such, not as a missing snapshot.
    state.SnapshotDatabase->exec("ALTER TABLE Control RENAME TO Control_gone");
    info.InfoBasePath = "/home/ann";
    EXPECT_FALSE(LoadSnapshotInfo(state, prompter, key, info).Ok());
    EXPECT_EQ(prompter.Texts().back(), "Error: 1 no such table: Control");
    EXPECT_EQ(info.InfoBasePath, "");
}

TEST_F(Catalogue, ListsAreCompleteOrderedAndTakeAnyCharacterInAPath) {
    const std::string odd = "/srv/it's 100%_*";
    for (int i = 0; i < 150; ++i) AddSnapshot(DateTime{2025, 1, 1 + i / 24, i % 24, 0, 0}, odd);
    AddSnapshot(DateTime{2025, 6, 1, 0, 0, 0}, "/srv/it's 100%x*");  // differs where "_" would match
    AddSnapshot(DateTime{2025, 6, 1, 0, 0, 1}, "/a");

    std::vector<std::string> paths;
    EXPECT_TRUE(ListBasePaths(state, prompter, paths).Ok());
    EXPECT_EQ(paths, (std::vector<std::string>{"/a", odd, "/srv/it's 100%x*"}));
    std::vector<SnapshotListRow> rows;
    EXPECT_TRUE(ListSnapshots(state, prompter, odd, rows).Ok());
    ASSERT_EQ(rows.size(), 150u);
    EXPECT_EQ(std::tie(rows.front().KeyText, rows.back().KeyText, rows.front().SizeText, rows.front().Description),
              std::tuple("2025-01-07 05:00:00", "2025-01-01 00:00:00", "2 KB", "desc of " + odd));
    EXPECT_TRUE(ListSnapshots(state, prompter, "/nothing", rows).Ok() && rows.empty() && prompter.Texts().empty());
}

TEST_F(Catalogue, LatestAndPreviousStayWithinTheBasePath) {
    AddSnapshot(DateTime{2025, 1, 1, 0, 0, 0}, "/a");
    AddSnapshot(DateTime{2025, 1, 2, 0, 0, 0}, "/b");
    AddSnapshot(DateTime{2025, 1, 3, 0, 0, 0}, "/a");
    std::optional<DateTime> key, b, previous, none;
    EXPECT_TRUE(LatestSnapshot(state, key).Ok() && LatestSnapshot(state, b, "/b").Ok());
    EXPECT_TRUE(PreviousSnapshot(state, DateTime{2025, 1, 3, 0, 0, 0}, previous).Ok() &&
                PreviousSnapshot(state, DateTime{2025, 1, 1, 0, 0, 0}, none).Ok());
    EXPECT_EQ(std::tie(key, b, previous, none), std::tuple(DateTime{2025, 1, 3, 0, 0, 0}, DateTime{2025, 1, 2, 0, 0, 0},
                                                          DateTime{2025, 1, 1, 0, 0, 0}, std::nullopt));
    // A lookup that fails says so rather than finding nothing.
    state.SnapshotDatabase->exec("ALTER TABLE Control RENAME TO Control_gone");
    EXPECT_EQ(LatestSnapshot(state, key).Reason, "no such table: Control");
}

TEST_F(Catalogue, DeleteRemovesAllThreeTablesIncludingAnAbortedRunsRowsOrNothing) {
    AddSnapshot(DateTime{2025, 1, 1, 0, 0, 0}, "/a");
    AddSnapshot(DateTime{2025, 1, 2, 0, 0, 0}, "/a");
    // An aborted run: rows without a Control row.
    DateTime aborted{2025, 1, 3, 0, 0, 0};
    RowWriter writer(state, RowContext{aborted, "/a", 0, PathStyle::Posix}, nullptr);
    ASSERT_TRUE(writer.WriteDirRow("2", "/a", 0, 0).Ok());

    EXPECT_TRUE(DeleteSnapshot(state, DateTime{2025, 1, 1, 0, 0, 0}, noWait).Ok());
    EXPECT_TRUE(DeleteSnapshot(state, aborted, noWait).Ok());
    EXPECT_TRUE(prompter.Texts().empty());
    // When one table refuses, the other two keep their rows as well.
    state.SnapshotDatabase->exec(
        "CREATE TRIGGER refuse BEFORE DELETE ON files BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_FALSE(DeleteSnapshot(state, DateTime{2025, 1, 2, 0, 0, 0}, noWait).Ok());
    EXPECT_EQ(std::tuple(Count("Control"), Count("Dir"), Count("files")), std::tuple(1, 1, 1));
}

TEST_F(Catalogue, RowWriterDirRowsCarryKeyNamesLevelAndTotalsAndLeaveOldTotalsEmpty) {
    RowWriter writer = Writer("/", PathStyle::Posix);
    ASSERT_TRUE(writer.WriteDirRow("1", "/(files)", 3, 300).Ok());
    ASSERT_TRUE(writer.WriteDirRow("2", "/data", 2, 5e9).Ok());
    ASSERT_TRUE(writer.WriteDirRow("2", "/", 5, 5e9 + 300).Ok());
    EXPECT_EQ(Row("SELECT * FROM Dir WHERE Dirname = '/(files)'"),
              "2026-12-06 07:30:00|1|/(files)|(files)|/|2|3|NULL|300.0");
    EXPECT_EQ(Row("SELECT Shortname, Parentdir, Dirlevel, TotsizeF FROM Dir WHERE Dirname = '/data'"),
              "data|/|2|5000000000.0");
    EXPECT_EQ(Row("SELECT Shortname, Parentdir, Dirlevel FROM Dir WHERE Dirname = '/'"), ".||1");
    EXPECT_TRUE(prompter.Texts().empty());
}

TEST_F(Catalogue, RowWriterFileRowsKeepSixtyFourBitSizesLongPathsAndOddNames) {
    RowWriter writer = Writer("C:\\Data", PathStyle::Windows);
    std::string longDir = "C:\\Data\\" + std::string(300, 'd');
    std::string oddName = "it's 100% _a*b_\n\xff\xfe.TxT";
    ASSERT_TRUE(writer.WriteFileRow({"big.iso", 3'000'000'000LL, "C:\\Data", 33, DateTime{2025, 1, 2, 3, 4, 5}}).Ok());
    ASSERT_TRUE(writer.WriteFileRow({oddName, 7, longDir, 1, DateTime{}}).Ok());
    EXPECT_EQ(Row("SELECT * FROM files WHERE Filename = 'big.iso'"),
              "2026-12-06 07:30:00|big.iso|3000000000|ISO|C:\\Data|33|2025-01-02 03:04:05");
    EXPECT_EQ(Row("SELECT Filename, Filedir, Filetype, typeof(Filename) FROM files WHERE Filesize = 7"),
              oddName + "|" + longDir + "|TXT|text");
    EXPECT_TRUE(prompter.Texts().empty());
}

TEST_F(Catalogue, RowWriterRefusedRowsAreReportedWithTheirTablesMessage) {
    RowWriter writer = Writer("/data", PathStyle::Posix);
    FileRowInput row{"a.txt", 10, "/data", 0, DateTime{}};
    ASSERT_TRUE(writer.WriteFileRow(row).Ok());
    EXPECT_FALSE(writer.WriteFileRow(row).Ok());
    ASSERT_EQ(prompter.Messages().size(), 1u);
    const Message m = prompter.Messages()[0];
    EXPECT_EQ(m.Text.rfind("Error processing file /data/a.txt size=10\nCode=19 Reason=", 0), 0u) << m.Text;
    EXPECT_TRUE(m.Text.ends_with("\n. Snapshot aborted"));
    EXPECT_EQ(m.MessageIcon, Icon::Exclamation);
    // The statement is reset: the next distinct row goes in.
    EXPECT_TRUE(writer.WriteFileRow({"b.txt", 1, "/data", 0, DateTime{}}).Ok());

    prompter.Clear();
    CloseSnapshotDatabase(state);
    EXPECT_FALSE(writer.WriteDirRow("2", "/data", 0, 0).Ok());
    ASSERT_EQ(prompter.Texts().size(), 1u);
    EXPECT_EQ(prompter.Texts()[0].rfind("Error writing to Dir table. \nCode=", 0), 0u);
}

}  // namespace
}  // namespace corvina
