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
#include <SQLiteCpp/Database.h>

#include "store/DateTime.h"
#include "tests/ui/WindowHarness.h"
#include "ui/TakeSnapshotWindow.h"

using namespace corvina;
using namespace corvina::test;

namespace {

constexpr int kRunTimeoutMs = 10000;

// root/top.txt 100, root/a/f1 10, root/a/f2 2000, root/b/c/f3 5000:
// 4 directories, 4 files, 7110 bytes; 2 files of 1000 bytes or more.
std::string MakeSmallTree(Harness& h) {
    const std::string root = h.Dir.File("tree");
    MakeFile(root + "/top.txt", 100);
    MakeFile(root + "/a/f1", 10);
    MakeFile(root + "/a/f2", 2000);
    MakeFile(root + "/b/c/f3", 5000);
    return root;
}

// A shown window with a new database and the small tree chosen.
struct RunFixture {
    Harness h;
    std::string Db = h.OpenNewDatabase();
    std::string Root = MakeSmallTree(h);
    TakeSnapshotWindow Window{h.Context};

    explicit RunFixture(const QString& description) {
        Window.show();
        Child<QLineEdit>(Window, "txtpath")->setText(QString::fromStdString(Root));
        Child<QPlainTextEdit>(Window, "txtdesc")->setPlainText(description);
    }
    void Take() { QTest::mouseClick(Child<QPushButton>(Window, "comsnap"), Qt::LeftButton); }
    bool Ended() {
        return QTest::qWaitFor([this]() { return !Window.IsRunning(); }, kRunTimeoutMs);
    }
    bool Held() {
        return QTest::qWaitFor([this]() { return h.Disk.Waiting == 1; }, kRunTimeoutMs);
    }
    QDialog* DebugStop() {
        if (!QTest::qWaitFor([this]() { return Visible("frmdebug") != nullptr; }, kRunTimeoutMs)) return nullptr;
        return qobject_cast<QDialog*>(Visible("frmdebug"));
    }
    QWidget* Visible(const char* name) {
        auto* widget = Window.findChild<QWidget*>(name);
        return widget != nullptr && widget->isVisible() ? widget : nullptr;
    }
    std::int64_t Rows(const std::string& table) {
        return CountRows(Db, table, Window.SnapshotDate() ? FormatKey(*Window.SnapshotDate()) : "none");
    }
    QString Text(const char* box) { return Child<QLineEdit>(Window, box)->text(); }
};

QStringList SortedColumn(QTableWidget& grid, int column) {
    QStringList texts;
    for (int row = 0; row < grid.rowCount(); ++row) texts << grid.item(row, column)->text();
    texts.sort();
    return texts;
}

}  // namespace

class SnapshotRunWindowTest : public QObject {
    Q_OBJECT
private slots:
    void CompleteRunShowsCountersStatusAndStoresRows();
    void AbortEndsARunOrItsWaitForAWriterAndLeavesNothing();
    void WindowRefusesOtherWorkWhileRunningAndClosingAsks();
    void ExitDuringARunAbortsItThenEnds();
    void FileErrorsAreNotedListedAndRefilledByALaterRun();
    void TooManyErrorsAreListedAndNothingIsKept();
    void DebugStopsAtDirectoriesWithSubdirectories();
    void SwitchingDebugOffEndsTheStopsForGood();
    void AbortOrCloseAtADebugStopRollsTheRunBack();
};

void SnapshotRunWindowTest::CompleteRunShowsCountersStatusAndStoresRows() {
    RunFixture f("complete");
    f.Window.SetDirectoryPath(QString::fromStdString(f.Root));
    Child<QRadioButton>(f.Window, "optsel_1")->click();
    Child<QLineEdit>(f.Window, "txtsmall")->setText("1000");
    SaveScreenshot(f.Window, "Analsnap-before");
    f.Take();
    QVERIFY(f.Window.IsRunning());
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QVERIFY(f.Ended());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot completed."));
    QCOMPARE((QStringList{f.Text("txtdirs"), f.Text("txtfiles"), f.Text("txtbytes"), f.Text("txtaddedfile"),
                          f.Text("txtaddedsize")}),
             (QStringList{"4", "4", "6 KB", "2", "6 KB"}));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(Child<QPushButton>(f.Window, "comsnap")->isEnabled());
    QVERIFY(f.h.Prompter.Messages().empty());
    QVERIFY(f.Visible("frmerr") == nullptr);
    SaveScreenshot(f.Window, "Analsnap-after");
    QCOMPARE(f.Rows("Control"), 1);
    QCOMPARE(f.Rows("Dir"), 7);  // 4 directory entries, 3 files entries
    QCOMPARE(f.Rows("files"), 2);
}

