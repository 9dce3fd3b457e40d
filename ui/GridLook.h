#pragma once
// The look and filling the small windows' grids share: compact rows, no row
// numbers, read-only cells, long paths cut at the left so the names stay in
// sight, the whole text in the tooltip.

#include <string>
#include <vector>

class QTableWidget;
class QString;

namespace corvina {

void SetGridLook(QTableWidget& grid);

// Replaces the rows with one row per entry: its two texts in the two columns.
// Bytes that are not UTF-8 are shown as replacement characters.
template <class Entry>
void FillTwoColumnGrid(QTableWidget& grid, const std::vector<Entry>& entries, std::string Entry::*first,
                       std::string Entry::*second);

void ClearGridRows(QTableWidget& grid, int rows);
void SetGridCell(QTableWidget& grid, int row, int column, const std::string& text);

template <class Entry>
void FillTwoColumnGrid(QTableWidget& grid, const std::vector<Entry>& entries, std::string Entry::*first,
                       std::string Entry::*second) {
    ClearGridRows(grid, static_cast<int>(entries.size()));
    int row = 0;
    for (const Entry& entry : entries) {
        SetGridCell(grid, row, 0, entry.*first);
        SetGridCell(grid, row, 1, entry.*second);
        ++row;
    }
}

}  // namespace corvina
