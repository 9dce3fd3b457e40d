// The analysis window driven as a user drives it: choosing snapshots through
// the selection window, menus, the tree, grid clicks, the panes.

#include <QAction>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QtTest>

#include "analysis/AnalysisCatalogue.h"
#include "tests/ui/AnalysisFixture.h"
#include "tests/ui/WindowHarness.h"
#include "ui/TakeSnapshotWindow.h"
#include "ui/AnalysisLauncher.h"
#include "ui/AnalysisWindow.h"
#include "ui/ChartWidget.h"
#include "ui/DirectoryTreeModel.h"
#include "ui/ResultGridView.h"
#include "ui/Twips.h"

using namespace corvina;
using namespace corvina::test;

namespace {

constexpr const char* kOld = "2024-03-01 09:00:00";
constexpr const char* kNew = "2024-03-07 14:05:09";

struct Fixture {
    Harness h;
    AnalysisSession session{h.Database, h.Prompter};
    SnapshotChoice choice;
    explicit Fixture(bool newCollects = true, bool oldCollects = true) {
        h.OpenNewDatabase();
        AddSnapshot(h.Database, DataSnapshot(kOld, 1.0, oldCollects));
        AddSnapshot(h.Database, DataSnapshot(kNew, 2.0, newCollects));
    }
};

// A window already showing the prime snapshot key.
std::unique_ptr<AnalysisWindow> OpenOn(Fixture& f, const char* key) {
    f.session.PreferPrime(Key(key));
    auto window = std::make_unique<AnalysisWindow>(f.h.Context, f.session, f.choice);
    window->Load();
    return window;
}

QStringList Headings(AnalysisWindow& window) {
    QStringList texts;
    ResultGridModel& model = window.Grid().DetailModel();
    for (int c = 0; c < model.columnCount(); ++c) texts << model.headerData(c, Qt::Horizontal).toString();
    return texts;
}

QStringList DetailColumn(AnalysisWindow& window, int column) {
    QStringList texts;
    ResultGridModel& model = window.Grid().DetailModel();
    for (int r = 0; r < model.rowCount(); ++r) texts << model.index(r, column).data().toString();
    return texts;
}

QString TotalCell(AnalysisWindow& window, int column) {
    return window.Grid().FixedModel().index(0, column).data().toString();
}

QAction* Item(AnalysisWindow& window, const char* name) { return Child<QAction>(window, name); }

QModelIndex NodeNamed(AnalysisWindow& window, const QModelIndex& parent, const QString& text) {
    DirectoryTreeModel& tree = window.Tree();
    for (int r = 0; r < tree.rowCount(parent); ++r) {
        if (tree.index(r, 0, parent).data().toString() == text) return tree.index(r, 0, parent);
    }
    qFatal("no node %s", qPrintable(text));
}

void ClickNode(AnalysisWindow& window, const QModelIndex& index) {
    QTreeView& view = window.TreeView();
    view.scrollTo(index);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(index).center());
}

void ClickHeading(AnalysisWindow& window, int column) {
    QHeaderView* header = window.Grid().FixedTable().horizontalHeader();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

void SendMouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

}  // namespace

class AnalysisWindowTest : public QObject {
    Q_OBJECT
private slots:
    void FirstStartChoosesSnapshotBeforeShowingTreeAndDirectoryDetails();
    void CancelledFirstChoiceAndDeletedPrimeLeaveAnEmptyWindow();
    void CompareChoiceNeedsASecondSnapshotOfThePath();
    void CompareChoiceEnablesComparisonsAndLeavesTheResultAlone();
    void FileMenusFollowWhatTheSnapshotsRecorded();
    void EveryAnalysisRunsFromItsMenuItemWithOneCheckMark();
    void SwapTwiceReturnsToTheFirstState();
    void UnitChangeRerunsWhileChartChangeOnlyRedraws();
    void HeadingClickSortsAndChartsButHistoryKeepsItsOrder();
    void SortingATruncatedResultWarnsFirst();
    void NodeClicksMoveTheAnalysisAndCollapseChildren();
    void PanesKeepTheirRulesAtTheSmallestWindow();
    void TakeSnapshotAndExitLeaveTheWindow();
    void ScreenshotsOfEachChartAndAComparison();
    void AnalyseOpensTheWindowAndTakeSnaphotGoesBack();
};