void SnapshotRunWindowTest::AbortEndsARunOrItsWaitForAWriterAndLeavesNothing() {
    RunFixture f("aborted");
    f.h.Disk.Hold();
    f.Take();
    QVERIFY(f.Held());
    // The window answers while the worker is held in the base directory.
    QTest::mouseClick(Child<QPushButton>(f.Window, "comhalt"), Qt::LeftButton);
    f.h.Disk.Release();
    QVERIFY(f.Ended());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot aborted"));
    QVERIFY(f.h.Prompter.Messages().empty());
    QCOMPARE(f.h.Disk.Listings.load(), 1);  // no subdirectory was read
    QCOMPARE(f.Rows("Control") + f.Rows("Dir") + f.Rows("files"), 0);

    // Another program writing: the run waits and says so, and abort ends the wait.
    const QString waiting = QString::fromUtf8(kWaitingForWriter.data(), kWaitingForWriter.size());
    SQLite::Database other(f.Db, SQLite::OPEN_READWRITE);
    other.exec("BEGIN IMMEDIATE");
    f.Take();
    QTRY_COMPARE(f.Window.StatusText(), waiting);
    QTest::mouseClick(Child<QPushButton>(f.Window, "comhalt"), Qt::LeftButton);
    QVERIFY(f.Ended());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot aborted"));
    QVERIFY(f.h.Prompter.Messages().empty());
    QCOMPARE(other.execAndGet("SELECT (SELECT count(*) FROM Control) + (SELECT count(*) FROM Dir)").getInt(), 0);
    // The next run starts afresh, waits the same way, and completes once the other program commits.
    f.Take();
    QTRY_COMPARE(f.Window.StatusText(), waiting);
    other.exec("COMMIT");
    QVERIFY(f.Ended());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot completed."));
    QCOMPARE(f.Rows("Control"), 1);
}

void SnapshotRunWindowTest::WindowRefusesOtherWorkWhileRunningAndClosingAsks() {
    RunFixture f("held");
    f.h.StoreRecent({f.Db});
    f.Window.RefreshRecentMenu();
    f.h.Disk.Hold();
    f.Take();
    QVERIFY(f.Held());
    // A second run, a database switch and the analysis window are out of reach.
    for (const char* item : {"menopen", "menrec_0", "menanal"}) QVERIFY2(!Child<QAction>(f.Window, item)->isEnabled(), item);
    QVERIFY(!Child<QPushButton>(f.Window, "comsnap")->isEnabled());
    f.Take();
    Child<QAction>(f.Window, "menopen")->trigger();
    QVERIFY(f.h.Dialogs.Requests.empty());
    // The debug key still works during a run.
    QTest::keyClick(&f.Window, 'd');
    QVERIFY(f.Window.DebugMode());
    QTest::keyClick(&f.Window, 'd');
    f.h.Prompter.Clear();

    // Closing asks; No keeps the run and the window, Yes aborts and closes once the run has wound up.
    f.h.Prompter.Script({Answer::No, Answer::Yes});
    QVERIFY(!f.Window.close());
    QVERIFY(f.Window.isVisible() && f.Window.IsRunning());
    f.Window.close();
    QVERIFY(f.Window.isVisible());
    f.h.Disk.Release();
    QVERIFY(f.Ended());
    QTRY_VERIFY(!f.Window.isVisible());
    QCOMPARE(f.h.Prompter.Messages().size(), std::size_t{2});
    QCOMPARE(f.h.Prompter.Messages()[0].MessageButtons, Buttons::YesNo);
    QCOMPARE(f.h.Disk.Listings.load(), 1);
    QCOMPARE(f.Rows("Control"), 0);
    QVERIFY(!f.h.Ender.Ended);
}

