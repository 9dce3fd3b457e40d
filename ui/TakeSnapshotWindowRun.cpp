// The take-snapshot window's side of a snapshot run: the "Take Snapshot"
// click, and the worker's reports arriving as signals on the GUI thread.

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include "base/Prompter.h"
#include "base/SizeFormat.h"
#include "app/OpenDialogue.h"
#include "store/SnapshotDatabase.h"
#include "ui/TakeSnapshotWindow.h"
#include "ui/DebugWindow.h"
#include "ui/FileErrorsWindow.h"
#include "ui/ScreenPlacement.h"
#include "ui/SnapshotRunner.h"

namespace corvina {

void TakeSnapshotWindow::OnTakeSnapshot() {
    if (RefuseWhileRunning()) return;
    SnapshotRequest request;
    request.BasePath = txtpath_->text().toStdString();
    request.Description = txtdesc_->toPlainText().toStdString();
    request.CollectFiles = collectFiles_;
    request.SizeThreshold = sizeThreshold_;
    request.Style = kNativePathStyle;
    request.Exclusions = ExclusionsOf(Exclusions());
    if (std::optional<RunMessage> refusal = CheckSnapshotInput(request)) {
        ShowRunMessage(context_.Messages, *refusal);
        return;
    }

    DatabaseState& database = context_.Database;
    if (!database.IsUsable() && !database.DatabasePath.empty()) {
        if (OpenSnapshotDatabase(database, context_.Messages, context_.Ender) == OpenOutcome::Ended) return;
    }

    if (!runner_->Start(database, std::move(request), control_, context_.Messages, context_.Disk)) return;
    // The worker owns the pointer's meaning now: busy until the run ends.
    QApplication::setOverrideCursor(Qt::BusyCursor);
    busyPointer_ = true;
    SetRunControlsEnabled(false);
}

void TakeSnapshotWindow::SetRunControlsEnabled(bool enabled) {
    comsnap_->setEnabled(enabled);
    // The keyboard went on to Abort while Take Snapshot was off: it comes back.
    if (enabled && (focusWidget() == nullptr || focusWidget() == comhalt_)) comsnap_->setFocus();
    menopen_->setEnabled(enabled);
    menanal_->setEnabled(enabled);
    for (QAction* item : menrec_) item->setEnabled(enabled);
}

void TakeSnapshotWindow::OnRunStatus(const QString& text) { SetStatus(text); }

void TakeSnapshotWindow::OnRunCounters(const RunCounters& counters) {
    txtdirs_->setText(QString::number(counters.TotalDirs));
    txtfiles_->setText(QString::number(counters.TotalFiles));
    txtaddedfile_->setText(QString::number(counters.CollectedFiles));
    txtaddedsize_->setText(QString::fromStdString(FormatSize(counters.CollectedBytes)));
    txtbytes_->setText(QString::fromStdString(FormatSize(counters.TotalBytes)));
}

void TakeSnapshotWindow::OnDebugStop(const QString& title, const std::vector<DebugEntry>& entries) {
    if (debug_ == nullptr) {
        debug_ = new DebugWindow(control_, context_.Dialogs, context_.Messages, this);
        connect(debug_, &DebugWindow::Answered, runner_.get(), &SnapshotRunner::AnswerDebugStop);
    }
    debug_->ShowStop(title, entries);
}

void TakeSnapshotWindow::OnRunFinished(const RunResult& result) {
    if (busyPointer_) {
        QApplication::restoreOverrideCursor();
        busyPointer_ = false;
    }
    SetRunControlsEnabled(true);
    if (result.Outcome != RunOutcome::Refused) snapshotDate_ = result.Key;
    if (!result.StatusText.empty()) SetStatus(QString::fromStdString(result.StatusText));
    const bool listErrors = result.Outcome == RunOutcome::Completed || result.Outcome == RunOutcome::TooManyErrors;
    if (listErrors && !result.ErrorList.empty()) {
        if (errors_ == nullptr) {
            errors_ = new FileErrorsWindow(context_.Dialogs, context_.Messages, this);
            // Beside this window, not over it, unless the screen has no room.
            // Not shown yet, the new window's frame is taken to be as thick as this one's.
            const QSize frame = errors_->size() + frameGeometry().size() - size();
            errors_->move(PlaceBeside(frameGeometry(), frame, screen()->availableGeometry()));
        }
        errors_->ShowErrors(result.ErrorList);
    }
    if (exitAfterRun_) {
        exitAfterRun_ = false;
        OnExit();
    } else if (closeAfterRun_) {
        closeAfterRun_ = false;
        close();
    }
}

}  // namespace corvina
