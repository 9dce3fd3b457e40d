// The analysis window driven as a user drives it: choosing snapshots through
// the selection window, menus, the tree, grid clicks. The panes' rules are
// checked on PaneLayout itself.

#include <QAbstractItemModelTester>
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QtTest>

#include "analysis/AnalysisCatalogue.h"
#include "tests/ui/AnalysisFixture.h"
#include "tests/ui/WindowHarness.h"
#include "ui/AnalysisLauncher.h"
#include "ui/AnalysisWindow.h"
#include "ui/ChartWidget.h"
#include "ui/DirectoryTreeModel.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/ResultGridView.h"
#include "ui/TakeSnapshotWindow.h"

using namespace corvina;
using namespace corvina::test;

namespace {

const char* const kCompareItems[] = {"mendir_1", "mendir_2", "mendir_3", "menfile_2", "menfile_3", "menfile_4", "menswap"};

struct Fixture {
    Harness h;
    AnalysisSession session{h.Database, h.Prompter};
    SnapshotChoice choice;
    explicit Fixture(bool oldCollects = true) { OpenDataPair(h, oldCollects); }
};

// A window already showing the prime snapshot key.
std::unique_ptr<AnalysisWindow> OpenOn(Fixture& f, const char* key) {
    f.session.PreferPrime(Key(key));
    auto window = std::make_unique<AnalysisWindow>(f.h.Context, f.session, f.choice);
    window->Load();
    return window;
}

QAction* Item(AnalysisWindow& window, const char* name) { return Child<QAction>(window, name); }
QString Text(AnalysisWindow& window, const char* box) { return Child<QLineEdit>(window, box)->text(); }

// Chooses key of /data through the selection window that button opens: comsnap
// for the prime snapshot, comsnap2 for the compare snapshot.
void Choose(AnalysisWindow& window, const char* key, const char* button = "comsnap2") {
    SelectionDriver driver([key](QWidget& selection) { ChooseInSelection(selection, "/data", key); });
    QTest::mouseClick(Child<QPushButton>(window, button), Qt::LeftButton);
}

QStringList EnabledItems(AnalysisWindow& window) {
    QStringList names;
    for (const char* name : kCompareItems) {
        if (Item(window, name)->isEnabled()) names << name;
    }
    return names;
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

}  // namespace

class AnalysisWindowTest : public QObject {
    Q_OBJECT
private slots:
    void FirstChoiceShowsTreeAndDetailsAndHeadingClicksSort();
    void EmptyWindowAfterCancelOrDeleteAndCompareNeedsASecondSnapshot();
    void CompareChoiceEnablesWhatTheSnapshotsRecordedAndLeavesTheResultAlone();
    void NodeClicksAndSwapMoveTheAnalysisAndEveryMenuItemRunsItsKind();
    void AnalyseOpensTheWindowTakeSnapshotGoesBackAndExitEnds();
    void TreeKeysAnalyseTheNodeTheyRestOnOnce();
    void FirstSelectionWindowOwnsItsBoxesAndTheProgramStays();
};

void AnalysisWindowTest::FirstChoiceShowsTreeAndDetailsAndHeadingClicksSort() {
    Fixture f;
    AnalysisWindow window(f.h.Context, f.session, f.choice);
    bool shownBeforeChoice = true;
    SelectionDriver driver([&](QWidget& selection) {
        shownBeforeChoice = window.isVisible();
        ChooseInSelection(selection, "/data", kNew);
    });
    window.Load();
    QCOMPARE(driver.Opened(), 1);
    QVERIFY(!shownBeforeChoice && window.isVisible());
    QCOMPARE(Text(window, "txtpath") + "|" + Text(window, "txtsnap"), QString("/data|") + kNew);
    // The tree shows its first level at once.
    const QModelIndex root = window.Tree().RootIndex();
    QVERIFY(window.TreeView().isExpanded(root));
    QCOMPARE(window.Tree().rowCount(root), 4);

    // The total row and the scrolling rows are two models; numbers align right.
    using Tester = QAbstractItemModelTester;
    Tester fixedTester(&window.Grid().FixedModel(), Tester::FailureReportingMode::QtTest);
    Tester rowsTester(&window.Grid().DetailModel(), Tester::FailureReportingMode::QtTest);
    QCOMPARE(window.Grid().DetailModel().index(0, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(window.StatusText(), QString("Analysis of directory /data"));
    QCOMPARE(Headings(window).at(2), QString("Total size (MB)      "));
    QCOMPARE(TotalCell(window, 0) + "|" + TotalCell(window, 2), QString("Total for /data|25"));
    QCOMPARE(DetailColumn(window, 0), QStringList({"big", "it's", "(files)", "small"}));
    QVERIFY(window.Chart().isVisible() && !Child<QLabel>(window, "lblgraph")->isVisible());
    QCOMPARE(window.Chart().Chart().ChartPointCount, 4);
    // Without a compare snapshot the comparisons and Swap are off.
    QCOMPARE(EnabledItems(window), QStringList());
    QVERIFY(Child<QMenu>(window, "menfilet")->isEnabled());
    for (const char* name : {"mendir_0", "dispsize_2", "menctype_0", "mencvert_0"}) QVERIFY2(Item(window, name)->isChecked(), name);
    window.resize(1000, 640);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    SaveScreenshot(window, "frmanal");

    ClickHeading(window, 1);  // "# of Files", largest first
    QCOMPARE(DetailColumn(window, 1), QStringList({"2", "2", "1", "1"}));
    QCOMPARE(TotalCell(window, 0), QString("Total for /data"));  // the total row stays on top
    QCOMPARE(window.Chart().Chart().Title, std::string("Analysis of # of Files"));
    // A click on a detail cell sorts on its column as well; names are no numbers to chart.
    QTableView& rows = window.Grid().DetailTable();
    QTest::mouseClick(rows.viewport(), Qt::LeftButton, {}, rows.visualRect(rows.model()->index(1, 0)).center());
    const QStringList byName = DetailColumn(window, 0);
    QCOMPARE(byName, QStringList({"(files)", "big", "it's", "small"}));
    QVERIFY(!window.Chart().isVisible() && Child<QLabel>(window, "lblgraph")->isVisible());
    // A chart change only redraws: the order by name stays.
    Item(window, "menctype_3")->trigger();
    QVERIFY(Item(window, "menctype_3")->isChecked() && !Item(window, "menctype_0")->isChecked());
    QCOMPARE(window.Chart().Chart().ChartType, kChart3DPie);
    Item(window, "mencvert_1")->trigger();
    QCOMPARE(window.Chart().Chart().ChartOrientation, 1);
    QCOMPARE(DetailColumn(window, 0), byName);
    // A unit change reruns, back in the order by size.
    Item(window, "dispsize_1")->trigger();
    QVERIFY(Item(window, "dispsize_1")->isChecked() && !Item(window, "dispsize_2")->isChecked());
    QCOMPARE(Headings(window).at(2) + "|" + TotalCell(window, 2), QString("Total size (KB)      |25600"));
    QCOMPARE(DetailColumn(window, 0).front(), QString("big"));
    QVERIFY(f.h.Prompter.Texts().empty());
}

void AnalysisWindowTest::EmptyWindowAfterCancelOrDeleteAndCompareNeedsASecondSnapshot() {
    Fixture f;
    AnalysisWindow window(f.h.Context, f.session, f.choice);
    {
        SelectionDriver cancel([](QWidget& selection) { selection.close(); });
        window.Load();
    }
    QVERIFY(window.isVisible());
    QCOMPARE(window.Tree().rowCount() + window.Grid().DetailModel().rowCount(), 0);
    QCOMPARE(Headings(window).at(0), QString("Directory Name"));
    QVERIFY(Child<QLabel>(window, "lblgraph")->isVisible());
    QVERIFY(!Child<QMenu>(window, "menfilet")->isEnabled());

    Choose(window, kNew, "comsnap");
    QCOMPARE(window.Tree().rowCount(), 1);
    // The shown snapshot deleted in the selection window, which is then cancelled.
    f.h.Prompter.Script({Answer::Yes});
    {
        SelectionDriver remove([](QWidget& selection) {
            ClickBasePath(selection, "/data");
            ClickSnapshotRow(selection, kNew);
            QTest::mouseClick(selection.findChild<QPushButton*>("comdel"), Qt::LeftButton);
            QTest::mouseClick(selection.findChild<QPushButton*>("comcan"), Qt::LeftButton);
        });
        QTest::mouseClick(Child<QPushButton>(window, "comsnap"), Qt::LeftButton);
        QCOMPARE(remove.Opened(), 1);
    }
    QCOMPARE(window.Tree().rowCount() + window.Grid().DetailModel().rowCount(), 0);
    QVERIFY(Text(window, "txtsnap").isEmpty());

    // The last snapshot of /data has none to compare with, whatever a listing of another path counted.
    Choose(window, kOld, "comsnap");
    f.h.Prompter.Clear();
    f.choice.PathSnapshotCount = 5;
    SelectionDriver none([](QWidget& selection) { selection.close(); });
    QTest::mouseClick(Child<QPushButton>(window, "comsnap2"), Qt::LeftButton);
    QCOMPARE(f.h.Prompter.Texts(), std::vector<std::string>{"No other snapshots with same path to compare to"});
    QCOMPARE(none.Opened(), 0);
    QVERIFY(!Item(window, "menswap")->isEnabled());
}

void AnalysisWindowTest::CompareChoiceEnablesWhatTheSnapshotsRecordedAndLeavesTheResultAlone() {
    Fixture f(/*oldCollects=*/false);
    auto window = OpenOn(f, kNew);
    const QStringList before = DetailColumn(*window, 2);
    const QString status = window->StatusText();
    Choose(*window, kOld);
    QCOMPARE(Text(*window, "txtsnap2"), QString(kOld));
    // The compare snapshot recorded no files: only the directory comparisons and Swap come on.
    QCOMPARE(EnabledItems(*window), QStringList({"mendir_1", "mendir_2", "mendir_3", "menswap"}));
    QVERIFY(Child<QMenu>(*window, "menfilet")->isEnabled());
    QCOMPARE(DetailColumn(*window, 2), before);
    QCOMPARE(window->StatusText(), status);

    // Different days: the headings carry day and month.
    Item(*window, "mendir_1")->trigger();
    QVERIFY(Item(*window, "mendir_1")->isChecked() && !Item(*window, "mendir_0")->isChecked());
    QCOMPARE(Headings(*window).mid(1, 2), QStringList({"Size (7 Mar) (MB)      ", "Size (1 Mar) (MB)      "}));
    QCOMPARE(window->StatusText(), QString("Compare /data from 1 Mar to 7 Mar"));
    // /data grew by 12.5 MB, all of the growth.
    QCOMPARE(TotalCell(*window, 3) + "|" + TotalCell(*window, 5), QString("12|100"));
    QVERIFY(f.h.Prompter.Texts().empty());

    // Choosing the prime snapshot again clears the compare row and menus.
    Choose(*window, kNew, "comsnap");
    QVERIFY(Text(*window, "txtsnap2").isEmpty());
    QCOMPARE(EnabledItems(*window), QStringList());

    // With the snapshot without files as the prime, the whole file menu is off.
    Choose(*window, kOld);
    Item(*window, "menswap")->trigger();
    QVERIFY(!Child<QMenu>(*window, "menfilet")->isEnabled());
    QCOMPARE(EnabledItems(*window).size(), std::size(kCompareItems));
}

void AnalysisWindowTest::NodeClicksAndSwapMoveTheAnalysisAndEveryMenuItemRunsItsKind() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    Choose(*window, kOld);
    const QModelIndex root = window->Tree().RootIndex();
    const QModelIndex big = NodeNamed(*window, root, "big");
    window->TreeView().expand(big);
    const QModelIndex deep = NodeNamed(*window, big, "deep");
    window->TreeView().expand(deep);
    ClickNode(*window, big);
    QVERIFY(window->TreeView().isExpanded(big) && !window->TreeView().isExpanded(deep));
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data/big"));
    QCOMPARE(DetailColumn(*window, 0), QStringList({"(files)", "deep"}));
    // A quote in a name is an ordinary character.
    ClickNode(*window, NodeNamed(*window, root, "it's"));
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data/it's"));
    QCOMPARE(TotalCell(*window, 2), QString("6"));

    // A swap builds the tree again and runs the analysis on the base path.
    Item(*window, "menswap")->trigger();
    QCOMPARE(Text(*window, "txtsnap") + "|" + Text(*window, "txtsnap2"), QString(kOld) + "|" + kNew);
    QCOMPARE(window->StatusText(), QString("Analysis of directory /data"));
    QCOMPARE(TotalCell(*window, 2), QString("12"));

    const QList<QAction*> items =
        Child<QMenu>(*window, "menviewh")->actions() + Child<QMenu>(*window, "menfilet")->actions();
    QStringList titles;
    for (QAction* item : items) {
        item->trigger();
        int checked = 0;
        for (QAction* any : items) checked += any->isChecked() ? 1 : 0;
        QVERIFY(item->isChecked() && checked == 1);
        titles << window->StatusText();
    }
    QCOMPARE(static_cast<std::size_t>(titles.size()), AnalysisCatalogue().size());
    QCOMPARE(static_cast<int>(titles.removeDuplicates()), 0);
    QVERIFY(f.h.Prompter.Texts().empty());

    // A total that cannot be read is said, counts 0, and the click goes on.
    f.h.Database.SnapshotDatabase->exec("ALTER TABLE Dir RENAME TO Dir_gone");
    ClickNode(*window, NodeNamed(*window, window->Tree().RootIndex(), "big"));
    QCOMPARE(f.h.Prompter.Texts().front(), std::string("Error: 1 no such table: Dir\nWhile processing directory /data/big"));
    QCOMPARE(f.session.State().DirTotal, 0.0);
    QVERIFY(window->StatusText().contains("/data/big directory tree"));
}

void AnalysisWindowTest::AnalyseOpensTheWindowTakeSnapshotGoesBackAndExitEnds() {
    Fixture f;
    TakeSnapshotWindow take(f.h.Context);
    take.show();
    AnalysisLauncher launcher(f.h.Context, take);
    SelectionDriver driver([](QWidget& selection) { ChooseInSelection(selection, "/data", kNew); });
    Child<QAction>(take, "menanal")->trigger();
    QPointer<AnalysisWindow> window = launcher.Window();
    QVERIFY(!take.isVisible() && window != nullptr && window->isVisible());
    Item(*window, "mentake")->trigger();
    QVERIFY(take.isVisible());
    QTRY_VERIFY(window.isNull());  // the analysis window went with its close
    // Back again: the same prime snapshot, without choosing it anew.
    Child<QAction>(take, "menanal")->trigger();
    window = launcher.Window();
    QVERIFY(driver.Opened() == 1 && window != nullptr);
    QCOMPARE(Text(*window, "txtsnap"), QString(kNew));
    Item(*window, "menexit")->trigger();
    QVERIFY(f.h.Ender.Ended && !f.h.Database.IsUsable() && f.h.Prompter.Texts().empty());
}

void AnalysisWindowTest::TreeKeysAnalyseTheNodeTheyRestOnOnce() {
    Fixture f;
    auto window = OpenOn(f, kNew);
    QTreeView& view = window->TreeView();
    ClickNode(*window, window->Tree().RootIndex());
    QSignalSpy runs(&window->Grid().DetailModel(), &QAbstractItemModel::modelReset);
    // Faster than the analysis waits, as a held arrow key repeats: (files), big, it's.
    for (int i = 0; i < 3; ++i) QTest::keyClick(&view, Qt::Key_Down);
    QCOMPARE(runs.count(), 0);
    QTRY_COMPARE(window->StatusText(), QString("Analysis of directory /data/it's"));
    QTest::qWait(300);
    QCOMPARE(runs.count(), 1);
}

// Real message boxes under the running event loop, where Qt ends the program
// when the last primary window closes: a box of no parent was one.
void AnalysisWindowTest::FirstSelectionWindowOwnsItsBoxesAndTheProgramStays() {
    Harness h;
    OpenDataPair(h);
    MessageBoxPrompter boxes;
    ProgramContext context = WithMessages(h.Context, boxes);
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
        ClickBasePath(selection, "/data");
        ClickSnapshotRow(selection, kOld);
        QTest::mouseClick(Child<QPushButton>(selection, "comdel"), Qt::LeftButton);
        h.Dialogs.Answers = {QString::fromStdString(h.Dir.File("new.mdb"))};
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

QTEST_MAIN(AnalysisWindowTest)
#include "AnalysisWindowTest.moc"
