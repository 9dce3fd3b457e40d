// Snapshot runs started from the take-snapshot window: progress and outcome
// as the user sees them, abort, file errors, debug stops, and what the window
// refuses while the worker runs. Rows are checked in the database file.

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>

#include "store/DateTime.h"
#include "tests/ui/WindowHarness.h"
#include "ui/Analsnap.h"

using namespace corvina;
using namespace corvina::test;

namespace {

constexpr int kRunTimeoutMs = 10000;

// root/top.txt 100, root/a/f1 10, root/a/f2 2000, root/b/c/f3 5000:
// 4 directories, 4 files, 7110 bytes; 2 files of 1000 bytes or more.
std::string MakeSmallTree(Harness& h, const std::string& name = "tree") {
    const std::string root = h.Dir.File(name);
    MakeFile(root + "/top.txt", 100);
    MakeFile(root + "/a/f1", 10);
    MakeFile(root + "/a/f2", 2000);
    MakeFile(root + "/b/c/f3", 5000);
    return root;
}

void ChooseRun(Analsnap& window, const std::string& path, const QString& description) {
    Child<QLineEdit>(window, "txtpath")->setText(QString::fromStdString(path));
    Child<QPlainTextEdit>(window, "txtdesc")->setPlainText(description);
}

void ClickTakeSnapshot(Analsnap& window) {
    QTest::mouseClick(Child<QPushButton>(window, "comsnap"), Qt::LeftButton);
}

QDialog* VisibleDebugWindow(Analsnap& window) {
    auto* debug = window.findChild<QDialog*>("frmdebug");
    return debug != nullptr && debug->isVisible() ? debug : nullptr;
}

QStringList Column(QTableWidget& grid, int column) {
    QStringList texts;
    for (int row = 0; row < grid.rowCount(); ++row) texts << grid.item(row, column)->text();
    return texts;
}

std::string KeyOf(const Analsnap& window) {
    return window.SnapshotDate() ? FormatKey(*window.SnapshotDate()) : std::string("no key");
}

}  // namespace

class SnapshotRunWindowTest : public QObject {
    Q_OBJECT
private slots:
    void CompleteRunShowsCountersStatusAndStoresRows();
    void AbortTakesEffectAndLeavesNothing();
    void WindowRefusesOtherWorkWhileRunningAndClosingAsks();
    void ExitDuringARunAbortsItThenEnds();
    void FileErrorsAreNotedListedAndRefilledByALaterRun();
    void TooManyErrorsAreListedAndNothingIsKept();
    void DebugStopsAtDirectoriesWithSubdirectories();
    void SwitchingDebugOffEndsTheStopsForGood();
    void AbortInTheDebugWindowRollsTheRunBack();
    void ClosingAtADebugStopAbortsAndCloses();
};

void SnapshotRunWindowTest::CompleteRunShowsCountersStatusAndStoresRows() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    Analsnap window(h.Context);
    window.show();
    window.SetDirectoryPath(QString::fromStdString(root));
    Child<QRadioButton>(window, "optsel_1")->click();
    Child<QLineEdit>(window, "txtsmall")->setText("1000");
    SaveScreenshot(window, "Analsnap-before");

    ClickTakeSnapshot(window);
    QVERIFY(window.IsRunning());
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);

    QCOMPARE(window.StatusText(), QString("Snapshot completed."));
    QCOMPARE(Child<QLineEdit>(window, "txtdirs")->text(), QString("4"));
    QCOMPARE(Child<QLineEdit>(window, "txtfiles")->text(), QString("4"));
    QCOMPARE(Child<QLineEdit>(window, "txtbytes")->text(), QString("6 KB"));
    QCOMPARE(Child<QLineEdit>(window, "txtaddedfile")->text(), QString("2"));
    QCOMPARE(Child<QLineEdit>(window, "txtaddedsize")->text(), QString("6 KB"));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(Child<QPushButton>(window, "comsnap")->isEnabled());
    QVERIFY(h.Prompter.Messages().empty());
    QVERIFY(window.findChild<QWidget*>("frmerr") == nullptr);
    SaveScreenshot(window, "Analsnap-after");

    const std::string key = KeyOf(window);
    QCOMPARE(CountRows(db, "Control", key), 1);
    QCOMPARE(CountRows(db, "Dir", key), 7);  // 4 directory entries, 3 files entries
    QCOMPARE(CountRows(db, "files", key), 2);
}

