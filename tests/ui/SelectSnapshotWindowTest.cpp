// The snapshot selection window on its own: listing, details, the choice it
// hands back, deleting and switching databases.

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>
#include <SQLiteCpp/Database.h>

#include "capture/SnapshotRun.h"
#include "store/Catalogue.h"
#include "tests/ui/AnalysisFixture.h"
#include "tests/ui/WindowHarness.h"
#include "ui/SelectSnapshotWindow.h"

using namespace corvina;
using namespace corvina::test;

namespace {

constexpr const char* kOld = "2024-03-01 09:00:00";
constexpr const char* kNew = "2024-03-07 14:05:09";
constexpr const char* kOther = "2024-02-10 08:00:00";

struct Fixture {
    Harness h;
    SnapshotChoice choice;
    Fixture() {
        h.OpenNewDatabase();
        AddSnapshot(h.Database, DataSnapshot(kOld));
        AddSnapshot(h.Database, DataSnapshot(kNew, 2.0));
        SnapshotRows other;
        other.Key = kOther;
        other.BasePath = "/srv";
        other.Dirs = {{"2", "/srv", 0, 0}};
        AddSnapshot(h.Database, other);
    }
};

QStringList Column(QTableWidget& grid, int column) {
    QStringList texts;
    for (int r = 0; r < grid.rowCount(); ++r) texts << grid.item(r, column)->text();
    return texts;
}

}  // namespace

class SelectSnapshotWindowTest : public QObject {
    Q_OBJECT
private slots:
    void PrimeChoiceListsPathsThenSnapshotsNewestFirst();
    void CompareChoiceIsRestrictedAndRefusesThePrimeSnapshot();
    void OkAndDeleteWithoutAClickAskForASnapshot();
    void DeleteAsksWaitsForAWriterThenRemovesTheSnapshotFromEveryList();
    void DatabaseSwitchListsTheOtherDatabase();
};

void SelectSnapshotWindowTest::PrimeChoiceListsPathsThenSnapshotsNewestFirst() {
    Fixture f;
    SelectSnapshotWindow window(f.h.Context, f.choice);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QString("Select Snapshot"));
    auto* paths = Child<QListWidget>(window, "lstdir");
    auto* grid = Child<QTableWidget>(window, "grdsnap");
    QCOMPARE(paths->count(), 2);
    QCOMPARE(paths->item(0)->text(), QString("/data"));
    QVERIFY(!grid->isEnabled());
    QVERIFY(!Child<QGroupBox>(window, "frmsnap")->isEnabled());
    QVERIFY(!Child<QLabel>(window, "lblmsg")->isVisible());
    QCOMPARE(window.StatusText(), "Snapshot database is: " + QString::fromStdString(f.h.Database.DatabasePath));
    QStringList headings;
    for (int c = 0; c < 4; ++c) headings << grid->horizontalHeaderItem(c)->text();
    QCOMPARE(headings, QStringList({"Path", "Date Taken", "Description", "Total Size"}));
    QCOMPARE(grid->palette().color(QPalette::Base), QColor(128, 255, 255));

    ClickBasePath(window, "/data");
    QVERIFY(grid->isEnabled());
    QCOMPARE(Column(*grid, 1), QStringList({kNew, kOld}));
    QCOMPARE(grid->item(0, 3)->text(), QString("25 MB"));
    QCOMPARE(f.choice.PathSnapshotCount, 2);

    QVERIFY(ClickSnapshotRow(window, kOld));
    QCOMPARE(window.SelectedSnapshot(), Key(kOld));
    QVERIFY(Child<QGroupBox>(window, "frmsnap")->isEnabled());
    QCOMPARE(Child<QLabel>(window, "lbldate")->text(), QString(kOld));
    QCOMPARE(Child<QLabel>(window, "lblpath")->text(), QString("/data"));
    QCOMPARE(Child<QLabel>(window, "lblsize")->text(), QString("12 MB"));
    QCOMPARE(Child<QLabel>(window, "lblcoll")->text(), QString("Y"));
    QCOMPARE(Child<QLabel>(window, "lblfiletot")->text(), QString("6"));
    SaveScreenshot(window, "frmselsnap");

    QTest::mouseClick(Child<QPushButton>(window, "comok"), Qt::LeftButton);
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QCOMPARE(f.choice.ChosenSnapshot, Key(kOld));
    QVERIFY(f.choice.SnapshotChosen);
    QVERIFY(f.h.Prompter.Texts().empty());
}

