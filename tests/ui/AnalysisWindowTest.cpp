// The snapshot selection window on its own (listing, details, the choice it
// hands back, deleting); the analysis window driven as a user drives it
// (choosing snapshots through the selection window, menus, the tree, grid
// clicks); then its pieces on their own: the directory tree model, the pane
// geometry (on PaneLayout) and the chart's layout. The results themselves are
// the analysis tests' concern: here only which control shows them, that they
// follow a click or a key, and that they show whole.

#include <filesystem>
#include <functional>
#include <sstream>

#include <QtWidgets>
#include <QtTest>
#include <SQLiteCpp/Database.h>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/GridExport.h"
#include "app/Settings.h"
#include "capture/SnapshotRun.h"
#include "store/DiskUsage.h"
#include "store/Statement.h"
#include "store/HostLabel.h"
#include "tests/support/DiskRows.h"
#include "tests/ui/WindowHarness.h"
#include "ui/AnalysisLauncher.h"
#include "ui/AnalysisWindow.h"
#include "ui/ChartWidget.h"
#include "ui/DirectoryTreeModel.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/PaneLayout.h"
#include "ui/ResultExport.h"
#include "ui/ResultGridView.h"
#include "ui/SelectSnapshotWindow.h"
#include "tests/support/ServerSchema.h"
#include "ui/SnapshotChoice.h"
#include "ui/TakeSnapshotWindow.h"
#include "ui/TrendChart.h"
#include "ui/TrendWindow.h"
#include "ui/Twips.h"

using namespace corvina;
using namespace corvina::test;

namespace {

// The /data snapshots the tests choose between: kOld at scale 1, kNew at
// scale 2 and, where a test adds it, kMid at scale 1.5; kOther is of /srv.
constexpr const char* kOld = "2024-03-01 09:00:00";
constexpr const char* kMid = "2024-03-02 09:00:00";
constexpr const char* kNew = "2024-03-07 14:05:09";
constexpr const char* kOther = "2024-02-10 08:00:00";

// The /data tree most tests use: /data with (files), big, small and it's
// (a name with a quote), big holding deep; files in /data and /data/big.
SnapshotRows DataSnapshot(const char* key, double scale = 1.0, bool collect = true) {
    const double mb = 1024.0 * 1024.0 * scale;
    const auto bytes = [mb](double part) { return static_cast<std::int64_t>(part * mb); };
    SnapshotRows snap{.Key = key, .BasePath = "/data",
                      .Dirs = {{"1", "/data/(files)", 2, 1 * mb},          {"1", "/data/big/(files)", 1, 6 * mb},
                               {"1", "/data/big/deep/(files)", 1, 2 * mb}, {"2", "/data/big/deep", 1, 2 * mb},
                               {"2", "/data/big", 2, 8 * mb},              {"1", "/data/small/(files)", 1, 0.5 * mb},
                               {"2", "/data/small", 1, 0.5 * mb},          {"1", "/data/it's/(files)", 1, 3 * mb},
                               {"2", "/data/it's", 1, 3 * mb},             {"2", "/data", 6, 12.5 * mb}},
                      .Files = {}, .Collect = collect};
    if (collect) {
        snap.Files = {{"/data", "a.txt", bytes(0.25)},         {"/data", "b.doc", bytes(0.75)},
                      {"/data/big", "video.mp4", bytes(6)},    {"/data/big/deep", "dump.bin", bytes(2)},
                      {"/data/small", "note.txt", bytes(0.5)}, {"/data/it's", "quote.txt", bytes(3)}};
    }
    return snap;
}

// kOld, kNew and kOther in a new database left open, and a session on it.
struct Fixture {
    Harness h;
    SnapshotChoice choice;
    SessionMessages messages{h.Prompter, h.Database};
    AnalysisSession session{h.Database, messages};
    explicit Fixture(bool oldCollects = true) {
        h.OpenNewDatabase();
        AddSnapshot(h.Database, DataSnapshot(kOld, 1.0, oldCollects));
        AddSnapshot(h.Database, DataSnapshot(kNew, 2.0));
        AddSnapshot(h.Database, {.Key = kOther, .BasePath = "/srv", .Dirs = {{"2", "/srv", 0, 0}}, .Files = {}});
    }
};

// While it lives, runs action on each selection window as soon as it is shown
// modally. The action must close it (OK or Cancel), or the test hangs until
// its timeout.
class SelectionDriver {
public:
    explicit SelectionDriver(std::function<void(QWidget&)> action) {
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this, action]() {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal->objectName() != "frmselsnap" || !modal->isVisible()) return;
            if (modal->property("corvinaTestHandled").toBool()) return;
            modal->setProperty("corvinaTestHandled", true);
            ++opened_;
            action(*modal);
        });
        poll_.start();
    }
    int Opened() const { return opened_; }

private:
    QTimer poll_;
    int opened_ = 0;
};

// A click on index, scrolled into view first, with keys held.
void ClickIndex(QAbstractItemView& view, const QModelIndex& index, Qt::KeyboardModifiers keys = {}) {
    view.scrollTo(index);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, keys, view.visualRect(index).center());
}

void ClickCell(QTableView& table, int row, int column, Qt::KeyboardModifiers keys = {}) {
    ClickIndex(table, table.model()->index(row, column), keys);
}

// Clicks the row of the list or grid named view whose column reads text; false when none does.
bool ClickRow(QWidget& window, const char* view, int column, const QString& text) {
    auto& rows = *Child<QAbstractItemView>(window, view);
    const QModelIndexList found =
        rows.model()->match(rows.model()->index(0, column), Qt::DisplayRole, text, 1, Qt::MatchExactly);
    if (!found.isEmpty()) ClickIndex(rows, found.front());
    return !found.isEmpty();
}

void ClickBasePath(QWidget& selection, const std::string& basePath) {
    if (!ClickRow(selection, "lstdir", 0, QString::fromStdString(basePath))) qFatal("no base path %s", basePath.c_str());
}

bool ClickSnapshotRow(QWidget& selection, const char* key) { return ClickRow(selection, "grdsnap", 1, key); }

// In a shown selection window: the base path (when the list is enabled), the
// snapshot row of key, then OK.
void ChooseInSelection(QWidget& selection, const std::string& basePath, const char* key) {
    if (Child<QListWidget>(selection, "lstdir")->isEnabled()) ClickBasePath(selection, basePath);
    if (!ClickSnapshotRow(selection, key)) qFatal("no snapshot row %s", key);
    ClickButton(selection, "comok");
}

// In a shown selection window: deletes the snapshot key of /data (when the prompter says Yes).
void DeleteInSelection(QWidget& selection, const char* key) {
    ClickBasePath(selection, "/data");
    ClickSnapshotRow(selection, key);
    ClickButton(selection, "comdel");
}

const char* const kCompareItems[] = {"mendir_1", "mendir_2", "mendir_3", "mendir_5", "menfile_2", "menfile_3", "menfile_4", "menswap"};

// A window already showing the prime snapshot key.
std::unique_ptr<AnalysisWindow> OpenOn(Fixture& f, const char* key) {
    f.session.PreferPrime(Key(key));
    auto window = std::make_unique<AnalysisWindow>(f.h.Context, f.session, f.choice);
    window->Load();
    return window;
}

QAction* Item(AnalysisWindow& window, const char* name) { return Child<QAction>(window, name); }

// Clicks button (comsnap for the prime snapshot, comsnap2 for the compare
// snapshot) and runs action on the selection window it opens; the number of
// selection windows opened.
int InSelection(AnalysisWindow& window, const char* button, std::function<void(QWidget&)> action) {
    SelectionDriver driver(std::move(action));
    ClickButton(window, button);
    return driver.Opened();
}

// Chooses key of basePath through the selection window that button opens.
void Choose(AnalysisWindow& window, const char* key, const char* button = "comsnap2", std::string basePath = "/data") {
    InSelection(window, button, [&](QWidget& selection) { ChooseInSelection(selection, basePath, key); });
}

QStringList EnabledItems(AnalysisWindow& window) {
    QStringList names;
    for (const char* name : kCompareItems) names << (Item(window, name)->isEnabled() ? name : "");
    names.removeAll("");
    return names;
}

QString Heading(AnalysisWindow& window, int column) {
    return window.Grid().DetailModel().headerData(column, Qt::Horizontal).toString();
}

QStringList DetailColumn(AnalysisWindow& window, int column) { return ColumnTexts(window.Grid().DetailModel(), column); }

QString TotalCell(AnalysisWindow& window, int column) { return window.Grid().FixedModel().index(0, column).data().toString(); }

QModelIndex NodeNamed(AnalysisWindow& window, const QModelIndex& parent, const QString& text) {
    const int row = ColumnTexts(window.Tree(), 0, parent).indexOf(text);
    if (row < 0) qFatal("no node %s", qPrintable(text));
    return window.Tree().index(row, 0, parent);
}

void ClickNode(AnalysisWindow& window, const QModelIndex& index) { ClickIndex(window.TreeView(), index); }

// The tree's growth texts below its root, then the root's own.
QStringList Growth(AnalysisWindow& window) {
    const DirectoryTreeModel& tree = window.Tree();
    return ColumnTexts(tree, 1, tree.RootIndex()) << tree.RootIndex().siblingAtColumn(1).data().toString();
}

// A saved PNG of chart: kSavedChartWidth pixels across or more, of the
// chart's shape, drawn to scale: ink where the screen shows it at at.
bool SavedLarge(QWidget& chart, const QString& path, QPointF at, const QColor& ink) {
    const QImage image(path);
    const double scale = static_cast<double>(image.width()) / chart.width();
    return image.width() >= kSavedChartWidth && std::abs(image.height() - chart.height() * scale) <= 1 &&
           image.pixelColor((at * scale).toPoint()) == ink;
}

