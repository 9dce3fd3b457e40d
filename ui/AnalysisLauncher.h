#pragma once
// The way between the take-snapshot window and the analysis window: "&Analyse"
// hides the one and opens the other, "&Take Snaphot" shows the first again and
// lets the analysis window go. The launcher owns the analysis session and the
// snapshot choice, which outlive each analysis window, and the analysis window
// while it is open; the take-snapshot window and the context are borrowed.

#include <memory>
#include <optional>

#include <QPointer>

#include "analysis/AnalysisSession.h"
#include "report/SessionMessages.h"
#include "base/DateTime.h"
#include "ui/AnalysisWindow.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/ProgramContext.h"
#include "ui/SnapshotChoice.h"

namespace corvina {

class TakeSnapshotWindow;

class AnalysisLauncher {
public:
    AnalysisLauncher(ProgramContext& context, TakeSnapshotWindow& takeSnapshot);
    ~AnalysisLauncher();
    AnalysisLauncher(const AnalysisLauncher&) = delete;
    AnalysisLauncher& operator=(const AnalysisLauncher&) = delete;

    // Opens the analysis window; a snapshot run since the last opening makes
    // its snapshot the prime snapshot.
    void Open();

    AnalysisWindow* Window() const { return window_.data(); }

private:
    ProgramContext& context_;
    TakeSnapshotWindow& takeSnapshot_;
    WindowPrompter sessionMessages_;  // the session speaks over the analysis window open
    SessionMessages sessionObserver_;  // words what the session tells, in sessionMessages_
    AnalysisSession session_;
    SnapshotChoice choice_;
    std::optional<DateTime> lastRunSeen_;
    QPointer<AnalysisWindow> window_;  // deletes itself when closed
};

}  // namespace corvina
