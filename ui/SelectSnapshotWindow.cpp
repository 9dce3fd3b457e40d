#include "ui/SelectSnapshotWindow.h"

#include <algorithm>

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/Settings.h"
#include "capture/SnapshotRun.h"
#include "store/DiskUsage.h"
#include "store/Exclusion.h"
#include "store/HostLabel.h"
#include "base/SizeFormat.h"
#include "report/StoreErrorReport.h"
#include "store/SnapshotDatabase.h"
#include "ui/DatabaseSwitch.h"
#include "ui/FileDialogs.h"
#include "ui/HostsOverviewWindow.h"
#include "ui/ScreenPlacement.h"
#include "ui/Twips.h"
#include "ui/WaitPointer.h"
#include "ui/WindowPrinter.h"

namespace corvina {

namespace {

constexpr const char* kSelectASnapshot = "Select a Snapshot";
constexpr int kPathColumnTwips = 1000;
constexpr int kDescriptionColumnTwips = 2500;
constexpr const char* kCompareAdvice =
    "When selecting a Snapshot to compare to, choose one which is EARLIER than the one you already have selected.\n"
    "If you select a later one you can swap them around by using the Swap menu option on the Analyse form.";

// The key of a row travels beside its "Date Taken" text, so that a click
// never depends on reading the text back.
constexpr int kKeyRole = Qt::UserRole + 1;
// A base path item carries its path and host, so that a click never depends
// on reading the shown text back.
constexpr int kPathRole = Qt::UserRole + 2;
constexpr int kHostRole = Qt::UserRole + 3;

QLabel* NamedLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The grid cuts descriptions at their end; paths are cut at their start,
// since their ends tell them apart.
class ElideLeftDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideLeft;
    }
};

constexpr const char* kNoSnapshots = "No snapshots in this database yet";
// What the on-disk details of a snapshot without such figures say, beside a dash.
constexpr const char* kNoDiskFigures = "This snapshot was taken before sizes on disk were recorded";
constexpr const char* kNoDatabase = "No snapshot database is open";
// The rows are cyan; the grid's empty rest keeps the window's colour.
const QColor kRowColour(128, 255, 255);

// A view given the focus with no current row makes its first row current.
// Here the current path is the one listed and the current snapshot the one
// chosen, and the focus alone must choose neither: the view is told that no
// row is current, which it keeps to until its model is reset.
void ChooseNothingOnFocus(QAbstractItemView& view) { view.setCurrentIndex(QModelIndex()); }

}  // namespace

SelectSnapshotWindow::SelectSnapshotWindow(ProgramContext& context, SnapshotChoice& choice, QWidget* parent)
    : QDialog(parent),
      messages_(context.Messages, this),
      context_(WithMessages(context, messages_)),
      choice_(choice) {
    setObjectName("frmselsnap");
    setWindowTitle("Select Snapshot");
    setModal(true);
    BuildControls();
    BuildMenus();
    Load();
    KeepOpeningOnScreen(*this);
}

