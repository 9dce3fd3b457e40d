// The About window, the debug window's answers on their own, and printing
// the small windows when there is no printer.

#include <fstream>
#include <thread>

#include <QLabel>
#include <QMessageBox>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include "tests/ui/WindowHarness.h"
#include "ui/AboutWindow.h"
#include "ui/DebugWindow.h"
#include "ui/FileErrorsWindow.h"
#include "ui/MessageBoxPrompter.h"

using namespace corvina;
using namespace corvina::test;

class SmallWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void AboutWindowShowsVersionAndClosesWithOk();
    void DebugWindowAnswersOncePerStop();
    void PrintWithoutPrinterWritesAPdfOrNothingWhenCancelled();
    void MessageBoxQuestionFromAWorkerThreadIsAnsweredOnTheGuiThread();
};

void SmallWindowsTest::AboutWindowShowsVersionAndClosesWithOk() {
    AboutWindow about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(about.windowTitle(), QString("About Corvina"));
    QVERIFY(Child<QLabel>(about, "lbl1")->text().contains("1.00"));
    SaveScreenshot(about, "frmabout");
    QTest::mouseClick(Child<QPushButton>(about, "comok"), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

void SmallWindowsTest::DebugWindowAnswersOncePerStop() {
    Harness h;
    RunControl control;
    DebugWindow window(control, h.Dialogs, h.Prompter, nullptr);
    QSignalSpy spy(&window, &DebugWindow::Answered);
    const std::vector<DebugEntry> entries{{"/t/a", "16      "}, {"/t/x.txt", "0       "}};
    QVERIFY(Child<QPushButton>(window, "comexit")->isDefault());
    // Closing the window and E&xit let the walk go on, as Continue does.
    window.ShowStop("Files within /t/", entries);
    window.close();
    window.ShowStop("Files within /t/", entries);
    Child<QAction>(window, "menexit")->trigger();
    QCOMPARE(spy.count(), 2);
    QVERIFY(spy.at(0).at(0).value<DebugAnswer>() == DebugAnswer::Continue &&
            spy.at(1).at(0).value<DebugAnswer>() == DebugAnswer::Continue);
    QVERIFY(!control.AbortFlag);
    // After an answer the buttons answer nothing more.
    window.ShowStop("Files within /t/", entries);
    QTest::mouseClick(Child<QPushButton>(window, "comhalt"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(window, "comexit"), Qt::LeftButton);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(2).at(0).value<DebugAnswer>(), DebugAnswer::Abort);
    QVERIFY(control.AbortFlag);
}

void SmallWindowsTest::PrintWithoutPrinterWritesAPdfOrNothingWhenCancelled() {
    if (!QPrinterInfo::defaultPrinter().isNull()) QSKIP("a printer exists on this machine");
    Harness h;
    FileErrorsWindow errors(h.Dialogs, h.Prompter, nullptr);
    errors.ShowErrors({{"/t/bad", "Permission denied"}, {"/t/worse", "No such file or directory"}});
    QCOMPARE(Child<QTableWidget>(errors, "grderr")->rowCount(), 2);

    const std::string pdf = h.Dir.File("errors.pdf");
    h.Dialogs.Answers.push_back(QString::fromStdString(pdf));
    Child<QAction>(errors, "menprint")->trigger();
    std::ifstream in(pdf, std::ios::binary);
    std::string head(4, '\0');
    in.read(head.data(), 4);
    QCOMPARE(head, std::string("%PDF"));
    QVERIFY(std::filesystem::file_size(pdf) > 1000);  // an image, not an empty page
    QVERIFY(h.Prompter.Messages().empty());

    // Cancelled: nothing written, nothing said.
    Child<QAction>(errors, "menprint")->trigger();
    QCOMPARE(h.Dialogs.Requests.size(), std::size_t{2});
    QCOMPARE(h.Dialogs.Requests[1].DefaultSuffix, QString("pdf"));

    // E&xit closes the window.
    Child<QAction>(errors, "menexit")->trigger();
    QVERIFY(!errors.isVisible());
}

void SmallWindowsTest::MessageBoxQuestionFromAWorkerThreadIsAnsweredOnTheGuiThread() {
    MessageBoxPrompter prompter;
    std::atomic<bool> done{false};
    Answer answer = Answer::Ok;
    // The box runs its own event loop on this thread: a timer inside that
    // loop reads it and answers No.
    QString text;
    QString title;
    bool workerWaiting = false;
    QTimer answerer;
    answerer.setInterval(20);
    connect(&answerer, &QTimer::timeout, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box->button(QMessageBox::No) == nullptr) return;
        answerer.stop();
        text = box->text();
        title = box->windowTitle();
        workerWaiting = !done;
        box->button(QMessageBox::No)->click();
    });
    answerer.start();
    std::thread worker([&]() {
        Message question;
        question.Text = "Create it?";
        question.MessageButtons = Buttons::YesNo;
        answer = prompter.Ask(question);
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    worker.join();
    QCOMPARE(title + "|" + text, QString("corvina|Create it?"));
    QVERIFY(workerWaiting);
    QCOMPARE(answer, Answer::No);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

QTEST_MAIN(SmallWindowsTest)
#include "SmallWindowsTest.moc"
