// Start-up: which database is opened, what is asked and stored, and that the
// take-snapshot window opens in every case that does not end the program.

#include <filesystem>
#include <fstream>
#include <optional>

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
    void FirstStartStoresDefaultCreatesOnYesAndExitEnds();
    void FirstStartDeclinedOpensWithoutDatabaseAndRefusesARun();
    void DamagedOrBusyFileIsReportedAndWindowOpensWithoutDatabase();
};

void StartupTest::FirstStartStoresDefaultCreatesOnYesAndExitEnds() {
    Harness h;
    const std::string expected = h.Dir.File("corvina.mdb");
    h.Prompter.Script({Answer::Yes});
    std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
    QVERIFY(window != nullptr && window->isVisible());
    QCOMPARE(ReadRecentList(h.Settings), std::vector<std::string>{expected});
    QVERIFY(std::filesystem::exists(expected) && h.Database.IsUsable());
    QCOMPARE(h.Prompter.Messages().size(), std::size_t{1});
    QCOMPARE(h.Prompter.Messages()[0].MessageButtons, Buttons::YesNo);
    QCOMPARE(window->StatusText(), "Snapshot database is: " + QString::fromStdString(expected));

    Child<QAction>(*window, "menexit")->trigger();
    QVERIFY(h.Ender.Ended && h.Ender.ExitCode == 0);
    QVERIFY(h.Database.SnapshotDatabase == nullptr && !window->isVisible());
}

void StartupTest::FirstStartDeclinedOpensWithoutDatabaseAndRefusesARun() {
    Harness h;
    const std::string expected = h.Dir.File("corvina.mdb");
    h.Prompter.Script({Answer::No});
    std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
    QVERIFY(window != nullptr && !std::filesystem::exists(expected) && !h.Ender.Ended);
    QCOMPARE(ReadRecentList(h.Settings), std::vector<std::string>{expected});
    QCOMPARE(window->StatusText(), QString("Snapshot database is: "));

    h.Prompter.Clear();
    Child<QLineEdit>(*window, "txtpath")->setText(QString::fromStdString(h.Dir.Path().string()));
    Child<QPlainTextEdit>(*window, "txtdesc")->setPlainText("no database");
    Child<QPushButton>(*window, "comsnap")->click();
    QTRY_VERIFY(!window->IsRunning());
    QCOMPARE(h.Prompter.Texts().size(), std::size_t{1});
    QVERIFY(h.Prompter.Texts()[0].find("No snapshot database") != std::string::npos);
    QVERIFY(!window->SnapshotDate().has_value());
}

// The texts are the store's, checked there; here the window opens all the same.
void StartupTest::DamagedOrBusyFileIsReportedAndWindowOpensWithoutDatabase() {
    for (const bool damaged : {true, false}) {
        Harness h;
        const std::string path = h.OpenNewDatabase("notes.mdb");
        CloseSnapshotDatabase(h.Database);
        std::optional<SQLite::Database> other;
        if (damaged) {
            const std::string garbage(3996, '\xA5');
            std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(100).write(garbage.data(), 3996);
        } else {
            // Kept locked by another program that writes with a rollback journal.
            other.emplace(path, SQLite::OPEN_READWRITE);
            other->exec("PRAGMA journal_mode = DELETE");
            other->exec("BEGIN EXCLUSIVE");
            other->exec("INSERT INTO Control (Snapshot) VALUES ('2024-01-01 00:00:00')");
            h.Database.BusyTimeoutMs = 200;
        }
        h.StoreRecent({path});
        std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
        QVERIFY(window != nullptr && window->isVisible());
        const std::vector<std::string> texts = h.Prompter.Texts();
        QCOMPARE(texts.size(), std::size_t{1});
        QVERIFY2(texts[0].find(path + (damaged ? " is damaged: " : " is busy: ")) != std::string::npos, texts[0].c_str());
        QVERIFY(h.Database.DatabasePath.empty() && !h.Ender.Ended);
        QCOMPARE(window->StatusText(), QString("Snapshot database is: "));
    }
}

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
