// The recent-database items and the open item of the take-snapshot window:
// switching databases, the stored list after each switch, and what a
// cancelled or declined switch leaves alone.

#include <QMenu>
#include <QtTest>

#include "app/Settings.h"
#include "tests/ui/WindowHarness.h"
#include "ui/Analsnap.h"

using namespace corvina;
using namespace corvina::test;

using List = std::vector<std::string>;

namespace {

QStringList VisibleCaptions(Analsnap& window) {
    QStringList captions;
    for (int i = 0; i < 10; ++i) {
        QAction* item = Child<QAction>(window, qPrintable(QString("menrec_%1").arg(i)));
        if (item->isVisible()) captions << item->text();
    }
    return captions;
}

// Creates snapshot databases at the given names and leaves the first one open.
List MakeDatabases(Harness& h, const List& names) {
    List paths;
    for (auto it = names.rbegin(); it != names.rend(); ++it) paths.insert(paths.begin(), h.OpenNewDatabase(*it));
    return paths;
}

}  // namespace

class RecentMenuWindowTest : public QObject {
    Q_OBJECT
private slots:
    void RecentItemAndOpenItemMoveTheirDatabaseToTheTop();
    void CancelledOpenDialogChangesNothing();
    void DeclinedCreateLeavesTheListAlone();
    void PathWithBlanksIsTakenWholeFromTheCaption();
    void TenthItemReadsTenAndTheOldestFallsOff();
};

void RecentMenuWindowTest::RecentItemAndOpenItemMoveTheirDatabaseToTheTop() {
    Harness h;
    const List dbs = MakeDatabases(h, {"A.mdb", "B.mdb", "C.mdb"});
    h.StoreRecent(dbs);
    Analsnap window(h.Context);
    QCOMPARE(VisibleCaptions(window).size(), 3);

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
    QCOMPARE(VisibleCaptions(window).size(), 4);
    QCOMPARE(VisibleCaptions(window)[0], "&1 " + QString::fromStdString(fresh));
}

void RecentMenuWindowTest::CancelledOpenDialogChangesNothing() {
    Harness h;
    const List dbs = MakeDatabases(h, {"A.mdb"});
    h.StoreRecent(dbs);
    Analsnap window(h.Context);
    const QString status = window.StatusText();
    Child<QAction>(window, "menopen")->trigger();  // the script has no answer: cancelled
    QCOMPARE(h.Dialogs.Requests.size(), std::size_t{1});
    QCOMPARE(h.Database.DatabasePath, dbs[0]);
    QVERIFY(h.Database.IsUsable());
    QCOMPARE(ReadRecentList(h.Settings), dbs);
    QCOMPARE(window.StatusText(), status);
    QVERIFY(h.Prompter.Messages().empty());
}

void RecentMenuWindowTest::DeclinedCreateLeavesTheListAlone() {
    Harness h;
    const List dbs = MakeDatabases(h, {"A.mdb", "B.mdb"});
    h.StoreRecent(dbs);
    Analsnap window(h.Context);
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

void RecentMenuWindowTest::PathWithBlanksIsTakenWholeFromTheCaption() {
    Harness h;
    std::filesystem::create_directories(h.Dir.Path() / "my snapshots");
    const List dbs = MakeDatabases(h, {"plain.mdb", "my snapshots/disk c.mdb"});
    h.StoreRecent(dbs);
    Analsnap window(h.Context);
    Child<QAction>(window, "menrec_1")->trigger();
    QCOMPARE(h.Database.DatabasePath, dbs[1]);
    QVERIFY(h.Database.IsUsable());
    QCOMPARE(ReadRecentList(h.Settings), (List{dbs[1], dbs[0]}));
}

void RecentMenuWindowTest::TenthItemReadsTenAndTheOldestFallsOff() {
    Harness h;
    List names;
    for (int i = 1; i <= 10; ++i) names.push_back("db" + std::to_string(i) + ".mdb");
    const List dbs = MakeDatabases(h, names);
    h.StoreRecent(dbs);
    Analsnap window(h.Context);
    QCOMPARE(Child<QAction>(window, "menrec_9")->text(), "&10 " + QString::fromStdString(dbs[9]));

    const std::string fresh = h.Dir.File("new.mdb");
    h.Dialogs.Answers.push_back(QString::fromStdString(fresh));
    h.Prompter.Script({Answer::Yes});
    Child<QAction>(window, "menopen")->trigger();
    List expected{fresh};
    expected.insert(expected.end(), dbs.begin(), dbs.begin() + 9);
    QCOMPARE(ReadRecentList(h.Settings), expected);
    QCOMPARE(Child<QAction>(window, "menrec_9")->text(), "&10 " + QString::fromStdString(dbs[8]));
}

QTEST_MAIN(RecentMenuWindowTest)
#include "RecentMenuWindowTest.moc"