void AnalysisWindowTest::FirstStartChoosesSnapshotBeforeShowingTreeAndDirectoryDetails() {
    Fixture f;
    AnalysisWindow window(f.h.Context, f.session, f.choice);
    bool shownBeforeChoice = true;
    SelectionDriver driver([&](QWidget& selection) {
        shownBeforeChoice = window.isVisible();
        ChooseInSelection(selection, "/data", kNew);
    });
    window.Load();
    QCOMPARE(driver.Opened(), 1);
    QVERIFY(!shownBeforeChoice);
    QVERIFY(window.isVisible());
    QCOMPARE(window.windowTitle(), QString("Analyze Disk Snapshot"));
    QCOMPARE(Child<QLineEdit>(window, "txtpath")->text(), QString("/data"));
    QCOMPARE(Child<QLineEdit>(window, "txtsnap")->text(), QString(kNew));

    // The tree shows its first level at once.
    const QModelIndex root = window.Tree().RootIndex();
    QCOMPARE(root.data().toString(), QString("/data"));
    QVERIFY(window.TreeView().isExpanded(root));
    QCOMPARE(window.Tree().rowCount(root), 4);

    QVERIFY(Item(window, "mendir_0")->isChecked());
    QCOMPARE(window.StatusText(), QString("Analysis of directory /data"));
    QCOMPARE(Headings(window),
             QStringList({"Directory Name", "# of Files", "Total size (MB)      ", "% of Total"}));
    QCOMPARE(TotalCell(window, 2), QString("25"));
    QCOMPARE(TotalCell(window, 0), QString("Total for /data"));
    QCOMPARE(DetailColumn(window, 0), QStringList({"big", "it's", "(files)", "small"}));
    QCOMPARE(DetailColumn(window, 2), QStringList({"16", "6", "2", "1"}));
    QVERIFY(Child<ChartWidget>(window, "grpdisp")->isVisible());
    QVERIFY(!Child<QLabel>(window, "lblgraph")->isVisible());
    QCOMPARE(window.Chart().Chart().ChartPointCount, 4);
    // Without a compare snapshot the comparisons and Swap are off.
    for (const char* name : {"mendir_1", "mendir_2", "mendir_3", "menfile_2", "menfile_3", "menfile_4", "menswap"}) {
        QVERIFY2(!Item(window, name)->isEnabled(), name);
    }
    QVERIFY(Child<QMenu>(window, "menfilet")->isEnabled());
    QVERIFY(Item(window, "dispsize_2")->isChecked());
    QVERIFY(Item(window, "menctype_0")->isChecked());
    QVERIFY(Item(window, "mencvert_0")->isChecked());
    QVERIFY(f.h.Prompter.Texts().empty());
}

void AnalysisWindowTest::CancelledFirstChoiceAndDeletedPrimeLeaveAnEmptyWindow() {
    Fixture f;
    AnalysisWindow window(f.h.Context, f.session, f.choice);
    {
        SelectionDriver cancel([](QWidget& selection) { selection.close(); });
        window.Load();
    }
    QVERIFY(window.isVisible());
    QCOMPARE(window.Tree().rowCount(), 0);
    QCOMPARE(window.Grid().DetailModel().rowCount(), 0);
    QCOMPARE(Headings(window).at(0), QString("Directory Name"));
    QVERIFY(Child<QLabel>(window, "lblgraph")->isVisible());
    QVERIFY(!Child<QMenu>(window, "menfilet")->isEnabled());

    {
        SelectionDriver choose([](QWidget& selection) { ChooseInSelection(selection, "/data", kNew); });
        QTest::mouseClick(Child<QPushButton>(window, "comsnap"), Qt::LeftButton);
    }
    QCOMPARE(window.Tree().rowCount(), 1);
    // The shown snapshot deleted in the selection window, which is then cancelled.
    f.h.Prompter.Script({Answer::Yes});
    SelectionDriver remove([](QWidget& selection) {
        ClickBasePath(selection, "/data");
        ClickSnapshotRow(selection, kNew);
        QTest::mouseClick(selection.findChild<QPushButton*>("comdel"), Qt::LeftButton);
        QTest::mouseClick(selection.findChild<QPushButton*>("comcan"), Qt::LeftButton);
    });
    QTest::mouseClick(Child<QPushButton>(window, "comsnap"), Qt::LeftButton);
    QCOMPARE(remove.Opened(), 1);
    QCOMPARE(window.Tree().rowCount(), 0);
    QCOMPARE(window.Grid().DetailModel().rowCount(), 0);
    QVERIFY(Child<QLineEdit>(window, "txtsnap")->text().isEmpty());
}