void SelectSnapshotWindow::BuildControls() {
    auto* top = new QVBoxLayout(this);
    auto* intro = NamedLabel("Label5", "Select the snapshot you wish to Analyse", this);
    QFont bold = intro->font();
    bold.setBold(true);
    intro->setFont(bold);
    top->addWidget(intro);

    auto* lists = new QHBoxLayout;
    auto* pathColumn = new QVBoxLayout;
    lbltpath_ = NamedLabel("lbltpath", "Select Path ", this);
    pathColumn->addWidget(lbltpath_);
    lstdir_ = new QListWidget(this);
    lstdir_->setObjectName("lstdir");
    lstdir_->setMinimumWidth(TwipsToPixels(2200, *this));
    // A long path is cut at its start rather than scrolled: its end tells it apart.
    lstdir_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstdir_->setTextElideMode(Qt::ElideLeft);
    pathColumn->addWidget(lstdir_, 1);
    lists->addLayout(pathColumn);

    auto* gridColumn = new QVBoxLayout;
    lblsnap_ = NamedLabel("lblsnap", "Select Snapshot", this);
    gridColumn->addWidget(lblsnap_);
    grdsnap_ = new QTableWidget(0, 4, this);
    grdsnap_->setObjectName("grdsnap");
    grdsnap_->setHorizontalHeaderLabels({"Path", "Date Taken", "Description", "Total Size"});
    const int widths[] = {kPathColumnTwips, 2000, kDescriptionColumnTwips, 1000};
    for (int c = 0; c < 4; ++c) grdsnap_->setColumnWidth(c, TwipsToPixels(widths[c], *this));
    grdsnap_->verticalHeader()->setVisible(false);
    grdsnap_->verticalHeader()->setDefaultSectionSize(grdsnap_->fontMetrics().height() + 6);
    // The description takes the spare width.
    grdsnap_->horizontalHeader()->setStretchLastSection(false);
    grdsnap_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    grdsnap_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdsnap_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdsnap_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab leaves the grid: moving from cell to cell of a chosen row chooses nothing.
    grdsnap_->setTabKeyNavigation(false);
    grdsnap_->setWordWrap(false);
    grdsnap_->setTextElideMode(Qt::ElideRight);
    grdsnap_->setItemDelegateForColumn(0, new ElideLeftDelegate(grdsnap_));
    grdsnap_->setMinimumWidth(TwipsToPixels(6700, *this));
    grdsnap_->setMinimumHeight(TwipsToPixels(2400, *this));
    grdsnap_->viewport()->installEventFilter(this);
    gridColumn->addWidget(grdsnap_, 1);
    lists->addLayout(gridColumn, 1);
    top->addLayout(lists, 1);

    lblmsg_ = NamedLabel("lblmsg", "", this);
    lblmsg_->setWordWrap(true);
    top->addWidget(lblmsg_);

    auto* lower = new QHBoxLayout;
    frmsnap_ = new QGroupBox("Details of selected Snapshot ", this);
    frmsnap_->setObjectName("frmsnap");
    auto* details = new QGridLayout(frmsnap_);
    struct Pair {
        const char* captionName;
        const char* caption;
        const char* valueName;
        QLabel** value;
    };
    const Pair pairs[] = {
        {"label1", "Description", "lbldesc", &lbldesc_},       {"Label6", "Path", "lblpath", &lblpath_},
        {"Label7", "Snapshot Date", "lbldate", &lbldate_},     {"Label2", "Total Size", "lblsize", &lblsize_},
        {"Label3", "Total Directories", "lbldirs", &lbldirs_}, {"label4", "Total Files", "lblfiles", &lblfiles_},
        {"Label8", "File Info Collected?", "lblcoll", &lblcoll_}, {"Label9", "Size Limit", "lbllimit", &lbllimit_},
        {"Label10", "Files Collected", "lblfiletot", &lblfiletot_},
        {"Label11", "Total File Size", "lblfilesize", &lblfilesize_},
        {"Label12", "Total Size on Disk", "lbldisk", &lbldisk_},
        {"Label13", "File Size on Disk", "lblfiledisk", &lblfiledisk_},
    };
    int index = 0;
    for (const Pair& pair : pairs) {
        // The description and path take a whole line each; the numbers go two to a line.
        const bool wide = index < 2;
        const int row = wide ? index : 2 + (index - 2) / 2;
        const int column = wide ? 0 : ((index - 2) % 2) * 2;
        details->addWidget(NamedLabel(pair.captionName, pair.caption, frmsnap_), row, column);
        *pair.value = NamedLabel(pair.valueName, "", frmsnap_);
        (*pair.value)->setTextInteractionFlags(Qt::TextSelectableByMouse);
        (*pair.value)->setFrameShape(QFrame::StyledPanel);
        // A value is at least as wide as a whole key: a date cut short is no use.
        const int keyWidth = (*pair.value)->fontMetrics().horizontalAdvance("0000-00-00 00:00:00") +
                             2 * (*pair.value)->frameWidth() + 4;
        (*pair.value)->setMinimumWidth(std::max(TwipsToPixels(1500, *this), keyWidth));
        if (wide) {
            details->addWidget(*pair.value, row, 1, 1, 3);
        } else {
            details->addWidget(*pair.value, row, column + 1);
        }
        ++index;
    }
    // What the run left out takes a whole line, as the description does.
    const int lastRow = details->rowCount();
    details->addWidget(NamedLabel("Label12", "Left Out", frmsnap_), lastRow, 0);
    lblexcl_ = NamedLabel("lblexcl", "", frmsnap_);
    lblexcl_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblexcl_->setFrameShape(QFrame::StyledPanel);
    lblexcl_->setWordWrap(true);
    details->addWidget(lblexcl_, lastRow, 1, 1, 3);
    details->setColumnStretch(1, 1);
    details->setColumnStretch(3, 1);
    lower->addWidget(frmsnap_, 1);

    auto* buttons = new QVBoxLayout;
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("comok");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("comcan");
    auto* remove = new QPushButton("Delete", this);
    remove->setObjectName("comdel");
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    buttons->addWidget(remove);
    lower->addLayout(buttons);
    top->addLayout(lower);

    auto* bar = new QStatusBar(this);
    bar->setObjectName("stat1");
    bar->setSizeGripEnabled(false);
    status_ = new QLabel(bar);
    bar->addWidget(status_, 1);
    top->addWidget(bar);

    // Whatever makes a path current (a click, the arrows, Home and End,
    // typing its start) lists its snapshots, so that the list and the grid
    // agree. A click on the path already current lists it afresh, as a click
    // always has, unless its press has just listed it.
    connect(lstdir_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* current) {
        if (current != nullptr) OnBasePathChosen();
    });
    connect(lstdir_, &QListWidget::itemClicked, this, [this]() {
        if (pathListings_ == pathListingsAtPress_) OnBasePathChosen();
    });
    lstdir_->viewport()->installEventFilter(this);
    // The row the keyboard (or a click) makes current is the chosen snapshot,
    // highlighted, so that OK takes what is shown. A click on the current row
    // after the details were cleared chooses it again.
    connect(grdsnap_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!current.isValid()) return;
                if (!grdsnap_->selectionModel()->isRowSelected(current.row())) grdsnap_->selectRow(current.row());
                OnGridClicked(current.row());
            });
    connect(grdsnap_, &QTableWidget::cellClicked, this, [this](int row, int) {
        if (selectedSnapshot_.IsNull()) OnGridClicked(row);
    });
    // Enter in either list reaches the default button, OK; Delete in the grid deletes.
    auto* deleteKey = new QShortcut(QKeySequence::Delete, grdsnap_);
    deleteKey->setContext(Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this, &SelectSnapshotWindow::OnDelete);
    connect(ok, &QPushButton::clicked, this, &SelectSnapshotWindow::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(remove, &QPushButton::clicked, this, &SelectSnapshotWindow::OnDelete);
}

