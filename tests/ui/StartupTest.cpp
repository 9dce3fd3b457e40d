// Start-up: which database is opened, what is asked and stored, and that the
// take-snapshot window opens in every case that does not end the program.

#include <filesystem>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "app/Settings.h"
#include "tests/ui/WindowHarness.h"
#include "ui/Analsnap.h"
#include "ui/ProgramStart.h"

using namespace corvina;
using namespace corvina::test;

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void FirstStartStoresDefaultThenCreatesOnYes();
    void FirstStartDeclinedKeepsDefaultAndOpensWithEmptyPath();
    void DeletedRecentFileIsAskedForByItsOwnPath();
    void ForeignFileIsReportedAndWindowOpensWithEmptyPath();
    void ExitClosesTheDatabaseAndEndsTheProgram();
};

void StartupTest::FirstStartStoresDefaultThenCreatesOnYes() {
    Harness h;
    const std::string programDir = h.Dir.Path().string();
    const std::string expected = h.Dir.File("corvina.mdb");
    h.Prompter.Script({Answer::Yes});
    std::unique_ptr<Analsnap> window = Main(h.Context, programDir);
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QCOMPARE(ReadRecentList(h.Settings), std::vector<std::string>{expected});
    QVERIFY(std::filesystem::exists(expected));
    QCOMPARE(h.Database.DatabasePath, expected);
    QVERIFY(h.Database.IsUsable());
    const std::vector<Message> messages = h.Prompter.Messages();
    QCOMPARE(messages.size(), std::size_t{1});
    QCOMPARE(messages[0].MessageButtons, Buttons::YesNo);
    QVERIFY(messages[0].Text.find(expected) != std::string::npos);
    QCOMPARE(window->StatusText(), "Snapshot database is: " + QString::fromStdString(expected));
}

void StartupTest::FirstStartDeclinedKeepsDefaultAndOpensWithEmptyPath() {
    Harness h;
    const std::string expected = h.Dir.File("corvina.mdb");
    h.Prompter.Script({Answer::No});
    std::unique_ptr<Analsnap> window = Main(h.Context, h.Dir.Path().string());
    QVERIFY(window != nullptr);
    QVERIFY(!std::filesystem::exists(expected));
    QCOMPARE(ReadRecentList(h.Settings), std::vector<std::string>{expected});
    QCOMPARE(h.Database.DatabasePath, std::string());
    QCOMPARE(window->StatusText(), QString("Snapshot database is: "));
    QVERIFY(!h.Ender.Ended);

    // Without a database a run is refused with a message, not a crash.
    h.Prompter.Clear();
    Child<QLineEdit>(*window, "txtpath")->setText(QString::fromStdString(h.Dir.Path().string()));
    Child<QPlainTextEdit>(*window, "txtdesc")->setPlainText("no database");
    Child<QPushButton>(*window, "comsnap")->click();
    QTRY_VERIFY(!window->IsRunning());
    QCOMPARE(h.Prompter.Texts().size(), std::size_t{1});
    QVERIFY(h.Prompter.Texts()[0].find("No snapshot database") != std::string::npos);
    QVERIFY(!window->SnapshotDate().has_value());
}

void StartupTest::DeletedRecentFileIsAskedForByItsOwnPath() {
    Harness h;
    const std::string gone = h.Dir.File("gone/old.mdb");
    std::filesystem::create_directories(h.Dir.Path() / "gone");
    h.StoreRecent({gone, h.Dir.File("other.mdb")});
    h.Prompter.Script({Answer::No});
    std::unique_ptr<Analsnap> window = Main(h.Context, h.Dir.Path().string());
    QVERIFY(window != nullptr);
    const std::vector<Message> messages = h.Prompter.Messages();
    QCOMPARE(messages.size(), std::size_t{1});
    QVERIFY2(messages[0].Text.find(gone) != std::string::npos, messages[0].Text.c_str());
    QVERIFY(messages[0].Text.find("corvina.mdb") == std::string::npos);
    // Nothing of the list changes at start-up.
    QCOMPARE(ReadRecentList(h.Settings), (std::vector<std::string>{gone, h.Dir.File("other.mdb")}));
}

void StartupTest::ForeignFileIsReportedAndWindowOpensWithEmptyPath() {
    Harness h;
    const std::string foreign = h.Dir.File("notes.mdb");
    WriteFile(foreign, "just some text, not a database\n");
    h.StoreRecent({foreign});
    std::unique_ptr<Analsnap> window = Main(h.Context, h.Dir.Path().string());
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    const std::vector<std::string> texts = h.Prompter.Texts();
    QCOMPARE(texts.size(), std::size_t{1});
    QVERIFY2(texts[0].find("does not seem to be a valid Corvina database") != std::string::npos, texts[0].c_str());
    QCOMPARE(h.Database.DatabasePath, std::string());
    QVERIFY(!h.Ender.Ended);
    QCOMPARE(window->StatusText(), QString("Snapshot database is: "));
}

void StartupTest::ExitClosesTheDatabaseAndEndsTheProgram() {
    Harness h;
    h.Prompter.Script({Answer::Yes});
    std::unique_ptr<Analsnap> window = Main(h.Context, h.Dir.Path().string());
    QVERIFY(window != nullptr && h.Database.IsUsable());
    Child<QAction>(*window, "menexit")->trigger();
    QVERIFY(h.Ender.Ended);
    QCOMPARE(h.Ender.ExitCode, 0);
    QVERIFY(h.Database.SnapshotDatabase == nullptr);
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