void SnapshotRunWindowTest::AbortTakesEffectAndLeavesNothing() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    Analsnap window(h.Context);
    window.show();
    ChooseRun(window, root, "to be aborted");
    h.Disk.Hold();
    ClickTakeSnapshot(window);
    QTRY_COMPARE_WITH_TIMEOUT(h.Disk.Waiting.load(), 1, kRunTimeoutMs);
    // The window answers while the worker is held.
    QTest::mouseClick(Child<QPushButton>(window, "comhalt"), Qt::LeftButton);
    h.Disk.Release();
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);

    QCOMPARE(window.StatusText(), QString("Snapshot aborted"));
    QVERIFY(h.Prompter.Messages().empty());
    // Only the directory being listed when the abort came was read.
    QCOMPARE(h.Disk.Listings.load(), 1);
    const std::string key = KeyOf(window);
    QCOMPARE(CountRows(db, "Control", key), 0);
    QCOMPARE(CountRows(db, "Dir", key), 0);
    QCOMPARE(CountRows(db, "files", key), 0);

    // The next run starts afresh and completes.
    ClickTakeSnapshot(window);
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);
    QCOMPARE(window.StatusText(), QString("Snapshot completed."));
}

void SnapshotRunWindowTest::WindowRefusesOtherWorkWhileRunningAndClosingAsks() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    h.StoreRecent({db});
    const std::string root = MakeSmallTree(h);
    Analsnap window(h.Context);
    window.show();
    ChooseRun(window, root, "held");
    h.Disk.Hold();
    ClickTakeSnapshot(window);
    QTRY_COMPARE_WITH_TIMEOUT(h.Disk.Waiting.load(), 1, kRunTimeoutMs);

    // A second run, a database switch and the analysis window are out of reach.
    QVERIFY(!Child<QPushButton>(window, "comsnap")->isEnabled());
    QVERIFY(!Child<QAction>(window, "menopen")->isEnabled());
    QVERIFY(!Child<QAction>(window, "menrec_0")->isEnabled());
    QVERIFY(!Child<QAction>(window, "menanal")->isEnabled());
    ClickTakeSnapshot(window);
    Child<QAction>(window, "menopen")->trigger();
    QVERIFY(h.Dialogs.Requests.empty());
    QCOMPARE(h.Database.DatabasePath, db);

    // The debug key still works during a run.
    QTest::keyClick(Child<QLineEdit>(window, "txtpath"), 'd');
    QVERIFY(window.DebugMode());
    QTest::keyClick(Child<QLineEdit>(window, "txtpath"), 'd');
    h.Prompter.Clear();

    // Closing asks; No keeps the run and the window.
    h.Prompter.Script({Answer::No});
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QVERIFY(window.IsRunning());
    QCOMPARE(h.Prompter.Messages().size(), std::size_t{1});
    QCOMPARE(h.Prompter.Messages()[0].MessageButtons, Buttons::YesNo);

    // Yes aborts, and the window closes once the run has wound up.
    h.Prompter.Script({Answer::Yes});
    window.close();
    QVERIFY(window.isVisible());
    h.Disk.Release();
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(h.Disk.Listings.load(), 1);
    QCOMPARE(CountRows(db, "Control", KeyOf(window)), 0);
    QVERIFY(!h.Ender.Ended);
}

void SnapshotRunWindowTest::ExitDuringARunAbortsItThenEnds() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    Analsnap window(h.Context);
    window.show();
    ChooseRun(window, root, "ended");
    h.Disk.Hold();
    ClickTakeSnapshot(window);
    QTRY_COMPARE_WITH_TIMEOUT(h.Disk.Waiting.load(), 1, kRunTimeoutMs);
    h.Prompter.Script({Answer::Yes});
    Child<QAction>(window, "menexit")->trigger();
    QVERIFY(!h.Ender.Ended);  // not while the worker holds the database
    h.Disk.Release();
    QTRY_VERIFY_WITH_TIMEOUT(h.Ender.Ended, kRunTimeoutMs);
    QVERIFY(h.Database.SnapshotDatabase == nullptr);
    QCOMPARE(CountRows(db, "Control", KeyOf(window)), 0);
    QCOMPARE(CountRows(db, "Dir", KeyOf(window)), 0);
}