void SelectSnapshotWindow::BuildMenus() {
    auto* bar = new QMenuBar(this);
    QMenu* file = bar->addMenu("&File");
    file->setObjectName("menfile");
    QAction* select = file->addAction("Select Snapshot Database");
    select->setObjectName("mensel");
    QAction* server = file->addAction("Open Se&rver Database...");
    server->setObjectName("menserver");
    file->addSeparator();
    menhosts_ = file->addAction(QString::fromUtf8("&Hosts overview\u2026"));
    menhosts_->setObjectName("menhosts");
    file->addSeparator();
    menrec_ = AddRecentItems(*file);
    file->addSeparator();
    QAction* exitItem = file->addAction("E&xit");
    exitItem->setObjectName("menexit");
    QAction* print = bar->addAction("&Print");
    print->setObjectName("menprint");
    layout()->setMenuBar(bar);

    connect(select, &QAction::triggered, this, &SelectSnapshotWindow::OnSelectDatabase);
    connect(server, &QAction::triggered, this, [this]() {
        ChooseServerDatabase(this, context_.Dialogs, context_.Messages, context_.Database.DatabasePath,
                           [this](const std::string& location) { SwitchDatabase(location); });
    });
    connect(menhosts_, &QAction::triggered, this, &SelectSnapshotWindow::OpenHostsOverview);
    for (std::size_t i = 0; i < menrec_.size(); ++i) {
        connect(menrec_[i], &QAction::triggered, this, [this, i]() { OnRecentItem(static_cast<int>(i)); });
    }
    // Exit leaves this window only; the analysis window stays.
    connect(exitItem, &QAction::triggered, this, &QDialog::reject);
    connect(print, &QAction::triggered, this,
            [this]() { PrintWindowImage(*this, context_.Dialogs, context_.Messages); });
}

