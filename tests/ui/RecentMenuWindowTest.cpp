// The recent-database items and the open item of the take-snapshot window:
// switching databases, the stored list after each switch, and what a
// cancelled or declined switch leaves alone.

#include <QtTest>

#include "app/Settings.h"
#include "tests/ui/WindowHarness.h"
#include "ui/TakeSnapshotWindow.h"

using namespace corvina;
using namespace corvina::test;

using List = std::vector<std::string>;

namespace {

QStringList VisibleCaptions(TakeSnapshotWindow& window) {
    QStringList captions;
    for (int i = 0; i < 10; ++i) {
        QAction* item = Child<QAction>(window, qPrintable(QString("menrec_%1").arg(i)));
        if (item->isVisible()) captions << item->text();
    }
    return captions;
}

// Creates snapshot databases, stores them as the recent list and leaves the first one open.
List MakeRecentDatabases(Harness& h, const List& names) {
    List paths;
    for (auto it = names.rbegin(); it != names.rend(); ++it) paths.insert(paths.begin(), h.OpenNewDatabase(*it));
    h.StoreRecent(paths);
    return paths;
}

}  // namespace

class RecentMenuWindowTest : public QObject {
    Q_OBJECT
private slots:
    void RecentItemAndOpenItemMoveTheirDatabaseToTheTop();
    void CancelledOrDeclinedSwitchLeavesTheListAlone();
};

void RecentMenuWindowTest::RecentItemAndOpenItemMoveTheirDatabaseToTheTop() {
    Harness h;
    std::filesystem::create_directories(h.Dir.Path() / "my snapshots");
    const List dbs = MakeRecentDatabases(h, {"A.mdb", "B.mdb", "my snapshots/disk c.mdb"});
    TakeSnapshotWindow window(h.Context);
    QCOMPARE(VisibleCaptions(window).size(), 3);

    // A path with blanks is taken whole from its caption.
    Child<QAction>(window, "menrec_2")->trigger();
    QCOMPARE(h.Database.DatabasePath, dbs[2]);
    QVERIFY(h.Database.IsUsable());
    QCOMPARE(ReadRecentList(h.Settings), (List{dbs[2], dbs[0], dbs[1]}));
    QCOMPARE(VisibleCaptions(window), (QStringList{"&1 " + QString::fromStdString(dbs[2]),
                                                   "&2 " + QString::fromStdString(dbs[0]),
                                                   "&3 " + QString::fromStdString(dbs[1])}));
    QCOMPARE(window.StatusText(), "Snapshot database is: " + QString::fromStdString(dbs[2]));

    // A new file through the open item: asked for, created, put on top.
    const std::string fresh = h.Dir.File("D.mdb");
    h.Dialogs.Answers.push_back(QString::fromStdString(fresh));
    h.Prompter.Script({Answer::Yes});
    Child<QAction>(window, "menopen")->trigger();
    QCOMPARE(h.Dialogs.Requests.size(), std::size_t{1});
    const FileDialogRequest& request = h.Dialogs.Requests[0];
    QCOMPARE(request.Title, QString("Select Snapshot Database"));
    QCOMPARE(request.InitialPath, QString::fromStdString(dbs[2]));
    QVERIFY(request.Filter.startsWith("Corvina Files") && request.Filter.contains("*.mdb"));
    QCOMPARE(request.DefaultSuffix, QString("mdb"));
    QCOMPARE(h.Database.DatabasePath, fresh);
    QVERIFY(std::filesystem::exists(fresh));
    QCOMPARE(ReadRecentList(h.Settings), (List{fresh, dbs[2], dbs[0], dbs[1]}));
    QCOMPARE(VisibleCaptions(window).first(), "&1 " + QString::fromStdString(fresh));
    QCOMPARE(VisibleCaptions(window).size(), 4);
}

void RecentMenuWindowTest::CancelledOrDeclinedSwitchLeavesTheListAlone() {
    Harness h;
    const List dbs = MakeRecentDatabases(h, {"A.mdb", "B.mdb"});
    TakeSnapshotWindow window(h.Context);
    const QString status = window.StatusText();
    // Cancelled (the script has no answer): nothing changes, nothing is said.
    Child<QAction>(window, "menopen")->trigger();
    QCOMPARE(h.Dialogs.Requests.size(), std::size_t{1});
    QCOMPARE(h.Database.DatabasePath, dbs[0]);
    QVERIFY(h.Database.IsUsable());
    QCOMPARE(window.StatusText(), status);
    QVERIFY(h.Prompter.Messages().empty());

    // Declined: no database, no file, the list as it was.
    const std::string missing = h.Dir.File("missing.mdb");
    h.Dialogs.Answers.push_back(QString::fromStdString(missing));
    h.Prompter.Script({Answer::No});
    Child<QAction>(window, "menopen")->trigger();
    QCOMPARE(h.Prompter.Messages().size(), std::size_t{1});
    QCOMPARE(h.Database.DatabasePath, std::string());
    QVERIFY(!std::filesystem::exists(missing));
    QCOMPARE(window.StatusText(), "Snapshot database is: " + QString::fromStdString(missing));
    QCOMPARE(ReadRecentList(h.Settings), dbs);
    QCOMPARE(VisibleCaptions(window).size(), 2);
}

QTEST_MAIN(RecentMenuWindowTest)
#include "RecentMenuWindowTest.moc"