void SnapshotRunWindowTest::FileErrorsAreNotedListedAndRefilledByALaterRun() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    MakeFile(root + "/bad-one", 1);
    MakeFile(root + "/a/bad-two", 1);
    Analsnap window(h.Context);
    window.show();
    ChooseRun(window, root, "with errors");
    ClickTakeSnapshot(window);
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);

    QCOMPARE(h.Prompter.Texts(), std::vector<std::string>{"Note: information on 2 files could not be collected"});
    QCOMPARE(window.StatusText(), QString("Snapshot completed."));
    QCOMPARE(CountRows(db, "Control", KeyOf(window)), 1);
    auto* errors = window.findChild<QWidget*>("frmerr");
    QVERIFY(errors != nullptr && errors->isVisible());
    QCOMPARE(errors->windowTitle(), QString("File Errors"));
    auto* grid = Child<QTableWidget>(*errors, "grderr");
    QCOMPARE(grid->horizontalHeaderItem(0)->text(), QString("File"));
    QCOMPARE(grid->horizontalHeaderItem(1)->text(), QString("Error"));
    QStringList files = Column(*grid, 0);
    files.sort();
    QCOMPARE(files, (QStringList{QString::fromStdString(root + "/a/bad-two"), QString::fromStdString(root + "/bad-one")}));
    for (const QString& error : Column(*grid, 1)) QVERIFY2(error.contains("ermission"), qPrintable(error));
    // Beside the take-snapshot window, not over it.
    QVERIFY(errors->frameGeometry().left() >= window.frameGeometry().right());
    SaveScreenshot(*errors, "frmerr");

    // A second run while the window is still open shows its own list.
    std::filesystem::remove(root + "/a/bad-two");
    h.Prompter.Clear();
    ClickTakeSnapshot(window);
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);
    QCOMPARE(h.Prompter.Texts(), std::vector<std::string>{"Note: information on 1 files could not be collected"});
    QCOMPARE(window.findChildren<QWidget*>("frmerr").size(), 1);
    QCOMPARE(Column(*grid, 0), QStringList{QString::fromStdString(root + "/bad-one")});
}

void SnapshotRunWindowTest::TooManyErrorsAreListedAndNothingIsKept() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    for (int i = 0; i < 120; ++i) MakeFile(root + "/a/bad" + std::to_string(i), 1);
    Analsnap window(h.Context);
    window.show();
    ChooseRun(window, root, "too many errors");
    ClickTakeSnapshot(window);
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);
    QCOMPARE(h.Prompter.Texts(), (std::vector<std::string>{"Snapshot aborted due to excessive number of errors",
                                                           "Snapshot aborted due to excessive numbers of file errors"}));
    auto* errors = window.findChild<QWidget*>("frmerr");
    QVERIFY(errors != nullptr && errors->isVisible());
    QCOMPARE(Child<QTableWidget>(*errors, "grderr")->rowCount(), 101);
    QVERIFY(window.StatusText().startsWith("Processing directory "));
    const std::string key = KeyOf(window);
    QCOMPARE(CountRows(db, "Control", key), 0);
    QCOMPARE(CountRows(db, "Dir", key), 0);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void SnapshotRunWindowTest::DebugStopsAtDirectoriesWithSubdirectories() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    Analsnap window(h.Context);
    window.show();
    ChooseRun(window, root, "debugged");
    QTest::keyClick(Child<QLineEdit>(window, "txtpath"), 'd');
    QVERIFY(window.DebugMode());
    QLineEdit* path = Child<QLineEdit>(window, "txtpath");
    path->setText(QString::fromStdString(root));  // undo the typed letter
    h.Prompter.Clear();
    ClickTakeSnapshot(window);

    // The base directory has subdirectories: the first stop.
    QTRY_VERIFY_WITH_TIMEOUT(VisibleDebugWindow(window) != nullptr, kRunTimeoutMs);
    QDialog* debug = VisibleDebugWindow(window);
    QCOMPARE(debug->windowTitle(), QString("Debug Information"));
    QVERIFY(debug->isModal() || debug->windowModality() != Qt::NonModal);
    QCOMPARE(Child<QLabel>(*debug, "lbltitle")->text(), QString::fromStdString("Files within " + root + "/"));
    auto* grid = Child<QTableWidget>(*debug, "grddebug");
    QStringList paths = Column(*grid, 0);
    paths.sort();
    QCOMPARE(paths, (QStringList{QString::fromStdString(root + "/a"), QString::fromStdString(root + "/b"),
                                 QString::fromStdString(root + "/top.txt")}));
    for (int row = 0; row < grid->rowCount(); ++row) {
        const QString attributes = grid->item(row, 1)->text();
        QCOMPARE(attributes.size(), 8);
        const bool isDirectory = !grid->item(row, 0)->text().endsWith("top.txt");
        QCOMPARE((attributes.trimmed().toInt() & 16) != 0, isDirectory);
    }
    // The window shows where the walk stands, and the worker waits.
    QCOMPARE(window.StatusText(), QString::fromStdString("Processing directory " + root));
    QVERIFY(window.IsRunning());
    SaveScreenshot(window, "Analsnap-debug-stop");
    SaveScreenshot(*debug, "frmdebug");

    // Continue: a has no subdirectories, so the next stop is b.
    QTest::mouseClick(Child<QPushButton>(*debug, "comexit"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>(*debug, "lbltitle")->text(),
                              QString::fromStdString("Files within " + root + "/b/"), kRunTimeoutMs);
    QTRY_VERIFY(debug->isVisible());
    QCOMPARE(Column(*grid, 0), QStringList{QString::fromStdString(root + "/b/c")});
    QTest::mouseClick(Child<QPushButton>(*debug, "comexit"), Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);
    QVERIFY(!debug->isVisible());
    QCOMPARE(window.StatusText(), QString("Snapshot completed."));
    QVERIFY(window.DebugMode());  // stays on for later runs
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(CountRows(db, "Control", KeyOf(window)), 1);
}