void SelectSnapshotWindow::Load() {
    FillBasePathList();
    frmsnap_->setEnabled(false);
    if (!choice_.SelectionBasePath.empty()) {
        lstdir_->setEnabled(false);
        lbltpath_->setEnabled(false);
        SetGridEnabled(true);
        FillSnapshotGrid(choice_.SelectionBasePath, RestrictedHost());
        grdsnap_->setFocus();
    } else {
        SetGridEnabled(false);
        lstdir_->setFocus();
    }
    selectedSnapshot_ = DateTime{};
    ShowAdvice();
    corvina::RefreshRecentMenu(context_.Settings, menrec_);
    SetStatus();
}

QString SelectSnapshotWindow::StatusText() const { return status_->text(); }

void SelectSnapshotWindow::SetStatus() {
    status_->setText(DatabaseStatusText(context_.Database));
    menhosts_->setEnabled(context_.Database.IsUsable());
}

bool SelectSnapshotWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lstdir_->viewport() && event->type() == QEvent::MouseButtonPress) {
        pathListingsAtPress_ = pathListings_;
    }
    if (watched == grdsnap_->viewport() && event->type() == QEvent::Resize) FitPathColumn();
    return QDialog::eventFilter(watched, event);
}

void SelectSnapshotWindow::FillBasePathList() {
    lstdir_->clear();
    emptyDatabase_ = false;
    severalHosts_ = false;
    hostLabels_.clear();
    if (!context_.Database.IsUsable()) return;
    // A failure to read the hosts lists the paths as for one host, unsaid:
    // the list's own read meets a damaged file too and says so, once.
    StoreError hosts = HoldsSeveralHosts(context_.Database, severalHosts_);
    if (hosts.Ok() && severalHosts_) hosts = ReadHostLabels(context_.Database, hostLabels_);
    if (!hosts.Ok()) severalHosts_ = false;
    // A failure is said; the list shows what was read up to it.
    std::vector<BasePathHost> pairs;
    StoreError error;
    if (severalHosts_) {
        error = ListBasePathHosts(context_.Database, pairs);
    } else {
        std::vector<std::string> paths;
        error = ListBasePaths(context_.Database, paths);
        for (std::string& path : paths) pairs.push_back({std::move(path), {}});
    }
    if (!error.Ok()) ReportStoreError(context_.Messages, context_.Database.DatabasePath, error);
    emptyDatabase_ = error.Ok() && pairs.empty();
    for (const BasePathHost& pair : pairs) {
        const QString text =
            severalHosts_ ? Text(pair.Basepath + " (" + HostDisplayName(pair.Hostname) + ")") : Text(pair.Basepath);
        auto* item = new QListWidgetItem(text, lstdir_);
        item->setToolTip(text);
        item->setData(kPathRole, Text(pair.Basepath));
        item->setData(kHostRole, Text(pair.Hostname));
    }
    ChooseNothingOnFocus(*lstdir_);
}

std::string SelectSnapshotWindow::HostOf(const DateTime& key) const {
    auto found = hostLabels_.find(key);
    return found == hostLabels_.end() ? std::string() : found->second;
}

std::optional<std::string> SelectSnapshotWindow::RestrictedHost() const {
    if (!severalHosts_ || choice_.PrimeSnapshotDate.IsNull()) return std::nullopt;
    return HostOf(choice_.PrimeSnapshotDate);
}

void SelectSnapshotWindow::ShowAdvice() {
    // Empty lists alone would not say why there is nothing to choose.
    QString advice;
    if (!context_.Database.IsUsable()) {
        advice = kNoDatabase;
    } else if (choice_.SelectionMode == 1) {
        advice = kCompareAdvice;
    } else if (emptyDatabase_) {
        advice = kNoSnapshots;
    }
    lblmsg_->setText(advice);
    lblmsg_->setVisible(!advice.isEmpty());
}