// The growth column of the tree is as wide as its widest text, and all of it
// lies inside the pane.
bool GrowthShowsWhole(QTreeView& view) {
    const QHeaderView& header = *view.header();
    return header.sectionSize(1) >= static_cast<QAbstractItemView&>(view).sizeHintForColumn(1) &&
           header.sectionViewportPosition(1) + header.sectionSize(1) <= view.viewport()->width();
}

// The window at size, laid out and shown, saved as a screenshot once the
// tables have laid out their scroll bars.
void Shoot(QWidget& window, const char* name, QSize size = {1000, 640}) {
    window.resize(size);
    ShowExposed(window);
    QCoreApplication::processEvents();
    SaveScreenshot(window, name);
}

// The trend window that the analysis window's Trend item opens.
TrendWindow& OpenTrend(AnalysisWindow& window) {
    Item(window, "mentrend")->trigger();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == "frmtrend" && top->isVisible()) return *qobject_cast<TrendWindow*>(top);
    }
    qFatal("no trend window");
}

void ClickHeading(AnalysisWindow& window, int column) {
    QHeaderView* header = window.Grid().FixedTable().horizontalHeader();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

// What the analysis window asks of the selection window for a compare snapshot of /data.
SnapshotChoice CompareOf(const char* prime) {
    SnapshotChoice choice;
    choice.SelectionMode = 1;
    choice.SelectionBasePath = "/data";
    choice.PrimeSnapshotDate = Key(prime);
    return choice;
}

// A selection window on choice, shown: clicks land only on laid-out controls.
struct ShownSelection : SelectSnapshotWindow {
    ShownSelection(Fixture& f, SnapshotChoice& choice) : SelectSnapshotWindow(f.h.Context, choice) { ShowExposed(*this); }
};

QStringList Dates(QWidget& selection) { return ColumnTexts(*Child<QTableWidget>(selection, "grdsnap")->model(), 1); }

QStringList BasePathTexts(QWidget& selection) { return ColumnTexts(*Child<QListWidget>(selection, "lstdir")->model(), 0); }

// A key pressed where the focus is, as a user's key goes.
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr) qFatal("no widget has the focus");
    QTest::keyClick(focus, key, modifiers);
}

}  // namespace

class AnalysisWindowTest : public QObject {
    Q_OBJECT
private slots:
    void PrimeChoiceListsPathsThenSnapshotsAndKeysAloneChooseDeleteAndConfirm();
    void FailedSwitchKeepsTheOpenDatabaseAndNoneOpenIsSaid();
    void ChoicesKeepToTheirBasePathAndHostAndTheCompareChoiceRefusesThePrime();
    void DeleteAsksWaitsForAWriterThenRemovesTheSnapshotFromEveryList();
    void FirstChoiceShowsTreeAndDetailsHeadingClicksSortAndExportAndCopyWriteWhatIsShown();
    void EmptyWindowAfterCancelOrDeleteAndCompareNeedsASecondSnapshot();
    void CompareChoiceEnablesWhatTheSnapshotsRecordedAndLeavesTheResultAlone();
    void NodeKeysClicksAndSwapMoveTheAnalysisAndEveryMenuItemRunsItsKind();
    void GrowthShowsInTreeGridAndChartFollowsClicksAndReadsTheSameBothWays();
    void FirstSelectionWindowOwnsItsBoxesAndTheProgramStays();
    void TreeLoadsOnExpansionStopsAtTheSeparatorAndReportsDamageOnce();
    void PanesFollowTheWindowKeepTheirSmallestSizesAndDragFromTheGrabZones();
    void WiderWindowWidensPathColumnsAndTheSmallestKeepsButtonsAndPanesWhole();
    void ChartTextsAreWholeInsideTheChartAndApart();
    void TrendWindowPlacesSnapshotsByDateAndForecastsTheFileSystemFull();
    void SizeBasisIsKeptAndTheGridTreeAndChartFollowIt();
    void ServerDatabaseIsChosenByItsConnectionAndItsPasswordIsNotKept();
};

// The focus starts in the path list and alone chooses nothing; keys alone
// list, choose, delete and confirm. The current path is the one listed, the
// current row the one chosen with its details shown (what its run left out
// among them), also after a delete; OK and Delete without a row ask for one;
// Enter is OK in either list.
void AnalysisWindowTest::PrimeChoiceListsPathsThenSnapshotsAndKeysAloneChooseDeleteAndConfirm() {
    Fixture f;
    AddExclusions(f.h.Database, kOld, {{"pattern", "*.tmp"}, {"caches", ""}, {"pattern", "build/a, b"}});
    QVERIFY(CreateDiskTables(f.h.Database).Ok() && WriteDiskusageRow(f.h.Database, Key(kNew), {123456789, 4096}).Ok());
    ShownSelection window(f, f.choice);
    auto* list = Child<QListWidget>(window, "lstdir");
    auto* grid = Child<QTableWidget>(window, "grdsnap");
    QTRY_COMPARE(QApplication::focusWidget(), list);
    QCOMPARE(BasePathTexts(window), QStringList({"/data", "/srv"}));
    QVERIFY(!grid->isEnabled() && grid->rowCount() == 0 && !Child<QGroupBox>(window, "frmsnap")->isEnabled());
    QVERIFY(!Child<QLabel>(window, "lblmsg")->isVisible());
    Press(Qt::Key_Down);
    QCOMPARE(Dates(window), QStringList({kNew, kOld}));
    Press(Qt::Key_End);
    QCOMPARE(Dates(window), QStringList({kOther}));
    ClickBasePath(window, "/data");
    QVERIFY(Dates(window) == QStringList({kNew, kOld}) && f.choice.PathSnapshotCount == 2);
    ClickButton(window, "comok");
    ClickButton(window, "comdel");
    QCOMPARE(f.h.Prompter.Texts(), (std::vector<std::string>{"Select a Snapshot", "Select a Snapshot"}));
    QVERIFY(window.isVisible());

    ClickBasePath(window, "/data");  // the focus back in the list
    Press(Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() == grid && window.SelectedSnapshot().IsNull());
    Press(Qt::Key_Down);
    // Both totals: apparent and on disk.
    QCOMPARE(Texts(window, {"lbldate", "lblsize", "lbldisk", "lblfiledisk", "lblexcl"}),
             QString(kNew) + "|25 MB|117 MB|4 KB|Nothing");
    SaveScreenshot(window, "frmselsnap_disk");
    Press(Qt::Key_Down);
    QVERIFY(window.SelectedSnapshot() == Key(kOld) && grid->selectionModel()->selectedRows().value(0).row() == 1);
    // A snapshot taken before blocks were recorded has no figures on disk, and says why.
    QCOMPARE(Texts(window, {"lbldate", "lblpath", "lblsize", "lblcoll", "lblfiletot", "lbldisk", "lblfiledisk", "lblexcl"}),
             QString(kOld) + "|/data|12 MB|Y|6|\u2014|\u2014|*.tmp, cache directories, build/a, b");
    QVERIFY(Child<QLabel>(window, "lbldisk")->toolTip().contains("before sizes on disk were recorded"));
    QCOMPARE(Child<QLabel>(window, "lblexcl")->toolTip(), QString("*.tmp\ncache directories\nbuild/a, b"));
    SaveScreenshot(window, "frmselsnap");
    f.h.Prompter.Script({Answer::Yes});
    Press(Qt::Key_Delete);
    QCOMPARE(f.h.Prompter.Texts().back(), std::string("Snapshot taken ") + kOld + " deleted");
    QCOMPARE(Dates(window), QStringList({kNew}));
    QVERIFY(window.SelectedSnapshot().IsNull() && list->currentItem()->text() == "/data");
    Press(Qt::Key_Down);
    Press(Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), list);
    Press(Qt::Key_Return);
    QVERIFY(!window.isVisible() && window.result() == QDialog::Accepted);
    QVERIFY(f.choice.SnapshotChosen && f.choice.ChosenSnapshot == Key(kNew));

    // A wider window gives the paths their whole length; at its default size
    // the column keeps its laid-out width and the path is cut at its start.
    const std::string deep = "/srv/a rather long folder name/and another one below it";
    AddSnapshot(f.h.Database, {.Key = "2024-02-11 08:00:00", .BasePath = deep, .Dirs = {{"2", deep, 0, 0}}, .Files = {}});
    ShownSelection wide(f, f.choice);
    ClickBasePath(wide, deep);
    auto* paths = Child<QTableWidget>(wide, "grdsnap");
    const auto whole = [paths]() { return static_cast<QAbstractItemView*>(paths)->sizeHintForColumn(0); };
    const int laidOut = paths->columnWidth(0);
    QVERIFY(laidOut < whole());
    wide.resize(1600, wide.height());
    QTRY_VERIFY(paths->columnWidth(0) >= whole());
    wide.resize(wide.minimumSizeHint());
    QTRY_COMPARE(paths->columnWidth(0), laidOut);

    f.h.OpenNewDatabase("empty.mdb");
    ShownSelection empty(f, f.choice);
    QVERIFY(Child<QLabel>(empty, "lblmsg")->isVisible());
    QCOMPARE(Texts(empty, {"lblmsg"}), QString("No snapshots in this database yet"));
}