void SnapshotRunWindowTest::SwitchingDebugOffEndsTheStopsForGood() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    Analsnap window(h.Context);
    window.show();
    ChooseRun(window, root, "debug switched off");
    QTest::keyClick(&window, 'd');
    QVERIFY(window.DebugMode());
    ClickTakeSnapshot(window);
    QTRY_VERIFY_WITH_TIMEOUT(VisibleDebugWindow(window) != nullptr, kRunTimeoutMs);
    QDialog* debug = VisibleDebugWindow(window);

    QTest::mouseClick(Child<QPushButton>(*debug, "comdebug"), Qt::LeftButton);
    QVERIFY(debug->isVisible());  // stays open until the user continues
    QVERIFY(!window.DebugMode());
    QTest::mouseClick(Child<QPushButton>(*debug, "comexit"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);
    // No stop at b: the title is still the first stop's.
    QCOMPARE(Child<QLabel>(*debug, "lbltitle")->text(), QString::fromStdString("Files within " + root + "/"));
    QCOMPARE(window.StatusText(), QString("Snapshot completed."));
    QVERIFY(!window.DebugMode());
    QCOMPARE(CountRows(db, "Control", KeyOf(window)), 1);
}

void SnapshotRunWindowTest::AbortInTheDebugWindowRollsTheRunBack() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    Analsnap window(h.Context);
    window.show();
    ChooseRun(window, root, "aborted at a stop");
    QTest::keyClick(&window, 'd');
    ClickTakeSnapshot(window);
    QTRY_VERIFY_WITH_TIMEOUT(VisibleDebugWindow(window) != nullptr, kRunTimeoutMs);
    QDialog* debug = VisibleDebugWindow(window);
    QTest::mouseClick(Child<QPushButton>(*debug, "comhalt"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);
    QVERIFY(!debug->isVisible());
    QCOMPARE(window.StatusText(), QString("Snapshot aborted"));
    const std::string key = KeyOf(window);
    QCOMPARE(CountRows(db, "Control", key), 0);
    QCOMPARE(CountRows(db, "Dir", key), 0);
    QCOMPARE(CountRows(db, "files", key), 0);
    // Debug mode stays on: the next run stops again.
    QVERIFY(window.DebugMode());
}

void SnapshotRunWindowTest::ClosingAtADebugStopAbortsAndCloses() {
    Harness h;
    const std::string db = h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    Analsnap window(h.Context);
    window.show();
    ChooseRun(window, root, "closed at a stop");
    QTest::keyClick(&window, 'd');
    ClickTakeSnapshot(window);
    QTRY_VERIFY_WITH_TIMEOUT(VisibleDebugWindow(window) != nullptr, kRunTimeoutMs);
    QDialog* debug = VisibleDebugWindow(window);
    h.Prompter.Clear();
    h.Prompter.Script({Answer::Yes});
    window.close();
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunning(), kRunTimeoutMs);
    QTRY_VERIFY(!window.isVisible());
    QVERIFY(!debug->isVisible());
    QCOMPARE(h.Prompter.Messages().size(), std::size_t{1});
    QCOMPARE(CountRows(db, "Dir", KeyOf(window)), 0);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

QTEST_MAIN(SnapshotRunWindowTest)
#include "SnapshotRunWindowTest.moc"
