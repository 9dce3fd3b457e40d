#include "ui/DebugWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/GridLook.h"
#include "ui/Twips.h"
#include "ui/WindowPrinter.h"

namespace corvina {

DebugWindow::DebugWindow(RunControl& control, FileDialogs& dialogs, Prompter& prompter, QWidget* parent)
    : QDialog(parent), control_(control), dialogs_(dialogs), prompter_(prompter, this) {
    setObjectName("frmdebug");
    setWindowTitle("Debug Information");
    // Modal over the take-snapshot window only: the walk waits for it.
    setWindowModality(Qt::WindowModal);
    BuildControls();
    resize(TwipsToPixels(7170, *this), TwipsToPixels(6360, *this));
}

DebugWindow::~DebugWindow() {
    // Gone while the walk waited (the program is closing): give back the pointer.
    if (waiting_) QApplication::restoreOverrideCursor();
}

void DebugWindow::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    auto [exitItem, printItem] = AddExitPrintMenu(*this, *layout);

    title_ = new QLabel(this);
    title_->setObjectName("lbltitle");
    title_->setTextFormat(Qt::PlainText);
    title_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(title_);

    grid_ = new QTableWidget(0, 2, this);
    grid_->setObjectName("grddebug");
    grid_->setHorizontalHeaderLabels({"Directory", "Attributes"});
    grid_->setColumnWidth(0, TwipsToPixels(4000, *this));
    grid_->setColumnWidth(1, TwipsToPixels(1000, *this));
    SetGridLook(*grid_);
    layout->addWidget(grid_, 1);

    auto* buttons = new QHBoxLayout;
    auto* continueButton = new QPushButton("Continue", this);
    continueButton->setObjectName("comexit");
    continueButton->setDefault(true);
    continueButton->setAutoDefault(true);
    auto* abortButton = new QPushButton("Abort Snapshot ", this);
    abortButton->setObjectName("comhalt");
    abortButton->setAutoDefault(false);
    auto* switchButton = new QPushButton("Switch Debug mode off", this);
    switchButton->setObjectName("comdebug");
    switchButton->setAutoDefault(false);
    buttons->addWidget(continueButton);
    buttons->addStretch();
    buttons->addWidget(abortButton);
    buttons->addStretch();
    buttons->addWidget(switchButton);
    layout->addLayout(buttons);

    auto* legend = new QLabel("0=normal,1=read-only, 2=hidden,4=system,8=???,16=dir,32=archive", this);
    legend->setObjectName("Label1");
    layout->addWidget(legend);

    connect(continueButton, &QPushButton::clicked, this, &DebugWindow::OnContinue);
    connect(abortButton, &QPushButton::clicked, this, &DebugWindow::OnAbort);
    connect(switchButton, &QPushButton::clicked, this, &DebugWindow::OnSwitchOff);
    // E&xit lets the walk go on, as Continue does.
    connect(exitItem, &QAction::triggered, this, &DebugWindow::OnContinue);
    connect(printItem, &QAction::triggered, this, [this]() { PrintWindowImage(*this, dialogs_, prompter_); });
}

void DebugWindow::ShowStop(const QString& title, const std::vector<DebugEntry>& entries) {
    title_->setText(title);
    title_->setToolTip(title);
    FillTwoColumnGrid(*grid_, entries, &DebugEntry::Path, &DebugEntry::Attributes);
    waiting_ = true;
    switchedOff_ = false;
    // The run shows the busy pointer; the user needs the normal one here.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    show();
    raise();
    activateWindow();
}

void DebugWindow::Finish(DebugAnswer answer) {
    if (!waiting_) {
        hide();
        return;
    }
    waiting_ = false;
    QApplication::restoreOverrideCursor();
    hide();
    emit Answered(answer);
}

void DebugWindow::OnContinue() { Finish(switchedOff_ ? DebugAnswer::SwitchOff : DebugAnswer::Continue); }

void DebugWindow::OnSwitchOff() {
    // Takes effect at once; the window stays open until the user continues.
    control_.DebugMode = false;
    switchedOff_ = true;
}

void DebugWindow::OnAbort() {
    control_.AbortFlag = true;
    Finish(DebugAnswer::Abort);
}

void DebugWindow::closeEvent(QCloseEvent* event) {
    // Closing the window lets the walk go on, like E&xit.
    OnContinue();
    event->accept();
}

void DebugWindow::reject() { OnContinue(); }

}  // namespace corvina