// A switch to a server not there keeps the file in use: its lists, queries,
// status and the recent list (a new file declined: the take-snapshot window's
// test of the same switch). Where nothing is open the window says so.
void AnalysisWindowTest::FailedSwitchKeepsTheOpenDatabaseAndNoneOpenIsSaid() {
    Fixture f;
    const std::string kept = f.h.Database.DatabasePath;
    f.h.StoreRecent({kept});
    ShownSelection window(f, f.choice);
    const QString status = window.StatusText();
    const std::string nowhere = "host=" + f.h.Dir.File("none") + " dbname=x";
    f.h.Dialogs.Answers = {QString::fromStdString(nowhere)};
    Child<QAction>(window, "menserver")->trigger();
    // The server's own lines stand as plain lines, without its tabs.
    const std::string said = f.h.Prompter.Texts().back();
    QVERIFY2(f.h.Prompter.Texts().size() == 1 && said.starts_with("Cannot reach the snapshot database " + nowhere) &&
                 said.find('\t') == std::string::npos && said.find("\n ") == std::string::npos,
             said.c_str());
    QVERIFY(f.h.Database.DatabasePath == kept && window.StatusText() == status);
    QCOMPARE(ReadRecentList(f.h.Settings), std::vector<std::string>{kept});
    ClickBasePath(window, "/srv");
    QCOMPARE(Dates(window), QStringList({kOther}));

    Harness none;
    SnapshotChoice choice;
    SelectSnapshotWindow empty(none.Context, choice);
    ShowExposed(empty);
    QVERIFY(Child<QLabel>(empty, "lblmsg")->isVisible() && empty.StatusText() == "No snapshot database is open");
    QCOMPARE(Texts(empty, {"lblmsg"}), QString("No snapshot database is open"));
    SaveScreenshot(empty, "frmselsnap_none");
}

// A compare choice lists the prime snapshot's base path only, starts with
// the focus in the grid, and refuses the prime snapshot itself. /data of two
// hosts is two entries, each listing its own host's snapshots; /srv, taken
// before hosts were recorded, is an unknown host's. A compare choice keeps to
// the prime snapshot's host. One host lists as no host.
void AnalysisWindowTest::ChoicesKeepToTheirBasePathAndHostAndTheCompareChoiceRefusesThePrime() {
    Fixture f;
    SnapshotChoice compare = CompareOf(kOld);
    {
        ShownSelection window(f, compare);
        QVERIFY(!Child<QListWidget>(window, "lstdir")->isEnabled() && Dates(window) == QStringList({kNew, kOld}));
        QTRY_COMPARE(QApplication::focusWidget(), Child<QTableWidget>(window, "grdsnap"));
        QVERIFY(window.SelectedSnapshot().IsNull());
        // Enter is OK, here refused; then the keys choose and confirm a later snapshot.
        QVERIFY(ClickSnapshotRow(window, kOld));
        Press(Qt::Key_Return);
        QCOMPARE(f.h.Prompter.Texts(),
                 std::vector<std::string>{"Cannot select this snapshot as it is the same as the prime snapshot"});
        QVERIFY(window.isVisible() && !compare.SnapshotChosen);
        Press(Qt::Key_Up);
        Press(Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!window.isVisible() && compare.SnapshotChosen && compare.ChosenSnapshot == Key(kNew));
    }

    QVERIFY(WriteHostLabel(f.h.Database, Key(kOld), "north").Ok());
    QCOMPARE(BasePathTexts(*std::make_unique<SelectSnapshotWindow>(f.h.Context, f.choice)),
             QStringList({"/data", "/srv"}));
    QVERIFY(WriteHostLabel(f.h.Database, Key(kNew), "south").Ok());
    ShownSelection window(f, f.choice);
    QCOMPARE(BasePathTexts(window), QStringList({"/data (north)", "/data (south)", "/srv (unknown host)"}));
    ClickBasePath(window, "/data (south)");
    QVERIFY(Dates(window) == QStringList({kNew}) && f.choice.PathSnapshotCount == 1);
    ClickBasePath(window, "/data (north)");
    QCOMPARE(Dates(window), QStringList({kOld}));
    QVERIFY(ClickSnapshotRow(window, kOld));
    QCOMPARE(Texts(window, {"lblpath"}), QString("/data"));
    SaveScreenshot(window, "frmselsnap_hosts");
    compare = CompareOf(kNew);
    QCOMPARE(Dates(*std::make_unique<SelectSnapshotWindow>(f.h.Context, compare)), QStringList({kNew}));

    // Deleting south's only snapshot leaves one host: the list is as ever.
    ClickBasePath(window, "/data (south)");
    QVERIFY(ClickSnapshotRow(window, kNew));
    f.h.Prompter.Script({Answer::Yes});
    ClickButton(window, "comdel");
    QVERIFY(BasePathTexts(window) == QStringList({"/data", "/srv"}) && Dates(window) == QStringList({kOld}));
}

void AnalysisWindowTest::DeleteAsksWaitsForAWriterThenRemovesTheSnapshotFromEveryList() {
    Fixture f;
    ShownSelection window(f, f.choice);
    ClickBasePath(window, "/data");
    QVERIFY(ClickSnapshotRow(window, kNew));
    const auto clickDelete = [&](Answer answer) {
        f.h.Prompter.Clear();
        f.h.Prompter.Script({answer});
        ClickButton(window, "comdel");
    };
    clickDelete(Answer::No);
    QVERIFY(f.h.Prompter.Messages().back().MessageButtons == Buttons::YesNo && Dates(window) == QStringList({kNew, kOld}));
    QCOMPARE(CountRows(f.h.Database.DatabasePath, "Control", kNew), std::int64_t(1));

    // Another program writing past the wait: the delete gives up, says so and changes nothing.
    SQLite::Database other(f.h.Database.DatabasePath, SQLite::OPEN_READWRITE);
    other.exec("BEGIN IMMEDIATE");
    window.SetDeleteWait(std::chrono::milliseconds(300));
    clickDelete(Answer::Yes);
    QCOMPARE(f.h.Prompter.Texts().back(), "Snapshot database " + f.h.Database.DatabasePath +
                                              " is busy: another program has held it locked for too long. "
                                              "Try again later; the snapshot was not deleted");
    QCOMPARE(Dates(window), QStringList({kNew, kOld}));

    // Released while the delete waits: it goes on, and meanwhile the window said why it waited.
    const QString status = window.StatusText();
    window.SetDeleteWait(kDeleteWait);
    QString waitingText;
    bool waitPointer = false;
    // Events reach the window only while the delete waits: the first one looks and lets go.
    QTimer::singleShot(0, &window, [&]() {
        waitingText = window.StatusText();
        waitPointer = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        other.exec("COMMIT");
    });
    clickDelete(Answer::Yes);
    QCOMPARE(waitingText, QString::fromUtf8(kWaitingForWriter.data(), kWaitingForWriter.size()));
    QVERIFY(waitPointer && QApplication::overrideCursor() == nullptr && window.StatusText() == status);
    QCOMPARE(f.h.Prompter.Texts().back(), std::string("Snapshot taken ") + kNew + " deleted");
    QCOMPARE(CountRows(f.h.Database.DatabasePath, "Dir", kNew), std::int64_t(0));
    // The deleted snapshot can no longer be chosen.
    QCOMPARE(Dates(window), QStringList({kOld}));
    QVERIFY(window.SelectedSnapshot().IsNull() && Texts(window, {"lbldate"}).isEmpty());

    // The last snapshot of a base path takes the path with it.
    ClickBasePath(window, "/srv");
    QVERIFY(ClickSnapshotRow(window, kOther));
    clickDelete(Answer::Yes);
    QVERIFY(BasePathTexts(window) == QStringList({"/data"}) && Dates(window).isEmpty());
    ClickButton(window, "comcan");
    QVERIFY(!window.isVisible() && !f.choice.SnapshotChosen);
}

