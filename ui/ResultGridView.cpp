#include "ui/ResultGridView.h"

#include <algorithm>
#include <map>

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include "ui/Twips.h"

namespace corvina {

namespace {

QTableView* MakeTable(const char* name, QWidget* parent) {
    auto* table = new QTableView(parent);
    table->setObjectName(name);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setWordWrap(false);
    // Long paths lose their beginning rather than the name at their end.
    table->setTextElideMode(Qt::ElideLeft);
    table->horizontalHeader()->setHighlightSections(false);
    return table;
}

}  // namespace

ResultGridView::ResultGridView(const ResultGrid& grid, QWidget* parent) : QWidget(parent), grid_(grid) {
    setObjectName("grdanal");
    fixedModel_ = new ResultGridModel(grid, ResultGridModel::Part::Fixed, this);
    detailModel_ = new ResultGridModel(grid, ResultGridModel::Part::Scrolling, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    fixed_ = MakeTable("grdanal_fixed", this);
    fixed_->setModel(fixedModel_);
    fixed_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fixed_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fixed_->horizontalHeader()->setSectionsClickable(true);
    fixed_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fixed_->setStyleSheet("QTableView { font-weight: bold; }");
    details_ = MakeTable("grdanal_rows", this);
    details_->setModel(detailModel_);
    details_->horizontalHeader()->setVisible(false);
    layout->addWidget(fixed_);
    layout->addWidget(details_, 1);

    // Sideways scrolling and column widths move both tables together.
    connect(details_->horizontalScrollBar(), &QScrollBar::valueChanged, fixed_->horizontalScrollBar(),
            &QScrollBar::setValue);
    connect(fixed_->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int size) { details_->setColumnWidth(column, size); });
    connect(fixed_->horizontalHeader(), &QHeaderView::sectionClicked, this, &ResultGridView::ColumnClicked);
    connect(fixed_, &QTableView::clicked, this, [this](const QModelIndex& index) { emit ColumnClicked(index.column()); });
    connect(details_, &QTableView::clicked, this, [this](const QModelIndex& index) {
        emit DetailClicked(detailModel_->GridRow(index.row()), index.column());
    });
    // The tables' own Ctrl+C copies only the current cell.
    fixed_->installEventFilter(this);
    details_->installEventFilter(this);
    ApplyLayout();
}

QString ResultGridView::SelectedText() const {
    std::map<int, std::map<int, QString>> cells;  // grid row, column
    for (const QTableView* table : {fixed_, details_}) {
        const auto& model = static_cast<const ResultGridModel&>(*table->model());
        for (const QModelIndex& index : table->selectionModel()->selectedIndexes()) {
            cells[model.GridRow(index.row())][index.column()] = index.data().toString();
        }
    }
    QStringList lines;
    for (const auto& [row, columns] : cells) {
        QStringList texts;
        for (const auto& [column, text] : columns) texts << text;
        lines << texts.join('\t');
    }
    return lines.join('\n');
}

bool ResultGridView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        QGuiApplication::clipboard()->setText(SelectedText());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ResultGridView::BeginChange() {
    fixedModel_->BeginChange();
    detailModel_->BeginChange();
}

void ResultGridView::EndChange() {
    fixedModel_->EndChange();
    detailModel_->EndChange();
    ApplyLayout();
}

void ResultGridView::ApplyLayout() {
    const QFontMetrics heading = fixed_->horizontalHeader()->fontMetrics();
    QFont bold = fixed_->font();
    bold.setBold(true);
    const QFontMetrics totals(bold);
    widths_.clear();
    for (int c = 0; c < grid_.ColumnCount(); ++c) {
        // A heading is never cut: its column grows to the whole text.
        // The unit labels carry blanks to a fixed width; they count.
        const QString text = QString::fromStdString(grid_.Cell(0, c));
        int width = std::max(TwipsToPixels(grid_.ColumnWidth(c), *this), heading.horizontalAdvance(text) + 14);
        // So is the total row, up to twice the laid-out width.
        for (int r = 1; r < grid_.FixedRows(); ++r) {
            const int total = totals.horizontalAdvance(QString::fromStdString(grid_.Cell(r, c))) + 14;
            width = std::max(width, std::min(total, 2 * TwipsToPixels(grid_.ColumnWidth(c), *this)));
        }
        widths_.push_back(width);
    }
    FitColumns();
    const int rows = fixedModel_->rowCount();
    const int height = fixed_->horizontalHeader()->sizeHint().height() +
                       rows * fixed_->verticalHeader()->defaultSectionSize() + 2 * fixed_->frameWidth();
    fixed_->setFixedHeight(height);
}

void ResultGridView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitColumns();
}

void ResultGridView::FitColumns() {
    // The first column, the names, takes the width the others leave: a
    // wider window shows more of a long path. Room is kept for the scroll
    // bar, whether or not it shows yet, so that no sideways bar comes and goes.
    int spare = details_->width() - 2 * details_->frameWidth() - details_->verticalScrollBar()->sizeHint().width();
    for (int width : widths_) spare -= width;
    for (std::size_t c = 0; c < widths_.size(); ++c) {
        const int width = widths_[c] + (c == 0 ? std::max(spare, 0) : 0);
        fixed_->setColumnWidth(static_cast<int>(c), width);
        details_->setColumnWidth(static_cast<int>(c), width);
    }
}

}  // namespace corvina
