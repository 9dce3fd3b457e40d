#include "ui/TrendWindow.h"

#include <cmath>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/SizeFormat.h"
#include "store/HostLabel.h"
#include "ui/ResultExport.h"
#include "ui/TrendChart.h"

namespace corvina {

namespace {

// The forecast's rate and the top grower's growth in unit, unless they would
// read 0 there (97 KB a day in megabytes): then in the unit that keeps them
// at least 1.
char AmountUnit(double bytes, char unit) {
    const bool none = FormatSizeCell(CellValue(std::round(bytes)), unit, SizeRounding::TowardZero) == "0";
    return none && bytes != 0 ? kAutoUnit : unit;
}

}  // namespace

TrendWindow::TrendWindow(const TrendReport& report, char unit, FileDialogs& dialogs, Prompter& prompter,
                         QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), prompter_(prompter) {
    setObjectName("frmtrend");
    setWindowTitle("Directory Trend");
    if (report.Host) {
        setWindowTitle(QString::fromStdString("Directory Trend - " + report.Directory + " (" +
                                              HostDisplayName(*report.Host) + ")"));
    }
    chart_ = new TrendChart;
    chart_->setObjectName("trendchart");
    chart_->SetReport(report);
    grdtrend_ = new QTableWidget;
    grdtrend_->setObjectName("grdtrend");
    FillTable(report, unit);

    const char rateUnit = AmountUnit(report.Full.BytesPerDay, unit);
    auto* forecast = new QLabel(QString::fromStdString(ForecastSummary(report.Full, rateUnit)));
    forecast->setObjectName("lblforecast");
    const char growerUnit = report.Grower ? AmountUnit(report.Grower->Bytes, unit) : unit;
    auto* grower = new QLabel(QString::fromStdString(GrowerSummary(report, growerUnit)));
    grower->setObjectName("lblgrower");
    grower->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cmdgrower_ = new QPushButton("Show in &Tree");
    cmdgrower_->setObjectName("cmdgrower");
    cmdgrower_->setEnabled(report.Grower.has_value());
    cmdgrower_->hide();
    auto* save = new QPushButton("Save Chart &As…");
    save->setObjectName("cmdsavechart");
    auto* close = new QPushButton("&Close");
    close->setObjectName("cmdclose");
    close->setDefault(true);

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(chart_);
    splitter->addWidget(grdtrend_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    auto* growerRow = new QHBoxLayout;
    growerRow->addWidget(grower, 1);
    growerRow->addWidget(cmdgrower_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addWidget(forecast);
    layout->addLayout(growerRow);
    layout->addLayout(buttons);
    resize(900, 680);

    const std::string directory = report.Grower ? report.Grower->Directory : std::string();
    connect(cmdgrower_, &QPushButton::clicked, this, [this, directory]() {
        if (growerOpener_) growerOpener_(directory);
    });
    connect(save, &QPushButton::clicked, this, [this]() {
        SaveChartImage(*chart_,
                       QString::fromStdString("Trend of " + chart_->Report().Directory +
                                              BasisSuffix(chart_->Report().Basis)),
                       dialogs_, prompter_);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
}

void TrendWindow::SetGrowerOpener(std::function<void(const std::string&)> opener) {
    growerOpener_ = std::move(opener);
    cmdgrower_->setVisible(static_cast<bool>(growerOpener_));
}

void TrendWindow::FillTable(const TrendReport& report, char unit) {
    const auto cells = TrendCells(report.Points, unit, report.Basis);
    const int columns = static_cast<int>(cells.front().size());
    grdtrend_->setColumnCount(columns);
    grdtrend_->setRowCount(static_cast<int>(cells.size()) - 1);
    for (int c = 0; c < columns; ++c) {
        grdtrend_->setHorizontalHeaderItem(c, new QTableWidgetItem(QString::fromStdString(cells[0][static_cast<std::size_t>(c)])));
    }
    for (std::size_t r = 1; r < cells.size(); ++r) {
        for (int c = 0; c < columns; ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(cells[r][static_cast<std::size_t>(c)]));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            // The key reads left to right; the figures line up on their last digit.
            item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
            grdtrend_->setItem(static_cast<int>(r) - 1, c, item);
        }
    }
    grdtrend_->verticalHeader()->hide();
    grdtrend_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    grdtrend_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Room for a heading and four rows before the chart gives way.
    grdtrend_->setMinimumHeight(grdtrend_->horizontalHeader()->sizeHint().height() +
                                4 * grdtrend_->verticalHeader()->defaultSectionSize() + 2 * grdtrend_->frameWidth());
}

}  // namespace corvina
