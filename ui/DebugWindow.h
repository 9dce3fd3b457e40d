#pragma once
// frmdebug, "Debug Information": the walk's stop in debug mode. It lists the
// entries of the directory just read with their attribute values and lets the
// user continue, switch debug mode off or abort the run. The snapshot worker
// waits while it is open; the window hands the answer out through
// Answered and never touches the run itself, except for the two flags of the
// RunControl it is given.

#include <vector>

#include <QDialog>

#include "capture/WalkTypes.h"
#include "ui/MessageBoxPrompter.h"

class QLabel;
class QTableWidget;

namespace corvina {

class FileDialogs;
class Prompter;

class DebugWindow : public QDialog {
    Q_OBJECT
public:
    DebugWindow(RunControl& control, FileDialogs& dialogs, Prompter& prompter, QWidget* parent);
    ~DebugWindow() override;

    // Fills the title and the grid and shows the window modally over its
    // parent. Exactly one Answered follows.
    void ShowStop(const QString& title, const std::vector<DebugEntry>& entries);

    // Ends a pending stop as "Abort Snapshot " does (the window is closing).
    void AbortStop() { OnAbort(); }

signals:
    void Answered(corvina::DebugAnswer answer);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void BuildControls();
    void Finish(DebugAnswer answer);
    void OnContinue();
    void OnSwitchOff();
    void OnAbort();

    RunControl& control_;
    FileDialogs& dialogs_;
    WindowPrompter prompter_;  // the given prompter, over this window
    QLabel* title_ = nullptr;
    QTableWidget* grid_ = nullptr;
    bool waiting_ = false;
    bool switchedOff_ = false;
};

}  // namespace corvina
