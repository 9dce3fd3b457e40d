#include "ui/AnalysisLauncher.h"

#include "ui/TakeSnapshotWindow.h"

namespace corvina {

AnalysisLauncher::AnalysisLauncher(ProgramContext& context, TakeSnapshotWindow& takeSnapshot)
    : context_(context), takeSnapshot_(takeSnapshot),
      sessionMessages_(context.Messages, nullptr),
      sessionObserver_(sessionMessages_, context.Database),
      session_(context.Database, sessionObserver_) {
    takeSnapshot_.SetAnalysisOpener([this]() { Open(); });
}

// The take-snapshot window may be gone already: only the analysis window is closed.
AnalysisLauncher::~AnalysisLauncher() {
    if (window_) window_->close();
}

void AnalysisLauncher::Open() {
    const std::optional<DateTime> run = takeSnapshot_.SnapshotDate();
    if (run && run != lastRunSeen_) {
        lastRunSeen_ = run;
        // An aborted or failed run left no snapshot to open.
        session_.PreferPrime(*run);
    }
    if (window_) window_->close();
    auto* window = new AnalysisWindow(context_, session_, choice_);  // deletes itself when closed
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->SetTakeSnapshotOpener([this]() {
        takeSnapshot_.show();
        takeSnapshot_.RefreshRecentMenu();
    });
    window_ = window;
    sessionMessages_.SetOwner(window);
    window->Load();
}

}  // namespace corvina
