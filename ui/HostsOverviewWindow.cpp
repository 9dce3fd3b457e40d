#include "ui/HostsOverviewWindow.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <string>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/AnalysisPreferences.h"
#include "report/SessionMessages.h"
#include "report/StoreErrorReport.h"
#include "store/HostLabel.h"
#include "store/SnapshotDatabase.h"
#include "ui/ScreenPlacement.h"
#include "ui/TrendWindow.h"

namespace corvina {

namespace {

constexpr int kPathColumn = 1;
constexpr int kGrowerColumn = 9;
// Age, the sizes, the rate and the days line up on their last digit.
constexpr int kNumberColumns[] = {3, 4, 5, 6, 8};
// Longer paths are cut at their start, which the tooltip shows whole.
constexpr int kWidestPathChars = 36;
// Where a grower is still being read.
const QString kPending = QString::fromUtf8("\u2026");

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString Counted(std::size_t count, const char* one, const char* many) {
    return QString::number(count) + " " + (count == 1 ? one : many);
}

}  // namespace

HostsOverviewWindow::HostsOverviewWindow(ProgramContext& context, char unit, QWidget* parent)
    : QDialog(parent), messages_(context.Messages, this), context_(WithMessages(context, messages_)), unit_(unit) {
    setObjectName("frmhosts");
    setWindowTitle("Hosts Overview");
    BuildControls();
    Refresh();
    FitWindow();
    KeepOpeningOnScreen(*this);
}

void HostsOverviewWindow::BuildControls() {
    grdhosts_ = new QTableWidget(0, static_cast<int>(HostOverviewHeadings(unit_).size()), this);
    grdhosts_->setObjectName("grdhosts");
    QStringList headings;
    // The unit goes on a line of its own: a heading no wider than its
    // figures leaves the grid room for the paths.
    for (const std::string& heading : HostOverviewHeadings(unit_)) headings << Text(heading).replace(" (", "\n(");
    grdhosts_->setHorizontalHeaderLabels(headings);
    grdhosts_->verticalHeader()->hide();
    grdhosts_->verticalHeader()->setDefaultSectionSize(grdhosts_->fontMetrics().height() + 6);
    grdhosts_->horizontalHeader()->setStretchLastSection(true);
    grdhosts_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdhosts_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdhosts_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab goes on to the buttons; the arrows move from row to row.
    grdhosts_->setTabKeyNavigation(false);
    grdhosts_->setWordWrap(false);
    // A path's end tells it apart, and a grower's growth is at its end.
    grdhosts_->setTextElideMode(Qt::ElideLeft);

    comtrend_ = new QPushButton(QString::fromUtf8("&Trend\u2026"), this);
    comtrend_->setObjectName("comtrend");
    // Enter on a row reaches the default button: the row's trend.
    comtrend_->setDefault(true);
    auto* refresh = new QPushButton("&Refresh", this);
    refresh->setObjectName("comrefresh");
    auto* close = new QPushButton("&Close", this);
    close->setObjectName("comclose");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(comtrend_);
    buttons->addWidget(refresh);
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto* bar = new QStatusBar(this);
    bar->setObjectName("stathosts");
    bar->setSizeGripEnabled(false);
    status_ = new QLabel(bar);
    bar->addWidget(status_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grdhosts_, 1);
    layout->addLayout(buttons);
    layout->addWidget(bar);

    connect(grdhosts_, &QTableWidget::cellDoubleClicked, this, &HostsOverviewWindow::ShowTrend);
    connect(comtrend_, &QPushButton::clicked, this, &HostsOverviewWindow::ShowTrend);
    connect(refresh, &QPushButton::clicked, this, &HostsOverviewWindow::Refresh);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
}

void HostsOverviewWindow::Refresh() {
    ++generation_;
    growersPointer_.reset();
    rows_.clear();
    severalHosts_ = false;
    if (context_.Database.IsUsable()) {
        WaitPointer wait;
        SessionMessages told(messages_, context_.Database);
        const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
        StoreError error = HoldsSeveralHosts(context_.Database, severalHosts_);
        if (error.Ok()) error = ReadHostOverview(context_.Database, told, now, rows_, OverviewGrowers::Skip);
        if (!error.Ok()) ReportStoreError(messages_, context_.Database.DatabasePath, error);
    }
    readAt_ = QDateTime::currentDateTime();
    nextGrower_ = 0;
    FillGrid();
    SetStatus();
    if (ReadingGrowers()) {
        growersPointer_ = std::make_unique<WaitPointer>(Qt::BusyCursor);
        QTimer::singleShot(0, this, [this, generation = generation_]() { ReadNextGrower(generation); });
    }
}

void HostsOverviewWindow::FillGrid() {
    const int current = std::max(grdhosts_->currentRow(), 0);
    grdhosts_->setRowCount(static_cast<int>(rows_.size()));
    for (int r = 0; r < grdhosts_->rowCount(); ++r) ShowCells(r);
    FitColumns();
    comtrend_->setEnabled(!rows_.empty());
    // The row the keys were on stays current, so that Enter opens the trend at once.
    if (!rows_.empty()) grdhosts_->setCurrentCell(std::min(current, grdhosts_->rowCount() - 1), 0);
}

void HostsOverviewWindow::ShowCells(int row) {
    const HostOverviewRow& data = rows_[static_cast<std::size_t>(row)];
    const std::vector<std::string> cells = HostOverviewCells(data, unit_);
    const bool pending = static_cast<std::size_t>(row) >= nextGrower_;
    for (int c = 0; c < static_cast<int>(cells.size()); ++c) {
        const QString text = c == kGrowerColumn && pending ? kPending : Text(cells[static_cast<std::size_t>(c)]);
        auto* item = new QTableWidgetItem(text);
        item->setToolTip(c == kGrowerColumn && pending ? QString("Reading the top grower of the last week") : text);
        const bool number = std::find(std::begin(kNumberColumns), std::end(kNumberColumns), c) != std::end(kNumberColumns);
        item->setTextAlignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        grdhosts_->setItem(row, c, item);
    }
}

int HostsOverviewWindow::WidestPath() const {
    return grdhosts_->fontMetrics().horizontalAdvance(QString(kWidestPathChars, 'x'));
}

void HostsOverviewWindow::FitColumns() {
    grdhosts_->resizeColumnsToContents();
    grdhosts_->setColumnWidth(kPathColumn, std::min(grdhosts_->columnWidth(kPathColumn), WidestPath()));
}

void HostsOverviewWindow::FitWindow() {
    // As wide as the columns need, the growers given a path's room before
    // they are read; as high as the rows, between 4 and 16 of them.
    const QHeaderView& header = *grdhosts_->horizontalHeader();
    const int grid = 2 * grdhosts_->frameWidth();
    const int width = header.length() - header.sectionSize(kGrowerColumn) + WidestPath() + grid +
                      grdhosts_->verticalScrollBar()->sizeHint().width();
    const int rows = std::clamp(static_cast<int>(rows_.size()), 4, 16);
    const int height = header.sizeHint().height() + rows * grdhosts_->verticalHeader()->defaultSectionSize() + grid;
    const QMargins margins = layout()->contentsMargins();
    const QSize rest = layout()->sizeHint() - grdhosts_->sizeHint();
    resize(width + margins.left() + margins.right(), height + rest.height());
}

void HostsOverviewWindow::ReadNextGrower(int generation) {
    if (generation != generation_ || !ReadingGrowers()) return;
    HostOverviewRow& row = rows_[nextGrower_];
    SessionMessages told(messages_, context_.Database);
    const StoreError error = ReadOverviewGrower(context_.Database, told, row);
    ++nextGrower_;
    ShowCells(static_cast<int>(nextGrower_) - 1);
    if (!error.Ok()) {
        // One failure is said once; the growers not yet read stay unread.
        nextGrower_ = rows_.size();
        for (int r = 0; r < grdhosts_->rowCount(); ++r) ShowCells(r);
        ReportStoreError(messages_, context_.Database.DatabasePath, error);
    }
    SetStatus();
    if (ReadingGrowers()) {
        QTimer::singleShot(0, this, [this, generation]() { ReadNextGrower(generation); });
    } else {
        growersPointer_.reset();
    }
}

QString HostsOverviewWindow::StatusText() const { return status_->text(); }

void HostsOverviewWindow::SetStatus() {
    if (!context_.Database.IsUsable()) {
        status_->setText("No snapshot database is open");
        return;
    }
    std::set<std::string> hosts;
    for (const HostOverviewRow& row : rows_) hosts.insert(row.Host);
    QString text = Counted(hosts.size(), "host", "hosts") + ", " + Counted(rows_.size(), "base path", "base paths") +
                   "; read " + readAt_.toString("yyyy-MM-dd HH:mm:ss");
    if (ReadingGrowers()) {
        text += QString::fromUtf8("; reading the top growers (%1 of %2)\u2026").arg(nextGrower_ + 1).arg(rows_.size());
    }
    status_->setText(text);
}

void HostsOverviewWindow::ShowTrend() {
    const int current = grdhosts_->currentRow();
    if (current < 0 || current >= static_cast<int>(rows_.size())) return;
    const HostOverviewRow& row = rows_[static_cast<std::size_t>(current)];
    TrendReport report;
    report.BasePath = row.BasePath;
    report.Directory = row.BasePath;
    if (severalHosts_) report.Host = row.Host;
    report.Basis = ReadSizeBasis(context_.Settings);
    {
        WaitPointer wait;
        const StoreError error = ReadTrend(context_.Database, report.BasePath, report.Directory,
                                           PathStyleOfBasePath(report.BasePath), report.Host, report.Points, report.Basis);
        if (!error.Ok()) {
            ReportStoreError(messages_, context_.Database.DatabasePath, error);
            return;
        }
        if (report.Points.empty()) {
            // Deleted by another program since the rows were read.
            ShowMessage(messages_, "No snapshot of " + row.BasePath + " is left; Refresh lists what is");
            return;
        }
        // The grower's own session has told what failed; the trend is still worth showing.
        SessionMessages told(messages_, context_.Database);
        CompleteTrend(context_.Database, told, report);
    }
    // Modeless beside this window, which closes it when it goes.
    auto* trend = new TrendWindow(report, unit_, context_.Dialogs, messages_, this);
    trend->setAttribute(Qt::WA_DeleteOnClose);
    trend->show();
}

}  // namespace corvina
