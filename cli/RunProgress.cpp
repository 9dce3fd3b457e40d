#include "cli/RunProgress.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "base/SizeFormat.h"
#include "cli/Output.h"
#include "store/WriteTransaction.h"

namespace corvina::cli {
namespace {

// The run's abort flag, for the signal handler. Set only while a run is on.
std::atomic<std::atomic<bool>*> gAbortFlag{nullptr};

extern "C" void OnInterrupt(int) {
    if (std::atomic<bool>* flag = gAbortFlag.load()) flag->store(true);
}

// Installs the handler for the lifetime of a run and restores the old one.
class InterruptGuard {
public:
    explicit InterruptGuard(RunControl& control) {
        gAbortFlag.store(&control.AbortFlag);
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~InterruptGuard() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        gAbortFlag.store(nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

class ProgressPrinter final : public WalkObserver {
public:
    ProgressPrinter() : terminal_(::isatty(STDERR_FILENO) == 1) {}

    void OnStatus(const std::string& text) override {
        status_ = text;
        MaybePrint();
    }
    void OnCounters(const RunCounters& counters) override {
        counters_ = counters;
        MaybePrint();
    }
    DebugAnswer OnDebugStop(const std::string&, const std::vector<DebugEntry>&) override {
        return DebugAnswer::SwitchOff;  // the tool has no debug window
    }
    // Ends the updating line before other output follows.
    void Done() {
        if (terminal_ && printed_) WriteErr("\r\033[K");
    }

private:
    void MaybePrint() {
        auto now = std::chrono::steady_clock::now();
        if (printed_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        printed_ = true;
        std::string line = std::to_string(counters_.TotalDirs) + " directories, " +
                           std::to_string(counters_.TotalFiles) + " files, " + FormatSize(counters_.TotalBytes);
        std::string place = EscapeForDisplay(status_);
        if (terminal_) {
            // Keep the line within a common terminal width: the start of a
            // long directory path gives way, at a character boundary.
            constexpr std::size_t kWidth = 78;
            std::size_t room = line.size() + 2 < kWidth ? kWidth - line.size() - 2 : 0;
            if (place.size() > room) {
                std::size_t start = room > 3 ? place.size() - (room - 3) : place.size();
                while (start < place.size() && (static_cast<unsigned char>(place[start]) & 0xC0) == 0x80) ++start;
                place = room > 3 ? "..." + place.substr(start) : "";
            }
            WriteErr("\r\033[K" + line + "  " + place);
        } else {
            WriteErr(line + "  " + place + "\n");
        }
    }

    bool terminal_;
    bool printed_ = false;
    std::chrono::steady_clock::time_point last_{};
    std::string status_;
    RunCounters counters_;
};

// The run's messages. The window shows two boxes when a run meets too many
// errors, the walk's as it stops and the run's as it ends; on one stream the
// second would say the same again in other words.
void SayRunMessages(Prompter& prompter, const std::vector<RunMessage>& messages) {
    for (const RunMessage& message : messages) {
        if (message.Text != kTooManyFileErrors) ShowMessage(prompter, message.Text);
    }
}

void PrintErrors(const std::vector<ErrorEntry>& errors) {
    if (errors.empty()) return;
    PrintMessage("files whose information could not be collected:");
    for (const ErrorEntry& entry : errors) {
        WriteErr("  " + EscapeForDisplay(entry.File) + ": " + EscapeForDisplay(entry.Error) + "\n");
    }
}

}  // namespace

int TakeAndReport(DatabaseState& state, const SnapshotRequest& request, StderrPrompter& prompter,
                  FileSystem* fileSystem) {
    RunControl control;
    ProgressPrinter progress;
    RunResult result;
    {
        InterruptGuard guard(control);
        result = TakeSnapshot(state, request, control, progress, fileSystem);
    }
    SayRunMessages(prompter, result.Messages);
    progress.Done();
    PrintErrors(result.ErrorList);
    // After too many errors the status is only the last directory reached; the
    // walk's message has said what happened.
    if (result.Outcome != RunOutcome::TooManyErrors && !result.StatusText.empty()) {
        PrintMessage(result.StatusText);
    }
    switch (result.Outcome) {
        case RunOutcome::Completed:
            PrintOut("{}\t{}\t{} directories\t{} files\t{}\n", FormatGeneralDate(result.Key),
                     EscapeForDisplay(request.BasePath), result.Counters.TotalDirs, result.Counters.TotalFiles,
                     FormatSize(result.Counters.TotalBytes));
            // The snapshot is committed and said; folding the log into the
            // file comes last. A failure leaves that to the next run.
            FlushOut();
            CheckpointDatabase(state);
            return kExitOk;
        case RunOutcome::Refused:
            return kExitUsage;
        default:
            return kExitFailed;
    }
}


}  // namespace corvina::cli
