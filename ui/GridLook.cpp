#include "ui/GridLook.h"

#include <QHeaderView>
#include <QTableWidget>

namespace corvina {

void SetGridLook(QTableWidget& grid) {
    grid.verticalHeader()->setVisible(false);
    grid.verticalHeader()->setDefaultSectionSize(grid.fontMetrics().height() + 6);
    grid.horizontalHeader()->setStretchLastSection(true);
    grid.setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid.setWordWrap(false);
    grid.setTextElideMode(Qt::ElideLeft);
}

void ClearGridRows(QTableWidget& grid, int rows) {
    grid.clearContents();
    grid.setRowCount(rows);
    grid.scrollToTop();
}

void SetGridCell(QTableWidget& grid, int row, int column, const std::string& text) {
    const QString shown = QString::fromStdString(text);
    auto* item = new QTableWidgetItem(shown);
    item->setToolTip(shown);
    grid.setItem(row, column, item);
}

}  // namespace corvina
