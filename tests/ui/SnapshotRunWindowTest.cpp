// Snapshot runs started from the take-snapshot window: progress and outcome
// as the user sees them, abort, file errors, debug stops, and what the window
// refuses while the worker runs. Rows are checked in the database file.

#include <functional>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableWidget>
#include <QtTest>

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
    void Debug() { QTest::keyClick(&Window, 'd'); }
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
    void WindowRefusesOtherWorkWhileRunningAndExitAbortsFirst();
    void FileErrorsAreListedBesideTheWindow();
    void DebugStopShowsTheDirectoryAndAbortOrCloseThereRollsBack();
    void YesToCloseOrExitEndsEvenWhenTheRunEndedWhileAsked();
};

void SnapshotRunWindowTest::CompleteRunShowsCountersStatusAndStoresRows() {
    RunFixture f("complete");
    f.Window.SetDirectoryPath(QString::fromStdString(f.Root));
    Child<QRadioButton>(f.Window, "optsel_1")->click();
    Child<QLineEdit>(f.Window, "txtsmall")->setText("1000");
    SaveScreenshot(f.Window, "Analsnap-before");
    f.Take();
    QVERIFY(f.Window.IsRunning() && QApplication::overrideCursor() != nullptr);
    QVERIFY(f.Ended());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot completed."));
    QCOMPARE((QStringList{f.Text("txtdirs"), f.Text("txtfiles"), f.Text("txtbytes"), f.Text("txtaddedfile"),
                          f.Text("txtaddedsize")}),
             (QStringList{"4", "4", "6 KB", "2", "6 KB"}));
    QVERIFY(QApplication::overrideCursor() == nullptr && Child<QPushButton>(f.Window, "comsnap")->isEnabled());
    QVERIFY(f.h.Prompter.Messages().empty() && f.Visible("frmerr") == nullptr);
    SaveScreenshot(f.Window, "Analsnap-after");
    // 4 directory entries, 3 files entries, 2 files of 1000 bytes or more.
    QCOMPARE(QString("%1 %2 %3").arg(f.Rows("Control")).arg(f.Rows("Dir")).arg(f.Rows("files")), QString("1 7 2"));
}

void SnapshotRunWindowTest::WindowRefusesOtherWorkWhileRunningAndExitAbortsFirst() {
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

    // Closing asks, and No keeps the run and the window; Exit asked Yes aborts
    // and ends the program once the worker has let the database go.
    f.h.Prompter.Script({Answer::No, Answer::Yes});
    QVERIFY(!f.Window.close());
    QVERIFY(f.Window.isVisible() && f.Window.IsRunning());
    Child<QAction>(f.Window, "menexit")->trigger();
    QVERIFY(!f.h.Ender.Ended);
    f.h.Disk.Release();
    QTRY_VERIFY_WITH_TIMEOUT(f.h.Ender.Ended, kRunTimeoutMs);
    QCOMPARE(f.h.Prompter.Messages().size(), std::size_t{2});
    QVERIFY(f.h.Database.SnapshotDatabase == nullptr);
    QCOMPARE(f.h.Disk.Listings.load(), 1);
    QCOMPARE(f.Rows("Control") + f.Rows("Dir"), 0);
}

// The messages and the limit of a hundred errors are the run's own, tested with it.
void SnapshotRunWindowTest::FileErrorsAreListedBesideTheWindow() {
    RunFixture f("with errors");
    MakeFile(f.Root + "/bad-one", 1);
    MakeFile(f.Root + "/a/bad-two", 1);
    f.Take();
    QVERIFY(f.Ended());
    QCOMPARE(f.h.Prompter.Messages().size(), std::size_t{1});
    QCOMPARE(f.Rows("Control"), 1);
    QWidget* errors = f.Visible("frmerr");
    QVERIFY(errors != nullptr);
    auto* grid = Child<QTableWidget>(*errors, "grderr");
    QCOMPARE(SortedColumn(*grid, 0), (QStringList{QString::fromStdString(f.Root + "/a/bad-two"),
                                                  QString::fromStdString(f.Root + "/bad-one")}));
    QVERIFY(grid->item(0, 1)->text().contains("ermission"));
    // The offscreen screen has no room beside the window: over it, on the screen.
    QVERIFY(errors->screen()->availableGeometry().contains(errors->frameGeometry()));
    SaveScreenshot(*errors, "frmerr");
}