void SelectSnapshotWindow::FillSnapshotGrid(const std::string& basePath, const std::optional<std::string>& host) {
    listedBasePath_ = basePath;
    listedHost_ = host;
    grdsnap_->setRowCount(0);
    if (!context_.Database.IsUsable()) {
        choice_.PathSnapshotCount = 0;
        return;
    }
    std::vector<SnapshotListRow> rows;
    if (StoreError error = ListSnapshots(context_.Database, basePath, rows); !error.Ok()) {
        ReportStoreError(context_.Messages, context_.Database.DatabasePath, error);
    }
    if (host) std::erase_if(rows, [&](const SnapshotListRow& row) { return HostOf(row.Key) != *host; });
    choice_.PathSnapshotCount = static_cast<int>(rows.size());
    grdsnap_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const SnapshotListRow& row = rows[static_cast<std::size_t>(r)];
        const QString cells[] = {Text(row.Basepath), Text(row.KeyText), Text(row.Description), Text(row.SizeText)};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setToolTip(cells[c]);
            item->setBackground(kRowColour);
            if (c == 3) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grdsnap_->setItem(r, c, item);
        }
        grdsnap_->item(r, 1)->setData(kKeyRole, Text(FormatKey(row.Key)));
    }
    ChooseNothingOnFocus(*grdsnap_);
    // A date cut short is no use: its column grows to the whole text.
    const int dateWidth = grdsnap_->fontMetrics().horizontalAdvance("0000-00-00 00:00:00") + 16;
    if (dateWidth > grdsnap_->columnWidth(1)) grdsnap_->setColumnWidth(1, dateWidth);
    FitPathColumn();
}

void SelectSnapshotWindow::FitPathColumn() {
    // At its default size the grid keeps its laid-out widths, and paths are
    // cut at their start. Wider, the spare width goes first to the paths, up
    // to the longest listed, and the description takes what is left.
    const int laidOut = TwipsToPixels(kPathColumnTwips, *this);
    const QHeaderView& header = *grdsnap_->horizontalHeader();
    const int others = header.sectionSize(1) + header.sectionSize(3) + TwipsToPixels(kDescriptionColumnTwips, *this);
    const int spare = std::max(0, grdsnap_->viewport()->width() - laidOut - others);
    const int longest = grdsnap_->rowCount() > 0 ? static_cast<QAbstractItemView*>(grdsnap_)->sizeHintForColumn(0) : 0;
    grdsnap_->setColumnWidth(0, laidOut + std::clamp(longest - laidOut, 0, spare));
}

void SelectSnapshotWindow::SetGridEnabled(bool enabled) {
    grdsnap_->setEnabled(enabled);
    lblsnap_->setEnabled(enabled);
}

void SelectSnapshotWindow::OnBasePathChosen() {
    QListWidgetItem* item = lstdir_->currentItem();
    if (item == nullptr) return;
    ++pathListings_;
    const std::optional<std::string> host =
        severalHosts_ ? std::optional(item->data(kHostRole).toString().toStdString()) : std::nullopt;
    FillSnapshotGrid(item->data(kPathRole).toString().toStdString(), host);
    SetGridEnabled(true);
}

bool SelectSnapshotWindow::MakeListedPathCurrent(const std::string& path, const std::optional<std::string>& host) {
    for (int i = 0; i < lstdir_->count(); ++i) {
        QListWidgetItem* item = lstdir_->item(i);
        if (item->data(kPathRole).toString().toStdString() != path) continue;
        if (severalHosts_ && host && item->data(kHostRole).toString().toStdString() != *host) continue;
        lstdir_->setCurrentItem(item);
        return true;
    }
    return false;
}

void SelectSnapshotWindow::OnGridClicked(int row) {
    QTableWidgetItem* item = grdsnap_->item(row, 1);
    if (item != nullptr) {
        // A row without a key (none is ever listed so) leaves the choice as it was.
        if (auto key = DateTime::Parse(item->data(kKeyRole).toString().toStdString())) selectedSnapshot_ = *key;
    }
    ShowDetails();
}

