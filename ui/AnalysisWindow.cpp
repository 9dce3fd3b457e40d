#include "ui/AnalysisWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <span>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/Trend.h"
#include "app/AnalysisPreferences.h"
#include "store/Catalogue.h"
#include "base/SizeFormat.h"
#include "report/BasisNotes.h"
#include "report/SessionMessages.h"
#include "report/StoreErrorReport.h"
#include "ui/AboutWindow.h"
#include "ui/ChartWidget.h"
#include "ui/DirectoryTreeModel.h"
#include "ui/ResultGridView.h"
#include "ui/SelectSnapshotWindow.h"
#include "ui/TrendWindow.h"
#include "ui/ScreenPlacement.h"
#include "ui/Twips.h"
#include "ui/WaitPointer.h"

namespace corvina {

namespace {

constexpr char kUnits[] = {'B', 'K', 'M'};
constexpr SizeBasis kBases[] = {SizeBasis::Apparent, SizeBasis::Disk};
constexpr char kChooseCompare[] = "Choose a snapshot to compare with (Compare to: Select)";
constexpr ChartType kChartTypes[] = {ChartType::Bar2D, ChartType::Bar3D, ChartType::Pie2D, ChartType::Pie3D};

QString Text(const std::string& text) { return QString::fromStdString(text); }


template <std::size_t N>
void CheckOnly(const std::array<QAction*, N>& items, std::size_t checked) {
    for (std::size_t i = 0; i < N; ++i) items[i]->setChecked(i == checked);
}

}  // namespace

AnalysisWindow::AnalysisWindow(ProgramContext& context, AnalysisSession& session, SnapshotChoice& choice,
                               QWidget* parent)
    : QMainWindow(parent),
      messages_(context.Messages, this),
      context_(WithMessages(context, messages_)),
      session_(session), choice_(choice) {
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
    grdanal_->SetDefaultWidth(grdanal_->width());
    KeepOpeningOnScreen(*this);
}

AnalysisWindow::~AnalysisWindow() { CloseTrendWindows(); }

void AnalysisWindow::CloseTrendWindows() {
    for (const QPointer<TrendWindow>& trend : trends_) delete trend.data();
    trends_.clear();
}

QString AnalysisWindow::StatusText() const { return status_->text(); }

void AnalysisWindow::SetKeyedNodeDelay(std::chrono::milliseconds delay) { keyedNode_->setInterval(delay); }

void AnalysisWindow::SetStatus(const QString& text) {
    status_->setText(text);
    status_->setToolTip(text);  // whole, where a narrow window cuts it
}

bool AnalysisWindow::eventFilter(QObject* watched, QEvent* event) {
    PaneMouseEvent(watched, event);
    return QMainWindow::eventFilter(watched, event);
}

void AnalysisWindow::closeEvent(QCloseEvent* event) {
    // Closing the analysis window closes the database; Exit and Take Snaphot
    // have done so already.
    if (!leaving_) CloseSnapshotDatabase(context_.Database);
    CloseTrendWindows();
    event->accept();
}

void AnalysisWindow::Load() {
    grdanal_->BeginChange();
    // The basis the user chose last, before the prime snapshot's totals are read in it.
    const SizeBasis basis = ReadSizeBasis(context_.Settings);
    session_.SetSizeBasis(basis);
    session_.Restart();
    grdanal_->EndChange();
    declinedApparent_.reset();
    ShowKindChecked();
    CheckOnly(dispsize_, 2);
    CheckOnly(dispbasis_, basis == SizeBasis::Disk ? 1 : 0);
    grpdisp_->hide();
    lblgraph_->show();
    CheckOnly(menctype_, 0);
    CheckOnly(mencvert_, 0);
    ShowCompareRow();
    if (session_.State().SnapshotDate.IsNull()) {
        // Nothing of an earlier window's result stays on show.
        ClearDisplay();
        ChoosePrimeSnapshot();
    } else {
        ShowPrimeRow();
        choice_.TreeSnapshotDate = session_.State().SnapshotDate;
        BuildTree();
        RunCurrentAnalysis();
    }
    show();
}

void AnalysisWindow::ChoosePrimeSnapshot() {
    choice_.SelectionMode = 0;
    choice_.SelectionBasePath.clear();
    OpenSelectionWindow();
    Activate();
    // Cancelled or chosen, the analysis window is shown afterwards.
    show();
}

void AnalysisWindow::ChooseCompareSnapshot() {
    const AnalysisState& state = session_.State();
    if (state.SnapshotDate.IsNull()) {
        ShowMessage(context_.Messages, "Select a Snapshot");
        return;
    }
    const std::string& basePath = session_.PrimeInfo().InfoBasePath;
    // Counted now rather than taken from the last listing, which may be of
    // another base path or older than the latest snapshot run.
    if (context_.Database.IsUsable()) {
        std::vector<SnapshotListRow> rows;
        if (StoreError error = ListSnapshots(context_.Database, basePath, rows); !error.Ok()) {
            ReportStoreError(context_.Messages, context_.Database.DatabasePath, error);
        }
        choice_.PathSnapshotCount = static_cast<int>(rows.size());
    }
    if (choice_.PathSnapshotCount == 1) {
        ShowMessage(context_.Messages, "No other snapshots with same path to compare to");
        return;
    }
    choice_.SelectionMode = 1;
    choice_.SelectionBasePath = basePath;
    choice_.PrimeSnapshotDate = state.SnapshotDate;
    OpenSelectionWindow();
    Activate();
}

void AnalysisWindow::OpenSelectionWindow() {
    const std::string databaseBefore = context_.Database.DatabasePath;
    {
        SelectSnapshotWindow selection(context_, choice_, this);
        selection.SetDisplayUnit(session_.State().SizeUnit);
        // Before this window has shown, Qt would centre the dialog on where
        // it is yet to be, the screen's corner: the middle of the screen instead.
        if (!isVisible() && screen() != nullptr) {
            selection.adjustSize();  // laid out now: its size decides where its middle is
            selection.move(screen()->availableGeometry().center() - selection.rect().center());
        }
        selection.exec();
    }
    ForgetMissingSnapshots(context_.Database.DatabasePath != databaseBefore);
}

void AnalysisWindow::ForgetMissingSnapshots(bool databaseChanged) {
    // The tree reads its nodes as they are expanded: after a database switch
    // it is built again even for an equal key.
    if (databaseChanged) choice_.TreeSnapshotDate = DateTime{};
    if (session_.ForgetMissingSnapshots(databaseChanged, choice_.SnapshotChosen)) {
        ClearDisplay();
    } else if (!session_.State().SnapshotDate.IsNull() && LacksCompareSnapshot()) {
        // The compare snapshot was deleted: the comparison with it goes too.
        ShowCompareWanted();
    }
    if (session_.State().CompareSnapshotDate.IsNull()) ShowCompareRow();
}

void AnalysisWindow::Activate() {
    if (!choice_.SnapshotChosen) return;
    show();
    choice_.SnapshotChosen = false;
    if (choice_.SelectionMode == 0) {
        session_.ChoosePrime(choice_.ChosenSnapshot);
    } else {
        // The selection window offers the prime snapshot's base path only.
        session_.ChooseCompare(choice_.ChosenSnapshot);
    }
    ShowSnapshots();
}

// A prime snapshot the tree was not built for brings a new tree and a run at
// its base path; a compare snapshot alone changes the compare row and menus,
// not the result, unless the current comparison lost its compare snapshot or
// was waiting for one.
void AnalysisWindow::ShowSnapshots() {
    const DateTime& prime = session_.State().SnapshotDate;
    const bool newPrime = !prime.IsNull() && prime != choice_.TreeSnapshotDate;
    // The tree's growth is a comparison too: a pair that cannot be compared
    // on disk is said before it shows none. Apparent sizes chosen instead
    // leave the grid's figures behind its headings: it runs again.
    const SizeBasis basis = session_.State().SizeBasis;
    if (!session_.State().CompareSnapshotDate.IsNull()) DiskComparisonRefused();
    const bool basisChanged = session_.State().SizeBasis != basis;
    if (newPrime) {
        ShowPrimeRow();
        // The old tree's growth is not worth reading for the new compare snapshot.
        tree_->Clear();
    }
    ShowCompareRow();
    if (newPrime) {
        choice_.TreeSnapshotDate = prime;
        BuildTree();
        RunCurrentAnalysis();
    } else if (!prime.IsNull() && (basisChanged || LacksCompareSnapshot() || session_.Grid().ColumnCount() == 0)) {
        RunCurrentAnalysis();
    }
}

void AnalysisWindow::ShowPrimeRow() {
    const SnapshotInfo& prime = session_.PrimeInfo();
    menfilet_->setEnabled(prime.InfoCollectFiles == FilesRecorded::Yes);
    mentrend_->setEnabled(true);
    txtpath_->setText(Text(prime.InfoBasePath));
    txtsnap_->setText(Text(FormatGeneralDate(session_.State().SnapshotDate)));
    txtdesc_->setText(Text(prime.InfoDescription));
    txtpath_->setCursorPosition(0);
    txtdesc_->setCursorPosition(0);
    ClearCompareRow();
    SetStatus("Directories within " + Text(session_.State().QueryDirectory));
}

// The compare row, and the comparisons and Swap, enabled as far as the compare
// snapshot serves them.
void AnalysisWindow::ShowCompareRow() {
    const DateTime& compare = session_.State().CompareSnapshotDate;
    std::span<const AnalysisEntry> kinds = AnalysisCatalogue();
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (!kinds[i].NeedsCompare) continue;
        const Shortfall lack = session_.ShortfallOf(kinds[i].Kind);
        analysisItems_[i]->setEnabled(lack != Shortfall::CompareSnapshot && lack != Shortfall::CompareFiles);
    }
    menswap_->setEnabled(!compare.IsNull());
    ShowTreeGrowth();
    if (compare.IsNull()) {
        ClearCompareRow();
        return;
    }
    txtsnap2_->setText(Text(FormatGeneralDate(compare)));
    txtdesc2_->setText(Text(session_.CompareInfo().InfoDescription));
    txtdesc2_->setCursorPosition(0);
}

