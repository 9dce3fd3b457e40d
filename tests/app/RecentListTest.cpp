#include <gtest/gtest.h>

#include <QSettings>

#include "app/Settings.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

using List = std::vector<std::string>;

class RecentList : public ::testing::Test {
protected:
    test::TempDir dir;
    QSettings settings{QString::fromStdString(dir.File("Corvina.conf")), QSettings::IniFormat};

    void Store(const List& list) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            settings.setValue(QStringLiteral("Recent/File%1").arg(i + 1), QString::fromStdString(list[i]));
        }
    }
};

TEST_F(RecentList, ChosenEntryMovesUpNewOnePushesOthersDownAndTheTenthFallsOff) {
    Store({"A", "B", "C"});
    const std::pair<const char*, List> steps[] = {
        {"C", {"C", "A", "B"}},
        {"D", {"D", "C", "A", "B"}},
        {"D", {"D", "C", "A", "B"}},  // the first entry again changes nothing
        {"d", {"d", "D", "C", "A", "B"}},  // case makes a new entry
    };
    for (const auto& [chosen, list] : steps) {
        AddRecentDatabase(settings, chosen);
        EXPECT_EQ(ReadRecentList(settings), list) << chosen;
    }
    for (const char* more : {"e", "f", "g", "h", "i", "j"}) AddRecentDatabase(settings, more);
    EXPECT_EQ(ReadRecentList(settings), (List{"j", "i", "h", "g", "f", "e", "d", "D", "C", "A"}));
}

TEST_F(RecentList, ReadingStopsAtTheFirstGapAndEmptyPathWritesNothing) {
    Store({"A", "", "C"});
    EXPECT_EQ(ReadRecentList(settings), (List{"A"}));
    AddRecentDatabase(settings, "");
    EXPECT_EQ(ReadRecentList(settings), (List{"A"}));
    // Keys past the new list's end are not touched.
    AddRecentDatabase(settings, "B");
    EXPECT_EQ(settings.value("Recent/File3").toString().toStdString(), "C");
}

// A path with blanks is taken whole; "&" is doubled for the menu, which
// shows it as one "&", and read back single.
TEST_F(RecentList, CaptionsAndPathsWithBlanksAndAmpersands) {
    for (const auto& [number, path, caption] :
         {std::tuple{1, "/home/ann/my snapshots/corvina.mdb", "&1 /home/ann/my snapshots/corvina.mdb"},
          {10, "/x.mdb", "&10 /x.mdb"}, {2, "/r&d/a&&b.mdb", "&2 /r&&d/a&&&&b.mdb"}}) {
        EXPECT_EQ(RecentCaption(number, path), caption);
        EXPECT_EQ(PathFromRecentCaption(caption), path);
    }
}

}  // namespace
}  // namespace corvina
