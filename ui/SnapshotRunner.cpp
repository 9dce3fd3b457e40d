#include "ui/SnapshotRunner.h"

#include <QCoreApplication>
#include <QThread>

#include "store/WriteTransaction.h"

namespace corvina {

void ShowRunMessage(Prompter& prompter, const RunMessage& message) {
    ShowMessage(prompter, message.Text, message.Warning ? Icon::Exclamation : Icon::None);
}

SnapshotRunner::SnapshotRunner() = default;

SnapshotRunner::~SnapshotRunner() { Shutdown(); }

bool SnapshotRunner::Start(DatabaseState& database, SnapshotRequest request, RunControl& control,
                           Prompter& prompter, FileSystem* fileSystem) {
    if (running_) return false;
    running_ = true;
    control_ = &control;
    workerDone_ = false;
    worker_ = std::thread([this, &database, request = std::move(request), &control, &prompter, fileSystem]() {
        RunResult result;
        try {
            result = TakeSnapshot(database, request, control, *this, fileSystem);
            for (const RunMessage& message : result.Messages) ShowRunMessage(prompter, message);
            // Folding the run's log into the file still belongs to the
            // worker: the window does not touch the database before the
            // outcome arrives, and stays responsive meanwhile.
            if (result.Outcome == RunOutcome::Completed) CheckpointDatabase(database);
        } catch (const std::exception& e) {
            // The run returns its own failures; anything escaping it is a
            // fault, told once like every other message.
            ShowMessage(prompter, std::string("The snapshot failed: ") + e.what(), Icon::Exclamation);
            result.Outcome = RunOutcome::Failed;
            result.StatusText = "Snapshot aborted";
        }
        workerDone_ = true;
        QMetaObject::invokeMethod(
            this, [this, result]() { OnWorkerEnded(result); }, Qt::QueuedConnection);
    });
    return true;
}

void SnapshotRunner::OnWorkerEnded(RunResult result) {
    if (worker_.joinable()) worker_.join();
    running_ = false;
    control_ = nullptr;
    Publish();  // the last counters before the outcome
    emit Finished(result);
}

void SnapshotRunner::AnswerDebugStop(DebugAnswer answer) {
    std::lock_guard lock(mutex_);
    if (!debugAnswer_) return;
    debugAnswer_->set_value(answer);
    debugAnswer_.reset();
}

void SnapshotRunner::Shutdown() {
    disconnect(this, nullptr, nullptr, nullptr);
    if (!worker_.joinable()) return;
    if (control_ != nullptr) control_->AbortFlag = true;
    AnswerDebugStop(DebugAnswer::Abort);
    while (!workerDone_) {
        // A stop may arrive after the answer above: answer it as well.
        AnswerDebugStop(DebugAnswer::Abort);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    worker_.join();
    running_ = false;
    control_ = nullptr;
}

void SnapshotRunner::OnStatus(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        pendingStatus_ = text;
    }
    SchedulePublish();
}

void SnapshotRunner::OnCounters(const RunCounters& counters) {
    {
        std::lock_guard lock(mutex_);
        pendingCounters_ = counters;
    }
    SchedulePublish();
}

void SnapshotRunner::SchedulePublish() {
    if (publishQueued_.exchange(true)) return;
    QMetaObject::invokeMethod(this, [this]() { Publish(); }, Qt::QueuedConnection);
}

void SnapshotRunner::Publish() {
    // Cleared before taking the values: a report written after this point
    // schedules a delivery of its own.
    publishQueued_ = false;
    std::optional<std::string> status;
    std::optional<RunCounters> counters;
    {
        std::lock_guard lock(mutex_);
        status.swap(pendingStatus_);
        counters.swap(pendingCounters_);
    }
    if (status) emit StatusChanged(QString::fromStdString(*status));
    if (counters) emit CountersChanged(*counters);
}

DebugAnswer SnapshotRunner::OnDebugStop(const std::string& title, const std::vector<DebugEntry>& entries) {
    std::future<DebugAnswer> answer;
    {
        std::lock_guard lock(mutex_);
        if (control_ != nullptr && control_->AbortFlag) return DebugAnswer::Abort;
        debugAnswer_ = std::make_unique<std::promise<DebugAnswer>>();
        answer = debugAnswer_->get_future();
    }
    // Queued behind any status delivery already posted, so the window shows
    // the directory's status before the stop.
    QMetaObject::invokeMethod(
        this,
        [this, title = QString::fromStdString(title), entries]() {
            Publish();
            emit DebugStopReached(title, entries);
        },
        Qt::QueuedConnection);
    return answer.get();
}

}  // namespace corvina