void AnalysisWindow::ClearCompareRow() {
    txtsnap2_->clear();
    txtdesc2_->clear();
}

void AnalysisWindow::ShowKindChecked() {
    std::span<const AnalysisEntry> kinds = AnalysisCatalogue();
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        analysisItems_[i]->setChecked(kinds[i].Kind == session_.State().AnalysisKind);
    }
}

void AnalysisWindow::ClearDisplay() {
    tree_->Clear();
    choice_.TreeSnapshotDate = DateTime{};
    grdanal_->BeginChange();
    session_.ClearResult();
    grdanal_->EndChange();
    ShowChart(ChartData{});
    for (QLineEdit* field : {txtpath_, txtsnap_, txtdesc_}) field->clear();
    menfilet_->setEnabled(false);
    mentrend_->setEnabled(false);
    shownTitle_.clear();
    SetStatus(QString());
}

void AnalysisWindow::ChooseAnalysis(AnalysisKind kind) {
    grdanal_->BeginChange();
    session_.SetKind(kind);
    grdanal_->EndChange();
    ShowKindChecked();
    RunCurrentAnalysis();
}

void AnalysisWindow::ChooseDisplayUnit(int item) {
    CheckOnly(dispsize_, static_cast<std::size_t>(item));
    grdanal_->BeginChange();
    session_.SetUnit(kUnits[item]);
    grdanal_->EndChange();
    ShowTreeGrowth();
    RunCurrentAnalysis();
}

