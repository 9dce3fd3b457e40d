// The About window, the debug window's answers on their own, and printing
// the small windows when there is no printer.

#include <fstream>
#include <thread>

#include <QMessageBox>

#include <QLabel>
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

namespace {

std::vector<DebugEntry> ThreeEntries() {
    return {{"/t/a", "16      "}, {"/t/b", "18      "}, {"/t/x.txt", "0       "}};
}

DebugAnswer Only(const QSignalSpy& spy) {
    if (spy.count() != 1) qFatal("expected one answer, got %d", static_cast<int>(spy.count()));
    return spy.at(0).at(0).value<DebugAnswer>();
}

}  // namespace

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
    QVERIFY(!Child<QLabel>(about, "Label1")->text().isEmpty());
    QVERIFY(!Child<QLabel>(about, "Label2")->text().isEmpty());
    SaveScreenshot(about, "frmabout");
    QTest::mouseClick(Child<QPushButton>(about, "comok"), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

void SmallWindowsTest::DebugWindowAnswersOncePerStop() {
    Harness h;
    RunControl control;
    control.DebugMode = true;
    DebugWindow window(control, h.Dialogs, h.Prompter, nullptr);
    QSignalSpy spy(&window, &DebugWindow::Answered);

    window.ShowStop("Files within /t/", ThreeEntries());
    QVERIFY(window.isVisible());
    QCOMPARE(Child<QTableWidget>(window, "grddebug")->rowCount(), 3);
    QVERIFY(Child<QPushButton>(window, "comexit")->isDefault());
    QTest::mouseClick(Child<QPushButton>(window, "comexit"), Qt::LeftButton);
    QCOMPARE(Only(spy), DebugAnswer::Continue);
    QVERIFY(!window.isVisible());

    // A later stop shows only its own rows; closing the window continues.
    spy.clear();
    window.ShowStop("Files within /t/a/", {{"/t/a/z", "16      "}});
    QCOMPARE(Child<QTableWidget>(window, "grddebug")->rowCount(), 1);
    window.close();
    QCOMPARE(Only(spy), DebugAnswer::Continue);
    QVERIFY(control.DebugMode);
    QVERIFY(!control.AbortFlag);

    // E&xit continues too; Abort sets the flag.
    spy.clear();
    window.ShowStop("Files within /t/", ThreeEntries());
    Child<QAction>(window, "menexit")->trigger();
    QCOMPARE(Only(spy), DebugAnswer::Continue);
    spy.clear();
    window.ShowStop("Files within /t/", ThreeEntries());
    QTest::mouseClick(Child<QPushButton>(window, "comhalt"), Qt::LeftButton);
    QCOMPARE(Only(spy), DebugAnswer::Abort);
    QVERIFY(control.AbortFlag);
    // Buttons after the answer do not answer twice.
    QTest::mouseClick(Child<QPushButton>(window, "comexit"), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
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
    QVERIFY(h.Prompter.Messages().empty());

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
    QCOMPARE(text, QString("Create it?"));
    QCOMPARE(title, QString("corvina"));
    QVERIFY(workerWaiting);
    QCOMPARE(answer, Answer::No);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

QTEST_MAIN(SmallWindowsTest)
#include "SmallWindowsTest.moc"