// The first choice shows tree and details; heading clicks sort; what the grid
// shows is what Export writes and Ctrl+C copies.
void AnalysisWindowTest::FirstChoiceShowsTreeAndDetailsHeadingClicksSortAndExportAndCopyWriteWhatIsShown() {
    Fixture f;
    AnalysisWindow window(f.h.Context, f.session, f.choice);
    bool shownBeforeChoice = true;
    SelectionDriver driver([&](QWidget& selection) {
        shownBeforeChoice = window.isVisible();
        ChooseInSelection(selection, "/data", kNew);
    });
    window.Load();
    QVERIFY(driver.Opened() == 1 && !shownBeforeChoice && window.isVisible());
    QCOMPARE(Texts(window, {"txtpath", "txtsnap"}), QString("/data|") + kNew);
    QVERIFY(window.TreeView().isExpanded(window.Tree().RootIndex()));  // the first level at once

    // The total row and the scrolling rows are two models; numbers align right.
    using Tester = QAbstractItemModelTester;
    Tester fixedTester(&window.Grid().FixedModel(), Tester::FailureReportingMode::QtTest);
    Tester rowsTester(&window.Grid().DetailModel(), Tester::FailureReportingMode::QtTest);
    QCOMPARE(window.Grid().DetailModel().index(0, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(Heading(window, 2) + "|" + TotalCell(window, 2), QString("Total size (MB)      |25"));
    QVERIFY(window.Chart().isVisible() && !Child<QLabel>(window, "lblgraph")->isVisible());
    for (const char* name : {"mendir_0", "dispsize_2", "menctype_0", "mencvert_0"}) QVERIFY2(Item(window, name)->isChecked(), name);
    Shoot(window, "frmanal");

    ClickHeading(window, 1);  // "# of Files", largest first; the total row stays on top
    QCOMPARE(QStringList(TotalCell(window, 0)) << DetailColumn(window, 1),
             QStringList({"Total for /data", "2", "2", "1", "1"}));
    QCOMPARE(window.Chart().Chart().Title, std::string("Analysis of # of Files"));
    // Names are no numbers to chart.
    ClickHeading(window, 0);
    const QStringList byName = DetailColumn(window, 0);
    QCOMPARE(byName, QStringList({"(files)", "big", "it's", "small"}));
    QVERIFY(!window.Chart().isVisible() && Child<QLabel>(window, "lblgraph")->isVisible());
    // A chart change only redraws: the order by name stays.
    Item(window, "menctype_3")->trigger();
    Item(window, "mencvert_1")->trigger();
    QVERIFY(Item(window, "menctype_3")->isChecked() && !Item(window, "menctype_0")->isChecked());
    QCOMPARE(std::tuple(window.Chart().Chart().ChartType, window.Chart().Chart().ChartOrientation, DetailColumn(window, 0)),
             std::tuple(ChartType::Pie3D, 1, byName));
    // A unit change reruns, back in the order by size.
    Item(window, "dispsize_1")->trigger();
    QVERIFY(Item(window, "dispsize_1")->isChecked() && !Item(window, "dispsize_2")->isChecked());
    QCOMPARE(Heading(window, 2) + "|" + TotalCell(window, 2) + "|" + DetailColumn(window, 0).front(),
             QString("Total size (KB)      |25600|big"));
    QVERIFY(f.h.Prompter.Texts().empty());

    // Export writes the bytes of "corvina-cli analyse --format csv|json",
    // which prints through the same writers.
    const auto save = [&](const char* item, const std::string& path) {
        f.h.Dialogs.Answers = {QString::fromStdString(path)};
        Item(window, item)->trigger();
        return std::filesystem::exists(path) ? ReadFile(path) : std::string("(none)");
    };
    std::ostringstream csv, json;
    WriteGridCsv(f.session.Grid(), csv);
    WriteGridJson("Analysis of directory /data", f.session, json);
    QVERIFY(csv.str().starts_with("Directory Name,# of Files,Total size (KB),% of Total\r\n"));
    QCOMPARE(save("menexport", f.h.Dir.File("grid.csv")), csv.str());
    QCOMPARE(save("menexport", f.h.Dir.File("grid.JSON")), json.str());
    QCOMPARE(save("menexport", f.h.Dir.File("no/grid.csv")), std::string("(none)"));
    QVERIFY(f.h.Prompter.Texts().back().starts_with("The grid could not be written to " + f.h.Dir.File("no/grid.csv")));
    const std::string svg = save("mensavechart", f.h.Dir.File("chart.svg"));
    QVERIFY(svg.starts_with("<?xml") && svg.find("<svg") != std::string::npos);

    // Selected as in a spreadsheet, the total row with the rows below it;
    // Ctrl+C copies tabs between columns, a line per row.
    QTableView& total = window.Grid().FixedTable();
    QTableView& rows = window.Grid().DetailTable();
    const auto copied = [&]() {
        QTest::keyClick(&rows, Qt::Key_C, Qt::ControlModifier);
        return QApplication::clipboard()->text().split('\n');
    };
    const QStringList names = DetailColumn(window, 0), counts = DetailColumn(window, 1);
    const auto line = [&](int row) { return names[row] + "\t" + counts[row]; };
    ClickCell(rows, 0, 0);
    ClickCell(rows, 1, 1, Qt::ShiftModifier);
    QTest::keyClick(&rows, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(copied(), QStringList({line(0), line(1), line(2)}));
    ClickCell(total, 0, 1);
    ClickCell(rows, 1, 0, Qt::ShiftModifier);
    ClickCell(rows, 3, 0, Qt::ControlModifier);
    QCOMPARE(copied(), QStringList({TotalCell(window, 0) + "\t" + TotalCell(window, 1), line(0), line(1), names[3]}));
    QTest::keyClick(&rows, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(copied().size(), 1 + names.size());
}

void AnalysisWindowTest::EmptyWindowAfterCancelOrDeleteAndCompareNeedsASecondSnapshot() {
    Fixture f;
    AnalysisWindow window(f.h.Context, f.session, f.choice);
    const auto empty = [&]() {
        return window.isVisible() && window.Tree().rowCount() + window.Grid().DetailModel().rowCount() == 0 &&
               Texts(window, {"txtsnap"}).isEmpty() && Child<QLabel>(window, "lblgraph")->isVisible();
    };
    {
        SelectionDriver cancel([](QWidget& selection) { selection.close(); });
        window.Load();
    }
    QVERIFY(empty() && !Child<QMenu>(window, "menfilet")->isEnabled());

    Choose(window, kNew, "comsnap");
    QCOMPARE(window.Tree().rowCount(), 1);
    // The shown snapshot deleted in the selection window, which is then cancelled.
    f.h.Prompter.Script({Answer::Yes});
    const int opened = InSelection(window, "comsnap", [](QWidget& selection) {
        DeleteInSelection(selection, kNew);
        ClickButton(selection, "comcan");
    });
    QVERIFY(opened == 1 && empty());

    // The last snapshot of /data has none to compare with, whatever a listing of another path counted.
    Choose(window, kOld, "comsnap");
    f.h.Prompter.Clear();
    f.choice.PathSnapshotCount = 5;
    QCOMPARE(InSelection(window, "comsnap2", [](QWidget& selection) { selection.close(); }), 0);
    QCOMPARE(f.h.Prompter.Texts(), std::vector<std::string>{"No other snapshots with same path to compare to"});
    QVERIFY(!Item(window, "menswap")->isEnabled());
}

void AnalysisWindowTest::CompareChoiceEnablesWhatTheSnapshotsRecordedAndLeavesTheResultAlone() {
    Fixture f(/*oldCollects=*/false);
    auto window = OpenOn(f, kNew);
    const QStringList before = DetailColumn(*window, 2);
    const QString status = window->StatusText();
    Choose(*window, kOld);
    QCOMPARE(Texts(*window, {"txtsnap2"}), QString(kOld));
    // The compare snapshot recorded no files: only the directory comparisons and Swap come on.
    QCOMPARE(EnabledItems(*window), QStringList({"mendir_1", "mendir_2", "mendir_3", "mendir_5", "menswap"}));
    QVERIFY(Child<QMenu>(*window, "menfilet")->isEnabled());
    QVERIFY(DetailColumn(*window, 2) == before && window->StatusText() == status && f.h.Prompter.Texts().empty());

    // Choosing the prime snapshot again clears the compare row and menus,
    // and the comparison, whose dates would be blank; it asks for one and
    // runs when it has it.
    Item(*window, "mendir_1")->trigger();
    const auto asksForCompare = [&]() {
        return window->StatusText() == "Choose a snapshot to compare with (Compare to: Select)" &&
               window->Grid().FixedModel().columnCount() + window->Grid().DetailModel().rowCount() == 0 &&
               !window->Chart().isVisible() && Texts(*window, {"txtsnap2"}).isEmpty();
    };
    Choose(*window, kNew, "comsnap");
    QVERIFY(asksForCompare());
    QCOMPARE(EnabledItems(*window), QStringList());
    Choose(*window, kOld);
    QCOMPARE(window->StatusText(), QString("Compare /data from 1 Mar to 7 Mar"));

    // With the snapshot without files as the prime, the whole file menu is off.
    Item(*window, "menswap")->trigger();
    QVERIFY(!Child<QMenu>(*window, "menfilet")->isEnabled());
    QCOMPARE(EnabledItems(*window).size(), std::size(kCompareItems));

    // A prime snapshot chosen in another database: no date of this one stays.
    const std::string other = f.h.Dir.File("other.mdb");
    WithDatabase(other, [](DatabaseState& database) { AddSnapshot(database, DataSnapshot(kNew)); });
    f.h.Dialogs.Answers = {QString::fromStdString(other)};
    InSelection(*window, "comsnap", [](QWidget& selection) {
        Child<QAction>(selection, "mensel")->trigger();
        ChooseInSelection(selection, "/data", kNew);
    });
    QVERIFY(asksForCompare() && f.h.Prompter.Texts().empty());
}

// Keys that come before the delay is over, as a held arrow key repeats,
// analyse the node they rest on once the delay is over; a click analyses its
// node at once.
void AnalysisWindowTest::NodeKeysClicksAndSwapMoveTheAnalysisAndEveryMenuItemRunsItsKind() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    ClickNode(*window, window->Tree().RootIndex());
    const QString atRoot = window->StatusText();
    QSignalSpy runs(&window->Grid().DetailModel(), &QAbstractItemModel::modelReset);
    // (files), big, it's. With an hour's delay no machine is too slow for that.
    window->SetKeyedNodeDelay(std::chrono::hours(1));
    for (int i = 0; i < 3; ++i) QTest::keyClick(&window->TreeView(), Qt::Key_Down);
    QCoreApplication::processEvents();
    QVERIFY(runs.count() == 0 && window->StatusText() == atRoot);
    window->SetKeyedNodeDelay(std::chrono::milliseconds(0));
    QTRY_COMPARE(window->StatusText(), QString("Analysis of directory /data/it's"));
    QCoreApplication::processEvents();
    QCOMPARE(runs.count(), 1);

    Choose(*window, kOld);
    const QModelIndex root = window->Tree().RootIndex();
    const QModelIndex big = NodeNamed(*window, root, "big");
    window->TreeView().expand(big);
    const QModelIndex deep = NodeNamed(*window, big, "deep");
    window->TreeView().expand(deep);
    ClickNode(*window, big);
    QVERIFY(window->TreeView().isExpanded(big) && !window->TreeView().isExpanded(deep));
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data/big"));
    // A quote in a name is an ordinary character; a files entry's totals are
    // its own, looked up as a files entry.
    ClickNode(*window, NodeNamed(*window, root, "it's"));
    QCOMPARE(window->StatusText() + "|" + TotalCell(*window, 2), QString("Analysis of directory /data/it's|6"));
    ClickNode(*window, NodeNamed(*window, root, "(files)"));
    QCOMPARE(window->StatusText() + "|" + TotalCell(*window, 2), QString("Analysis of directory /data/(files)|2"));

    // A swap builds the tree again and runs the analysis on the base path.
    Item(*window, "menswap")->trigger();
    QCOMPARE(Texts(*window, {"txtsnap", "txtsnap2"}), QString(kOld) + "|" + kNew);
    QCOMPARE(window->StatusText() + "|" + TotalCell(*window, 2), QString("Analysis of directory /data|12"));

    const QList<QAction*> items =
        Child<QMenu>(*window, "menviewh")->actions() + Child<QMenu>(*window, "menfilet")->actions();
    QStringList titles;
    for (QAction* item : items) {
        if (!item->isCheckable()) continue;  // separators and Follow the growth
        item->trigger();
        int checked = 0;
        for (QAction* any : items) checked += any->isChecked() ? 1 : 0;
        QVERIFY(item->isChecked() && checked == 1);
        titles << window->StatusText();
    }
    QCOMPARE(static_cast<std::size_t>(titles.size()), AnalysisCatalogue().size());
    QVERIFY(titles.removeDuplicates() == 0 && f.h.Prompter.Texts().empty());

    // A total that cannot be read is said, counts 0, and the click goes on.
    Execute(f.h.Database, "ALTER TABLE Dir RENAME TO Dir_gone");
    ClickNode(*window, NodeNamed(*window, window->Tree().RootIndex(), "big"));
    QCOMPARE(f.h.Prompter.Texts().front(),
             std::string("Error: Other no such table: Dir\nWhile processing directory /data/big"));
    QVERIFY(f.session.State().DirTotal == 0.0 && window->StatusText().contains("/data/big directory tree"));
}

// kMid is kOld at scale 1.5: /data grew 6.25 MB, big 4 of it (3 its own
// files, 1 deep), it's 1.5, (files) 0.5 and small 0.25. Growths are rounded
// towards zero, so that a swap turns each sign and nothing else.
void AnalysisWindowTest::GrowthShowsInTreeGridAndChartFollowsClicksAndReadsTheSameBothWays() {
    Fixture f;
    AddSnapshot(f.h.Database, DataSnapshot(kMid, 1.5));
    auto window = OpenOn(f, kMid);
    DirectoryTreeModel& tree = window->Tree();
    QTreeView& view = window->TreeView();
    QCOMPARE(Growth(*window), QStringList({"", "", "", "", ""}));
    QVERIFY(view.isColumnHidden(1) && !Item(*window, "menfollow")->isEnabled());
    Choose(*window, kOld);
    QCOMPARE(Growth(*window), QStringList({"+0 MB", "+4 MB", "+1 MB", "+0 MB", "+6 MB"}));
    QVERIFY(!view.isColumnHidden(1) && Item(*window, "menfollow")->shortcut() == QKeySequence("Ctrl+G"));
    Item(*window, "dispsize_1")->trigger();
    QCOMPARE(Growth(*window)[1], QString("+4096 KB"));
    Item(*window, "dispsize_2")->trigger();
    // Follow the growth goes down while one subdirectory holds half of it.
    ClickNode(*window, tree.RootIndex());
    Item(*window, "menfollow")->trigger();
    QCOMPARE(view.currentIndex(), NodeNamed(*window, tree.RootIndex(), "big"));
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data/big"));
    Shoot(*window, "frmanal_tree_growth");

    // Where did it grow: each bar is named under it, its tip the whole path.
    ClickNode(*window, tree.RootIndex());
    Item(*window, "mendir_5")->trigger();
    QCOMPARE(DetailColumn(*window, 0), QStringList({"/data/big", "/data/it's", "/data/big/deep", "/data", "/data/small"}));
    ChartWidget& chart = window->Chart();
    const auto bars = [&chart]() { return std::pair(chart.Chart().ChartLabels, chart.Chart().ChartValues); };
    using Bars = std::pair<std::vector<std::string>, std::vector<double>>;
    QCOMPARE(bars(), Bars({"big", "it's", "deep", "data"}, {3, 1, 1, 0}));
    QStringList texts;
    for (const ChartText& text : chart.LayOut().Texts) texts << text.Text;
    QVERIFY(texts.contains("big") && texts.contains("it's") && texts.contains("deep") && texts.contains("data"));
    QCOMPARE(chart.ToolTipAt(chart.LayOut().Bars[2].center()), QString("/data/big/deep"));
    Shoot(*window, "frmanal_growth");
    const QString saved = QStringLiteral(CORVINA_SCREENSHOT_DIR "/frmanal_saved_chart.png");
    f.h.Dialogs.Answers = {saved};
    Item(*window, "mensavechart")->trigger();
    QVERIFY(SavedLarge(chart, saved, chart.LayOut().Bars[0].center(), ChartWidget::PointColour(1)));
    // A 3D pie's side is a darker shade of its slice (big's 3 of 5 parts
    // reach past the bottom), not a dark band.
    Item(*window, "menctype_3")->trigger();
    const ChartLayout pie = chart.LayOut();
    const QColor slice = ChartWidget::PointColour(1), side = chart.grab().toImage().pixelColor(
        QPointF(pie.Plot.center().x(), pie.Plot.bottom() + pie.Depth / 2).toPoint());
    QVERIFY2(std::abs(side.hsvHue() - slice.hsvHue()) <= 3 && side.value() < slice.value() &&
                 side.value() > slice.value() / 2,
             qPrintable(side.name()));
    // Ctrl and Shift select rows without going to them; a click goes to the row's directory.
    QTableView& rows = window->Grid().DetailTable();
    ClickCell(rows, 0, 0, Qt::ControlModifier);
    ClickCell(rows, 3, 0, Qt::ShiftModifier);
    QVERIFY(window->StatusText().startsWith("Where did /data grow") && rows.selectionModel()->selectedIndexes().size() == 4);
    ClickCell(rows, 2, 1);
    const QModelIndex big = NodeNamed(*window, tree.RootIndex(), "big");
    QVERIFY(view.isExpanded(big) && view.currentIndex() == NodeNamed(*window, big, "deep"));
    QCOMPARE(window->StatusText(), QString("Where did /data/big/deep grow from 1 Mar to 2 Mar"));

    // Swapped, everything shrank by as much as it grew: the chart's 1.5 MB
    // reads -1 as it read +1; the tree is green, with nothing to follow.
    Item(*window, "menswap")->trigger();
    QCOMPARE(bars(), Bars({"small", "data", "deep", "it's"}, {0, 0, -1, -1}));
    QCOMPARE(Growth(*window), QStringList({"\u22120 MB", "\u22124 MB", "\u22121 MB", "\u22120 MB", "\u22126 MB"}));
    QVERIFY(tree.index(1, 1, tree.RootIndex()).data(Qt::ForegroundRole).value<QColor>().green() > 0x60);
    Item(*window, "mendir_0")->trigger();
    Item(*window, "menfollow")->trigger();
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data"));
    Choose(*window, kOld, "comsnap");
    QCOMPARE(Growth(*window), QStringList({"", "", "", "", ""}));
    QVERIFY(view.isColumnHidden(1) && !Item(*window, "menfollow")->isEnabled());

    // A base path about as wide as the pane: the growth still shows whole at its edge.
    Fixture g;
    const std::string photos = "/home/someone/photographs";
    for (const auto& [key, mb] : {std::pair{"2024-04-01 09:00:00", 100.0}, {"2024-04-08 09:00:00", 1804.5}}) {
        AddSnapshot(g.h.Database, {.Key = key, .BasePath = photos, .Dirs = {{"2", photos, 1, mb * 1048576}}, .Files = {}});
    }
    auto home = OpenOn(g, "2024-04-08 09:00:00");
    Choose(*home, "2024-04-01 09:00:00", "comsnap2", photos);
    QCOMPARE(home->Tree().RootIndex().siblingAtColumn(1).data().toString(), QString("+1704 MB"));
    QTRY_VERIFY(GrowthShowsWhole(home->TreeView()));
    SaveScreenshot(*home, "frmanal_tree_growth_long");
}

// Real message boxes under the running event loop, where Qt ends the program
// when the last primary window closes: a box of no parent was one.
void AnalysisWindowTest::FirstSelectionWindowOwnsItsBoxesAndTheProgramStays() {
    Fixture f;
    MessageBoxPrompter boxes;
    ProgramContext context = WithMessages(f.h.Context, boxes);
    TakeSnapshotWindow takeSnapshot(context);
    AnalysisLauncher launcher(context, takeSnapshot);
    takeSnapshot.show();
    int lastClosed = 0;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&lastClosed]() { ++lastClosed; });
    QStringList owners;  // per box, whose child it was; Yes to the delete, No to creating a database
    QTimer answerer;
    answerer.setInterval(5);
    QObject::connect(&answerer, &QTimer::timeout, [&owners]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || box->property("answered").toBool()) return;
        box->setProperty("answered", true);
        owners << (box->parentWidget() != nullptr ? box->parentWidget()->objectName() : QString("none"));
        QAbstractButton* button = box->button(box->text().startsWith("Delete") ? QMessageBox::Yes : QMessageBox::No);
        (button != nullptr ? button : box->button(QMessageBox::Ok))->click();
    });
    answerer.start();
    bool stayed = false;
    SelectionDriver driver([&](QWidget& selection) {
        DeleteInSelection(selection, kOld);
        f.h.Dialogs.Answers = {QString::fromStdString(f.h.Dir.File("new.mdb"))};
        Child<QAction>(selection, "mensel")->trigger();
        stayed = selection.isVisible();
        Child<QPushButton>(selection, "comcan")->click();
    });
    QTimer::singleShot(0, [&]() {
        Child<QAction>(takeSnapshot, "menanal")->trigger();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    QVERIFY(stayed && launcher.Window() != nullptr && launcher.Window()->isVisible());
    QCOMPARE(lastClosed, 0);
    QVERIFY2(owners.size() >= 3 && owners.count("frmselsnap") == owners.size(), qPrintable(owners.join(",")));
}

void AnalysisWindowTest::TreeLoadsOnExpansionStopsAtTheSeparatorAndReportsDamageOnce() {
    Harness h;
    h.OpenNewDatabase();
    // Under the same key, a sibling whose name begins with the base path, at the
    // levels of /data and its children, and a row whose parent is missing.
    SnapshotRows snap = DataSnapshot(kNew);
    snap.Dirs.insert(snap.Dirs.end(), {{"2", "/data-x/sub", 0, 1}, {"2", "/data-x", 0, 1}, {"2", "/data/lost/found", 0, 1}});
    AddSnapshot(h.Database, snap);
    AddSnapshot(h.Database, DataSnapshot(kOld));
    DirectoryTreeModel model(h.Database, h.Prompter);
    QTreeView view;
    view.setModel(&model);
    view.show();
    for (const char* key : {kOld, kNew}) model.BuildDirectoryTree(Key(key), "/data", PathStyle::Posix);
    const std::vector<std::string> treeErrors{std::string(kTreeErrorsMessage)};
    QCOMPARE(h.Prompter.Texts(), treeErrors);
    h.Prompter.Clear();
    // A node that cannot be read is told once, from the event loop, and not read again.
    const QModelIndex small = model.index(3, 0, model.RootIndex());
    Execute(h.Database, "ALTER TABLE Dir RENAME TO Dir_gone");
    QVERIFY(model.rowCount(small) == 0 && h.Prompter.Texts().empty());
    QCoreApplication::processEvents();
    QVERIFY(!model.hasChildren(small) && model.rowCount(small) == 0);
    QCoreApplication::processEvents();
    QCOMPARE(h.Prompter.Texts(), treeErrors);
    Execute(h.Database, "ALTER TABLE Dir_gone RENAME TO Dir");
    view.expand(model.RootIndex());
    QCoreApplication::processEvents();

    const QModelIndex root = model.RootIndex();
    const QModelIndex big = model.index(1, 0, root);
    // Shown but not expanded: known to have children, not read yet.
    QVERIFY(model.hasChildren(big) && !model.ChildrenRead(big) && !model.FindLoaded("/data/big/deep").isValid());
    view.expand(big);
    QCoreApplication::processEvents();
    QVERIFY(model.ChildrenRead(big) && model.FindLoaded("/data/big/deep").isValid());
    {
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(root.data().toString() + "|" + QString::fromStdString(model.Key(root)), QString("/data|/data"));
        // Files entry first, then the subdirectories by name; one snapshot only, no /data-x.
        QCOMPARE(ColumnTexts(model, 0, root), QStringList({"(files)", "big", "it's", "small"}));
        QVERIFY(!model.hasChildren(model.index(0, 0, root)));
        QCOMPARE(model.index(0, 0, model.FindLoaded("/data/big/deep")).data(Qt::ToolTipRole).toString(),
                 QString("/data/big/deep/(files)"));
    }

    // A new build replaces the tree; a drive's names order without regard to case.
    const char* driveKey = "2024-03-09 10:00:00";
    AddSnapshot(h.Database, {.Key = driveKey, .BasePath = "C:",
                             .Dirs = {{"2", "C:\\windows", 0, 5}, {"2", "C:\\Data", 0, 5}, {"2", "C:", 0, 10}},
                             .Files = {}, .Collect = false, .Description = "drive", .Style = PathStyle::Windows});
    model.BuildDirectoryTree(Key(driveKey), "C:", PathStyle::Windows);
    QCOMPARE(ColumnTexts(model, 0, model.RootIndex()), QStringList({"Data", "windows"}));

    // A directory called "(files)" beside the files entry of its parent: the
    // files entry stays a leaf, and the way to the directory goes through it.
    const char* filesKey = "2024-03-10 10:00:00";
    AddSnapshot(h.Database, {.Key = filesKey,
                             .BasePath = "/p",
                             .Dirs = {{"1", "/p/(files)", 1, 1}, {"2", "/p/(files)/x", 0, 0},
                                      {"2", "/p/(files)", 0, 0}, {"2", "/p", 1, 1}},
                             .Files = {}});
    model.BuildDirectoryTree(Key(filesKey), "/p", PathStyle::Posix);
    const QModelIndex filesEntry = model.index(0, 0, model.RootIndex());
    QVERIFY(model.IsFilesEntry(filesEntry) && !model.hasChildren(filesEntry));
    const QModelIndex x = model.Reveal("/p/(files)/x");
    QVERIFY(x.isValid() && !model.IsFilesEntry(x.parent()) && !model.IsFilesEntry(model.Reveal("/p/(files)")));
}

void AnalysisWindowTest::PanesFollowTheWindowKeepTheirSmallestSizesAndDragFromTheGrabZones() {
    PaneLayout panes;
    panes.Resize(15000, 9000);
    // Wider and taller: grid and chart panes widen and share the height as in
    // the design, 3495 to 3000; the tree pane grows in height only.
    const int bottom = 9000 - PaneLayout::kBottomMargin;
    QCOMPARE((std::vector<int>{panes.frmdisp.Width, panes.frmgraph.Width, panes.frmdisp.Height, panes.frmgraph.Height,
                               panes.frmnode.Width, panes.frmgraph.Bottom(), panes.frmnode.Bottom()}),
             (std::vector<int>{15000 - 3360 - PaneLayout::kRightMargin, panes.frmdisp.Width, 4302, 3693, 3255, bottom,
                               bottom}));
    // Smaller than the smallest window: taken as the smallest, shared alike;
    // the chart keeps its design width.
    panes.Resize(100, 100);
    QCOMPARE(std::pair(panes.MinimumWidth(), panes.MinimumHeight()),
             std::pair(3360 + 4575 + PaneLayout::kRightMargin, 4440 + 300 + PaneLayout::kBottomMargin));
    QCOMPARE((std::vector<int>{panes.frmdisp.Width, panes.frmdisp.Height, panes.frmgraph.Height, panes.grpdisp.Width}),
             (std::vector<int>{4575, 2042, 1753, 4095}));

    panes.Resize(11880, 7500);
    const int gridHeight = panes.frmdisp.Height;
    QCOMPARE(gridHeight, 3495);
    // 300 above the grid pane's bottom is outside the zone (no drag begins), 10 inside.
    QCOMPARE(panes.MoveOverGridPane(gridHeight - 300, true), PanePointer::Default);
    QCOMPARE(std::pair(panes.frmdisp.Height, panes.MoveOverGridPane(gridHeight - 10, false)),
             std::pair(gridHeight, PanePointer::NorthSouth));
    // Dragging up 1000: the chart pane's bottom stays where it was.
    const int chartBottom = panes.frmgraph.Bottom();
    panes.MoveOverGridPane(gridHeight - 1000, true);
    QCOMPARE((std::vector<int>{panes.frmdisp.Height, panes.frmgraph.Top, panes.frmgraph.Bottom(), panes.grdanal.Height}),
             (std::vector<int>{gridHeight - 1000, 4440 - 1000, chartBottom, gridHeight - 1400}));
    // Moves that would leave the grid or the chart pane under 700 do nothing.
    panes.MoveOverGridPane(200, true);
    panes.MoveOverGridPane(panes.frmdisp.Height + panes.frmgraph.Height, true);
    QCOMPARE(panes.frmdisp.Height, gridHeight - 1000);
    // Dragged down as far as it goes, then the smallest window and a large
    // one: the chart pane keeps its least height, then its share.
    panes.MoveOverGridPane(gridHeight + 2300, true);
    panes.EndDrag();
    QCOMPARE(panes.frmgraph.Height, 700);
    panes.Resize(11880, 100);
    QCOMPARE((std::vector<int>{panes.frmgraph.Height, panes.grpdisp.Height}), (std::vector<int>{700, 200}));
    panes.Resize(11880, 9000);
    QCOMPARE((std::vector<int>{panes.frmdisp.Height, panes.frmgraph.Height}), (std::vector<int>{7133, 862}));
    panes.Resize(11880, 7500);

    // The tree pane's right strip: 0 to 150 from its edge.
    const int treeWidth = panes.frmnode.Width;
    QCOMPARE(panes.MoveOverTreePane(treeWidth - 160, false), PanePointer::Default);
    QCOMPARE(panes.MoveOverTreePane(treeWidth - 100, false), PanePointer::WestEast);
    panes.MoveOverTreePane(treeWidth + 500, true);
    QCOMPARE((std::vector<int>{panes.frmnode.Width, panes.frmdisp.Left, panes.frmgraph.Left, panes.tvdir.Width}),
             (std::vector<int>{treeWidth + 500, 3360 + 500, 3360 + 500, treeWidth + 250}));
    // Too narrow a tree pane: nothing moves. The smallest window keeps its
    // width until a wider tree pane leaves the grid pane less than 400.
    panes.MoveOverTreePane(400, true);
    QCOMPARE(std::pair(panes.frmnode.Width, panes.MinimumWidth()),
             std::pair(treeWidth + 500, 3360 + 4575 + PaneLayout::kRightMargin));
    panes.MoveOverTreePane(treeWidth + 4500, true);
    QCOMPARE(panes.MinimumWidth(), 3360 + 4500 + 400 + PaneLayout::kRightMargin);
}

// The grid's columns and the controls as designed, as small as the window
// goes, and on a whole 1280 x 1024 screen.
void AnalysisWindowTest::WiderWindowWidensPathColumnsAndTheSmallestKeepsButtonsAndPanesWhole() {
    Fixture f;
    const QString archive = "/data/customer-archive-2023-invoices-scanned-originals-as-received";
    const QString invoice = "invoice-2023-11-30-final-signed-copy.pdf";
    SnapshotRows snap = DataSnapshot("2024-03-09 11:00:00", 2.0);
    snap.Dirs.insert(snap.Dirs.begin(), {"2", archive.toStdString(), 1, 4096});
    snap.Files.push_back({archive.toStdString(), invoice.toStdString(), 4096});
    AddSnapshot(f.h.Database, snap);
    auto window = OpenOn(f, snap.Key);
    Choose(*window, kNew);
    QTableView& rows = window->Grid().DetailTable();
    const auto shown = [&](const char* kind, const char* screenshot) {  // the columns' widths
        Item(*window, kind)->trigger();
        QCoreApplication::processEvents();  // the tables lay out their scroll bars
        SaveScreenshot(*window, screenshot);
        std::vector<int> pixels;
        for (int c = 0; c < rows.model()->columnCount(); ++c) pixels.push_back(rows.columnWidth(c));
        return pixels;
    };
    const auto px = [&](int twips) { return TwipsToPixels(twips, *window); };
    shown("mendir_1", "frmanal_compare_default");
    const std::vector<int> designed = shown("menfile_1", "frmanal_default");  // File, Directory, Size, File Date
    QCOMPARE((std::vector<int>{designed[0], designed[1], designed[3]}), (std::vector<int>{px(2000), px(2500), px(2000)}));

    // The width the columns leave goes to names and paths, none of them cut;
    // every column of a comparison shows.
    window->resize(1280, 1000);
    QVERIFY(shown("mendir_1", "frmanal_compare_maximised").size() == 6 && rows.horizontalScrollBar()->maximum() == 0);
    const std::vector<int> wide = shown("menfile_1", "frmanal_maximised");
    const QFontMetrics text = rows.fontMetrics();
    QVERIFY(wide[0] > text.horizontalAdvance(invoice) + 8 && wide[1] > text.horizontalAdvance(archive) + 8);
    QCOMPARE((std::vector<int>{wide[2], wide[3]}), (std::vector<int>{designed[2], designed[3]}));

    // The smallest: buttons whole and inside, the tree pane as wide as ever,
    // the chart as designed; a long title does not hold the window wider.
    window->resize(1, 1);
    shown("menfile_1", "frmanal_smallest");
    for (auto* button : {Child<QPushButton>(*window, "comsnap"), Child<QPushButton>(*window, "comsnap2")}) {
        QVERIFY(button->width() >= button->sizeHint().width());
        QVERIFY(button->mapTo(window.get(), QPoint(button->width(), 0)).x() <= window->width());
    }
    QVERIFY(Child<QGroupBox>(*window, "frmnode")->width() == px(3255) && window->Chart().width() >= px(4095));
    QVERIFY(window->RevealDirectory(archive.toStdString()));
    QCoreApplication::processEvents();  // the layouts learn the title's width
    QVERIFY(window->minimumSizeHint().width() <= window->width());
}

void AnalysisWindowTest::ChartTextsAreWholeInsideTheChartAndApart() {
    // Crossing an axis-parallel line: the line runs through the inside of the box.
    auto crosses = [](const QRectF& box, const QLineF& line) {
        const QRectF span = QRectF(line.p1(), line.p2()).normalized();
        return span.left() < box.right() && span.right() > box.left() && span.top() < box.bottom() &&
               span.bottom() > box.top();
    };
    // Sizes, bytes, growths, nothing above 0 (no division by the largest
    // value), and a history of 50 points.
    std::vector<std::vector<double>> values = {{21, 15.8, 10.5, 5.3}, {5795668, 4000000, 12, 0}, {-1200, 3400, 0, -56},
                                               {0, -3, 0, 0}, {}};
    const std::vector<std::string> sizeLabels = {"/home/user/projects/a-long-directory-name", "b", "c", "d"};
    std::vector<std::string> historyLabels;
    for (int i = 0; i < 50; ++i) {
        values.back().push_back(1000.0 * i + 999);
        historyLabels.push_back(QString("2024-06-%1 12:00 ").arg(i % 28 + 1, 2, 10, QChar('0')).toStdString());
    }
    ChartWidget chart;
    const QFontMetricsF metrics(chart.TextFont(), &chart);
    for (const QSize size : {QSize(230, 150), QSize(560, 300), QSize(1500, 640)}) {
        chart.resize(size);
        for (const std::vector<double>& points : values) {
            for (const auto& [type, orientation] :
                 {std::pair{ChartType::Bar2D, 0}, {ChartType::Bar2D, 1}, {ChartType::Bar3D, 0}, {ChartType::Bar3D, 1},
                  {ChartType::Pie2D, 0}, {ChartType::Pie3D, 0}}) {
                chart.SetChart({.ChartPointCount = static_cast<int>(points.size()), .ChartValues = points,
                                .ChartLabels = points.size() == 50 ? historyLabels : sizeLabels, .Drawn = true,
                                .Title = "Analysis of Size (M) in the directory and everything below it",
                                .ChartType = type, .ChartOrientation = orientation});
                const ChartLayout layout = chart.LayOut();
                const QString at = QString("%1x%2 type %3/%4 first %5")
                                       .arg(size.width()).arg(size.height()).arg(static_cast<int>(type)).arg(orientation).arg(points[0]);
                QVERIFY2(layout.Texts.size() >= 4, qPrintable(at));
                for (const ChartText& text : layout.Texts) {
                    const QString what = at + " text " + text.Text;
                    QVERIFY2(QRectF(chart.rect()).adjusted(4, 2, -4, -4).contains(text.Box), qPrintable(what));
                    QVERIFY2(metrics.horizontalAdvance(text.Text) <= text.Box.width(), qPrintable(what));
                    QVERIFY2(!text.Box.intersects(layout.Title.Box), qPrintable(what));
                    for (const QRectF& bar : layout.Bars) QVERIFY2(!text.Box.intersects(bar), qPrintable(what));
                    for (const QLineF& line : layout.AxisLines) QVERIFY2(!crosses(text.Box, line), qPrintable(what));
                    for (const ChartText& other : layout.Texts) {
                        QVERIFY2(&other == &text || !text.Box.intersects(other.Box), qPrintable(what + "/" + other.Text));
                    }
                }
                for (const QRectF& bar : layout.Bars) QVERIFY2(bar.top() - layout.Depth > layout.Title.Box.bottom(), qPrintable(at));
                // Where the slots have room, one long name among short ones
                // is cut to its slot and the others keep their labels.
                if (orientation == 0 && type != ChartType::Pie2D && type != ChartType::Pie3D && size.width() >= 560 &&
                    points.size() == 4) {
                    QStringList texts;
                    for (const ChartText& text : layout.Texts) texts << text.Text;
                    QVERIFY2(texts.contains("b") && texts.contains("c") && texts.contains("d") &&
                                 texts.filter(QRegularExpression("directory-name$")).size() == 1,
                             qPrintable(at + ": " + texts.join("|")));
                }
            }
        }
    }
}

// The file system's used space grows 100,000 bytes a day from 100,000 at
// kOld, towards a size of 2,000,000: full 19 days after kOld. /data/big's
// own files grew most (6 MB) by kNew.
void AnalysisWindowTest::TrendWindowPlacesSnapshotsByDateAndForecastsTheFileSystemFull() {
    Fixture f;
    AddSnapshot(f.h.Database, DataSnapshot(kMid, 1.5));
    const std::pair<const char*, std::int64_t> free[] = {
        {kOld, 1900000}, {kMid, 1800000}, {kNew, 2000000 - 721191}};  // kNew is 6.2119 days on
    for (const auto& [key, bytes] : free) QVERIFY(WriteFilesystemRow(f.h.Database, Key(key), {2000000, bytes}).Ok());
    auto window = OpenOn(f, kNew);
    QVERIFY(Item(*window, "mentrend")->isEnabled() && Item(*window, "mentrend")->shortcut() == QKeySequence("Ctrl+T"));
    TrendWindow* trend = &OpenTrend(*window);
    const QPointer<TrendWindow> open(trend);

    // Sizes in the analysis window's unit; a rate under 1 MB in the unit that keeps it at least 1.
    auto* table = Child<QTableWidget>(*trend, "grdtrend");
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->horizontalHeaderItem(3)->text() + "|" + table->item(1, 0)->text() + "|" + table->item(1, 2)->text() +
                 "|" + table->item(1, 4)->text(),
             QString("FS size (MB)|2024-03-02 09:00:00|18|1"));
    QCOMPARE(Texts(*trend, {"lblforecast", "lblgrower"}),
             QString("Forecast: 2024-03-20 (between 2024-03-20 and 2024-03-20), 97.6 KB a day|Top grower: /data/big (+6 MB)"));

    // Time-scaled: the second snapshot sits a day after the first, the third 5.2 days later.
    trend->resize(900, 680);
    ShowExposed(*trend);
    const TrendChartLayout chart = trend->Chart().LayOut();
    QCOMPARE(chart.Directory.size(), std::size_t{3});
    const double day = chart.Directory[1].x() - chart.Directory[0].x();
    QVERIFY(std::abs(chart.Directory[2].x() - chart.Directory[1].x() - 5.2119 * day) < 1.0);
    // The forecast line meets the size line where the axis ends, at the full date.
    QVERIFY(std::abs(chart.ForecastLine.x2() - chart.FullMark.x1()) < 0.5 &&
            std::abs(chart.ForecastLine.y2() - chart.Size.back().y()) < 0.5 &&
            std::abs(chart.FullMark.x1() - chart.FilesystemPlot.right()) < 0.5);
    SaveScreenshot(*trend, "frmtrend");

    ClickButton(*trend, "cmdgrower");
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data/big"));
    const QString png = QStringLiteral(CORVINA_SCREENSHOT_DIR "/frmtrend_saved_chart.png");
    f.h.Dialogs.Answers = {QString::fromStdString(f.h.Dir.File("trend.svg")), png};
    ClickButton(*trend, "cmdsavechart");
    ClickButton(*trend, "cmdsavechart");
    QVERIFY(std::filesystem::file_size(f.h.Dir.File("trend.svg")) > 1000);
    QVERIFY(SavedLarge(trend->Chart(), png, chart.Directory[0], TrendChart::DirectoryColour()));
    trend->resize(1280, 990);  // maximised on a 1280 x 1024 screen; the offscreen one is smaller
    SaveScreenshot(*trend, "frmtrend_maximised");
    window.reset();
    QVERIFY(open.isNull());  // gone with the analysis window
}