void SnapshotRunWindowTest::DebugStopShowsTheDirectoryAndAbortOrCloseThereRollsBack() {
    RunFixture f("debugged");
    f.Debug();
    f.Take();
    QDialog* debug = f.DebugStop();
    QVERIFY(debug != nullptr && debug->windowModality() != Qt::NonModal);
    QCOMPARE(Child<QLabel>(*debug, "lbltitle")->text(), QString::fromStdString("Files within " + f.Root + "/"));
    auto* grid = Child<QTableWidget>(*debug, "grddebug");
    QCOMPARE(SortedColumn(*grid, 0).first(), QString::fromStdString(f.Root + "/a"));
    QCOMPARE(grid->rowCount(), 3);
    QCOMPARE(SortedColumn(*grid, 1), QStringList({"0       ", "16      ", "16      "}));  // a file, two directories
    // The window shows where the walk stands, and the worker waits.
    QCOMPARE(f.Window.StatusText(), QString::fromStdString("Processing directory " + f.Root));
    QVERIFY(f.Window.IsRunning());
    SaveScreenshot(*debug, "frmdebug");

    // Switched off, the stop stays open until the user continues; there is no stop at b.
    QTest::mouseClick(Child<QPushButton>(*debug, "comdebug"), Qt::LeftButton);
    QVERIFY(debug->isVisible() && !f.Window.DebugMode());
    QTest::mouseClick(Child<QPushButton>(*debug, "comexit"), Qt::LeftButton);
    QVERIFY(f.Ended());
    QCOMPARE(Child<QLabel>(*debug, "lbltitle")->text(), QString::fromStdString("Files within " + f.Root + "/"));
    QCOMPARE(f.Window.StatusText(), QString("Snapshot completed."));

    // Abort at a stop keeps nothing; debug mode stays on for later runs.
    f.Debug();
    f.Take();
    QVERIFY(f.DebugStop() != nullptr);
    QTest::mouseClick(Child<QPushButton>(*debug, "comhalt"), Qt::LeftButton);
    QVERIFY(f.Ended() && !debug->isVisible() && f.Window.DebugMode());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot aborted"));
    QCOMPARE(f.Rows("Control") + f.Rows("Dir") + f.Rows("files"), 0);

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
    QVERIFY(QApplication::overrideCursor() == nullptr && !f.h.Ender.Ended);
}

// The user takes a while to answer: the run ends meanwhile.
void SnapshotRunWindowTest::YesToCloseOrExitEndsEvenWhenTheRunEndedWhileAsked() {
    struct SlowYes : Prompter {
        std::function<void()> WhileAsked;
        Answer Ask(const Message&) override {
            WhileAsked();
            return Answer::Yes;
        }
    } slowYes;
    Harness h;
    h.OpenNewDatabase();
    const std::string root = MakeSmallTree(h);
    ProgramContext context = WithMessages(h.Context, slowYes);
    TakeSnapshotWindow window(context);
    window.show();
    Child<QLineEdit>(window, "txtpath")->setText(QString::fromStdString(root));
    Child<QPlainTextEdit>(window, "txtdesc")->setPlainText("ended while asked");
    slowYes.WhileAsked = [&]() {
        h.Disk.Release();
        QVERIFY(QTest::qWaitFor([&]() { return !window.IsRunning(); }, kRunTimeoutMs));
    };
    const std::function<void()> ends[] = {[&]() { window.close(); },
                                          [&]() { Child<QAction>(window, "menexit")->trigger(); }};
    for (const auto& end : ends) {
        h.Disk.Hold();
        QTest::mouseClick(Child<QPushButton>(window, "comsnap"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&]() { return h.Disk.Waiting == 1; }, kRunTimeoutMs));
        end();
        QVERIFY(!window.isVisible());
        window.show();
    }
    QVERIFY(h.Ender.Ended);
}

QTEST_MAIN(SnapshotRunWindowTest)
#include "SnapshotRunWindowTest.moc"