void SelectSnapshotWindowTest::CompareChoiceIsRestrictedAndRefusesThePrimeSnapshot() {
    Fixture f;
    f.choice.SelectionMode = 1;
    f.choice.SelectionBasePath = "/data";
    f.choice.PrimeSnapshotDate = Key(kOld);
    SelectSnapshotWindow window(f.h.Context, f.choice);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!Child<QListWidget>(window, "lstdir")->isEnabled());
    QVERIFY(!Child<QLabel>(window, "lbltpath")->isEnabled());
    QVERIFY(Child<QTableWidget>(window, "grdsnap")->isEnabled());
    QCOMPARE(Child<QTableWidget>(window, "grdsnap")->rowCount(), 2);
    auto* advice = Child<QLabel>(window, "lblmsg");
    QVERIFY(advice->isVisible());
    QVERIFY(advice->text().startsWith("When selecting a Snapshot to compare to, choose one which is EARLIER"));
    QVERIFY(advice->text().contains("\nIf you select a later one you can swap them around"));
    SaveScreenshot(window, "frmselsnap_compare");

    QVERIFY(ClickSnapshotRow(window, kOld));
    QTest::mouseClick(Child<QPushButton>(window, "comok"), Qt::LeftButton);
    QCOMPARE(f.h.Prompter.Texts(),
             std::vector<std::string>{"Cannot select this snapshot as it is the same as the prime snapshot"});
    QVERIFY(window.isVisible());
    QVERIFY(!f.choice.SnapshotChosen);

    // A later snapshot is accepted as the compare snapshot.
    QVERIFY(ClickSnapshotRow(window, kNew));
    QTest::mouseClick(Child<QPushButton>(window, "comok"), Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(f.choice.ChosenSnapshot, Key(kNew));
    QVERIFY(f.choice.SnapshotChosen);
}