// The on-disk figures of a DataSnapshot, in megabytes: its (files) entry,
// big/(files), big/deep, small and it's; the rest follows from them.
DiskRows DataOnDisk(const char* key, double files, double big, double deep, double small, double its) {
    const auto mb = [](double megabytes) { return static_cast<std::int64_t>(megabytes * 1048576); };
    const double total = files + big + deep + small + its;
    return {.Key = key,
            .Total = mb(total),
            .Dirs = {{"/data/(files)", mb(files)},         {"/data/big/(files)", mb(big)},
                     {"/data/big/deep/(files)", mb(deep)}, {"/data/big/deep", mb(deep)},
                     {"/data/big", mb(big + deep)},        {"/data/small/(files)", mb(small)},
                     {"/data/small", mb(small)},           {"/data/it's/(files)", mb(its)},
                     {"/data/it's", mb(its)},              {"/data", mb(total)}},
            .Files = {{"/data", "a.txt", mb(files / 2)},      {"/data", "b.doc", mb(files / 2)},
                      {"/data/big", "video.mp4", mb(big)},    {"/data/big/deep", "dump.bin", mb(deep)},
                      {"/data/small", "note.txt", mb(small)}, {"/data/it's", "quote.txt", mb(its)}}};
}

// On disk kNew's big is sparse (4 MB of 16) and it's takes 6 MB: it's leads
// the grid, and from kOld (once it has figures) it holds most of the growth.
// kNew left out "*.o", kOld nothing; kMid never has figures. The figures
// themselves are the analysis tests' concern: here the controls follow.
void AnalysisWindowTest::SizeBasisIsKeptAndTheGridTreeAndChartFollowIt() {
    Fixture f;
    AddSnapshot(f.h.Database, DataSnapshot(kMid, 1.5));
    AddDiskRows(f.h.Database, DataOnDisk(kNew, 2, 2, 2, 1, 6));
    AddExclusions(f.h.Database, kNew, {{"pattern", "*.o"}});
    const QString noFigure = QString::fromUtf8(kNoFigure.data(), static_cast<qsizetype>(kNoFigure.size()));
    {
        auto window = OpenOn(f, kNew);
        QVERIFY(Item(*window, "dispbasis_0")->isChecked() && !Item(*window, "dispbasis_1")->isChecked());
        Item(*window, "dispbasis_1")->trigger();
        QVERIFY(Item(*window, "dispbasis_1")->isChecked() && !Item(*window, "dispbasis_0")->isChecked());
        QCOMPARE(f.h.Settings.value("Preferences/SizeBasis").toString(), QString("disk"));
        QCOMPARE(Heading(*window, 2) + "|" + TotalCell(*window, 2), QString("Total size (MB on disk)|13"));
        QCOMPARE(DetailColumn(*window, 0), QStringList({"it's", "big", "(files)", "small"}));
        QCOMPARE(window->StatusText(), QString("Analysis of directory /data (on disk)"));
        QCOMPARE(window->Chart().Chart().Title, std::string("Analysis of Total size (MB on disk)"));
        Shoot(*window, "frmanal_disk");
        auto* sizes = Child<QMenu>(*window, "dispsizt");
        sizes->popup(window->mapToGlobal(QPoint(200, 40)));
        QVERIFY(QTest::qWaitForWindowExposed(sizes));
        SaveScreenshot(*sizes, "frmanal_disk_menu");
        sizes->close();

        // A snapshot taken before on-disk figures shows none, and says so.
        Choose(*window, kOld, "comsnap");
        QCOMPARE(TotalCell(*window, 2) + "|" + TotalCell(*window, 3), noFigure + "|" + noFigure);
        QVERIFY(window->StatusText().startsWith("Analysis of directory /data (on disk)   " + noFigure + " marks"));
        QVERIFY(!window->Chart().isVisible());
        SaveScreenshot(*window, "frmanal_disk_older");
    }

    // A program started again: a new session and window on the same settings.
    SessionMessages messages{f.h.Prompter, f.h.Database};
    AnalysisSession session{f.h.Database, messages};
    SnapshotChoice choice;
    session.PreferPrime(Key(kNew));
    AnalysisWindow window(f.h.Context, session, choice);
    window.Load();
    QVERIFY(Item(window, "dispbasis_1")->isChecked());
    QCOMPARE(Heading(window, 2) + "|" + TotalCell(window, 2), QString("Total size (MB on disk)|13"));

    // kOld has no figures: the tree shows no growth on disk, asked once per
    // pair whether to show apparent sizes instead.
    DirectoryTreeModel& tree = window.Tree();
    f.h.Prompter.Script({Answer::No});
    Choose(window, kOld);
    QCOMPARE(f.h.Prompter.Texts(),
             std::vector<std::string>{"Snapshot 2024-03-01 09:00:00 has no on-disk figures (it was taken before they "
                                      "were recorded): the two snapshots cannot be compared on disk.\n"
                                      "Show apparent sizes instead?"});
    QVERIFY(window.TreeView().isColumnHidden(1) && !Item(window, "menfollow")->isEnabled());
    Item(window, "mendir_1")->trigger();
    QCOMPARE(f.h.Prompter.Texts().size(), std::size_t{1});
    QVERIFY(window.StatusText().startsWith("Cannot compare on disk: snapshot 2024-03-01 09:00:00 has no on-disk"));
    QCOMPARE(window.Grid().DetailModel().rowCount(), 0);
    Shoot(window, "frmanal_disk_cannot_compare");
    // Choosing the basis again asks again; Yes shows apparent sizes.
    Item(window, "dispbasis_1")->trigger();
    QCOMPARE(f.h.Prompter.Texts().size(), std::size_t{2});
    QVERIFY(Item(window, "dispbasis_0")->isChecked());
    QCOMPARE(f.h.Settings.value("Preferences/SizeBasis").toString(), QString("apparent"));
    QCOMPARE(Growth(window), QStringList({"+1 MB", "+8 MB", "+3 MB", "+0 MB", "+12 MB"}));
    QCOMPARE(window.StatusText(), QString("Compare /data from 1 Mar to 7 Mar   The snapshots left out different "
                                          "entries: 7 Mar left out \"*.o\", 1 Mar nothing"));
    // So does choosing such a compare snapshot on disk: the grid shows apparent sizes under their headings.
    Item(window, "mendir_0")->trigger();
    Choose(window, kNew, "comsnap");
    Item(window, "dispbasis_1")->trigger();
    QCOMPARE(TotalCell(window, 2), QString("13"));
    Choose(window, kOld);
    QCOMPARE(f.h.Prompter.Texts().size(), std::size_t{3});
    QCOMPARE(Heading(window, 2) + "|" + TotalCell(window, 2), QString("Total size (MB)      |25"));

    // Once kOld has figures, the growth, the comparison and the way down follow the blocks.
    AddDiskRows(f.h.Database, DataOnDisk(kOld, 1, 1, 1, 1, 2));
    Choose(window, kOld);
    Item(window, "mendir_1")->trigger();
    Item(window, "dispbasis_1")->trigger();
    QCOMPARE(f.h.Prompter.Texts().size(), std::size_t{3});
    QCOMPARE(Growth(window), QStringList({"+1 MB", "+2 MB", "+4 MB", "", "+7 MB"}));
    QCOMPARE(Heading(window, 1), QString("Size (7 Mar) (MB on disk)"));
    QVERIFY(window.StatusText().startsWith("Compare /data from 1 Mar to 7 Mar (on disk)   The snapshots left out"));
    SaveScreenshot(window, "frmanal_disk_compare");
    Item(window, "mendir_0")->trigger();
    ClickNode(window, tree.RootIndex());
    Item(window, "menfollow")->trigger();
    QCOMPARE(window.TreeView().currentIndex(), NodeNamed(window, tree.RootIndex(), "it's"));
    QCOMPARE(window.StatusText(), QString("Analysis of directory /data/it's (on disk)"));
    SaveScreenshot(window, "frmanal_disk_growth");

    // The trend of /data on disk: no point where nothing was recorded.
    ClickNode(window, tree.RootIndex());
    TrendWindow* trend = &OpenTrend(window);
    auto* table = Child<QTableWidget>(*trend, "grdtrend");
    QCOMPARE(table->horizontalHeaderItem(2)->text() + "|" + table->item(0, 2)->text() + "|" + table->item(1, 2)->text(),
             "Size on disk (MB)|6|" + noFigure);
    ShowExposed(*trend);
    QCOMPARE(trend->Chart().LayOut().Directory.size(), std::size_t{2});
    SaveScreenshot(*trend, "frmtrend_disk");
}

