// The pieces of the analysis window on their own: the directory tree model,
// the pane geometry and the chart painting. The grid models run under the
// model tester in the window test.

#include <QAbstractItemModelTester>
#include <QTreeView>
#include <QtTest>

#include "tests/ui/AnalysisFixture.h"
#include "tests/ui/WindowHarness.h"
#include "ui/ChartWidget.h"
#include "ui/DirectoryTreeModel.h"
#include "ui/PaneLayout.h"

using namespace corvina;
using namespace corvina::test;

namespace {

QStringList ChildTexts(const QAbstractItemModel& model, const QModelIndex& parent) {
    QStringList texts;
    for (int r = 0; r < model.rowCount(parent); ++r) texts << model.index(r, 0, parent).data().toString();
    return texts;
}

}  // namespace

class AnalysisModelsTest : public QObject {
    Q_OBJECT
private slots:
    void TreeLoadsChildrenOnExpansionAndStopsAtTheSeparator();
    void TreeReportsAFailedReadOnce();
    void TreeWithRowsWhoseParentIsMissingIsReported();
    void PanesFollowTheWindowKeepTheirSmallestSizesAndDragFromTheGrabZones();
    void ChartPaintsEachPointInItsColourAndSurvivesZeroAndNegativeValues();
    void ChartTextsAreWholeInsideTheChartAndApart();
};

void AnalysisModelsTest::TreeLoadsChildrenOnExpansionAndStopsAtTheSeparator() {
    Harness h;
    h.OpenNewDatabase();
    // Under the same key, a sibling whose name begins with the base path, at the levels of /data and its children.
    SnapshotRows snap = DataSnapshot(kNew);
    snap.Dirs.push_back({"2", "/data-x/sub", 0, 1});
    snap.Dirs.push_back({"2", "/data-x", 0, 1});
    AddSnapshot(h.Database, snap);
    AddSnapshot(h.Database, DataSnapshot(kOld));
    DirectoryTreeModel model(h.Database, h.Prompter);
    QTreeView view;
    view.setModel(&model);
    view.show();
    model.BuildDirectoryTree(Key(kNew), "/data", PathStyle::Posix);
    view.expand(model.RootIndex());
    QCoreApplication::processEvents();

    const QModelIndex root = model.RootIndex();
    const QModelIndex big = model.index(1, 0, root);
    // Shown but not expanded: known to have children, not read yet.
    QVERIFY(model.hasChildren(big));
    QVERIFY(!model.ChildrenRead(big));
    QVERIFY(!model.FindLoaded("/data/big/deep").isValid());
    view.expand(big);
    QCoreApplication::processEvents();
    QVERIFY(model.ChildrenRead(big));
    QVERIFY(model.FindLoaded("/data/big/deep").isValid());

    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(root.data().toString() + "|" + QString::fromStdString(model.Key(root)), QString("/data|/data"));
    // Files entry first, then the subdirectories by name; one snapshot only, no /data-x.
    QCOMPARE(ChildTexts(model, root), QStringList({"(files)", "big", "it's", "small"}));
    QCOMPARE(model.Key(model.index(0, 0, root)), std::string("/data/(files)"));
    QVERIFY(!model.hasChildren(model.index(0, 0, root)));
    const QModelIndex deep = model.FindLoaded("/data/big/deep");
    QCOMPARE(model.index(0, 0, deep).data(Qt::ToolTipRole).toString(), QString("/data/big/deep/(files)"));

    // A new build replaces the tree; a drive's names order without regard to case.
    const char* driveKey = "2024-03-09 10:00:00";
    AddSnapshot(h.Database, {.Key = driveKey, .BasePath = "C:",
                             .Dirs = {{"2", "C:\\windows", 0, 5}, {"2", "C:\\Data", 0, 5}, {"2", "C:", 0, 10}},
                             .Files = {}, .Collect = false, .Description = "drive", .Style = PathStyle::Windows});
    model.BuildDirectoryTree(Key(driveKey), "C:", PathStyle::Windows);
    QCOMPARE(ChildTexts(model, model.RootIndex()), QStringList({"Data", "windows"}));
}

