#pragma once
// Runs one snapshot at a time on a worker thread and brings its reports to the
// GUI thread as signals, so that the window stays responsive while the walk
// runs.
//
// Status texts and counters are coalesced: the worker keeps only the newest of
// each and posts one delivery while none is pending, so a fast walk cannot
// flood the event queue. A debug stop blocks the worker until the GUI thread
// calls AnswerDebugStop. The run's messages are shown through the prompter on
// the worker, once the run has ended and before Finished. The runner lives on
// the GUI thread; the caller owns the database, the run control and the
// prompter and keeps them alive until Shutdown has returned.

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <QObject>
#include <QString>

#include "base/Prompter.h"
#include "capture/SnapshotRun.h"

namespace corvina {

// A run's message as a box with the application title, and the warning icon
// when it warns.
void ShowRunMessage(Prompter& prompter, const RunMessage& message);

class SnapshotRunner : public QObject, private WalkObserver {
    Q_OBJECT
public:
    SnapshotRunner();
    ~SnapshotRunner() override;

    bool IsRunning() const { return running_; }

    // Starts TakeSnapshot on the worker. False when a run is in progress.
    bool Start(DatabaseState& database, SnapshotRequest request, RunControl& control, Prompter& prompter,
               FileSystem* fileSystem);

    // The user's answer to the pending debug stop; ignored when none is pending.
    void AnswerDebugStop(DebugAnswer answer);

    // Stops delivering signals, aborts a run in progress and waits for the
    // worker to end. Events are processed meanwhile, so that a message box the
    // worker waits for can still be answered.
    void Shutdown();

signals:
    void StatusChanged(const QString& text);
    void CountersChanged(const corvina::RunCounters& counters);
    // The worker waits until AnswerDebugStop.
    void DebugStopReached(const QString& title, const std::vector<corvina::DebugEntry>& entries);
    void Finished(const corvina::RunResult& result);

private:
    void OnStatus(const std::string& text) override;
    void OnCounters(const RunCounters& counters) override;
    DebugAnswer OnDebugStop(const std::string& title, const std::vector<DebugEntry>& entries) override;

    void SchedulePublish();
    void Publish();
    void OnWorkerEnded(RunResult result);

    std::thread worker_;
    bool running_ = false;
    RunControl* control_ = nullptr;
    std::atomic<bool> workerDone_{false};

    std::mutex mutex_;  // guards the pending values and the debug promise
    std::optional<std::string> pendingStatus_;
    std::optional<RunCounters> pendingCounters_;
    std::atomic<bool> publishQueued_{false};
    std::unique_ptr<std::promise<DebugAnswer>> debugAnswer_;
};

}  // namespace corvina
