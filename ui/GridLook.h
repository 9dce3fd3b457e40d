#pragma once
// The look the small windows' grids share: compact rows, no row numbers,
// read-only cells, long paths cut at the left so the names stay in sight,
// the whole text in the tooltip.

class QTableWidget;
class QString;

namespace corvina {

void SetGridLook(QTableWidget& grid);
void SetGridCell(QTableWidget& grid, int row, int column, const QString& text);

}  // namespace corvina
