#include "ui/FileErrorsWindow.h"

#include <algorithm>

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/GridLook.h"
#include "ui/ScreenPlacement.h"
#include "ui/Twips.h"
#include "ui/WindowPrinter.h"

namespace corvina {

FileErrorsWindow::FileErrorsWindow(FileDialogs& dialogs, Prompter& prompter, QWidget* owner)
    : QWidget(owner, Qt::Window), dialogs_(dialogs), prompter_(prompter) {
    setObjectName("frmerr");
    setWindowTitle("File Errors");
    auto* layout = new QVBoxLayout(this);
    auto [exitItem, printItem] = AddExitPrintMenu(*this, *layout);

    auto* heading = new QLabel("Errors encountered processing the following files", this);
    heading->setObjectName("Label1");
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSize(12);
    heading->setFont(bold);
    layout->addWidget(heading);

    grid_ = new QTableWidget(0, 2, this);
    grid_->setObjectName("grderr");
    grid_->setHorizontalHeaderLabels({"File", "Error"});
    SetGridLook(*grid_);
    // The paths take what the messages leave, cut at the left rather than
    // scrolled sideways; the full path is in each cell's tip.
    grid_->horizontalHeader()->setStretchLastSection(false);
    grid_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    grid_->setColumnWidth(1, TwipsToPixels(2000, *this));
    layout->addWidget(grid_, 1);

    connect(exitItem, &QAction::triggered, this, &QWidget::close);
    connect(printItem, &QAction::triggered, this, [this]() { PrintWindowImage(*this, dialogs_, prompter_); });
    // Wide enough for the bold heading and a useful part of each path.
    resize(std::max(TwipsToPixels(6840, *this), sizeHint().width() + 120), TwipsToPixels(5910, *this));
    KeepOpeningOnScreen(*this);
}

void FileErrorsWindow::ShowErrors(const std::vector<ErrorEntry>& errors) {
    FillTwoColumnGrid(*grid_, errors, &ErrorEntry::File, &ErrorEntry::Error);
    // Messages are short; a long one may not push the paths out of sight.
    grid_->resizeColumnToContents(1);
    grid_->setColumnWidth(1, std::min(grid_->columnWidth(1), width() / 2));
    show();
    raise();
}

}  // namespace corvina
