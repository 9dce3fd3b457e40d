#pragma once
// frmhosts, "Hosts Overview": every host and base path of the open database in
// one grid, fewest days left first, the rows "corvina-cli hosts" lists. The
// rows show as soon as the forecasts are read; the top growers, each a
// comparison of two snapshots, follow one row at a time with events running
// in between, so that a large database keeps the window usable meanwhile. A
// row's trend opens in a TrendWindow of its own (double click, Enter or
// "Trend…"); those windows are this one's children and go with it.
//
// The window owns its controls and the rows it read; the database, prompter,
// settings and dialogs belong to the ProgramContext. Failures are said through
// the context's prompter, over this window; the rows read up to a failure stay.

#include <cstddef>
#include <memory>
#include <vector>

#include <QDateTime>
#include <QDialog>

#include "analysis/HostOverview.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/ProgramContext.h"
#include "ui/WaitPointer.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace corvina {

class HostsOverviewWindow : public QDialog {
    Q_OBJECT
public:
    // Reads the rows before it returns. Sizes show in unit (base/SizeFormat.h),
    // the analysis window's.
    HostsOverviewWindow(ProgramContext& context, char unit, QWidget* parent = nullptr);

    // Reads the rows again, then their top growers.
    void Refresh();
    bool ReadingGrowers() const { return nextGrower_ < rows_.size(); }
    QString StatusText() const;

private:
    void BuildControls();
    void FillGrid();
    void ShowCells(int row);
    int WidestPath() const;
    void FitColumns();
    void FitWindow();
    void ReadNextGrower(int generation);
    void SetStatus();
    // The trend of the current row's base path (of its host, when hosts are told apart).
    void ShowTrend();

    WindowPrompter messages_;  // the context's prompter, over this window
    ProgramContext context_;
    char unit_;
    std::vector<HostOverviewRow> rows_;
    bool severalHosts_ = false;
    std::size_t nextGrower_ = 0;  // rows_.size() once every grower is read
    int generation_ = 0;          // a Refresh drops the growers still to read of the rows before it
    QDateTime readAt_;
    std::unique_ptr<WaitPointer> growersPointer_;  // while growers are still read

    QTableWidget* grdhosts_ = nullptr;
    QPushButton* comtrend_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace corvina
