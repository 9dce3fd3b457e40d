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

void SetGridCell(QTableWidget& grid, int row, int column, const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setToolTip(text);
    grid.setItem(row, column, item);
}

}  // namespace corvina