void AnalysisWindow::ChooseSizeBasis(int item) {
    // A basis chosen anew is worth the question again.
    declinedApparent_.reset();
    UseSizeBasis(kBases[item]);
    if (!session_.State().CompareSnapshotDate.IsNull()) DiskComparisonRefused();
    RunCurrentAnalysis();
}

void AnalysisWindow::UseSizeBasis(SizeBasis basis) {
    CheckOnly(dispbasis_, basis == SizeBasis::Disk ? 1 : 0);
    WriteSizeBasis(context_.Settings, basis);
    grdanal_->BeginChange();
    session_.SetSizeBasis(basis);
    grdanal_->EndChange();
    ShowTreeGrowth();
}

void AnalysisWindow::ChooseChartType(int item) {
    session_.SetChartType(kChartTypes[item]);
    CheckOnly(menctype_, static_cast<std::size_t>(item));
    RedrawChart();
}

void AnalysisWindow::ChooseChartOrientation(int item) {
    session_.SetChartOrientation(item);
    CheckOnly(mencvert_, static_cast<std::size_t>(item));
    RedrawChart();
}

void AnalysisWindow::Swap() {
    session_.Swap();
    show();
    ShowSnapshots();
}

void AnalysisWindow::NodeClicked(const QModelIndex& clicked) {
    keyedNode_->stop();
    if (!clicked.isValid()) return;
    const QModelIndex index = clicked.siblingAtColumn(0);  // a click on the growth column goes to its node
    {
        WaitPointer wait;
        // A total that cannot be read has been said and counts 0: the click goes on.
        bool found = false;
        session_.SelectDirectory(tree_->Key(index), found,
                                 tree_->IsFilesEntry(index) ? Entrytype::Files : Entrytype::Directory);
    }
    // Children never read were never expanded: nothing to collapse, nothing to read.
    if (tree_->ChildrenRead(index)) {
        for (int r = 0; r < tree_->rowCount(index); ++r) tvdir_->collapse(tree_->index(r, 0, index));
    }
    RunCurrentAnalysis();
}