void AnalysisModelsTest::TreeReportsAFailedReadOnce() {
    Harness h;
    h.OpenNewDatabase();
    AddSnapshot(h.Database, DataSnapshot(kNew));
    DirectoryTreeModel model(h.Database, h.Prompter);
    model.BuildDirectoryTree(Key(kNew), "/data", PathStyle::Posix);
    const QModelIndex big = model.index(1, 0, model.RootIndex());
    h.Database.SnapshotDatabase->exec("ALTER TABLE Dir RENAME TO Dir_gone");
    QCOMPARE(model.rowCount(big), 0);
    QVERIFY(h.Prompter.Texts().empty());  // told from the event loop
    QCoreApplication::processEvents();
    QVERIFY(!model.hasChildren(big));
    // The node is not read again.
    QCOMPARE(model.rowCount(big), 0);
    QCoreApplication::processEvents();
    QCOMPARE(h.Prompter.Texts(), std::vector<std::string>{std::string(kTreeErrorsMessage)});
}

void AnalysisModelsTest::TreeWithRowsWhoseParentIsMissingIsReported() {
    Harness h;
    h.OpenNewDatabase();
    SnapshotRows damaged = DataSnapshot(kNew);
    damaged.Dirs.push_back({"2", "/data/lost/found", 0, 1});  // no row for /data/lost
    AddSnapshot(h.Database, damaged);
    AddSnapshot(h.Database, DataSnapshot(kOld));
    DirectoryTreeModel model(h.Database, h.Prompter);
    for (const char* key : {kOld, kNew}) model.BuildDirectoryTree(Key(key), "/data", PathStyle::Posix);
    QCOMPARE(h.Prompter.Texts(), std::vector<std::string>{std::string(kTreeErrorsMessage)});
}

void AnalysisModelsTest::PanesFollowTheWindowKeepTheirSmallestSizesAndDragFromTheGrabZones() {
    PaneLayout panes;
    panes.Resize(15000, 9000);
    // Wider and taller: grid and chart panes widen and share the height as in
    // the design, 3495 to 3000; the tree pane grows in height only.
    const int bottom = 9000 - PaneLayout::kBottomMargin;
    QCOMPARE((std::vector<int>{panes.frmdisp.Width, panes.frmgraph.Width, panes.frmdisp.Height, panes.frmgraph.Height,
                               panes.frmnode.Width, panes.frmgraph.Bottom(), panes.frmnode.Bottom()}),
             (std::vector<int>{15000 - 3360 - PaneLayout::kRightMargin, panes.frmdisp.Width, 4302, 3693, 3255, bottom,
                               bottom}));
    QCOMPARE((std::vector<int>{panes.grdanal.Width, panes.tvdir.Height, panes.grpdisp.Height}),
             (std::vector<int>{panes.frmdisp.Width - 200, panes.frmnode.Height - 500, panes.frmgraph.Height - 500}));
    // Smaller than the smallest window: taken as the smallest, shared alike.
    panes.Resize(100, 100);
    QCOMPARE(std::pair(panes.MinimumWidth(), panes.MinimumHeight()),
             std::pair(3360 + 400 + PaneLayout::kRightMargin, 4440 + 300 + PaneLayout::kBottomMargin));
    QCOMPARE((std::vector<int>{panes.frmdisp.Width, panes.frmdisp.Height, panes.frmgraph.Height, panes.grdanal.Width}),
             (std::vector<int>{400, 2042, 1753, 200}));
    QVERIFY(panes.tvdir.Height > 0);

    panes.Resize(11880, 7500);
    const int gridHeight = panes.frmdisp.Height;
    QCOMPARE(gridHeight, 3495);
    // 300 above the grid pane's bottom is outside the zone, 10 inside.
    QCOMPARE(panes.MoveOverGridPane(gridHeight - 300, true), PanePointer::Default);
    QCOMPARE(panes.frmdisp.Height, gridHeight);  // no drag began outside the zone
    QCOMPARE(panes.MoveOverGridPane(gridHeight - 10, false), PanePointer::NorthSouth);
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
    // Too narrow a tree pane: nothing moves; the smallest window follows the moved pane.
    panes.MoveOverTreePane(400, true);
    QCOMPARE(panes.frmnode.Width, treeWidth + 500);
    QCOMPARE(panes.MinimumWidth(), panes.frmdisp.Left + 400 + PaneLayout::kRightMargin);
}

