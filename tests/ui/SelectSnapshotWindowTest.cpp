// The snapshot selection window on its own: listing, details, the choice it
// hands back, deleting.

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
#include "tests/ui/WindowHarness.h"
#include "ui/SelectSnapshotWindow.h"

using namespace corvina;
using namespace corvina::test;

namespace {

constexpr const char* kOther = "2024-02-10 08:00:00";

// The /data pair and one snapshot of /srv.
struct Fixture : DataPair {
    Fixture() { AddSnapshot(h.Database, {.Key = kOther, .BasePath = "/srv", .Dirs = {{"2", "/srv", 0, 0}}, .Files = {}}); }
};

QStringList Dates(QTableWidget& grid) { return ColumnTexts(*grid.model(), 1); }

}  // namespace

class SelectSnapshotWindowTest : public QObject {
    Q_OBJECT
private slots:
    void PrimeChoiceListsPathsThenSnapshotsAndTakesTheKeyboardRow();
    void CompareChoiceIsRestrictedAndRefusesThePrimeSnapshot();
    void DeleteAsksWaitsForAWriterThenRemovesTheSnapshotFromEveryList();
};

// The row the keyboard moves to is the one chosen, its details shown.
void SelectSnapshotWindowTest::PrimeChoiceListsPathsThenSnapshotsAndTakesTheKeyboardRow() {
    Fixture f;
    SelectSnapshotWindow window(f.h.Context, f.choice);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* grid = Child<QTableWidget>(window, "grdsnap");
    QCOMPARE(Child<QListWidget>(window, "lstdir")->item(0)->text(), QString("/data"));
    QVERIFY(!grid->isEnabled() && !Child<QGroupBox>(window, "frmsnap")->isEnabled());
    QVERIFY(!Child<QLabel>(window, "lblmsg")->isVisible());

    ClickBasePath(window, "/data");
    QCOMPARE(Dates(*grid), QStringList({kNew, kOld}));
    QCOMPARE(f.choice.PathSnapshotCount, 2);
    // OK and Delete without a snapshot clicked ask for one.
    QTest::mouseClick(Child<QPushButton>(window, "comok"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(window, "comdel"), Qt::LeftButton);
    QCOMPARE(f.h.Prompter.Texts(), (std::vector<std::string>{"Select a Snapshot", "Select a Snapshot"}));
    QVERIFY(window.isVisible());

    QVERIFY(ClickSnapshotRow(window, kNew));
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(grid->selectionModel()->selectedRows().value(0).row(), 1);
    QStringList details;
    for (const char* label : {"lbldate", "lblpath", "lblsize", "lblcoll", "lblfiletot"}) {
        details << Child<QLabel>(window, label)->text();
    }
    QCOMPARE(details, QStringList({kOld, "/data", "12 MB", "Y", "6"}));
    SaveScreenshot(window, "frmselsnap");
    QTest::mouseClick(Child<QPushButton>(window, "comok"), Qt::LeftButton);
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QVERIFY(f.choice.SnapshotChosen && f.choice.ChosenSnapshot == Key(kOld));

    f.h.OpenNewDatabase("empty.mdb");
    SelectSnapshotWindow empty(f.h.Context, f.choice);
    empty.show();
    QVERIFY(QTest::qWaitForWindowExposed(&empty));
    auto* advice = Child<QLabel>(empty, "lblmsg");
    QVERIFY(advice->isVisible() && advice->text() == "No snapshots in this database yet");
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
    QCOMPARE(Child<QTableWidget>(window, "grdsnap")->rowCount(), 2);

    QVERIFY(ClickSnapshotRow(window, kOld));
    QTest::mouseClick(Child<QPushButton>(window, "comok"), Qt::LeftButton);
    QCOMPARE(f.h.Prompter.Texts(),
             std::vector<std::string>{"Cannot select this snapshot as it is the same as the prime snapshot"});
    QVERIFY(window.isVisible() && !f.choice.SnapshotChosen);
    // A later snapshot is accepted as the compare snapshot.
    QVERIFY(ClickSnapshotRow(window, kNew));
    QTest::mouseClick(Child<QPushButton>(window, "comok"), Qt::LeftButton);
    QVERIFY(!window.isVisible() && f.choice.SnapshotChosen && f.choice.ChosenSnapshot == Key(kNew));
}

void SelectSnapshotWindowTest::DeleteAsksWaitsForAWriterThenRemovesTheSnapshotFromEveryList() {
    Fixture f;
    SelectSnapshotWindow window(f.h.Context, f.choice);
    window.show();
    auto* grid = Child<QTableWidget>(window, "grdsnap");
    ClickBasePath(window, "/data");
    QVERIFY(ClickSnapshotRow(window, kNew));
    const auto clickDelete = [&](Answer answer) {
        f.h.Prompter.Clear();
        f.h.Prompter.Script({answer});
        QTest::mouseClick(Child<QPushButton>(window, "comdel"), Qt::LeftButton);
    };
    clickDelete(Answer::No);
    QCOMPARE(f.h.Prompter.Messages().back().MessageButtons, Buttons::YesNo);
    QCOMPARE(CountRows(f.h.Database.DatabasePath, "Control", kNew), std::int64_t(1));

    // Another program writing past the wait: the delete gives up, says so and changes nothing.
    SQLite::Database other(f.h.Database.DatabasePath, SQLite::OPEN_READWRITE);
    other.exec("BEGIN IMMEDIATE");
    window.SetDeleteWait(std::chrono::milliseconds(300));
    clickDelete(Answer::Yes);
    QCOMPARE(f.h.Prompter.Texts().back(), "Snapshot database " + f.h.Database.DatabasePath +
                                              " is busy: another program has held it locked for too long. "
                                              "Try again later; the snapshot was not deleted");
    QCOMPARE(grid->rowCount(), 2);

    // Released while the delete waits: it goes on, and meanwhile the window said why it waited.
    const QString status = window.StatusText();
    window.SetDeleteWait(kDeleteWait);
    QString waitingText;
    bool waitPointer = false;
    QTimer::singleShot(300, &window, [&]() {
        waitingText = window.StatusText();
        waitPointer = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        other.exec("COMMIT");
    });
    clickDelete(Answer::Yes);
    QCOMPARE(waitingText, QString::fromUtf8(kWaitingForWriter.data(), kWaitingForWriter.size()));
    QVERIFY(waitPointer && QApplication::overrideCursor() == nullptr);
    QCOMPARE(window.StatusText(), status);
    QCOMPARE(f.h.Prompter.Texts().back(), std::string("Snapshot taken ") + kNew + " deleted");
    QCOMPARE(CountRows(f.h.Database.DatabasePath, "Dir", kNew), std::int64_t(0));
    // The deleted snapshot can no longer be chosen.
    QCOMPARE(Dates(*grid), QStringList({kOld}));
    QVERIFY(window.SelectedSnapshot().IsNull() && Child<QLabel>(window, "lbldate")->text().isEmpty());

    // The last snapshot of a base path takes the path with it.
    ClickBasePath(window, "/srv");
    QVERIFY(ClickSnapshotRow(window, kOther));
    clickDelete(Answer::Yes);
    QCOMPARE(Child<QListWidget>(window, "lstdir")->count(), 1);
    QCOMPARE(grid->rowCount(), 0);
    QTest::mouseClick(Child<QPushButton>(window, "comcan"), Qt::LeftButton);
    QVERIFY(!window.isVisible() && !f.choice.SnapshotChosen);
}

QTEST_MAIN(SelectSnapshotWindowTest)
#include "SelectSnapshotWindowTest.moc"