void SelectSnapshotWindow::ShowDetails() {
    std::optional<DiskTotals> disk;
    std::vector<Exclusion> exclusions;
    StoreError error = LoadSnapshotInfo(context_.Database, selectedSnapshot_, info_);
    if (error.Ok()) error = ReadDiskusageRow(context_.Database, selectedSnapshot_, disk);
    if (error.Ok()) error = ReadExclusions(context_.Database, selectedSnapshot_, exclusions);
    if (!error.Ok()) ReportStoreError(context_.Messages, context_.Database.DatabasePath, error);
    ShowExclusions(exclusions);
    lbldate_->setText(selectedSnapshot_.IsNull() ? QString() : Text(FormatGeneralDate(selectedSnapshot_)));
    lblpath_->setText(Text(info_.InfoBasePath));
    lbldesc_->setText(Text(info_.InfoDescription));
    lblsize_->setText(Text(FormatSize(info_.InfoTotalBytes)));
    lbldirs_->setText(QString::number(info_.InfoTotalDirs));
    lblfiles_->setText(QString::number(info_.InfoTotalFiles));
    lblcoll_->setText(Text(CollfilesText(info_.InfoCollectFiles)));
    lbllimit_->setText(Text(FormatSize(static_cast<double>(info_.InfoFileLimit))));
    lblfiletot_->setText(QString::number(info_.InfoFilesCollected));
    lblfilesize_->setText(Text(FormatSize(info_.InfoCollectedBytes)));
    // Without figures on disk a dash stands there, and its tip says why: no number is made up.
    const QString dash = QString::fromUtf8("\u2014");
    lbldisk_->setText(disk ? Text(FormatSize(static_cast<double>(disk->Totdiskbytes))) : dash);
    lblfiledisk_->setText(disk ? Text(FormatSize(static_cast<double>(disk->Filediskbytes))) : dash);
    for (QLabel* label : {lbldisk_, lblfiledisk_}) label->setToolTip(disk ? QString() : QString(kNoDiskFigures));
    frmsnap_->setEnabled(true);
}

// The choices on one line, in the order given; the tooltip has one a line,
// since a pattern may hold a comma.
void SelectSnapshotWindow::ShowExclusions(const std::vector<Exclusion>& exclusions) {
    QStringList texts;
    for (const Exclusion& exclusion : exclusions) texts << Text(ExclusionDisplayText(exclusion));
    lblexcl_->setText(texts.isEmpty() ? QString("Nothing") : texts.join(", "));
    lblexcl_->setToolTip(texts.join("\n"));
}

void SelectSnapshotWindow::ClearDetails() {
    for (QLabel* label : {lbldate_, lblpath_, lbldesc_, lblsize_, lbldirs_, lblfiles_, lblcoll_, lbllimit_,
                          lblfiletot_, lblfilesize_, lbldisk_, lblfiledisk_, lblexcl_}) {
        label->clear();
        label->setToolTip({});
    }
    frmsnap_->setEnabled(false);
    selectedSnapshot_ = DateTime{};
    grdsnap_->clearSelection();
}

void SelectSnapshotWindow::OnOk() {
    if (selectedSnapshot_.IsNull()) {
        ShowMessage(context_.Messages, kSelectASnapshot);
        return;
    }
    if (choice_.SelectionMode == 1 && selectedSnapshot_ == choice_.PrimeSnapshotDate) {
        ShowMessage(context_.Messages, "Cannot select this snapshot as it is the same as the prime snapshot");
        return;
    }
    // A later compare snapshot is accepted: the analysis window offers a swap.
    choice_.ChosenSnapshot = selectedSnapshot_;
    choice_.SnapshotChosen = true;
    accept();
}

