#include <gtest/gtest.h>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include "store/DatabaseConnection.h"
#include "store/RowWriter.h"
#include "store/SnapshotDatabase.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

class RowWriters : public ::testing::Test {
protected:
    void SetUp() override {
        state.DatabasePath = dir.File("rows.mdb");
        ASSERT_EQ(OpenSnapshotDatabase(state, prompter, ender), OpenOutcome::Created);
        prompter.Clear();
    }
    RowWriter Writer(const std::string& base, PathStyle style) {
        return RowWriter(state, RowContext{key, base, BaseLevelOf(base, style), style}, &prompter);
    }
    std::string Row(const std::string& sql) {
        SQLite::Statement q(*state.SnapshotDatabase, sql);
        std::string text;
        if (!q.executeStep()) return "(none)";
        for (int i = 0; i < q.getColumnCount(); ++i) {
            text += (i ? "|" : "") + (q.getColumn(i).isNull() ? std::string("NULL") : q.getColumn(i).getString());
        }
        return text;
    }

    test::TempDir dir;
    DatabaseState state;
    test::RecordingPrompter prompter;
    test::RecordingEnder ender;
    DateTime key{2026, 12, 6, 7, 30, 0};
};

TEST_F(RowWriters, DirRowsCarryKeyNamesLevelAndTotalsAndLeaveOldTotalsEmpty) {
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

TEST_F(RowWriters, FileRowsKeepSixtyFourBitSizesLongPathsAndOddNames) {
    RowWriter writer = Writer("C:\\Data", PathStyle::Windows);
    std::string longDir = "C:\\Data\\" + std::string(300, 'd');
    std::string oddName = "it's 100% _a*b_\n\xff\xfe.TxT";
    ASSERT_TRUE(writer.WriteFileRow({"big.iso", 3'000'000'000LL, "C:\\Data", 33, DateTime{2025, 1, 2, 3, 4, 5}}).Ok());
    ASSERT_TRUE(writer.WriteFileRow({oddName, 7, longDir, 1, DateTime{}}).Ok());
    EXPECT_EQ(Row("SELECT * FROM files WHERE Filename = 'big.iso'"),
              "2026-12-06 07:30:00|big.iso|3000000000|ISO|C:\\Data|33|2025-01-02 03:04:05");
    SQLite::Statement q(*state.SnapshotDatabase, "SELECT Filename, Filedir, Filetype, typeof(Filename) FROM files "
                                                  "WHERE Filesize = 7");
    ASSERT_TRUE(q.executeStep());
    EXPECT_EQ(q.getColumn(0).getString(), oddName);
    EXPECT_EQ(q.getColumn(1).getString(), longDir);
    EXPECT_EQ(q.getColumn(2).getString(), "TXT");
    EXPECT_EQ(q.getColumn(3).getString(), "text");
    EXPECT_TRUE(prompter.Texts().empty());
}

TEST_F(RowWriters, RefusedRowsAreReportedWithTheirTablesMessage) {
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