void AnalysisWindowTest::CompareChoiceNeedsASecondSnapshotOfThePath() {
    Harness h;
    h.OpenNewDatabase();
    AddSnapshot(h.Database, DataSnapshot(kNew));
    AnalysisSession session(h.Database, h.Prompter);
    session.PreferPrime(Key(kNew));
    SnapshotChoice choice;
    choice.PathSnapshotCount = 5;  // a listing of another path does not count
    AnalysisWindow window(h.Context, session, choice);
    window.Load();
    SelectionDriver driver([](QWidget& selection) { selection.close(); });
    QTest::mouseClick(Child<QPushButton>(window, "comsnap2"), Qt::LeftButton);
    QCOMPARE(h.Prompter.Texts(), std::vector<std::string>{"No other snapshots with same path to compare to"});
    QCOMPARE(driver.Opened(), 0);
    QVERIFY(!Item(window, "menswap")->isEnabled());
}

void AnalysisWindowTest::CompareChoiceEnablesComparisonsAndLeavesTheResultAlone() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    const QStringList before = DetailColumn(*window, 2);
    const QString status = window->StatusText();
    SelectionDriver driver([](QWidget& selection) { ChooseInSelection(selection, "/data", kOld); });
    QTest::mouseClick(Child<QPushButton>(*window, "comsnap2"), Qt::LeftButton);
    QCOMPARE(driver.Opened(), 1);
    QCOMPARE(Child<QLineEdit>(*window, "txtsnap2")->text(), QString(kOld));
    for (const char* name : {"mendir_1", "mendir_2", "mendir_3", "menfile_2", "menfile_3", "menfile_4", "menswap"}) {
        QVERIFY2(Item(*window, name)->isEnabled(), name);
    }
    QCOMPARE(DetailColumn(*window, 2), before);
    QCOMPARE(window->StatusText(), status);

    // Different days: the headings carry day and month.
    Item(*window, "mendir_1")->trigger();
    QVERIFY(Item(*window, "mendir_1")->isChecked());
    QVERIFY(!Item(*window, "mendir_0")->isChecked());
    QCOMPARE(Headings(*window).at(1), QString("Size (7 Mar) (MB)      "));
    QCOMPARE(Headings(*window).at(2), QString("Size (1 Mar) (MB)      "));
    QCOMPARE(window->StatusText(), QString("Compare /data from 1 Mar to 7 Mar"));
    // The whole tree doubled: /data grew by 12 MB of which big brought 8.
    QCOMPARE(TotalCell(*window, 0), QString("Total for /data"));
    QCOMPARE(TotalCell(*window, 5), QString("100"));
    const int big = static_cast<int>(DetailColumn(*window, 0).indexOf("big"));
    QVERIFY(big >= 0);
    QCOMPARE(DetailColumn(*window, 1).at(big), QString("16"));
    QCOMPARE(DetailColumn(*window, 2).at(big), QString("8"));
    QCOMPARE(DetailColumn(*window, 3).at(big), QString("8"));
    QCOMPARE(DetailColumn(*window, 5).at(big), QString("64"));
    QVERIFY(f.h.Prompter.Texts().empty());

    // Choosing the prime snapshot again clears the compare row and menus.
    SelectionDriver prime([](QWidget& selection) { ChooseInSelection(selection, "/data", kNew); });
    QTest::mouseClick(Child<QPushButton>(*window, "comsnap"), Qt::LeftButton);
    QVERIFY(Child<QLineEdit>(*window, "txtsnap2")->text().isEmpty());
    QVERIFY(!Item(*window, "menswap")->isEnabled());
}