void AnalysisModelsTest::ChartPaintsEachPointInItsColourAndSurvivesZeroAndNegativeValues() {
    auto hasColour = [](const QImage& image, const QColor& colour) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y) == colour) return true;
            }
        }
        return false;
    };
    ChartData data{.ChartPointCount = 3, .ChartValues = {10, 0, 5}, .ChartLabels = {"a", "b", "c"},
                   .ChartMaxValue = 10, .Drawn = true, .Title = "Analysis of Size"};
    ChartWidget chart;
    chart.resize(400, 250);
    for (const auto& [values, max] : {std::pair{std::vector<double>{10, 0, 5}, 10.0}, {{0, -3, 0}, 0.0}}) {
        data.ChartValues = values;
        data.ChartMaxValue = max;
        for (int type : {kChart2DBar, kChart3DBar, kChart2DPie, kChart3DPie}) {
            data.ChartType = type;
            data.ChartOrientation = type == kChart3DBar ? 1 : 0;
            chart.SetChart(data);
            const QImage image = chart.grab().toImage();
            if (max > 0) {
                QVERIFY(hasColour(image, ChartWidget::PointColour(1)) && hasColour(image, ChartWidget::PointColour(3)));
            }
        }
    }
}

void AnalysisModelsTest::ChartTextsAreWholeInsideTheChartAndApart() {
    // Crossing an axis-parallel line: the line runs through the inside of the box.
    auto crosses = [](const QRectF& box, const QLineF& line) {
        const QRectF span = QRectF(line.p1(), line.p2()).normalized();
        return span.left() < box.right() && span.right() > box.left() && span.top() < box.bottom() &&
               span.bottom() > box.top();
    };
    ChartData sizes{.ChartPointCount = 4, .ChartValues = {21, 15.8, 10.5, 5.3},
                    .ChartLabels = {"/home/user/projects/a-long-directory-name", "b", "c", "d"}, .Drawn = true,
                    .Title = "Analysis of Size (M) in the directory and everything below it"};
    ChartData bytes = sizes;
    bytes.ChartValues = {5795668, 4000000, 12, 0};
    ChartData growths = sizes;
    growths.ChartValues = {-1200, 3400, 0, -56};
    ChartData history = sizes;
    history.ChartPointCount = 50;
    history.ChartValues.clear();
    history.ChartLabels.clear();
    for (int i = 0; i < 50; ++i) {
        history.ChartValues.push_back(1000.0 * i + 999);
        history.ChartLabels.push_back(QString("2024-06-%1 12:00 ").arg(i % 28 + 1, 2, 10, QChar('0')).toStdString());
    }
    ChartWidget chart;
    const QFontMetricsF metrics(chart.TextFont(), &chart);
    for (const QSize size : {QSize(230, 150), QSize(560, 300), QSize(1500, 640)}) {
        chart.resize(size);
        for (const ChartData* data : {&sizes, &bytes, &growths, &history}) {
            for (const auto& [type, orientation] : {std::pair{kChart2DBar, 0}, {kChart2DBar, 1}, {kChart3DBar, 0},
                                                    {kChart3DBar, 1}, {kChart2DPie, 0}, {kChart3DPie, 0}}) {
                ChartData shown = *data;
                shown.ChartType = type;
                shown.ChartOrientation = orientation;
                chart.SetChart(shown);
                const ChartLayout layout = chart.LayOut();
                const QString at = QString("%1x%2 type %3/%4 first %5")
                                       .arg(size.width()).arg(size.height()).arg(type).arg(orientation)
                                       .arg(data->ChartValues[0]);
                QVERIFY2(layout.Texts.size() >= 4, qPrintable(at));
                std::vector<ChartText> texts = layout.Texts;
                for (const ChartText& text : texts) {
                    const QString what = at + " text " + text.Text;
                    QVERIFY2(QRectF(chart.rect()).adjusted(4, 2, -4, -4).contains(text.Box), qPrintable(what));
                    QVERIFY2(metrics.horizontalAdvance(text.Text) <= text.Box.width(), qPrintable(what));
                    QVERIFY2(!text.Box.intersects(layout.Title.Box), qPrintable(what));
                    for (const QRectF& bar : layout.Bars) QVERIFY2(!text.Box.intersects(bar), qPrintable(what));
                    for (const QLineF& line : layout.AxisLines) QVERIFY2(!crosses(text.Box, line), qPrintable(what));
                    for (const ChartText& other : texts) {
                        const bool apart = &other == &text || !text.Box.intersects(other.Box);
                        QVERIFY2(apart, qPrintable(what + "/" + other.Text));
                    }
                }
                for (const QRectF& bar : layout.Bars) {
                    QVERIFY2(bar.top() - layout.Depth > layout.Title.Box.bottom(), qPrintable(at));
                }
            }
        }
    }
}

QTEST_MAIN(AnalysisModelsTest)
#include "AnalysisModelsTest.moc"