namespace {

// While a snapshot being written holds the database, the delete waits up to
// its limit (a minute) with the busy pointer, says why in the status bar, and
// keeps the window painted (no input reaches it meanwhile).
class DeleteWait final : public LockWait {
public:
    DeleteWait(QLabel& status, std::chrono::milliseconds limit) : status_(status), limit_(limit) {}
    bool KeepWaiting(std::chrono::milliseconds waited) override {
        status_.setText(QString::fromUtf8(kWaitingForWriter.data(), static_cast<int>(kWaitingForWriter.size())));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return waited < limit_;
    }

private:
    QLabel& status_;
    std::chrono::milliseconds limit_;
};

}  // namespace

void SelectSnapshotWindow::OnDelete() {
    if (selectedSnapshot_.IsNull()) {
        ShowMessage(context_.Messages, kSelectASnapshot);
        return;
    }
    const std::string keyText = FormatGeneralDate(selectedSnapshot_);
    // Deleting cannot be undone, so it is asked first.
    if (!AskYesNo(context_.Messages, "Delete the snapshot taken " + keyText + "?")) return;
    StoreError error;
    {
        WaitPointer pointer;
        DeleteWait wait(*status_, deleteWait_);
        error = DeleteSnapshot(context_.Database, selectedSnapshot_, wait);
    }
    SetStatus();
    if (!error.Ok()) {
        std::string text = "Snapshot taken " + keyText + " could not be deleted";
        if (error.IsDamaged()) text = DamagedDatabaseText(context_.Database.DatabasePath, error.Reason);
        if (error.IsBusy()) text = BusyDatabaseText(context_.Database.DatabasePath) + "; the snapshot was not deleted";
        ShowMessage(context_.Messages, text, Icon::Exclamation);
        return;
    }
    ShowMessage(context_.Messages, "Snapshot taken " + keyText + " deleted");
    // The deleted snapshot must not stay choosable: the lists are read again,
    // and the path listed stays the current one, so that the keys go on
    // from there.
    ClearDetails();
    const std::string listed = listedBasePath_;
    const std::optional<std::string> listedHost = listedHost_;
    FillBasePathList();
    ShowAdvice();
    if (listed.empty()) return;
    if (!choice_.SelectionBasePath.empty() || !MakeListedPathCurrent(listed, listedHost)) {
        FillSnapshotGrid(listed, severalHosts_ ? listedHost : std::nullopt);
    }
}

void SelectSnapshotWindow::OnSelectDatabase() {
    FileDialogRequest request;
    request.Title = "Select Snapshot Database";
    request.InitialPath = Text(context_.Database.DatabasePath);
    request.Filter = "Corvina Files (*.mdb)";
    request.DefaultSuffix = "mdb";
    const std::optional<QString> chosen = context_.Dialogs.ChooseOpenFile(this, request);
    if (!chosen) return;
    SwitchDatabase(chosen->toStdString());
}

void SelectSnapshotWindow::OnRecentItem(int index) {
    const QString caption = menrec_[static_cast<std::size_t>(index)]->text();
    SwitchDatabase(PathFromRecentCaption(caption.toStdString()));
}

void SelectSnapshotWindow::OpenHostsOverview() {
    auto* overview = new HostsOverviewWindow(context_, displayUnit_, this);
    overview->setAttribute(Qt::WA_DeleteOnClose);
    // Modal to this window alone: the database stays the one it shows, and
    // the trend windows it opens, its own, stay usable beside it.
    overview->setWindowModality(Qt::WindowModal);
    overview->show();
}

void SelectSnapshotWindow::SwitchDatabase(const std::string& path) {
    // A failed open leaves the database in use, and this window, as they were.
    if (corvina::SwitchDatabase(context_, path) != SwitchOutcome::Switched) return;
    corvina::RefreshRecentMenu(context_.Settings, menrec_);
    SetStatus();
    FillBasePathList();
    ShowAdvice();
    // Rows and details of the other database would name snapshots this one
    // does not have: they go, and a restricted choice lists its path afresh.
    ClearDetails();
    grdsnap_->setRowCount(0);
    listedBasePath_.clear();
    listedHost_.reset();
    if (!choice_.SelectionBasePath.empty()) FillSnapshotGrid(choice_.SelectionBasePath, RestrictedHost());
}

}  // namespace corvina