void SnapshotRunWindowTest::ExitDuringARunAbortsItThenEnds() {
    RunFixture f("ended");
    f.h.Disk.Hold();
    f.Take();
    QVERIFY(f.Held());
    f.h.Prompter.Script({Answer::Yes});
    Child<QAction>(f.Window, "menexit")->trigger();
    QVERIFY(!f.h.Ender.Ended);  // not while the worker holds the database
    f.h.Disk.Release();
    QTRY_VERIFY_WITH_TIMEOUT(f.h.Ender.Ended, kRunTimeoutMs);
    QVERIFY(f.h.Database.SnapshotDatabase == nullptr);
    QCOMPARE(f.Rows("Dir"), 0);
}

void SnapshotRunWindowTest::FileErrorsAreNotedListedAndRefilledByALaterRun() {
    RunFixture f("with errors");
    MakeFile(f.Root + "/bad-one", 1);
    MakeFile(f.Root + "/a/bad-two", 1);
    f.Take();
    QVERIFY(f.Ended());
    QCOMPARE(f.h.Prompter.Texts(), std::vector<std::string>{"Note: information on 2 files could not be collected"});
    QCOMPARE(f.Window.StatusText(), QString("Snapshot completed."));
    QCOMPARE(f.Rows("Control"), 1);
    QWidget* errors = f.Visible("frmerr");
    QVERIFY(errors != nullptr);
    auto* grid = Child<QTableWidget>(*errors, "grderr");
    QCOMPARE(grid->horizontalHeaderItem(0)->text() + "|" + grid->horizontalHeaderItem(1)->text(), QString("File|Error"));
    QCOMPARE(SortedColumn(*grid, 0), (QStringList{QString::fromStdString(f.Root + "/a/bad-two"),
                                                  QString::fromStdString(f.Root + "/bad-one")}));
    QVERIFY(grid->item(0, 1)->text().contains("ermission"));
    // Beside the take-snapshot window, not over it.
    QVERIFY(errors->frameGeometry().left() >= f.Window.frameGeometry().right());
    SaveScreenshot(*errors, "frmerr");

    // A second run while the window is still open shows its own list.
    std::filesystem::remove(f.Root + "/a/bad-two");
    f.h.Prompter.Clear();
    f.Take();
    QVERIFY(f.Ended());
    QCOMPARE(f.h.Prompter.Texts(), std::vector<std::string>{"Note: information on 1 files could not be collected"});
    QCOMPARE(f.Window.findChildren<QWidget*>("frmerr").size(), 1);
    QCOMPARE(SortedColumn(*grid, 0), QStringList{QString::fromStdString(f.Root + "/bad-one")});
}

void SnapshotRunWindowTest::TooManyErrorsAreListedAndNothingIsKept() {
    RunFixture f("too many errors");
    for (int i = 0; i < 120; ++i) MakeFile(f.Root + "/a/bad" + std::to_string(i), 1);
    f.Take();
    QVERIFY(f.Ended());
    QCOMPARE(f.h.Prompter.Texts(), (std::vector<std::string>{"Snapshot aborted due to excessive number of errors",
                                                             "Snapshot aborted due to excessive numbers of file errors"}));
    QVERIFY(f.Visible("frmerr") != nullptr);
    QCOMPARE(Child<QTableWidget>(*f.Visible("frmerr"), "grderr")->rowCount(), 101);
    QVERIFY(f.Window.StatusText().startsWith("Processing directory "));
    QCOMPARE(f.Rows("Control") + f.Rows("Dir"), 0);
}

