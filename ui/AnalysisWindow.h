#pragma once
// frmanal, "Analyze Disk Snapshot": one snapshot of the open database (the
// prime snapshot), optionally beside a compare snapshot of the same base path.
// The directory tree at the left picks the directory the analyses look at;
// the result grid of the current analysis sits above a chart of one of its
// columns. The menus choose the analysis, the display unit, the size basis
// (kept in the settings) and the chart, swap the two snapshots, and go back to
// the take-snapshot window.
//
// The window owns its controls, the tree model and the pane geometry. What it
// shows (the chosen snapshots, the analysis inputs and the result grid) lives
// in the AnalysisSession, which outlives it and decides what each choice
// does; the window forwards the user's choices to it and shows the outcome.
// The database, prompter and the way the program ends belong to the
// ProgramContext. The snapshot choice is made in the selection window, shown
// modally over this one, and comes back through the SnapshotChoice.

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <QMainWindow>
#include <QPointer>

#include "analysis/AnalysisSession.h"
#include "analysis/ChartData.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/PaneLayout.h"
#include "ui/ProgramContext.h"
#include "ui/SnapshotChoice.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QTreeView;

namespace corvina {

class ChartWidget;
class DirectoryTreeModel;
class ResultGridView;
class TrendWindow;

// How long a tree node made current by the keyboard must stay current before
// it is analysed: longer than a key's auto-repeat interval, short enough not
// to be noticed.
inline constexpr std::chrono::milliseconds kKeyedNodeDelay{200};

class AnalysisWindow : public QMainWindow {
    Q_OBJECT
public:
    AnalysisWindow(ProgramContext& context, AnalysisSession& session, SnapshotChoice& choice,
                   QWidget* parent = nullptr);
    ~AnalysisWindow() override;

    // The load steps: default analysis, unit and chart; then either the
    // selection window (no prime snapshot yet) or the tree and the analysis of
    // the chosen snapshot. The window is shown at the end.
    void Load();

    // What "&Take Snaphot" shows before this window goes.
    void SetTakeSnapshotOpener(std::function<void()> opener) { takeSnapshotOpener_ = std::move(opener); }

    DirectoryTreeModel& Tree() { return *tree_; }
    QTreeView& TreeView() { return *tvdir_; }
    ResultGridView& Grid() { return *grdanal_; }
    ChartWidget& Chart() { return *grpdisp_; }
    QString StatusText() const;
    // kKeyedNodeDelay unless set; a wait under way starts again with the new delay.
    void SetKeyedNodeDelay(std::chrono::milliseconds delay);

    // A click on a tree node (tvdir).
    void NodeClicked(const QModelIndex& index);
    // A click on the heading of column c.
    void SortOnGridColumn(int column);
    // A plain click on a scrolling row of the grid: the rows of
    // WhereDidItGrow name directories, and the click goes to that directory
    // as a click on its tree node would; in other grids a click only selects.
    void GridDetailClicked(int row);
    // "Follow the growth": from the current node (or the root) down the
    // subdirectory that holds at least half of a node's growth, as far as one
    // does; the node where it stops is analysed as a click would.
    void FollowTheGrowth();
    // "Directory Trend": the selected directory (or the base path) across
    // every snapshot of the prime snapshot's base path, in a window of its own.
    void ShowTrend();
    // Reads the tree down to directory, selects its node and analyses it as
    // a click would; false when the prime snapshot has no such directory.
    bool RevealDirectory(const std::string& directory);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Construction (AnalysisWindowControls.cpp).
    void BuildMenus();
    void AddAnalysisItems(QMenu& directories, QMenu& files);
    void BuildSnapshotRows(QWidget& area);
    void BuildPanes(QWidget& area);

    // The panes (AnalysisWindowPanes.cpp).
    void ApplyPanes();
    bool PaneMouseEvent(QObject* watched, QEvent* event);
    void ShowPointer(QWidget& frame, PanePointer pointer);

    // Choices and steps.
    void ChoosePrimeSnapshot();
    void ChooseCompareSnapshot();
    void OpenSelectionWindow();
    void Activate();
    void ForgetMissingSnapshots(bool databaseChanged);
    void ChooseAnalysis(AnalysisKind kind);
    void ChooseDisplayUnit(int item);
    void ChooseSizeBasis(int item);
    // Checks its item, keeps it in the settings and has the session count in it.
    void UseSizeBasis(SizeBasis basis);
    void ChooseChartType(int item);
    void ChooseChartOrientation(int item);
    void Swap();
    void TakeSnapshot();
    void Exit();
    void About();

    // Showing what the session holds.
    void ShowSnapshots();
    void ShowPrimeRow();
    void ShowCompareRow();
    void ClearCompareRow();
    void ShowKindChecked();
    void ClearDisplay();
    bool LacksCompareSnapshot() const;
    void ShowCompareWanted();
    // On disk, with a snapshot that recorded no on-disk figures: asks once per
    // pair of snapshots whether to show apparent sizes instead (Yes switches);
    // true when the pair stays uncompared.
    bool DiskComparisonRefused();
    void ShowCannotCompareOnDisk();
    // The tree shows growth: a compare snapshot is chosen and the two compare
    // in the basis.
    bool GrowthShown() const;
    void RunCurrentAnalysis();
    void RedrawChart();
    void ShowChart(const ChartData& chart);
    void BuildTree();
    void ShowTreeGrowth();
    void SetStatus(const QString& text);
    void CloseTrendWindows();

    WindowPrompter messages_;  // the context's prompter, over this window
    ProgramContext context_;
    AnalysisSession& session_;
    SnapshotChoice& choice_;
    std::function<void()> takeSnapshotOpener_;
    PaneLayout panes_;
    bool leaving_ = false;  // Exit or Take Snaphot is closing the window
    std::string shownTitle_;  // of the result the grid shows: the first record of an export
    // The prime and compare snapshot whose comparison on disk the user chose
    // not to see on apparent sizes: not asked again until the basis is chosen anew.
    std::optional<std::pair<DateTime, DateTime>> declinedApparent_;

    QLineEdit* txtpath_ = nullptr;
    QLineEdit* txtsnap_ = nullptr;
    QLineEdit* txtdesc_ = nullptr;
    QLineEdit* txtsnap2_ = nullptr;
    QLineEdit* txtdesc2_ = nullptr;
    QPushButton* comsnap_ = nullptr;
    QPushButton* comsnap2_ = nullptr;
    QGroupBox* frmnode_ = nullptr;
    QGroupBox* frmdisp_ = nullptr;
    QGroupBox* frmgraph_ = nullptr;
    QTreeView* tvdir_ = nullptr;
    QTimer* keyedNode_ = nullptr;  // runs out on the tree's keyboard-current node
    DirectoryTreeModel* tree_ = nullptr;
    ResultGridView* grdanal_ = nullptr;
    ChartWidget* grpdisp_ = nullptr;
    QLabel* lblgraph_ = nullptr;
    QLabel* status_ = nullptr;

    QMenu* menfilet_ = nullptr;
    std::vector<QAction*> analysisItems_;  // one per row of AnalysisCatalogue, in its order
    std::array<QAction*, 3> dispsize_{};
    std::array<QAction*, 2> dispbasis_{};  // apparent size, size on disk
    std::array<QAction*, 4> menctype_{};
    std::array<QAction*, 2> mencvert_{};
    QAction* menswap_ = nullptr;
    QAction* menfollow_ = nullptr;
    QAction* mentrend_ = nullptr;
    std::vector<QPointer<TrendWindow>> trends_;  // open ones, each deleted on close or with this window
};

}  // namespace corvina
