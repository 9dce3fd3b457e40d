// The hosts overview, opened from the selection window: its rows, their
// order and figures, and the trend a row opens. What the figures are is the
// hosts command's concern (tests/cli/HostsCommandTest.cpp); here, that the
// window shows them readably, marks what is missing, and reaches the trend
// from the keyboard and the mouse.

#include <QtTest>
#include <QtWidgets>

#include "store/Catalogue.h"
#include "store/HostLabel.h"
#include "tests/ui/WindowHarness.h"
#include "ui/HostsOverviewWindow.h"
#include "ui/SelectSnapshotWindow.h"
#include "ui/SnapshotChoice.h"
#include "ui/TrendWindow.h"

using namespace corvina;
using namespace corvina::test;

namespace {

constexpr double kMb = 1048576;

struct Taken {
    const char* Key;
    const char* Host;
    const char* Base;
    double Logs;  // MB below Base/logs; the rest of Base holds 5000 MB from the second snapshot on
    std::optional<std::pair<double, double>> Filesystem;  // size and free, MB
};

// north /data fills 100 MB a day towards 2200 MB: full on 06-10, 7 days
// after its last snapshot; its logs grew 300 MB in that last week. south
// /data is full on 06-05; south /srv has one snapshot and no file system
// figures; east /home empties.
const Taken kHistory[] = {
    {"2024-05-20 00:00:00", "north", "/data", 100, std::pair(2200.0, 2100.0)},
    {"2024-05-27 00:00:00", "north", "/data", 100, std::pair(2200.0, 1400.0)},
    {"2024-06-02 00:00:00", "north", "/data", 300, std::pair(2200.0, 800.0)},
    {"2024-06-03 00:00:00", "north", "/data", 400, std::pair(2200.0, 700.0)},
    {"2024-06-01 01:00:00", "south", "/data", 10, std::pair(500.0, 400.0)},
    {"2024-06-02 01:00:00", "south", "/data", 10, std::pair(500.0, 300.0)},
    {"2024-06-03 01:00:00", "south", "/data", 10, std::pair(500.0, 200.0)},
    {"2024-06-03 03:00:00", "south", "/srv", 10, std::nullopt},
    {"2024-06-01 02:00:00", "east", "/home", 10, std::pair(1000.0, 100.0)},
    {"2024-06-02 02:00:00", "east", "/home", 10, std::pair(1000.0, 200.0)},
    {"2024-06-03 02:00:00", "east", "/home", 10, std::pair(1000.0, 300.0)},
};

void AddTaken(DatabaseState& database, const Taken& taken, bool second) {
    const std::string base = taken.Base;
    const double logs = taken.Logs * kMb, old = second ? 5000 * kMb : 0;
    AddSnapshot(database, {.Key = taken.Key, .BasePath = base,
                           .Dirs = {{"1", base + "/logs/(files)", 1, logs}, {"2", base + "/logs", 1, logs},
                                    {"1", base + "/old/(files)", 1, old},   {"2", base + "/old", 1, old},
                                    {"1", base + "/(files)", 0, 0},         {"2", base, 2, logs + old}},
                           .Files = {}});
    if (!WriteHostLabel(database, Key(taken.Key), taken.Host).Ok()) qFatal("no host label");
    if (taken.Filesystem) {
        const auto [size, free] = *taken.Filesystem;
        const FilesystemFigures figures{static_cast<std::int64_t>(size * kMb), static_cast<std::int64_t>(free * kMb)};
        if (!WriteFilesystemRow(database, Key(taken.Key), figures).Ok()) qFatal("no file system row");
    }
}

QStringList Row(QTableWidget& grid, int row) {
    QStringList cells;
    for (int c = 0; c < grid.columnCount(); ++c) cells << grid.item(row, c)->text();
    return cells;
}

// The trend windows the overview has open, oldest first.
QList<TrendWindow*> Trends(HostsOverviewWindow& overview) {
    return overview.findChildren<TrendWindow*>(QString(), Qt::FindDirectChildrenOnly);
}

}  // namespace

class HostsOverviewWindowTest : public QObject {
    Q_OBJECT
private slots:
    void OverviewListsFewestDaysLeftFirstAndOpensARowsTrend();
};