void AnalysisWindow::SortOnGridColumn(int column) {
    grdanal_->BeginChange();
    session_.SortOnColumn(column);
    grdanal_->EndChange();
    RedrawChart();
}

void AnalysisWindow::GridDetailClicked(int row) {
    if (session_.State().AnalysisKind != AnalysisKind::WhereDidItGrow) return;
    // A directory deleted since the compare snapshot has no node: nothing to go to.
    RevealDirectory(session_.Grid().Cell(row, 0));
}

bool AnalysisWindow::RevealDirectory(const std::string& directory) {
    const QModelIndex node = tree_->Reveal(directory);
    if (!node.isValid()) return false;
    for (QModelIndex up = node.parent(); up.isValid(); up = up.parent()) tvdir_->expand(up);
    tvdir_->selectionModel()->setCurrentIndex(node, QItemSelectionModel::ClearAndSelect);
    tvdir_->scrollTo(node);
    NodeClicked(node);
    return true;
}

void AnalysisWindow::ShowTrend() {
    const AnalysisState& state = session_.State();
    if (state.SnapshotDate.IsNull()) return;
    TrendReport report;
    report.BasePath = state.BasePath;
    report.Directory = state.QueryDirectory;
    report.Host = state.Host;
    report.Basis = state.SizeBasis;
    {
        WaitPointer wait;
        const StoreError error = ReadTrend(context_.Database, report.BasePath, report.Directory, state.Style,
                                           report.Host, report.Points, report.Basis);
        if (!error.Ok()) {
            ReportStoreError(messages_, context_.Database.DatabasePath, error);
            return;
        }
        // The grower's own session has told what failed; the trend is still worth showing.
        SessionMessages told(messages_, context_.Database);
        CompleteTrend(context_.Database, told, report);
    }
    // A window of its own, not one kept above this one: the tree stays in
    // reach beside it. This window closes it when it goes.
    auto* trend = new TrendWindow(report, state.SizeUnit, context_.Dialogs, messages_);
    trend->setAttribute(Qt::WA_DeleteOnClose);
    std::erase_if(trends_, [](const QPointer<TrendWindow>& open) { return open.isNull(); });
    trends_.emplace_back(trend);
    trend->SetGrowerOpener([this](const std::string& directory) {
        if (!RevealDirectory(directory)) return;
        raise();
        activateWindow();
    });
    trend->show();
}

