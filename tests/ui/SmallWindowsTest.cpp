// The About window, the debug window's answers on their own, printing when
// there is no printer, and the message box prompter across threads.

#include <fstream>
#include <thread>

#include <QMessageBox>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QSignalSpy>
#include <QtTest>

#include "tests/ui/WindowHarness.h"
#include "ui/AboutWindow.h"
#include "ui/DebugWindow.h"
#include "ui/FileErrorsWindow.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/ScreenPlacement.h"

using namespace corvina;
using namespace corvina::test;

class SmallWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void AboutWindowClosesWithOk();
    void DebugWindowAnswersOncePerStop();
    void PrintWithoutPrinterWritesAPdf();
    void MessageBoxQuestionFromAWorkerThreadIsAnsweredOnTheGuiThread();
    void FileErrorsWindowOpensOnScreenBesideItsOwnerWithItsColumnsInView();
};

void SmallWindowsTest::AboutWindowClosesWithOk() {
    AboutWindow about;
    about.show();
    SaveScreenshot(about, "frmabout");
    QTest::mouseClick(Child<QPushButton>(about, "comok"), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

// What the run tests do not reach: closing the window, E&xit, and a second click after an answer.
void SmallWindowsTest::DebugWindowAnswersOncePerStop() {
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

void SmallWindowsTest::PrintWithoutPrinterWritesAPdf() {
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

void SmallWindowsTest::MessageBoxQuestionFromAWorkerThreadIsAnsweredOnTheGuiThread() {
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

void SmallWindowsTest::FileErrorsWindowOpensOnScreenBesideItsOwnerWithItsColumnsInView() {
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

QTEST_MAIN(SmallWindowsTest)
#include "SmallWindowsTest.moc"
