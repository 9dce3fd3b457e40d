#include "ui/ResultGridView.h"

#include <algorithm>
#include <map>

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include "ui/Twips.h"

namespace corvina {

namespace {

// Room around a text in a cell or a heading, the margins and a sort
// indicator's place.
constexpr int kTextRoom = 14;

// The widest text of a column below its heading, a total row in bold.
int WidestCell(const ResultGrid& grid, int column, const QFontMetrics& totals, const QFontMetrics& cells) {
    int widest = 0;
    for (int r = 1; r < grid.RowCount(); ++r) {
        const QFontMetrics& font = r < grid.FixedRows() ? totals : cells;
        widest = std::max(widest, font.horizontalAdvance(QString::fromStdString(grid.Cell(r, column))));
    }
    return widest + kTextRoom;
}

// The spare width of the grid shared among the columns that hold names.
std::vector<int> SpareForNames(int spare, const std::vector<int>& widths, const std::vector<int>& shortfalls,
                               const ResultGrid& grid) {
    std::vector<int> extra(widths.size(), 0);
    long long needed = 0, named = 0;
    for (std::size_t c = 0; c < widths.size(); ++c) {
        if (!grid.HoldsNames(static_cast<int>(c))) continue;
        needed += shortfalls[c];
        named += widths[c];
    }
    if (spare <= 0 || named == 0) return extra;
    // First what the widest texts lack, shared by need while the spare is
    // short; what is left over, by the columns' widths.
    const long long first = std::min<long long>(spare, needed);
    int given = 0;
    std::size_t last = 0;
    for (std::size_t c = 0; c < widths.size(); ++c) {
        if (!grid.HoldsNames(static_cast<int>(c))) continue;
        const long long share = needed == 0 ? 0 : first * shortfalls[c] / needed;
        extra[c] = static_cast<int>(share + (spare - first) * widths[c] / named);
        given += extra[c];
        last = c;
    }
    extra[last] += spare - given;  // what the divisions rounded away
    return extra;
}

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
    // Sorting is for the headings: a click on a cell selects it, and a sort
    // would put other cells under the selection.
    connect(fixed_->horizontalHeader(), &QHeaderView::sectionClicked, this, &ResultGridView::ColumnClicked);
    connect(details_, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if ((pressModifiers_ & (Qt::ShiftModifier | Qt::ControlModifier)) != 0) return;
        emit DetailClicked(detailModel_->GridRow(index.row()), index.column());
    });
    for (QTableView* table : {fixed_, details_}) {
        connect(table, &QTableView::pressed, this, [this, table](const QModelIndex& index) { CellPressed(*table, index); });
        // The tables' own Ctrl+C copies only the current cell, and their
        // Ctrl+A selects only their own cells.
        table->installEventFilter(this);
        // The modifiers of a press, which the pressed signal does not carry.
        table->viewport()->installEventFilter(this);
    }
    ApplyLayout();
}

const ResultGridModel& ResultGridView::ModelOf(const QTableView& table) const {
    return &table == fixed_ ? *fixedModel_ : *detailModel_;
}

// Each table extends a selection within itself; the grid keeps one anchor for
// both, so that a total row and detail rows select and copy together.
void ResultGridView::CellPressed(QTableView& table, const QModelIndex& index) {
    QTableView& other = &table == fixed_ ? *details_ : *fixed_;
    const bool adding = (pressModifiers_ & Qt::ControlModifier) != 0;
    const int row = ModelOf(table).GridRow(index.row());
    if ((pressModifiers_ & Qt::ShiftModifier) == 0 || anchorRow_ < 0) {
        anchorRow_ = row;
        anchorColumn_ = index.column();
        if (!adding) other.selectionModel()->clearSelection();
        return;
    }
    const bool anchorHere = (anchorRow_ < grid_.FixedRows()) == (&table == fixed_);
    if (anchorHere) {
        if (!adding) other.selectionModel()->clearSelection();
        return;
    }
    SelectRange(anchorRow_, anchorColumn_, row, index.column(), adding);
}

void ResultGridView::SelectRange(int fromRow, int fromColumn, int toRow, int toColumn, bool adding) {
    const auto [top, bottom] = std::minmax(fromRow, toRow);
    const auto [left, right] = std::minmax(fromColumn, toColumn);
    for (QTableView* table : {fixed_, details_}) {
        const ResultGridModel& model = ModelOf(*table);
        const int first = std::max(top - model.GridRow(0), 0);
        const int last = std::min(bottom - model.GridRow(0), model.rowCount() - 1);
        QItemSelection range;
        if (first <= last) range.select(model.index(first, left), model.index(last, right));
        const auto command = adding ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect;
        table->selectionModel()->select(range, command);
    }
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
    if (event->type() == QEvent::MouseButtonPress) {
        pressModifiers_ = static_cast<QMouseEvent*>(event)->modifiers();
    } else if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy)) {
            QGuiApplication::clipboard()->setText(SelectedText());
            return true;
        }
        if (key->matches(QKeySequence::SelectAll)) {
            fixed_->selectAll();
            details_->selectAll();
            return true;
        }
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
    anchorRow_ = -1;
    ApplyLayout();
}

void ResultGridView::ApplyLayout() {
    const QFontMetrics heading = fixed_->horizontalHeader()->fontMetrics();
    QFont bold = fixed_->font();
    bold.setBold(true);
    const QFontMetrics totals(bold);
    widths_.clear();
    shortfalls_.clear();
    for (int c = 0; c < grid_.ColumnCount(); ++c) {
        // A heading is never cut: its column grows to the whole text.
        // The unit labels carry blanks to a fixed width; they count.
        const QString text = QString::fromStdString(grid_.Cell(0, c));
        int width = std::max(TwipsToPixels(grid_.ColumnWidth(c), *this), heading.horizontalAdvance(text) + kTextRoom);
        // So is the total row, up to twice the laid-out width.
        for (int r = 1; r < grid_.FixedRows(); ++r) {
            const int total = totals.horizontalAdvance(QString::fromStdString(grid_.Cell(r, c))) + kTextRoom;
            width = std::max(width, std::min(total, 2 * TwipsToPixels(grid_.ColumnWidth(c), *this)));
        }
        widths_.push_back(width);
        const int widest = grid_.HoldsNames(c) ? WidestCell(grid_, c, totals, details_->fontMetrics()) : 0;
        shortfalls_.push_back(std::max(widest - width, 0));
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

void ResultGridView::SetDefaultWidth(int pixels) {
    defaultWidth_ = pixels;
    FitColumns();
}

void ResultGridView::FitColumns() {
    // Room is kept for the scroll bar, whether or not it shows yet, so that
    // no sideways bar comes and goes.
    int spare = details_->width() - 2 * details_->frameWidth() - details_->verticalScrollBar()->sizeHint().width();
    for (int width : widths_) spare -= width;
    // Up to the default size the laid-out widths stand, as designed; a
    // sideways scroll bar shows the columns they leave out.
    if (width() <= defaultWidth_) spare = 0;
    const std::vector<int> extra = SpareForNames(spare, widths_, shortfalls_, grid_);
    for (std::size_t c = 0; c < widths_.size(); ++c) {
        fixed_->setColumnWidth(static_cast<int>(c), widths_[c] + extra[c]);
        details_->setColumnWidth(static_cast<int>(c), widths_[c] + extra[c]);
    }
}

}  // namespace corvina