QTEST_MAIN(AnalysisWindowTest)
// Beside a database server only (tests/server/with_server.sh): the selection
// window switches to a server's database by its connection text, lists what
// the server holds, and keeps the text without its password.
void AnalysisWindowTest::ServerDatabaseIsChosenByItsConnectionAndItsPasswordIsNotKept() {
    if (TestServer().empty()) QSKIP("runs beside a database server");
    ServerSchema schema;
    WithDatabase(schema.Location(), [](DatabaseState& server) {
        AddSnapshot(server, {.Key = kNew, .BasePath = "/srv/caf\xc3\xa9", .Dirs = {{"2", "/srv/caf\xc3\xa9", 1, 4096}},
                             .Files = {{"/srv/caf\xc3\xa9", "menu \xff.txt", 4096, "2024-03-07 10:00:00"}}});
    });
    Fixture f;
    ShownSelection window(f, f.choice);
    f.h.Dialogs.Answers = {"just-a-file.mdb", QString::fromStdString(schema.Location() + " password=s3cret")};
    auto* server = Child<QAction>(window, "menserver");
    server->trigger();
    QCOMPARE(f.h.Prompter.Texts().size(), std::size_t{1});
    QVERIFY(f.h.Prompter.Texts()[0].find("names no database server") != std::string::npos);
    server->trigger();
    QCOMPARE(Child<QListWidget>(window, "lstdir")->item(0)->text(), QString("/srv/caf\u00e9"));
    ClickBasePath(window, "/srv/caf\u00e9");
    QCOMPARE(Dates(window), QStringList({kNew}));
    const QString status = window.StatusText();
    QVERIFY2(status.contains("search_path") && !status.contains("s3cret"), qPrintable(status));
    QCOMPARE(f.h.Settings.value("Recent/File1").toString(), QString::fromStdString(schema.Location()));
    SaveScreenshot(window, "frmselsnap_server");
}

#include "AnalysisWindowTest.moc"
