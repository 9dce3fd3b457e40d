#pragma once
// A read-only table model over one part of the analysis result grid: either
// the fixed rows below the heading (the total row, when there is one) or the
// scrolling detail rows. The heading row (grid row 0) is the horizontal
// header of both. The grid itself belongs to the AnalysisSession; the window
// brackets every change to it with BeginChange and EndChange.

#include <QAbstractTableModel>

#include "analysis/ResultGrid.h"

namespace corvina {

class ResultGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class Part { Fixed, Scrolling };

    ResultGridModel(const ResultGrid& grid, Part part, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The grid row a model row shows.
    int GridRow(int row) const { return FirstRow() + row; }

    void BeginChange() { beginResetModel(); }
    void EndChange() { endResetModel(); }

private:
    int FirstRow() const;
    int LastRow() const;  // one past the last row of this part
    QVariant CellText(const QModelIndex& index) const;
    QVariant CellAlignment(int column) const;

    const ResultGrid& grid_;
    Part part_;
};

}  // namespace corvina
