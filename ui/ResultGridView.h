#pragma once
// grdanal: the result grid as the user sees it. The heading row and a total
// row stay in place in an upper table while the detail rows scroll in a lower
// one; both show the same columns at the widths the layout gave, and scroll
// sideways together. A click on a heading reports its column (the window
// sorts on it). Cells are selected as in a spreadsheet, across both tables:
// a click selects a cell, Shift+click and Shift+arrows extend the selection,
// Ctrl+click adds to it, Ctrl+A selects all. Ctrl+C copies the selected cells
// as tab-separated text, a line per row, for a spreadsheet to paste.
//
// The view owns its two models and tables; the grid belongs to the caller.

#include <QWidget>

#include <vector>

#include "analysis/ResultGrid.h"
#include "ui/ResultGridModel.h"

class QTableView;

namespace corvina {

class ResultGridView : public QWidget {
    Q_OBJECT
public:
    explicit ResultGridView(const ResultGrid& grid, QWidget* parent = nullptr);

    // Bracket every change of the grid's rows, columns or cells.
    void BeginChange();
    void EndChange();

    // The grid's width in a window of the default size. Up to it the columns
    // keep the widths the layout gave them; a wider grid gives the width the
    // columns leave to those that hold names, where longer texts are cut.
    void SetDefaultWidth(int pixels);

    ResultGridModel& FixedModel() { return *fixedModel_; }
    ResultGridModel& DetailModel() { return *detailModel_; }
    QTableView& FixedTable() { return *fixed_; }
    QTableView& DetailTable() { return *details_; }

    // The selected cells, a grid row per line in grid order, the cells of a
    // row in column order and separated by tabs.
    QString SelectedText() const;

signals:
    void ColumnClicked(int column);
    // A click on a scrolling row without Shift or Ctrl, which select: its
    // row of the grid, and the column.
    void DetailClicked(int row, int column);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyLayout();
    void FitColumns();
    void CellPressed(QTableView& table, const QModelIndex& index);
    // The cells between two grid cells, in whichever table each row is.
    void SelectRange(int fromRow, int fromColumn, int toRow, int toColumn, bool adding);
    const ResultGridModel& ModelOf(const QTableView& table) const;

    const ResultGrid& grid_;
    ResultGridModel* fixedModel_ = nullptr;
    ResultGridModel* detailModel_ = nullptr;
    QTableView* fixed_ = nullptr;
    QTableView* details_ = nullptr;
    std::vector<int> widths_;  // as laid out, before the spare width
    // Per column, what its widest text needs beyond its laid-out width; 0 for
    // columns that hold no names.
    std::vector<int> shortfalls_;
    int defaultWidth_ = 0;
    Qt::KeyboardModifiers pressModifiers_;  // of the last mouse press on a cell
    // The grid cell a Shift+click extends from: the last cell pressed
    // without Shift; row -1 when none since the grid changed.
    int anchorRow_ = -1;
    int anchorColumn_ = -1;
};

}  // namespace corvina
