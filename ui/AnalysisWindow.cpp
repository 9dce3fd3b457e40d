#include "ui/AnalysisWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeView>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisRun.h"
#include "analysis/GridLayout.h"
#include "store/Catalogue.h"
#include "store/SizeFormat.h"
#include "ui/AboutWindow.h"
#include "ui/ChartWidget.h"
#include "ui/DirectoryTreeModel.h"
#include "ui/ResultGridView.h"
#include "ui/SelectSnapshotWindow.h"
#include "ui/Twips.h"
#include "ui/WaitPointer.h"
#include "ui/WindowLookups.h"

namespace corvina {

namespace {

constexpr char kUnits[] = {'B', 'K', 'M'};
constexpr int kChartTypes[] = {kChart2DBar, kChart3DBar, kChart2DPie, kChart3DPie};

QString Text(const std::string& text) { return QString::fromStdString(text); }


template <std::size_t N>
void CheckOnly(const std::array<QAction*, N>& items, std::size_t checked) {
    for (std::size_t i = 0; i < N; ++i) items[i]->setChecked(i == checked);
}

}  // namespace

AnalysisWindow::AnalysisWindow(ProgramContext& context, AnalysisSession& session, QWidget* parent)
    : QMainWindow(parent), context_(context), session_(session) {
    setObjectName("frmanal");
    setWindowTitle("Analyze Disk Snapshot");
    auto* area = new QWidget(this);
    area->setObjectName("frmanal_area");
    setCentralWidget(area);
    BuildMenus();
    BuildSnapshotRows(*area);
    BuildPanes(*area);
    // The design's client area: panes as laid out, below the menu bar.
    area->resize(TwipsToPixels(11880, *this), TwipsToPixels(7500, *this));
    resize(TwipsToPixels(11880, *this), TwipsToPixels(7890, *this) + menuBar()->sizeHint().height());
    panes_.Resize(11880, 7500);
    ApplyPanes();
}

AnalysisWindow::~AnalysisWindow() = default;

QString AnalysisWindow::StatusText() const { return status_->text(); }

void AnalysisWindow::SetStatus(const QString& text) { status_->setText(text); }

bool AnalysisWindow::eventFilter(QObject* watched, QEvent* event) {
    PaneMouseEvent(watched, event);
    return QMainWindow::eventFilter(watched, event);
}

void AnalysisWindow::closeEvent(QCloseEvent* event) {
    // Closing the analysis window closes the database; Exit and Take Snaphot
    // have done so already.
    if (!leaving_) CloseSnapshotDatabase(context_.Database);
    event->accept();
}

void AnalysisWindow::Load() {
    AnalysisState& state = session_.State;
    formLoading_ = true;
    state.AnalysisKind = DirectoryDetails;
    CheckOnly(mendir_, 0);
    CheckOnly(menfile_, menfile_.size());
    ChooseDisplayUnit(2);
    state.CompareSnapshotDate = DateTime{};
    grpdisp_->hide();
    lblgraph_->show();
    LayoutGrid();
    state.ChartType = kChart2DBar;
    state.ChartOrientation = 0;
    session_.Grid.ChartColumn = 2;
    CheckOnly(menctype_, 0);
    CheckOnly(mencvert_, 0);
    formLoading_ = false;
    SetCompareMenus(false, false);

    // A key left from another database, or of a snapshot deleted since, is
    // not offered again: the user chooses afresh.
    if (!state.SnapshotDate.IsNull() &&
        (!context_.Database.IsUsable() || !SnapshotStillStored(context_, state.SnapshotDate))) {
        state.SnapshotDate = DateTime{};
    }
    if (state.SnapshotDate.IsNull()) {
        // Nothing of an earlier window's result stays on show.
        ClearDisplay();
        ChoosePrimeSnapshot();
    } else {
        PrimeSnapshotSteps();
        session_.TreeSnapshotDate = state.SnapshotDate;
        BuildTree();
        RunCurrentAnalysis();
    }
    show();
}

void AnalysisWindow::ChoosePrimeSnapshot() {
    session_.SelectionMode = 0;
    session_.SelectionBasePath.clear();
    OpenSelectionWindow();
    Activate();
    // Cancelled or chosen, the analysis window is shown afterwards.
    show();
}

void AnalysisWindow::ChooseCompareSnapshot() {
    if (session_.State.SnapshotDate.IsNull()) {
        ShowMessage(context_.Messages, "Select a Snapshot");
        return;
    }
    // Counted now rather than taken from the last listing, which may be of
    // another base path or older than the latest snapshot run.
    if (context_.Database.IsUsable()) {
        std::vector<SnapshotListRow> rows;
        ListSnapshots(context_.Database, context_.Messages, session_.SnapshotBasePath, rows);
        session_.PathSnapshotCount = static_cast<int>(rows.size());
    }
    if (session_.PathSnapshotCount == 1) {
        ShowMessage(context_.Messages, "No other snapshots with same path to compare to");
        return;
    }
    session_.SelectionMode = 1;
    session_.SelectionBasePath = session_.SnapshotBasePath;
    OpenSelectionWindow();
    Activate();
}

void AnalysisWindow::OpenSelectionWindow() {
    const std::string databaseBefore = context_.Database.DatabasePath;
    {
        SelectSnapshotWindow selection(context_, session_, this);
        selection.exec();
    }
    ForgetMissingSnapshots(context_.Database.DatabasePath != databaseBefore);
}

void AnalysisWindow::ForgetMissingSnapshots(bool databaseChanged) {
    AnalysisState& state = session_.State;
    auto missing = [this](const DateTime& key) {
        return !key.IsNull() && (!context_.Database.IsUsable() || !SnapshotStillStored(context_, key));
    };
    // The tree reads its nodes as they are expanded: after a database switch
    // it is built again even for an equal key.
    if (databaseChanged) session_.TreeSnapshotDate = DateTime{};
    if (missing(state.CompareSnapshotDate)) state.CompareSnapshotDate = DateTime{};
    if (missing(state.SnapshotDate)) {
        state.SnapshotDate = DateTime{};
        state.CompareSnapshotDate = DateTime{};
        session_.TreeSnapshotDate = DateTime{};
        ClearDisplay();
    } else if (databaseChanged && !session_.SnapshotChosen) {
        ClearDisplay();
        state.SnapshotDate = DateTime{};
        state.CompareSnapshotDate = DateTime{};
    }
    if (state.CompareSnapshotDate.IsNull()) {
        SetCompareMenus(false, false);
        ClearCompareRow();
    }
}

void AnalysisWindow::ClearDisplay() {
    tree_->Clear();
    session_.TreeSnapshotDate = DateTime{};
    grdanal_->BeginChange();
    session_.Result.SetRowCount(1);
    session_.Result.SetFixedRows(1);
    grdanal_->EndChange();
    ShowChart(ChartData{});
    for (QLineEdit* field : {txtpath_, txtsnap_, txtdesc_}) field->clear();
    menfilet_->setEnabled(false);
    SetStatus(QString());
}

void AnalysisWindow::Activate() {
    if (!session_.SnapshotChosen) return;
    show();
    session_.SnapshotChosen = false;
    const AnalysisState& state = session_.State;
    const bool newPrime = !state.SnapshotDate.IsNull() && state.SnapshotDate != session_.TreeSnapshotDate;
    if (newPrime) PrimeSnapshotSteps();
    if (state.CompareSnapshotDate.IsNull()) {
        SetCompareMenus(false, false);
        ClearCompareRow();
    } else {
        CompareSnapshotSteps();
    }
    if (newPrime) {
        session_.TreeSnapshotDate = state.SnapshotDate;
        BuildTree();
        RunCurrentAnalysis();
    }
}

void AnalysisWindow::PrimeSnapshotSteps() {
    AnalysisState& state = session_.State;
    SnapshotInfo info;
    LoadSnapshotInfo(context_.Database, context_.Messages, state.SnapshotDate, info);
    session_.SnapshotBasePath = info.InfoBasePath;
    state.Style = PathStyleOfBasePath(info.InfoBasePath);
    state.QueryDirectory = info.InfoBasePath;
    state.BasePath = info.InfoBasePath;
    session_.SnapshotDescription = info.InfoDescription;
    state.SizeThreshold = info.InfoFileLimit;
    session_.CollectFiles = info.InfoCollectFiles;
    menfilet_->setEnabled(session_.CollectFiles == "Y");
    // A trailing separator goes, except from the file-system root "/".
    std::string& query = state.QueryDirectory;
    const char separator = Separator(state.Style);
    if (query.size() > 1 && query.back() == separator) query.pop_back();
    state.DirTotal = info.InfoTotalBytes;
    txtpath_->setText(Text(session_.SnapshotBasePath));
    txtsnap_->setText(Text(FormatGeneralDate(state.SnapshotDate)));
    txtdesc_->setText(Text(session_.SnapshotDescription));
    txtpath_->setCursorPosition(0);
    txtdesc_->setCursorPosition(0);
    state.SelectedDirectory = session_.SnapshotBasePath;
    ClearCompareRow();
    FormSnapshotLabels(state);
    SetStatus("Directories within " + Text(state.QueryDirectory));
}

void AnalysisWindow::CompareSnapshotSteps() {
    AnalysisState& state = session_.State;
    SnapshotInfo info;
    LoadSnapshotInfo(context_.Database, context_.Messages, state.CompareSnapshotDate, info);
    // The total of the directory the analyses look at, which after a tree
    // click is not the base path.
    state.CompareDirTotal = DirectoryTotalOrZero(context_, state.QueryDirectory, state.CompareSnapshotDate,
                                                 state.Style);
    FormSnapshotLabels(state);
    session_.CompareCollectFiles = info.InfoCollectFiles;
    SetCompareMenus(true, info.InfoCollectFiles == "Y");
    txtsnap2_->setText(Text(FormatGeneralDate(state.CompareSnapshotDate)));
    txtdesc2_->setText(Text(info.InfoDescription));
    txtdesc2_->setCursorPosition(0);
}

void AnalysisWindow::ClearCompareRow() {
    txtsnap2_->clear();
    txtdesc2_->clear();
}

void AnalysisWindow::SetCompareMenus(bool compare, bool compareFiles) {
    for (std::size_t i = 1; i <= 3; ++i) mendir_[i]->setEnabled(compare);
    for (std::size_t i = 2; i <= 4; ++i) menfile_[i]->setEnabled(compare && compareFiles);
    menswap_->setEnabled(compare);
}

void AnalysisWindow::ChooseAnalysis(int kind) {
    AnalysisState& state = session_.State;
    const int current = state.AnalysisKind;
    if (current < 10) {
        mendir_[static_cast<std::size_t>(current)]->setChecked(false);
    } else {
        menfile_[static_cast<std::size_t>(current - 10)]->setChecked(false);
    }
    if (kind < 10) {
        mendir_[static_cast<std::size_t>(kind)]->setChecked(true);
    } else {
        menfile_[static_cast<std::size_t>(kind - 10)]->setChecked(true);
    }
    state.AnalysisKind = kind;
    LayoutGrid();
    RunCurrentAnalysis();
}

void AnalysisWindow::ChooseDisplayUnit(int item) {
    CheckOnly(dispsize_, static_cast<std::size_t>(item));
    session_.State.SizeUnit = kUnits[item];
    if (formLoading_) return;
    LayoutGrid();
    RunCurrentAnalysis();
}

void AnalysisWindow::ChooseChartType(int item) {
    session_.State.ChartType = kChartTypes[item];
    CheckOnly(menctype_, static_cast<std::size_t>(item));
    RedrawChart();
}

void AnalysisWindow::ChooseChartOrientation(int item) {
    session_.State.ChartOrientation = item;
    CheckOnly(mencvert_, static_cast<std::size_t>(item));
    RedrawChart();
}

void AnalysisWindow::Swap() {
    AnalysisState& state = session_.State;
    std::swap(state.SnapshotDate, state.CompareSnapshotDate);
    session_.SnapshotChosen = true;
    Activate();
}

void AnalysisWindow::NodeClicked(const QModelIndex& index) {
    if (!index.isValid()) return;
    AnalysisState& state = session_.State;
    const std::string key = tree_->Key(index);
    state.SelectedDirectory = key;
    {
        WaitPointer wait;
        state.DirTotal = DirectoryTotalOrZero(context_, key, state.SnapshotDate, state.Style);
        if (!state.CompareSnapshotDate.IsNull()) {
            state.CompareDirTotal = DirectoryTotalOrZero(context_, key, state.CompareSnapshotDate, state.Style);
        }
    }
    // Children never read were never expanded: nothing to collapse, nothing to read.
    if (tree_->ChildrenRead(index)) {
        for (int r = 0; r < tree_->rowCount(index); ++r) tvdir_->collapse(tree_->index(r, 0, index));
    }
    state.QueryDirectory = key;
    RunCurrentAnalysis();
}

void AnalysisWindow::SortOnGridColumn(int column) {
    grdanal_->BeginChange();
    SortOnColumn(context_.Messages, session_.State, session_.Grid, session_.Result, column);
    grdanal_->EndChange();
    RedrawChart();
}

void AnalysisWindow::TakeSnapshot() {
    leaving_ = true;
    if (takeSnapshotOpener_) takeSnapshotOpener_();
    // The take-snapshot window opens the database again when it needs it.
    CloseSnapshotDatabase(context_.Database);
    close();
}

void AnalysisWindow::Exit() {
    leaving_ = true;
    CloseSnapshotDatabase(context_.Database);
    hide();
    context_.Ender.EndProgram(0);
}

void AnalysisWindow::About() {
    auto* about = new AboutWindow(this);  // owned by this window, gone when closed
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();
}

void AnalysisWindow::LayoutGrid() {
    grdanal_->BeginChange();
    LayoutResultGrid(session_.State, session_.Grid, session_.Result);
    // Before the first run the grid shows its heading row only.
    if (session_.Result.RowCount() == 0) session_.Result.SetRowCount(1);
    grdanal_->EndChange();
}

void AnalysisWindow::RunCurrentAnalysis() {
    WaitPointer wait;
    grdanal_->BeginChange();
    RunOutcome outcome = RunAnalysis(context_.Database, context_.Messages, session_.State, session_.Grid,
                                     session_.Result);
    grdanal_->EndChange();
    if (!outcome.Title.empty()) SetStatus(Text(outcome.Title));
    ShowChart(outcome.Chart);
}

void AnalysisWindow::RedrawChart() { ShowChart(DrawChart(session_.State, session_.Grid, session_.Result)); }

void AnalysisWindow::ShowChart(const ChartData& chart) {
    grpdisp_->SetChart(chart);
    grpdisp_->setVisible(chart.Drawn);
    lblgraph_->setVisible(!chart.Drawn);
}

void AnalysisWindow::BuildTree() {
    WaitPointer wait;
    const AnalysisState& state = session_.State;
    tree_->BuildDirectoryTree(state.SnapshotDate, state.QueryDirectory, state.Style);
    // The first level shows at once.
    tvdir_->expand(tree_->RootIndex());
}

}  // namespace corvina