void AnalysisWindow::FollowTheGrowth() {
    if (!tree_->ShowsGrowth()) return;
    QModelIndex node = tvdir_->currentIndex().siblingAtColumn(0);
    if (!node.isValid()) node = tree_->RootIndex();
    if (!node.isValid()) return;
    {
        WaitPointer wait;
        // Below a node whose growth no one subdirectory holds half of, the
        // growth is spread out (or sits in the node's own files): the node is
        // the answer.
        for (double growth = tree_->Growth(node); growth > 0; growth = tree_->Growth(node)) {
            const QModelIndex next = tree_->LargestGrowthChild(node);
            if (!next.isValid() || tree_->Growth(next) * 2 < growth) break;
            tvdir_->expand(node);
            node = next;
        }
    }
    tvdir_->selectionModel()->setCurrentIndex(node, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    tvdir_->scrollTo(node);
    NodeClicked(node);
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

bool AnalysisWindow::LacksCompareSnapshot() const {
    return session_.ShortfallOf(session_.State().AnalysisKind) == Shortfall::CompareSnapshot;
}

// Run without it, a comparison would show nothing under headings and a title
// with a blank date; the window says what it needs instead.
void AnalysisWindow::ShowCompareWanted() {
    grdanal_->BeginChange();
    session_.ClearResult();
    grdanal_->EndChange();
    ShowChart(ChartData{});
    shownTitle_.clear();
    SetStatus(kChooseCompare);
}

bool AnalysisWindow::DiskComparisonRefused() {
    const AnalysisState& state = session_.State();
    const std::optional<DateTime> without = session_.WithoutDiskFigures();
    if (state.SizeBasis != SizeBasis::Disk || !without) return false;
    // Either way round: Swap keeps the answer.
    const auto [earlier, later] = std::minmax(state.SnapshotDate, state.CompareSnapshotDate);
    const std::pair<DateTime, DateTime> pair{earlier, later};
    if (declinedApparent_ == pair) return true;
    if (AskYesNo(context_.Messages, CannotCompareOnDiskText(*without) + "\n" + std::string(kShowApparentQuestion))) {
        UseSizeBasis(SizeBasis::Apparent);
        return false;
    }
    declinedApparent_ = pair;
    return true;
}

// As a comparison waiting for its compare snapshot: nothing under headings
// that would promise sizes on disk, and the status says why.
void AnalysisWindow::ShowCannotCompareOnDisk() {
    grdanal_->BeginChange();
    session_.ClearResult();
    grdanal_->EndChange();
    ShowChart(ChartData{});
    shownTitle_.clear();
    SetStatus(Text("Cannot compare on disk: snapshot " + FormatKey(*session_.WithoutDiskFigures()) +
                   " has no on-disk figures. Preferences > Display sizes in > Apparent size compares them."));
}

void AnalysisWindow::RunCurrentAnalysis() {
    if (LacksCompareSnapshot()) {
        ShowCompareWanted();
        return;
    }
    if (session_.ShortfallOf(session_.State().AnalysisKind) == Shortfall::CompareOnDisk && DiskComparisonRefused()) {
        ShowCannotCompareOnDisk();
        return;
    }
    WaitPointer wait;
    grdanal_->BeginChange();
    // The headings went while the comparison waited for its compare snapshot.
    if (session_.Grid().ColumnCount() == 0) session_.SetKind(session_.State().AnalysisKind);
    AnalysisOutcome outcome = session_.Run();
    grdanal_->EndChange();
    shownTitle_ = outcome.Title;
    // The notes follow the title, which an export takes on its own.
    std::string status = outcome.Title;
    if (outcome.MissingFigures) status += "   " + std::string(kMissingFiguresNote);
    if (outcome.ExclusionsDiffer) {
        const AnalysisState& state = session_.State();
        status += "   " + ExclusionsDifferText(state.SnapshotLabel, session_.PrimeExclusions(),
                                               state.CompareSnapshotLabel, session_.CompareExclusions());
    }
    SetStatus(Text(status));
    ShowChart(outcome.Chart);
}

void AnalysisWindow::RedrawChart() { ShowChart(session_.Chart()); }

void AnalysisWindow::ShowChart(const ChartData& chart) {
    grpdisp_->SetChart(chart);
    grpdisp_->setVisible(chart.Drawn);
    lblgraph_->setVisible(!chart.Drawn);
}

bool AnalysisWindow::GrowthShown() const {
    const AnalysisState& state = session_.State();
    return !state.CompareSnapshotDate.IsNull() &&
           !(state.SizeBasis == SizeBasis::Disk && session_.WithoutDiskFigures().has_value());
}

void AnalysisWindow::ShowTreeGrowth() {
    const AnalysisState& state = session_.State();
    const bool growth = GrowthShown();
    // No growth is made up from figures a snapshot did not record.
    tree_->ShowGrowth(growth ? state.CompareSnapshotDate : DateTime{}, state.SizeUnit, state.SizeBasis);
    menfollow_->setEnabled(growth);
    tvdir_->setColumnHidden(1, !growth);
    // The growth column keeps the width of its widest text at the pane's
    // right edge, where no scrolling hides it; the names take the rest,
    // elided when too long (a node's tooltip holds its path). Without it the
    // names are as wide as they are and scroll sideways.
    QHeaderView& header = *tvdir_->header();
    header.setSectionResizeMode(0, growth ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
    // New texts of the same rows (another unit) lay nothing out again: the width follows them now.
    if (growth) tvdir_->resizeColumnToContents(1);
}

void AnalysisWindow::BuildTree() {
    WaitPointer wait;
    const AnalysisState& state = session_.State();
    tree_->BuildDirectoryTree(state.SnapshotDate, state.QueryDirectory, state.Style);
    // The first level shows at once.
    tvdir_->expand(tree_->RootIndex());
}

}  // namespace corvina