void AnalysisWindowTest::FileMenusFollowWhatTheSnapshotsRecorded() {
    Fixture f(/*newCollects=*/true, /*oldCollects=*/false);
    auto window = OpenOn(f, kNew);
    SelectionDriver driver([](QWidget& selection) { ChooseInSelection(selection, "/data", kOld); });
    QTest::mouseClick(Child<QPushButton>(*window, "comsnap2"), Qt::LeftButton);
    QVERIFY(Item(*window, "mendir_1")->isEnabled());
    QVERIFY(Item(*window, "menswap")->isEnabled());
    for (const char* name : {"menfile_2", "menfile_3", "menfile_4"}) QVERIFY2(!Item(*window, name)->isEnabled(), name);
    QVERIFY(Child<QMenu>(*window, "menfilet")->isEnabled());

    // With the snapshot without files as the prime, the whole file menu is off.
    Item(*window, "menswap")->trigger();
    QVERIFY(!Child<QMenu>(*window, "menfilet")->isEnabled());
    for (const char* name : {"menfile_2", "menfile_3", "menfile_4"}) QVERIFY2(Item(*window, name)->isEnabled(), name);
}

void AnalysisWindowTest::EveryAnalysisRunsFromItsMenuItemWithOneCheckMark() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    SelectionDriver driver([](QWidget& selection) { ChooseInSelection(selection, "/data", kOld); });
    QTest::mouseClick(Child<QPushButton>(*window, "comsnap2"), Qt::LeftButton);
    const QList<QAction*> items =
        Child<QMenu>(*window, "menviewh")->actions() + Child<QMenu>(*window, "menfilet")->actions();
    QStringList titles;
    for (QAction* item : items) {
        item->trigger();
        int checked = 0;
        for (QAction* any : items) checked += any->isChecked() ? 1 : 0;
        QCOMPARE(checked, 1);
        QVERIFY(item->isChecked());
        titles << window->StatusText();
    }
    QCOMPARE(static_cast<std::size_t>(titles.size()), AnalysisCatalogue().size());
    QCOMPARE(static_cast<int>(titles.removeDuplicates()), 0);
    QVERIFY(f.h.Prompter.Texts().empty());
    // The checked item chosen again runs again.
    items.back()->trigger();
    QVERIFY(items.back()->isChecked());
    QCOMPARE(window->StatusText(), titles.back());
}

void AnalysisWindowTest::SwapTwiceReturnsToTheFirstState() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    SelectionDriver driver([](QWidget& selection) { ChooseInSelection(selection, "/data", kOld); });
    QTest::mouseClick(Child<QPushButton>(*window, "comsnap2"), Qt::LeftButton);
    // Looking at a subdirectory before the swap.
    ClickNode(*window, NodeNamed(*window, window->Tree().RootIndex(), "big"));
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data/big"));
    const QStringList first = DetailColumn(*window, 2);

    Item(*window, "menswap")->trigger();
    QCOMPARE(Child<QLineEdit>(*window, "txtsnap")->text(), QString(kOld));
    QCOMPARE(Child<QLineEdit>(*window, "txtsnap2")->text(), QString(kNew));
    // The tree is built again and the analysis runs on the base path.
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data"));
    QCOMPARE(TotalCell(*window, 2), QString("12"));

    Item(*window, "menswap")->trigger();
    QCOMPARE(Child<QLineEdit>(*window, "txtsnap2")->text(), QString(kOld));
    QCOMPARE(TotalCell(*window, 2), QString("25"));
    QVERIFY(first != DetailColumn(*window, 2));  // the base path again, not big
    QVERIFY(Item(*window, "menswap")->isEnabled());
}