void HostsOverviewWindowTest::OverviewListsFewestDaysLeftFirstAndOpensARowsTrend() {
    Harness h;
    h.OpenNewDatabase();
    std::string previousBase;
    for (const Taken& taken : kHistory) {
        AddTaken(h.Database, taken, std::string(taken.Host) + taken.Base == previousBase);
        previousBase = std::string(taken.Host) + taken.Base;
    }
    SnapshotChoice choice;
    SelectSnapshotWindow selection(h.Context, choice);
    ShowExposed(selection);
    Child<QAction>(selection, "menhosts")->trigger();
    auto* overview = Child<HostsOverviewWindow>(selection, "frmhosts");
    auto& grid = *Child<QTableWidget>(*overview, "grdhosts");

    // The rows show before their growers are read.
    QVERIFY(overview->ReadingGrowers());
    QCOMPARE(grid.item(0, 9)->text(), QString::fromUtf8("\u2026"));
    QVERIFY(QTest::qWaitForWindowExposed(overview));
    QTRY_VERIFY(!overview->ReadingGrowers());
    QCOMPARE(grid.horizontalHeaderItem(4)->text() + "|" + grid.horizontalHeaderItem(6)->text(),
             QString("FS size\n(MB)|Growth a day\n(MB)"));
    QStringList order;
    for (int r = 0; r < grid.rowCount(); ++r) order << grid.item(r, 0)->text() + " " + grid.item(r, 1)->text();
    QCOMPARE(order, QStringList({"south /data", "north /data", "east /home", "south /srv"}));
    QCOMPARE(Row(grid, 1).mid(4), QStringList({"2200", "1500", "100", "2024-06-10", "7", "/data/logs (+300 MB)"}));
    QCOMPARE(Row(grid, 2).mid(6, 3), QStringList({"-100", "not filling", QString::fromUtf8("\u2014")}));
    // No file system figures, no forecast and a single snapshot: nothing made up.
    QCOMPARE(Row(grid, 3).mid(4), QStringList(6, QString::fromUtf8("\u2014")));
    QVERIFY(Row(grid, 3)[3].endsWith(" d"));
    QVERIFY2(overview->StatusText().startsWith("3 hosts, 4 base paths; read "), qPrintable(overview->StatusText()));
    // Every figure whole, the growers' too, in the width the window opens with.
    for (int c = 0; c < grid.columnCount(); ++c) {
        QVERIFY2(grid.columnWidth(c) >= static_cast<QAbstractItemView&>(grid).sizeHintForColumn(c),
                 qPrintable(grid.horizontalHeaderItem(c)->text()));
    }
    SaveScreenshot(*overview, "frmhosts");

    // Enter opens the current row's trend: that host's snapshots of that path alone.
    QTRY_COMPARE(QApplication::focusWidget(), &grid);
    QTest::keyClick(&grid, Qt::Key_Down);
    QTest::keyClick(&grid, Qt::Key_Return);
    QCOMPARE(Trends(*overview).size(), 1);
    TrendWindow& trend = *Trends(*overview).front();
    QCOMPARE(trend.windowTitle(), QString("Directory Trend - /data (north)"));
    QCOMPARE(Child<QTableWidget>(trend, "grdtrend")->rowCount(), 4);
    QVERIFY(QTest::qWaitForWindowExposed(&trend));
    QVERIFY(!Child<QPushButton>(trend, "cmdgrower")->isVisible());  // no tree to show it in
    SaveScreenshot(trend, "frmtrend_host");
    const QRect srv = grid.visualRect(grid.model()->index(3, 1));
    // As a double click comes: press and release, then the second press as a double click, and its release.
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, srv.center());
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, srv.center());
    QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, srv.center());
    QCOMPARE(Trends(*overview).size(), 2);
    QCOMPARE(Trends(*overview).back()->windowTitle(), QString("Directory Trend - /srv (south)"));

    // Refresh reads what has come since.
    AddTaken(h.Database, {"2024-06-04 00:00:00", "west", "/var", 1, std::nullopt}, false);
    ClickButton(*overview, "comrefresh");
    QCOMPARE(grid.rowCount(), 5);
    QVERIFY2(overview->StatusText().startsWith("4 hosts, 5 base paths"), qPrintable(overview->StatusText()));
    QTRY_VERIFY(!overview->ReadingGrowers());
    QVERIFY(h.Prompter.Texts().empty());
}

QTEST_MAIN(HostsOverviewWindowTest)
#include "HostsOverviewWindowTest.moc"
