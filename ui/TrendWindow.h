#pragma once
// frmtrend, "Directory Trend": one directory across every snapshot of its
// base path, with the forecast of when its file system fills and the
// directory below it whose own files grew most. It shows a TrendReport read
// when it opened (the table is the one "corvina-cli trend" prints) and reads
// nothing more, so it may stay open beside the analysis window, which closes
// it when it goes. "Show in Tree" hands the top grower back to that window.
// Where the database holds several hosts, the title names the host and path.
//
// Error policy: nothing here fails; saving the chart says its own failures
// through the prompter.

#include <functional>
#include <string>

#include <QDialog>

#include "analysis/Trend.h"

class QPushButton;
class QTableWidget;

namespace corvina {

class FileDialogs;
class Prompter;
class TrendChart;

class TrendWindow : public QDialog {
    Q_OBJECT
public:
    // Sizes show in unit (base/SizeFormat.h): the analysis window's, or
    // kAutoUnit.
    TrendWindow(const TrendReport& report, char unit, FileDialogs& dialogs, Prompter& prompter,
                QWidget* parent = nullptr);

    // What "Show in &Tree" does with the top grower's directory; without
    // one (no tree to show it in) the button is hidden.
    void SetGrowerOpener(std::function<void(const std::string&)> opener);

    TrendChart& Chart() { return *chart_; }

private:
    void FillTable(const TrendReport& report, char unit);

    FileDialogs& dialogs_;
    Prompter& prompter_;
    std::function<void(const std::string&)> growerOpener_;
    TrendChart* chart_ = nullptr;
    QPushButton* cmdgrower_ = nullptr;
    QTableWidget* grdtrend_ = nullptr;
};

}  // namespace corvina