void AnalysisWindowTest::UnitChangeRerunsWhileChartChangeOnlyRedraws() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    // Sorted by name: a rerun would bring back the order by size.
    ClickHeading(*window, 0);
    const QStringList byName = DetailColumn(*window, 0);
    QCOMPARE(byName, QStringList({"(files)", "big", "it's", "small"}));
    Item(*window, "menctype_3")->trigger();
    QVERIFY(Item(*window, "menctype_3")->isChecked());
    QVERIFY(!Item(*window, "menctype_0")->isChecked());
    QCOMPARE(window->Chart().Chart().ChartType, kChart3DPie);
    Item(*window, "mencvert_1")->trigger();
    QCOMPARE(window->Chart().Chart().ChartOrientation, 1);
    QCOMPARE(DetailColumn(*window, 0), byName);

    Item(*window, "dispsize_1")->trigger();
    QVERIFY(Item(*window, "dispsize_1")->isChecked());
    QVERIFY(!Item(*window, "dispsize_2")->isChecked());
    QCOMPARE(Headings(*window).at(2), QString("Total size (KB)      "));
    QCOMPARE(TotalCell(*window, 2), QString("25600"));
    QCOMPARE(DetailColumn(*window, 0).front(), QString("big"));
    Item(*window, "dispsize_0")->trigger();
    QCOMPARE(Headings(*window).at(2), QString("Total size (Bytes)   "));
    QCOMPARE(TotalCell(*window, 2), QString("26214400"));
}

void AnalysisWindowTest::HeadingClickSortsAndChartsButHistoryKeepsItsOrder() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    ClickHeading(*window, 1);  // "# of Files", largest first
    QCOMPARE(DetailColumn(*window, 1), QStringList({"2", "2", "1", "1"}));
    QCOMPARE(TotalCell(*window, 0), QString("Total for /data"));  // the total row stays on top
    QCOMPARE(f.session.Settings().ChartColumn, 1);
    QCOMPARE(window->Chart().Chart().Title, std::string("Analysis of # of Files"));
    // A click on a detail cell sorts on its column as well.
    QTableView& rows = window->Grid().DetailTable();
    QTest::mouseClick(rows.viewport(), Qt::LeftButton, {}, rows.visualRect(rows.model()->index(1, 0)).center());
    QCOMPARE(DetailColumn(*window, 0).front(), QString("(files)"));
    QCOMPARE(f.session.Settings().ChartColumn, 0);
    QVERIFY(!window->Chart().isVisible());  // names are no numbers
    QVERIFY(Child<QLabel>(*window, "lblgraph")->isVisible());

    Item(*window, "mendir_4")->trigger();
    QCOMPARE(Headings(*window).at(0), QString("Date"));
    const QStringList dates = DetailColumn(*window, 0);
    QCOMPARE(dates.size(), 2);
    ClickHeading(*window, 2);
    QCOMPARE(DetailColumn(*window, 0), dates);  // oldest first still
    QCOMPARE(f.session.Settings().ChartColumn, 2);
    QVERIFY(window->Chart().isVisible());
    ClickHeading(*window, 0);
    QVERIFY(!window->Chart().isVisible());
    QVERIFY(f.h.Prompter.Texts().empty());
}

void AnalysisWindowTest::SortingATruncatedResultWarnsFirst() {
    Harness h;
    h.OpenNewDatabase();
    SnapshotRows snap;
    snap.Key = kNew;
    snap.BasePath = "/t";
    snap.Dirs = {{"1", "/t/(files)", 1005, 1005 * 1000.0}, {"2", "/t", 1005, 1005 * 1000.0}};
    for (int i = 0; i < 1005; ++i) snap.Files.push_back({"/t", "f" + std::to_string(10000 + i), 1000 + i});
    AddSnapshot(h.Database, snap);
    AnalysisSession session(h.Database, h.Prompter);
    session.PreferPrime(Key(kNew));
    SnapshotChoice choice;
    AnalysisWindow window(h.Context, session, choice);
    window.Load();
    Item(window, "dispsize_0")->trigger();
    Item(window, "menfile_0")->trigger();
    QCOMPARE(h.Prompter.Texts(), std::vector<std::string>{"Display truncated after 1000 entries"});
    QCOMPARE(window.Grid().DetailModel().rowCount(), 999);
    h.Prompter.Clear();
    ClickHeading(window, 0);  // by name, ascending
    QCOMPARE(h.Prompter.Texts(),
             std::vector<std::string>{"Because the display has been truncated, the display is incomplete.\n"
                                      "Sorting on a column will only give partial results.\n"
                                      "Do the analysis on sub-directories to avoid this problem."});
    QCOMPARE(DetailColumn(window, 0).front(), QString("f10006"));
}

