// Takes a snapshot of a large tree from the real take-snapshot window (offscreen)
// and measures how long the GUI event loop was kept from running: a 5 ms timer
// records the gap between its ticks; a gap far above 5 ms is a stall. With
// --cli it takes the same snapshot with the command-line tool into a second
// database and compares every Dir and files row (all fields but the key).
//
//   python3 make_tree.py --root /tmp/tree --dirs 20000 --files 200000 --seed 1
//   ui_responsiveness_bench /tmp/tree [--cli build/bin/corvina-cli] [--no-files]

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include "base/DateTime.h"
#include "app/OpenDialogue.h"
#include "store/SnapshotDatabase.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"
#include "ui/TakeSnapshotWindow.h"
#include "ui/FileDialogs.h"

using namespace corvina;

namespace {

struct StallMeter {
    QElapsedTimer clock;
    qint64 last = 0;
    std::vector<qint64> gaps;  // ms between ticks

    void Tick() {
        const qint64 now = clock.elapsed();
        if (last != 0) gaps.push_back(now - last);
        last = now;
    }
};

// Rows of table (every field but Snapshot) that are in one database and not in the other.
std::int64_t RowDifference(const std::string& windowDb, const std::string& cliDb, const std::string& table) {
    SQLite::Database db(windowDb, SQLite::OPEN_READONLY);
    SQLite::Statement attach(db, "ATTACH DATABASE ? AS other");
    attach.bind(1, cliDb);
    attach.exec();
    std::string fields;
    SQLite::Statement columns(db, "SELECT name FROM pragma_table_info(?)");
    columns.bind(1, table);
    while (columns.executeStep()) {
        const std::string name = columns.getColumn(0).getString();
        if (name == "Snapshot") continue;
        fields += (fields.empty() ? "" : ", ") + name;
    }
    const std::string a = "SELECT " + fields + " FROM main." + table;
    const std::string b = "SELECT " + fields + " FROM other." + table;
    SQLite::Statement diff(db, "SELECT (SELECT COUNT(*) FROM (" + a + " EXCEPT " + b + ")) + (SELECT COUNT(*) FROM (" +
                                   b + " EXCEPT " + a + ")), (SELECT COUNT(*) FROM main." + table +
                                   "), (SELECT COUNT(*) FROM other." + table + ")");
    diff.executeStep();
    std::printf("  %-6s window rows %lld, command-line rows %lld, differing %lld\n", table.c_str(),
                static_cast<long long>(diff.getColumn(1).getInt64()),
                static_cast<long long>(diff.getColumn(2).getInt64()),
                static_cast<long long>(diff.getColumn(0).getInt64()));
    return diff.getColumn(0).getInt64() + (diff.getColumn(1).getInt64() != diff.getColumn(2).getInt64() ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s TREE [--cli CORVINA-CLI] [--no-files]\n", argv[0]);
        return 2;
    }
    const QString tree = args[1];
    const bool collect = !args.contains("--no-files");
    const qsizetype cliAt = args.indexOf("--cli");
    const QString cli = cliAt > 0 && cliAt + 1 < args.size() ? args[cliAt + 1] : QString();

    test::TempDir dir;
    QSettings settings(QString::fromStdString(dir.File("Corvina.conf")), QSettings::IniFormat);
    DatabaseState database;
    test::RecordingPrompter prompter;
    test::RecordingEnder ender;
    QtFileDialogs dialogs;
    ProgramContext context{database, prompter, ender, settings, dialogs};
    database.DatabasePath = dir.File("window.mdb");
    if (OpenSnapshotDatabase(database, prompter, ender) != OpenOutcome::Created) return 1;

    TakeSnapshotWindow window(context);
    window.show();
    window.findChild<QLineEdit*>("txtpath")->setText(tree);
    window.findChild<QPlainTextEdit*>("txtdesc")->setPlainText("responsiveness");
    window.findChild<QRadioButton*>(collect ? "optsel_1" : "optsel_0")->click();

    StallMeter meter;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&meter]() { meter.Tick(); });
    QString lastStatus;
    int statusChanges = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&]() {
        if (window.StatusText() != lastStatus) {
            lastStatus = window.StatusText();
            ++statusChanges;
        }
    });
    meter.clock.start();
    ticker.start();
    window.findChild<QPushButton*>("comsnap")->click();
    while (window.IsRunning()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 seconds = meter.clock.elapsed();
    ticker.stop();

    std::vector<qint64> gaps = meter.gaps;
    std::sort(gaps.begin(), gaps.end());
    const qint64 worst = gaps.empty() ? 0 : gaps.back();
    const qint64 p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    const auto over100 = std::count_if(gaps.begin(), gaps.end(), [](qint64 g) { return g > 100; });
    std::printf("run: %.2f s, status \"%s\"\n", seconds / 1000.0, qPrintable(window.StatusText()));
    std::printf("counters shown: %s directories, %s files, %s\n",
                qPrintable(window.findChild<QLineEdit*>("txtdirs")->text()),
                qPrintable(window.findChild<QLineEdit*>("txtfiles")->text()),
                qPrintable(window.findChild<QLineEdit*>("txtbytes")->text()));
    std::printf("event loop: %zu ticks of 5 ms, longest gap %lld ms, 99th percentile %lld ms, gaps over 100 ms: %lld\n",
                meter.gaps.size(), static_cast<long long>(worst), static_cast<long long>(p99),
                static_cast<long long>(over100));
    std::printf("status texts seen: %d\n", statusChanges);
    for (const std::string& text : prompter.Texts()) std::printf("message: %s\n", text.c_str());

    int result = worst > 100 ? 1 : 0;
    if (!cli.isEmpty()) {
        const QString cliDb = QString::fromStdString(dir.File("cli.mdb"));
        QStringList cliArgs{"snapshot", tree, "--db", cliDb, "--description", "responsiveness"};
        if (collect) cliArgs << "--files";
        QProcess process;
        process.start(cli, cliArgs);
        process.closeWriteChannel();
        if (!process.waitForFinished(-1) || process.exitCode() != 0) {
            std::printf("command-line snapshot failed: %s\n", process.readAllStandardError().constData());
            return 1;
        }
        CloseSnapshotDatabase(database);
        std::printf("rows compared with the command-line tool:\n");
        const std::int64_t differing = RowDifference(dir.File("window.mdb"), cliDb.toStdString(), "Dir") +
                                       RowDifference(dir.File("window.mdb"), cliDb.toStdString(), "files");
        if (differing != 0) result = 1;
    }
    return result;
}
