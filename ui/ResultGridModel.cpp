#include "ui/ResultGridModel.h"

#include <algorithm>

namespace corvina {

ResultGridModel::ResultGridModel(const ResultGrid& grid, Part part, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), part_(part) {}

int ResultGridModel::FirstRow() const {
    // Row 0 is always the heading; the fixed part is what lies between it and
    // the first scrolling row.
    if (part_ == Part::Fixed) return 1;
    return std::max(grid_.FixedRows(), 1);
}

int ResultGridModel::LastRow() const {
    if (part_ == Part::Fixed) return std::min(std::max(grid_.FixedRows(), 1), grid_.RowCount());
    return grid_.RowCount();
}

int ResultGridModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return std::max(LastRow() - FirstRow(), 0);
}

int ResultGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : grid_.ColumnCount();
}

QVariant ResultGridModel::CellText(const QModelIndex& index) const {
    return QString::fromStdString(grid_.Cell(GridRow(index.row()), index.column()));
}

QVariant ResultGridModel::CellAlignment(int column) const {
    const Qt::Alignment horizontal =
        grid_.Alignment(column) == corvina::CellAlignment::Right ? Qt::AlignRight : Qt::AlignLeft;
    return QVariant::fromValue(horizontal | Qt::AlignVCenter);
}

QVariant ResultGridModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: return CellText(index);
        case Qt::TextAlignmentRole: return CellAlignment(index.column());
        default: return {};
    }
}

QVariant ResultGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= grid_.ColumnCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return QString::fromStdString(grid_.Cell(0, section));
    if (role == Qt::TextAlignmentRole) return CellAlignment(section);
    return {};
}

}  // namespace corvina