void AnalysisWindowTest::NodeClicksMoveTheAnalysisAndCollapseChildren() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    SelectionDriver driver([](QWidget& selection) { ChooseInSelection(selection, "/data", kOld); });
    QTest::mouseClick(Child<QPushButton>(*window, "comsnap2"), Qt::LeftButton);
    const QModelIndex root = window->Tree().RootIndex();
    const QModelIndex big = NodeNamed(*window, root, "big");
    window->TreeView().expand(big);
    const QModelIndex deep = NodeNamed(*window, big, "deep");
    window->TreeView().expand(deep);
    QVERIFY(window->TreeView().isExpanded(deep));

    ClickNode(*window, big);
    QVERIFY(window->TreeView().isExpanded(big));
    QVERIFY(!window->TreeView().isExpanded(deep));
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data/big"));
    QCOMPARE(DetailColumn(*window, 0), QStringList({"(files)", "deep"}));

    // A quote in a name is an ordinary character.
    ClickNode(*window, NodeNamed(*window, root, "it's"));
    QVERIFY(f.h.Prompter.Texts().empty());
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data/it's"));
    QCOMPARE(TotalCell(*window, 2), QString("6"));
    QCOMPARE(DetailColumn(*window, 0), QStringList({"(files)"}));

    ClickNode(*window, root);
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data"));
    QVERIFY(!window->TreeView().isExpanded(big));
    // A total that cannot be read is said once, counts 0, and the click goes on.
    f.h.Database.SnapshotDatabase->exec("ALTER TABLE Dir RENAME TO Dir_gone");
    ClickNode(*window, big);
    QCOMPARE(f.h.Prompter.Texts().front(),
             std::string("Error: 1 no such table: Dir\nWhile processing directory /data/big"));
    QCOMPARE(f.session.State().DirTotal, 0.0);
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data/big"));
}

void AnalysisWindowTest::PanesKeepTheirRulesAtTheSmallestWindow() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QWidget* area = window->centralWidget();
    auto* grid = Child<QGroupBox>(*window, "frmdisp");
    auto* chart = Child<QGroupBox>(*window, "frmgraph");
    auto* tree = Child<QGroupBox>(*window, "frmnode");
    const int gridHeight = grid->height();
    const int treeWidth = tree->width();

    window->resize(50, 50);
    QCoreApplication::processEvents();
    const PaneLayout& panes = window->Panes();
    QVERIFY(area->width() >= TwipsToPixels(panes.MinimumWidth(), *area) - 1);
    QVERIFY(area->height() >= TwipsToPixels(panes.MinimumHeight(), *area) - 1);
    QCOMPARE(grid->height(), gridHeight);
    QCOMPARE(tree->width(), treeWidth);
    QVERIFY(std::abs(panes.frmgraph.Height - PaneLayout::kSmallestChartPaneHeight) <= 30);
    QVERIFY(chart->geometry().bottom() <= area->height());
    QVERIFY(grid->geometry().right() <= area->width());
    QCOMPARE(panes.grpdisp.Height, 0);

    window->resize(1400, 900);
    QCoreApplication::processEvents();
    QCOMPARE(grid->height(), gridHeight);
    QVERIFY(chart->height() > TwipsToPixels(3000, *area));
    QCOMPARE(chart->geometry().right(), grid->geometry().right());

    // The grid pane's bottom strip drags the splitter: the pane's bottom
    // follows the pointer, 30 pixels up.
    const QPoint zone(grid->width() / 2, grid->height() - TwipsToPixels(100, *grid));
    SendMouse(*grid, QEvent::MouseMove, zone, Qt::NoButton);
    QCOMPARE(grid->cursor().shape(), Qt::SizeVerCursor);
    SendMouse(*grid, QEvent::MouseButtonPress, zone, Qt::LeftButton);
    const int chartBottom = chart->geometry().bottom();
    SendMouse(*grid, QEvent::MouseMove, zone - QPoint(0, 30), Qt::LeftButton);
    QVERIFY(std::abs(grid->height() - (zone.y() - 30)) <= 1);
    QVERIFY(std::abs(chart->geometry().bottom() - chartBottom) <= 1);
    SendMouse(*grid, QEvent::MouseButtonRelease, zone - QPoint(0, 30), Qt::NoButton);
    QCOMPARE(panes.SplitterDrag, std::string("N"));
    QCOMPARE(grid->cursor().shape(), Qt::ArrowCursor);
}

