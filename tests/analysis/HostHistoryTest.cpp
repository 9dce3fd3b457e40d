// The history of a base path that two machines took: the previous and the
// latest snapshot, the trend and the directory history keep to one host, and
// a database of one host reads as it did before labels.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "analysis/AnalysisSession.h"
#include "analysis/Trend.h"
#include "store/HostLabel.h"
#include "tests/analysis/SnapshotFixture.h"

namespace corvina::test {
namespace {

// /home on north and south in turn, one snapshot without a label between;
// /home/a holds the snapshot's number of files, /home/n only north's first.
constexpr const char* kNorth1 = "2024-05-01 00:00:00";
constexpr const char* kSouth1 = "2024-05-02 00:00:00";
constexpr const char* kNorth2 = "2024-05-03 00:00:00";
constexpr const char* kUnlabelled = "2024-05-04 00:00:00";
constexpr const char* kSouth2 = "2024-05-05 00:00:00";

class HostHistory : public SnapshotDatabaseTest {
protected:
    // labels: one per snapshot above, nullptr for none.
    void AddHomes(const std::vector<const char*>& labels) {
        const char* keys[] = {kNorth1, kSouth1, kNorth2, kUnlabelled, kSouth2};
        for (std::int64_t i = 0; i < 5; ++i) {
            std::vector<DirRow> dirs{{"2", "/home", i + 1, 100.0 * static_cast<double>(i + 1)},
                                     {"2", "/home/a", i + 1, 100.0 * static_cast<double>(i + 1)}};
            if (i == 0) dirs.push_back({"2", "/home/n", 0, 0});
            AddSnapshot(keys[i], "/home", PathStyle::Posix, dirs, {});
            const char* label = labels[static_cast<std::size_t>(i)];
            if (label != nullptr) {
                ASSERT_TRUE(WriteHostLabel(db_, Key(keys[i]), label).Ok());
            }
        }
    }

    std::string Previous(const char* key) {
        std::optional<DateTime> previous;
        EXPECT_TRUE(PreviousSnapshot(db_, Key(key), previous).Ok());
        return previous ? FormatKey(*previous) : "none";
    }
    std::string Latest(std::optional<std::string_view> host) {
        std::optional<DateTime> latest;
        EXPECT_TRUE(LatestSnapshot(db_, latest, "/home", host).Ok());
        return latest ? FormatKey(*latest) : "none";
    }
    // The keys of the trend of directory on the host TrendHost chooses ("-"
    // first when it chooses none, else the host).
    std::vector<std::string> Trend(const std::string& directory) {
        std::optional<std::string> host;
        std::vector<TrendPoint> points;
        EXPECT_TRUE(TrendHost(db_, "/home", directory, PathStyle::Posix, host).Ok());
        EXPECT_TRUE(ReadTrend(db_, "/home", directory, PathStyle::Posix, host, points).Ok());
        std::vector<std::string> keys{host.value_or("-")};
        for (const TrendPoint& point : points) keys.push_back(FormatKey(point.Snapshot));
        return keys;
    }
    // The files of /home/a that the directory history from prime shows.
    std::vector<std::string> History(const char* prime) {
        AnalysisSession session(db_, messages_);
        EXPECT_TRUE(session.ChoosePrime(Key(prime)).Ok());
        session.SetKind(DirectoryHistory);
        bool found = false;
        EXPECT_TRUE(session.SelectDirectory("/home/a", found).Ok() && found);
        EXPECT_TRUE(session.Run().Error.Ok());
        std::vector<std::string> files;
        for (int row = session.Settings().FirstDetailRow; row < session.Grid().RowCount(); ++row) {
            files.push_back(session.Grid().Cell(row, 1));
        }
        return files;
    }
};

// Previous and latest, the trend (the host of the newest snapshot holding the
// directory) and the directory history (the prime snapshot's host) keep to one host.
TEST_F(HostHistory, PreviousLatestTrendAndDirectoryHistoryKeepToOneHost) {
    AddHomes({"north", "south", "north", nullptr, "south"});
    const std::pair<const char*, const char*> previous[] = {
        {kNorth2, kNorth1}, {kSouth2, kSouth1}, {kSouth1, "none"}, {kNorth1, "none"}, {kUnlabelled, "none"}};
    for (const auto& [key, expected] : previous) EXPECT_EQ(Previous(key), expected) << key;
    EXPECT_EQ(std::vector({Latest("north"), Latest("south"), Latest(""), Latest("west"), Latest(std::nullopt)}),
              std::vector<std::string>({kNorth2, kSouth2, kUnlabelled, "none", kSouth2}));

    using Keys = std::vector<std::string>;
    EXPECT_EQ(Trend("/home/a"), (Keys{"south", kSouth1, kSouth2}));
    EXPECT_EQ(Trend("/home/n"), (Keys{"north", kNorth1, kNorth2}));
    // No snapshot holds it: the newest snapshot's host, whose points lack it.
    EXPECT_EQ(Trend("/home/gone"), (Keys{"south", kSouth1, kSouth2}));

    EXPECT_EQ(History(kNorth1), (Keys{"1", "3"}));
    EXPECT_EQ(History(kSouth2), (Keys{"2", "5"}));
    EXPECT_EQ(History(kUnlabelled), (Keys{"4"}));
    AnalysisSession session(db_, messages_);
    ASSERT_TRUE(session.ChoosePrime(Key(kUnlabelled)).Ok());
    EXPECT_EQ(session.State().Host, std::optional<std::string>(""));
    ASSERT_TRUE(session.ChoosePrime(Key(kNorth2)).Ok());
    EXPECT_EQ(session.State().Host, std::optional<std::string>("north"));
    EXPECT_TRUE(prompter_.Texts().empty());
}

// A file without labels, then the same with all but one labelled north, as
// an upgraded file of one machine: everything reads as before.
TEST_F(HostHistory, AFileWithoutLabelsOrWithUnlabelledSnapshotsBesideOneLabelIsOneHost) {
    AddHomes(std::vector<const char*>(5, nullptr));
    for (const bool labelled : {false, true}) {
        SCOPED_TRACE(labelled ? "labelled" : "no labels");
        for (const char* key : {kNorth1, kSouth1, kNorth2, kSouth2}) {
            EXPECT_TRUE(!labelled || WriteHostLabel(db_, Key(key), "north").Ok());
        }
        EXPECT_EQ(Previous(kSouth2), kUnlabelled);
        EXPECT_EQ(Previous(kUnlabelled), kNorth2);
        EXPECT_EQ(Latest("north"), kSouth2);
        EXPECT_EQ(Latest(""), kSouth2);
        EXPECT_EQ(Trend("/home/n"), (std::vector<std::string>{"-", kNorth1, kSouth1, kNorth2, kUnlabelled, kSouth2}));
        EXPECT_EQ(History(kNorth1), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    }
}

}  // namespace
}  // namespace corvina::test
