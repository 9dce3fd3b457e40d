// Snapshot runs started from the take-snapshot window: progress and outcome
// as the user sees them, abort, file errors, debug stops, and what the window
// refuses while the worker runs. Rows are checked in the database file. Then
// the small windows on their own: About, the debug window's answers, the file
// errors window's place and printing, and the message box prompter across
// threads.

#include <fstream>
#include <functional>
#include <thread>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QtTest>

#include "store/DateTime.h"
#include "tests/ui/WindowHarness.h"
#include "ui/AboutWindow.h"
#include "ui/DebugWindow.h"
#include "ui/FileErrorsWindow.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/ScreenPlacement.h"
#include "ui/TakeSnapshotWindow.h"

using namespace corvina;
using namespace corvina::test;

namespace {

constexpr int kRunTimeoutMs = 10000;

// A shown window with a new database and a small tree chosen: root/top.txt
// 100, root/a/f1 10, root/a/f2 2000, root/b/c/f3 5000; 4 directories,
// 4 files, 7110 bytes; 2 files of 1000 bytes or more.
struct RunFixture {
    Harness h;
    std::string Db = h.OpenNewDatabase();
    std::string Root = h.Dir.File("tree");
    ProgramContext Context;
    TakeSnapshotWindow Window{Context};

    explicit RunFixture(const QString& description, Prompter* messages = nullptr)
        : Context(messages != nullptr ? WithMessages(h.Context, *messages) : h.Context) {
        for (const auto& [file, size] : {std::pair{"/top.txt", 100}, {"/a/f1", 10}, {"/a/f2", 2000}, {"/b/c/f3", 5000}}) {
            MakeFile(Root + file, size);
        }
        Window.show();
        Child<QLineEdit>(Window, "txtpath")->setText(QString::fromStdString(Root));
        Child<QPlainTextEdit>(Window, "txtdesc")->setPlainText(description);
    }
    void Take() { QTest::mouseClick(Child<QPushButton>(Window, "comsnap"), Qt::LeftButton); }
    bool Ended() { return QTest::qWaitFor([this]() { return !Window.IsRunning(); }, kRunTimeoutMs); }
    bool Held() { return QTest::qWaitFor([this]() { return h.Disk.Waiting == 1; }, kRunTimeoutMs); }
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
    QStringList texts = ColumnTexts(*grid.model(), column);
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
    void AboutWindowClosesWithOk();
    void DebugWindowAnswersOncePerStop();
    void PrintWithoutPrinterWritesAPdf();
    void MessageBoxQuestionFromAWorkerThreadIsAnsweredOnTheGuiThread();
    void FileErrorsWindowOpensOnScreenBesideItsOwnerWithItsColumnsInView();
};

void SnapshotRunWindowTest::CompleteRunShowsCountersStatusAndStoresRows() {
    RunFixture f("complete");
    f.Window.SetDirectoryPath(QString::fromStdString(f.Root));
    Child<QRadioButton>(f.Window, "optsel_1")->click();
    Child<QLineEdit>(f.Window, "txtsmall")->setText("1000");
    f.Take();
    QVERIFY(f.Window.IsRunning() && QApplication::overrideCursor() != nullptr);
    QVERIFY(f.Ended());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot completed."));
    QCOMPARE((QStringList{f.Text("txtdirs"), f.Text("txtfiles"), f.Text("txtbytes"), f.Text("txtaddedfile"),
                          f.Text("txtaddedsize")}),
             (QStringList{"4", "4", "6 KB", "2", "6 KB"}));
    QVERIFY(QApplication::overrideCursor() == nullptr && Child<QPushButton>(f.Window, "comsnap")->isEnabled());
    QVERIFY(f.h.Prompter.Messages().empty() && f.Visible("frmerr") == nullptr);
    SaveScreenshot(f.Window, "Analsnap");
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
    QVERIFY(f.h.Prompter.Messages().size() == 2 && f.h.Database.SnapshotDatabase == nullptr && f.h.Disk.Listings == 1);
    QCOMPARE(f.Rows("Control") + f.Rows("Dir"), 0);
}

// The messages and the limit of a hundred errors are the run's own, tested with it.
void SnapshotRunWindowTest::FileErrorsAreListedBesideTheWindow() {
    RunFixture f("with errors");
    MakeFile(f.Root + "/bad-one", 1);
    MakeFile(f.Root + "/a/bad-two", 1);
    f.Take();
    QVERIFY(f.Ended());
    QWidget* errors = f.Visible("frmerr");
    QVERIFY(errors != nullptr && f.h.Prompter.Messages().size() == 1 && f.Rows("Control") == 1);
    auto* grid = Child<QTableWidget>(*errors, "grderr");
    QCOMPARE(SortedColumn(*grid, 0), (QStringList{QString::fromStdString(f.Root + "/a/bad-two"),
                                                  QString::fromStdString(f.Root + "/bad-one")}));
    QVERIFY(grid->item(0, 1)->text().contains("ermission"));
    SaveScreenshot(*errors, "frmerr");
}

void SnapshotRunWindowTest::DebugStopShowsTheDirectoryAndAbortOrCloseThereRollsBack() {
    RunFixture f("debugged");
    f.Debug();
    f.Take();
    QDialog* debug = f.DebugStop();
    QVERIFY(debug != nullptr && debug->windowModality() != Qt::NonModal && f.Window.IsRunning());
    QCOMPARE(Child<QLabel>(*debug, "lbltitle")->text(), QString::fromStdString("Files within " + f.Root + "/"));
    auto* grid = Child<QTableWidget>(*debug, "grddebug");
    QCOMPARE(SortedColumn(*grid, 0).first(), QString::fromStdString(f.Root + "/a"));
    QCOMPARE(SortedColumn(*grid, 1), QStringList({"0       ", "16      ", "16      "}));  // a file, two directories
    // The window shows where the walk stands, and the worker waits.
    QCOMPARE(f.Window.StatusText(), QString::fromStdString("Processing directory " + f.Root));
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
    f.Window.close();  // the prompter answers Yes
    QVERIFY(f.Ended());
    QTRY_VERIFY(!f.Window.isVisible());
    QVERIFY(f.h.Prompter.Messages().size() == 1 && f.Rows("Dir") == 0);
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
    RunFixture f("ended while asked", &slowYes);
    slowYes.WhileAsked = [&]() {
        f.h.Disk.Release();
        QVERIFY(f.Ended());
    };
    const std::function<void()> ends[] = {[&]() { f.Window.close(); },
                                          [&]() { Child<QAction>(f.Window, "menexit")->trigger(); }};
    for (const auto& end : ends) {
        f.h.Disk.Hold();
        f.Take();
        QVERIFY(f.Held());
        end();
        QVERIFY(!f.Window.isVisible());
        f.Window.show();
    }
    QVERIFY(f.h.Ender.Ended);
}

void SnapshotRunWindowTest::AboutWindowClosesWithOk() {
    AboutWindow about;
    about.show();
    SaveScreenshot(about, "frmabout");
    QTest::mouseClick(Child<QPushButton>(about, "comok"), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

// What the run tests do not reach: closing the window, E&xit, and a second click after an answer.
void SnapshotRunWindowTest::DebugWindowAnswersOncePerStop() {
    Harness h;
    RunControl control;
    DebugWindow window(control, h.Dialogs, h.Prompter, nullptr);
    QSignalSpy spy(&window, &DebugWindow::Answered);
    window.ShowStop("Files within /t/", {});
    window.close();
    window.ShowStop("Files within /t/", {});
    Child<QAction>(window, "menexit")->trigger();
    window.ShowStop("Files within /t/", {});
    QTest::mouseClick(Child<QPushButton>(window, "comhalt"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(window, "comexit"), Qt::LeftButton);
    QCOMPARE(spy.count(), 3);
    QVERIFY(spy.at(0).at(0).value<DebugAnswer>() == DebugAnswer::Continue &&
            spy.at(1).at(0).value<DebugAnswer>() == DebugAnswer::Continue);
    QCOMPARE(spy.at(2).at(0).value<DebugAnswer>(), DebugAnswer::Abort);
}

void SnapshotRunWindowTest::PrintWithoutPrinterWritesAPdf() {
    if (!QPrinterInfo::defaultPrinter().isNull()) QSKIP("a printer exists on this machine");
    Harness h;
    FileErrorsWindow errors(h.Dialogs, h.Prompter, nullptr);
    errors.ShowErrors({{"/t/bad", "Permission denied"}});
    const std::string pdf = h.Dir.File("errors.pdf");
    h.Dialogs.Answers.push_back(QString::fromStdString(pdf));
    Child<QAction>(errors, "menprint")->trigger();
    std::string head(4, '\0');
    std::ifstream(pdf, std::ios::binary).read(head.data(), 4);
    QCOMPARE(head, std::string("%PDF"));
    QVERIFY(std::filesystem::file_size(pdf) > 1000);  // an image, not an empty page
    QVERIFY(h.Prompter.Messages().empty());
}

void SnapshotRunWindowTest::MessageBoxQuestionFromAWorkerThreadIsAnsweredOnTheGuiThread() {
    MessageBoxPrompter prompter;
    std::atomic<bool> done{false};
    Answer answer = Answer::Ok;
    // The box runs its own event loop on this thread: a timer inside that loop answers No.
    QString shown;
    QTimer answerer;
    answerer.setInterval(20);
    connect(&answerer, &QTimer::timeout, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box->button(QMessageBox::No) == nullptr) return;
        answerer.stop();
        shown = box->windowTitle() + "|" + box->text() + (done ? "" : "|worker waiting");
        box->button(QMessageBox::No)->click();
    });
    answerer.start();
    std::thread worker([&]() {
        answer = prompter.Ask(Message{.Text = "Create it?", .MessageButtons = Buttons::YesNo});
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    worker.join();
    QCOMPARE(shown, QString("corvina|Create it?|worker waiting"));
    QCOMPARE(answer, Answer::No);
}

void SnapshotRunWindowTest::FileErrorsWindowOpensOnScreenBesideItsOwnerWithItsColumnsInView() {
    // Owner and screen -> where a 450 by 400 frame goes: right, left, over the roomier side, on a second screen.
    const QSize frame(450, 400);
    const QRect screen(0, 0, 1280, 800);
    const QRect right(1280, 0, 1920, 1080);
    const std::tuple<QRect, QRect, QPoint> cases[] = {
        {QRect(100, 50, 600, 500), screen, QPoint(708, 50)},
        {QRect(700, 50, 500, 500), screen, QPoint(242, 50)},
        {QRect(300, 50, 700, 500), screen, QPoint(0, 50)},
        {QRect(250, 600, 700, 500), screen, QPoint(830, 400)},
        {QRect(2900, 100, 500, 400), right, QPoint(2442, 100)},
        {QRect(-300, 0, 500, 400), right, QPoint(1280, 0)},
    };
    for (const auto& [owner, available, expected] : cases) QCOMPARE(PlaceBeside(owner, frame, available), expected);
    QCOMPARE(FitOnScreen(QRect(-50, 700, 2000, 300), screen), QRect(0, 500, 1280, 300));

    // Shown where it would hang off the screen, the window is moved onto it;
    // a path of ordinary length and the message are in view without scrolling.
    Harness h;
    FileErrorsWindow errors(h.Dialogs, h.Prompter, nullptr);
    const QRect available = errors.screen()->availableGeometry();
    errors.move(available.right() - 100, available.bottom() - 100);
    errors.ShowErrors({{"/home/user/projects/corvina/build/tests/data/unreadable", "Permission denied"}});
    QVERIFY(QTest::qWaitForWindowExposed(&errors));
    QVERIFY(available.contains(errors.frameGeometry()));
    auto* grid = Child<QTableWidget>(errors, "grderr");
    QVERIFY(!grid->horizontalScrollBar()->isVisible());
    QCOMPARE(grid->columnWidth(0) + grid->columnWidth(1), grid->viewport()->width());
    QVERIFY(grid->columnWidth(0) > grid->columnWidth(1));
}

QTEST_MAIN(SnapshotRunWindowTest)
#include "SnapshotRunWindowTest.moc"