void AnalysisWindowTest::TakeSnapshotAndExitLeaveTheWindow() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    int opened = 0;
    window->SetTakeSnapshotOpener([&]() { ++opened; });
    Item(*window, "mentake")->trigger();
    QCOMPARE(opened, 1);
    QVERIFY(!window->isVisible());
    QVERIFY(!f.h.Database.IsUsable());

    // Opened again later, the window shows the same prime snapshot at once.
    f.h.Database.DatabasePath = f.h.Database.DatabasePath.empty() ? std::string() : f.h.Database.DatabasePath;
    QVERIFY(OpenSnapshotDatabase(f.h.Database, f.h.Prompter, f.h.Ender) == OpenOutcome::Opened);
    SelectionDriver driver([](QWidget& selection) { selection.close(); });
    AnalysisWindow again(f.h.Context, f.session, f.choice);
    again.Load();
    QCOMPARE(driver.Opened(), 0);
    QCOMPARE(Child<QLineEdit>(again, "txtsnap")->text(), QString(kNew));
    Item(again, "menexit")->trigger();
    QVERIFY(f.h.Ender.Ended);
    QVERIFY(!f.h.Database.IsUsable());
}

void AnalysisWindowTest::ScreenshotsOfEachChartAndAComparison() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    window->resize(1000, 640);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const char* types[] = {"2d_bar", "3d_bar", "2d_pie", "3d_pie"};
    for (int i = 0; i < 4; ++i) {
        Item(*window, qPrintable(QString("menctype_%1").arg(i)))->trigger();
        QCoreApplication::processEvents();
        SaveScreenshot(*window, QString("frmanal_%1").arg(types[i]));
    }
    Item(*window, "menctype_1")->trigger();
    Item(*window, "mencvert_1")->trigger();
    SaveScreenshot(*window, "frmanal_3d_bar_horizontal");
    Item(*window, "mencvert_0")->trigger();
    Item(*window, "menctype_0")->trigger();
    SelectionDriver driver([](QWidget& selection) { ChooseInSelection(selection, "/data", kOld); });
    QTest::mouseClick(Child<QPushButton>(*window, "comsnap2"), Qt::LeftButton);
    Item(*window, "mendir_1")->trigger();
    ClickHeading(*window, 3);
    QCoreApplication::processEvents();
    SaveScreenshot(*window, "frmanal_compare");
    QVERIFY(window->Chart().isVisible());
    Item(*window, "menfile_1")->trigger();
    ClickHeading(*window, 0);
    QVERIFY(Child<QLabel>(*window, "lblgraph")->isVisible());
    SaveScreenshot(*window, "frmanal_no_chart");
    window->resize(10, 10);
    QCoreApplication::processEvents();
    SaveScreenshot(*window, "frmanal_smallest");
}

void AnalysisWindowTest::AnalyseOpensTheWindowAndTakeSnaphotGoesBack() {
    Fixture f;
    TakeSnapshotWindow take(f.h.Context);
    take.show();
    AnalysisLauncher launcher(f.h.Context, take);
    SelectionDriver driver([](QWidget& selection) { ChooseInSelection(selection, "/data", kNew); });
    Child<QAction>(take, "menanal")->trigger();
    QCOMPARE(driver.Opened(), 1);
    QVERIFY(!take.isVisible());
    QPointer<AnalysisWindow> window = launcher.Window();
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data"));

    Item(*window, "mentake")->trigger();
    QVERIFY(take.isVisible());
    QTRY_VERIFY(window.isNull());  // the analysis window went with its close

    // Back again: the same prime snapshot, without choosing it anew.
    Child<QAction>(take, "menanal")->trigger();
    QCOMPARE(driver.Opened(), 1);
    QVERIFY(launcher.Window() != nullptr);
    QCOMPARE(Child<QLineEdit>(*launcher.Window(), "txtsnap")->text(), QString(kNew));
    QCOMPARE(launcher.Window()->StatusText(), QString("Analysis of directory /data"));
    QVERIFY(f.h.Prompter.Texts().empty());
}

QTEST_MAIN(AnalysisWindowTest)
#include "AnalysisWindowTest.moc"