void SelectSnapshotWindowTest::OkAndDeleteWithoutAClickAskForASnapshot() {
    Fixture f;
    SelectSnapshotWindow window(f.h.Context, f.choice);
    window.show();
    ClickBasePath(window, "/data");
    QTest::mouseClick(Child<QPushButton>(window, "comok"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(window, "comdel"), Qt::LeftButton);
    QCOMPARE(f.h.Prompter.Texts(), (std::vector<std::string>{"Select a Snapshot", "Select a Snapshot"}));
    QVERIFY(window.isVisible());
    QTest::mouseClick(Child<QPushButton>(window, "comcan"), Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QVERIFY(!f.choice.SnapshotChosen);
    QVERIFY(f.choice.ChosenSnapshot.IsNull());
}

void SelectSnapshotWindowTest::DeleteAsksWaitsForAWriterThenRemovesTheSnapshotFromEveryList() {
    Fixture f;
    SelectSnapshotWindow window(f.h.Context, f.choice);
    window.show();
    auto* grid = Child<QTableWidget>(window, "grdsnap");
    ClickBasePath(window, "/data");
    QVERIFY(ClickSnapshotRow(window, kNew));

    // Declined: nothing changes.
    f.h.Prompter.Script({Answer::No});
    QTest::mouseClick(Child<QPushButton>(window, "comdel"), Qt::LeftButton);
    QCOMPARE(f.h.Prompter.Messages().back().MessageButtons, Buttons::YesNo);
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(CountRows(f.h.Database.DatabasePath, "Control", kNew), std::int64_t(1));

    // Another program writing past the wait: the delete gives up, says so and changes nothing.
    const QString status = window.StatusText();
    SQLite::Database other(f.h.Database.DatabasePath, SQLite::OPEN_READWRITE);
    other.exec("BEGIN IMMEDIATE");
    window.SetDeleteWait(std::chrono::milliseconds(300));
    f.h.Prompter.Clear();
    f.h.Prompter.Script({Answer::Yes});
    QTest::mouseClick(Child<QPushButton>(window, "comdel"), Qt::LeftButton);
    QCOMPARE(f.h.Prompter.Texts().back(), "Snapshot database " + f.h.Database.DatabasePath +
                                              " is busy: another program has held it locked for too long. "
                                              "Try again later; the snapshot was not deleted");
    QCOMPARE(CountRows(f.h.Database.DatabasePath, "Control", kNew), std::int64_t(1));
    QCOMPARE(grid->rowCount(), 2);

    // Released while the delete waits: it goes on, and meanwhile the window said why it waited.
    window.SetDeleteWait(kDeleteWait);
    QString waitingText;
    bool waitPointer = false;
    QTimer::singleShot(300, &window, [&]() {
        waitingText = window.StatusText();
        waitPointer = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        SaveScreenshot(window, "frmselsnap_waiting");
        other.exec("COMMIT");
    });
    f.h.Prompter.Clear();
    f.h.Prompter.Script({Answer::Yes});
    QTest::mouseClick(Child<QPushButton>(window, "comdel"), Qt::LeftButton);
    QCOMPARE(waitingText, QString::fromUtf8(kWaitingForWriter.data(), kWaitingForWriter.size()));
    QVERIFY(waitPointer);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(window.StatusText(), status);
    const std::vector<std::string> texts = f.h.Prompter.Texts();
    QCOMPARE(texts.size(), std::size_t(2));
    QCOMPARE(texts[1], std::string("Snapshot taken ") + kNew + " deleted");
    QCOMPARE(CountRows(f.h.Database.DatabasePath, "Control", kNew), std::int64_t(0));
    QCOMPARE(CountRows(f.h.Database.DatabasePath, "Dir", kNew), std::int64_t(0));
    // The deleted snapshot can no longer be chosen.
    QCOMPARE(Column(*grid, 1), QStringList({kOld}));
    QVERIFY(window.SelectedSnapshot().IsNull());
    QVERIFY(Child<QLabel>(window, "lbldate")->text().isEmpty());
    QVERIFY(!Child<QGroupBox>(window, "frmsnap")->isEnabled());
    f.h.Prompter.Clear();
    QTest::mouseClick(Child<QPushButton>(window, "comok"), Qt::LeftButton);
    QCOMPARE(f.h.Prompter.Texts(), std::vector<std::string>{"Select a Snapshot"});
    QVERIFY(!f.choice.SnapshotChosen);

    // The last snapshot of a base path takes the path with it.
    ClickBasePath(window, "/srv");
    QVERIFY(ClickSnapshotRow(window, kOther));
    f.h.Prompter.Script({Answer::Yes});
    QTest::mouseClick(Child<QPushButton>(window, "comdel"), Qt::LeftButton);
    QCOMPARE(Child<QListWidget>(window, "lstdir")->count(), 1);
    QCOMPARE(grid->rowCount(), 0);
}

void SelectSnapshotWindowTest::DatabaseSwitchListsTheOtherDatabase() {
    Fixture f;
    const std::string first = f.h.Database.DatabasePath;
    // A second database with one snapshot of another path.
    Harness other;
    const std::string second = other.OpenNewDatabase("second.mdb");
    SnapshotRows snap;
    snap.Key = kOther;
    snap.BasePath = "/home";
    snap.Dirs = {{"2", "/home", 0, 0}};
    AddSnapshot(other.Database, snap);
    CloseSnapshotDatabase(other.Database);

    SelectSnapshotWindow window(f.h.Context, f.choice);
    window.show();
    ClickBasePath(window, "/data");
    QVERIFY(ClickSnapshotRow(window, kOld));
    f.h.Dialogs.Answers = {QString::fromStdString(second)};
    Child<QAction>(window, "mensel")->trigger();
    QCOMPARE(f.h.Database.DatabasePath, second);
    QCOMPARE(window.StatusText(), "Snapshot database is: " + QString::fromStdString(second));
    auto* paths = Child<QListWidget>(window, "lstdir");
    QCOMPARE(paths->count(), 1);
    QCOMPARE(paths->item(0)->text(), QString("/home"));
    // Rows of the first database are gone with it.
    QCOMPARE(Child<QTableWidget>(window, "grdsnap")->rowCount(), 0);
    QVERIFY(window.SelectedSnapshot().IsNull());
    QVERIFY(Child<QAction>(window, "menrec_0")->isVisible());
    QVERIFY(Child<QAction>(window, "menrec_0")->text().endsWith(QString::fromStdString(second)));

    // And back through the recent item of the first.
    f.h.StoreRecent({second, first});
    window.close();
    SelectSnapshotWindow again(f.h.Context, f.choice);
    again.show();
    Child<QAction>(again, "menrec_1")->trigger();
    QCOMPARE(f.h.Database.DatabasePath, first);
    QCOMPARE(Child<QListWidget>(again, "lstdir")->count(), 2);
}

QTEST_MAIN(SelectSnapshotWindowTest)
#include "SelectSnapshotWindowTest.moc"
