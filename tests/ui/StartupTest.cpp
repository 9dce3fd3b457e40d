// Start-up: which database is opened, what is asked and stored, and that the
// take-snapshot window opens in every case that does not end the program.

#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <SQLiteCpp/Database.h>

#include "app/Settings.h"
#include "tests/ui/WindowHarness.h"
#include "ui/TakeSnapshotWindow.h"
#include "ui/ProgramStart.h"

using namespace corvina;
using namespace corvina::test;

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void FirstStartStoresDefaultThenCreatesOnYes();
    void FirstStartDeclinedKeepsDefaultAndOpensWithEmptyPath();
    void DeletedRecentFileIsAskedForByItsOwnPath();
    void UnusableFileIsReportedAndWindowOpensWithEmptyPath();
    void ExitClosesTheDatabaseAndEndsTheProgram();
};

void StartupTest::FirstStartStoresDefaultThenCreatesOnYes() {
    Harness h;
    const std::string programDir = h.Dir.Path().string();
    const std::string expected = h.Dir.File("corvina.mdb");
    h.Prompter.Script({Answer::Yes});
    std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, programDir);
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
    std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
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
    std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
    QVERIFY(window != nullptr);
    const std::vector<Message> messages = h.Prompter.Messages();
    QCOMPARE(messages.size(), std::size_t{1});
    QVERIFY2(messages[0].Text.find(gone) != std::string::npos, messages[0].Text.c_str());
    QVERIFY(messages[0].Text.find("corvina.mdb") == std::string::npos);
    // Nothing of the list changes at start-up.
    QCOMPARE(ReadRecentList(h.Settings), (std::vector<std::string>{gone, h.Dir.File("other.mdb")}));
}

void StartupTest::UnusableFileIsReportedAndWindowOpensWithEmptyPath() {
    // Not a database at all, damaged inside its first page, or kept locked by
    // another program that writes with a rollback journal.
    enum class Spoil { Foreign, Damaged, Locked };
    const std::pair<Spoil, const char*> cases[] = {{Spoil::Foreign, " does not seem to be a valid Corvina database"},
                                                   {Spoil::Damaged, " is damaged: "},
                                                   {Spoil::Locked, " is busy: "}};
    for (const auto& [spoil, said] : cases) {
        Harness h;
        const std::string path = h.Dir.File("notes.mdb");
        std::optional<SQLite::Database> other;
        if (spoil == Spoil::Foreign) {
            WriteFile(path, "just some text, not a database\n");
        } else {
            h.OpenNewDatabase("notes.mdb");
            CloseSnapshotDatabase(h.Database);
        }
        if (spoil == Spoil::Damaged) {
            const std::string garbage(3996, '\xA5');
            std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(100).write(garbage.data(), 3996);
        }
        if (spoil == Spoil::Locked) {
            other.emplace(path, SQLite::OPEN_READWRITE);
            other->exec("PRAGMA journal_mode = DELETE");
            other->exec("BEGIN EXCLUSIVE");
            other->exec("INSERT INTO Control (Snapshot) VALUES ('2024-01-01 00:00:00')");
            h.Database.BusyTimeoutMs = 200;
        }
        h.StoreRecent({path});
        std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
        QVERIFY(window != nullptr);
        QVERIFY(window->isVisible());
        const std::vector<std::string> texts = h.Prompter.Texts();
        QCOMPARE(texts.size(), std::size_t{1});
        QVERIFY2(texts[0].find(path + said) != std::string::npos, texts[0].c_str());
        QCOMPARE(h.Database.DatabasePath, std::string());
        QVERIFY(!h.Ender.Ended);
        QCOMPARE(window->StatusText(), QString("Snapshot database is: "));
    }
}

void StartupTest::ExitClosesTheDatabaseAndEndsTheProgram() {
    Harness h;
    h.Prompter.Script({Answer::Yes});
    std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
    QVERIFY(window != nullptr && h.Database.IsUsable());
    Child<QAction>(*window, "menexit")->trigger();
    QVERIFY(h.Ender.Ended);
    QCOMPARE(h.Ender.ExitCode, 0);
    QVERIFY(h.Database.SnapshotDatabase == nullptr);
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
