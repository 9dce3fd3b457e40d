#pragma once
// The result grid as plain data: what the window's grid shows, cell by cell.
// Row 0 is the heading row; the first FixedRows rows (headings and a total row)
// stay in place while the rest scroll and sort. The window wraps this in a table
// model; nothing here knows about widgets.
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

#include <string>
#include <vector>

namespace corvina {

enum class CellAlignment { Left, Right };

class ResultGrid {
public:
    int RowCount() const { return static_cast<int>(rows_.size()); }
    int ColumnCount() const { return columnCount_; }
    int FixedRows() const { return fixedRows_; }

    // Rows added are empty; rows removed are gone.
    void SetRowCount(int rows);
    // Cells, widths and alignments of new columns start empty, 0 and left.
    void SetColumnCount(int columns);
    // Clamped to the row count.
    void SetFixedRows(int rows);

    // "" outside the grid.
    const std::string& Cell(int row, int column) const;
    // Ignored outside the grid.
    void SetCell(int row, int column, std::string text);

    int ColumnWidth(int column) const;  // twips
    void SetColumnWidth(int column, int twips);
    CellAlignment Alignment(int column) const;
    void SetAlignment(int column, CellAlignment alignment);
    // Whether the column holds names or paths: the columns that show more of
    // their texts in a wider grid. New columns hold none.
    bool HoldsNames(int column) const;
    void SetHoldsNames(int column, bool names);

    // Sorts the scrolling rows (below the fixed rows) on one column, stably:
    // cells that read as numbers compare as numbers and come before texts,
    // texts compare byte by byte. Fixed rows are untouched.
    void SortScrollingRows(int column, bool ascending);

private:
    std::vector<std::vector<std::string>> rows_;
    std::vector<int> widths_;
    std::vector<CellAlignment> alignments_;
    std::vector<bool> names_;
    int columnCount_ = 0;
    int fixedRows_ = 0;
};

// True when the whole text (blanks around it allowed) is a decimal number;
// value receives it.
bool ReadNumber(const std::string& text, double* value);

}  // namespace corvina
