// The session as the window and the tool drive it: what each choice does to
// the snapshots, the directory and the totals the analyses run on.

#include "analysis/AnalysisSession.h"
#include "tests/analysis/SnapshotFixture.h"

namespace corvina::test {
namespace {

class Session : public SnapshotDatabaseTest {
protected:
    void SetUp() override {
        SnapshotDatabaseTest::SetUp();
        AddDataPair();
        session_.ChoosePrime(Key(kPrime));
        std::optional<DateTime> previous;
        ASSERT_TRUE(session_.PreviousSnapshot(previous).Ok());
        ASSERT_EQ(previous, Key(kCompare));
        ASSERT_TRUE(session_.ChooseCompare(Key(kCompare)).Chosen);
        bool found = false;
        ASSERT_TRUE(session_.SelectDirectory("/data/docs", found).Ok());
        ASSERT_TRUE(found);
    }
    const AnalysisState& State() const { return session_.State(); }

    AnalysisSession session_{db_, prompter_};
};

TEST_F(Session, ChoicesSetTheDirectoryAndTotalsTheAnalysesRunOn) {
    EXPECT_EQ(State().DirTotal, 8548);
    EXPECT_EQ(State().CompareDirTotal, 4200);
    // The open prime snapshot chosen again keeps the directory and drops the
    // compare snapshot; another one starts at its base path.
    session_.ChoosePrime(Key(kPrime));
    EXPECT_EQ(State().QueryDirectory, "/data/docs");
    EXPECT_TRUE(State().CompareSnapshotDate.IsNull());
    session_.ChoosePrime(Key(kCompare));
    EXPECT_EQ(State().QueryDirectory, "/data");
    EXPECT_EQ(State().DirTotal, 14200);
    bool found = true;
    EXPECT_TRUE(session_.SelectDirectory("/data/nowhere", found).Ok());
    EXPECT_FALSE(found);
    EXPECT_TRUE(prompter_.Texts().empty());
}

TEST_F(Session, SwapReadsBothSnapshotsAgainAndACompareOfAnotherBasePathIsRefused) {
    session_.Swap();
    EXPECT_EQ(std::tie(State().SnapshotDate, State().QueryDirectory, State().DirTotal, State().CompareDirTotal,
                       State().SnapshotLabel),
              std::tuple(Key(kCompare), "/data", 14200.0, 13644.0, "1 Mar"));

    AddSnapshot("2024-03-05 00:00:00", "/srv", PathStyle::Posix, {{"2", "/srv", 0, 0}}, {});
    CompareChoice other = session_.ChooseCompare(Key("2024-03-05 00:00:00"));
    EXPECT_FALSE(other.Chosen);
    EXPECT_EQ(other.BasePath, "/srv");
    EXPECT_EQ(State().CompareSnapshotDate, Key(kPrime));
}

TEST_F(Session, SnapshotsGoneOrOfAnotherDatabaseAreForgotten) {
    WaitUpTo wait(std::chrono::milliseconds(0));
    ASSERT_TRUE(DeleteSnapshot(db_, Key(kCompare), wait).Ok());
    EXPECT_FALSE(session_.ForgetMissingSnapshots(false, false));
    EXPECT_TRUE(State().CompareSnapshotDate.IsNull());

    // After a database switch the prime snapshot is read again when chosen.
    EXPECT_FALSE(session_.ForgetMissingSnapshots(true, true));
    session_.ChoosePrime(Key(kPrime));
    EXPECT_EQ(State().QueryDirectory, "/data");
    // Without a choice in the other database, its keys name nothing there.
    EXPECT_TRUE(session_.ForgetMissingSnapshots(true, false));
    EXPECT_TRUE(State().SnapshotDate.IsNull());
}

TEST_F(Session, ABasePathStoredWithATrailingSeparatorIsAnalysedWithoutIt) {
    AddSnapshot("2024-04-01 00:00:00", "/srv/", PathStyle::Posix, {{"2", "/srv", 1, 10}}, {});
    ASSERT_TRUE(session_.ChoosePrime(Key("2024-04-01 00:00:00")).Ok());
    EXPECT_EQ(State().QueryDirectory, "/srv");
    // The history still finds the snapshot by the base path as stored.
    session_.SetKind(DirectoryHistory);
    session_.Run();
    EXPECT_EQ(session_.Grid().RowCount(), 2);
    EXPECT_EQ(session_.Grid().Cell(1, 1), "1");
}

}  // namespace
}  // namespace corvina::test