void SnapshotRunWindowTest::DebugStopsAtDirectoriesWithSubdirectories() {
    RunFixture f("debugged");
    QTest::keyClick(&f.Window, 'd');
    f.Take();
    QDialog* debug = f.DebugStop();
    QVERIFY(debug != nullptr);
    QCOMPARE(debug->windowTitle(), QString("Debug Information"));
    QVERIFY(debug->windowModality() != Qt::NonModal);
    QCOMPARE(Child<QLabel>(*debug, "lbltitle")->text(), QString::fromStdString("Files within " + f.Root + "/"));
    auto* grid = Child<QTableWidget>(*debug, "grddebug");
    QCOMPARE(SortedColumn(*grid, 0), (QStringList{QString::fromStdString(f.Root + "/a"), QString::fromStdString(f.Root + "/b"),
                                                  QString::fromStdString(f.Root + "/top.txt")}));
    for (int row = 0; row < grid->rowCount(); ++row) {
        const QString attributes = grid->item(row, 1)->text();
        QCOMPARE(attributes.size(), 8);
        QCOMPARE((attributes.trimmed().toInt() & 16) != 0, !grid->item(row, 0)->text().endsWith("top.txt"));
    }
    // The window shows where the walk stands, and the worker waits.
    QCOMPARE(f.Window.StatusText(), QString::fromStdString("Processing directory " + f.Root));
    QVERIFY(f.Window.IsRunning());
    SaveScreenshot(f.Window, "Analsnap-debug-stop");
    SaveScreenshot(*debug, "frmdebug");

    // Continue: a has no subdirectories, so the next stop is b.
    QTest::mouseClick(Child<QPushButton>(*debug, "comexit"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>(*debug, "lbltitle")->text(),
                              QString::fromStdString("Files within " + f.Root + "/b/"), kRunTimeoutMs);
    QCOMPARE(SortedColumn(*grid, 0), QStringList{QString::fromStdString(f.Root + "/b/c")});
    QTest::mouseClick(Child<QPushButton>(*debug, "comexit"), Qt::LeftButton);
    QVERIFY(f.Ended());
    QVERIFY(!debug->isVisible());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot completed."));
    QVERIFY(f.Window.DebugMode());  // stays on for later runs
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(f.Rows("Control"), 1);
}

void SnapshotRunWindowTest::SwitchingDebugOffEndsTheStopsForGood() {
    RunFixture f("debug switched off");
    QTest::keyClick(&f.Window, 'd');
    f.Take();
    QDialog* debug = f.DebugStop();
    QVERIFY(debug != nullptr);
    QTest::mouseClick(Child<QPushButton>(*debug, "comdebug"), Qt::LeftButton);
    QVERIFY(debug->isVisible());  // stays open until the user continues
    QVERIFY(!f.Window.DebugMode());
    QTest::mouseClick(Child<QPushButton>(*debug, "comexit"), Qt::LeftButton);
    QVERIFY(f.Ended());
    // No stop at b: the title is still the first stop's.
    QCOMPARE(Child<QLabel>(*debug, "lbltitle")->text(), QString::fromStdString("Files within " + f.Root + "/"));
    QCOMPARE(f.Window.StatusText(), QString("Snapshot completed."));
    QVERIFY(!f.Window.DebugMode());
}

void SnapshotRunWindowTest::AbortOrCloseAtADebugStopRollsTheRunBack() {
    RunFixture f("aborted at a stop");
    QTest::keyClick(&f.Window, 'd');
    f.Take();
    QDialog* debug = f.DebugStop();
    QVERIFY(debug != nullptr);
    QTest::mouseClick(Child<QPushButton>(*debug, "comhalt"), Qt::LeftButton);
    QVERIFY(f.Ended());
    QVERIFY(!debug->isVisible());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot aborted"));
    QCOMPARE(f.Rows("Control") + f.Rows("Dir") + f.Rows("files"), 0);
    QVERIFY(f.Window.DebugMode());

    // Closing the window at a stop: asked, then the stop ends as an abort and the window closes.
    f.Take();
    QVERIFY(f.DebugStop() != nullptr);
    f.h.Prompter.Clear();
    f.h.Prompter.Script({Answer::Yes});
    f.Window.close();
    QVERIFY(f.Ended());
    QTRY_VERIFY(!f.Window.isVisible());
    QCOMPARE(f.h.Prompter.Messages().size(), std::size_t{1});
    QCOMPARE(f.Rows("Dir"), 0);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

QTEST_MAIN(SnapshotRunWindowTest)
#include "SnapshotRunWindowTest.moc"
