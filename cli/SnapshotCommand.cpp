// corvina-cli snapshot: takes a snapshot without a window. Progress goes to
// stderr (one updating line on a terminal, plain lines otherwise, at most ten
// a second); Ctrl-C stops the run as "Abort Snapshot " does, and nothing of
// it stays.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>

#include "capture/SnapshotRun.h"
#include "cli/CliSupport.h"
#include "cli/ExclusionOptions.h"
#include "cli/Output.h"
#include "base/SizeFormat.h"
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

struct SnapshotOptions {
    std::string Path;
    std::string Db;
    std::string Description;
    bool Files = false;
    std::string MinSize = "0";
    bool CrossFileSystems = false;
    int Threads = 0;
    std::string HostLabel;
    ExclusionOptions Exclusions;
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

int RunSnapshot(const SnapshotOptions& options) {
    StderrPrompter prompter;
    SnapshotRequest request;
    request.BasePath = NormalizeBasePath(options.Path);
    request.CollectFiles = options.Files;
    request.CrossFileSystems = options.CrossFileSystems;
    request.Threads = options.Threads;
    request.HostLabel = options.HostLabel;
    ParseSize(options.MinSize, &request.SizeThreshold);
    request.Description = options.Description.empty() ? DefaultDescription(request.BasePath, DateTime::Now())
                                                      : options.Description;
    if (std::optional<RunMessage> refusal = CheckSnapshotInput(request)) {
        ShowMessage(prompter, refusal->Text);
        return kExitUsage;
    }
    if (int rc = ReadExclusionArguments(options.Exclusions.Given(), request.Exclusions); rc != kExitOk) return rc;

    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter, OpenMode::CreateWhenMissing); rc != kExitOk) return rc;
    if (StoreError writable = CheckSnapshotWritable(state); !writable.Ok()) {
        PrintMessage(writable.Reason);
        return kExitFailed;
    }

    RunControl control;
    ProgressPrinter progress;
    RunResult result;
    {
        InterruptGuard guard(control);
        result = TakeSnapshot(state, request, control, progress);
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

}  // namespace

void AddSnapshotCommand(CLI::App& app, int* exitCode) {
    ConfigureDatabaseEngineForRuns();
    auto* command = app.add_subcommand("snapshot", "Take a snapshot of a directory tree");
    auto options = std::make_shared<SnapshotOptions>();
    command->add_option("PATH", options->Path, "Directory to take the snapshot of")->required();
    AddDbOption(command, options->Db);
    command->add_option("--description", options->Description,
                        "Description (default: \"Analysis of PATH taken on dd-MMM-yy\")");
    command->add_flag("--files", options->Files, "Record a row for every file at or above --min-size");
    command->add_option("--min-size", options->MinSize, "Smallest file recorded: 0, 4096, 10K, 1.5M, 2G (default 0)")
        ->check(CLI::Validator([](std::string& text) { return ParseSize(text, nullptr); }, "SIZE"));
    command->add_flag("--cross-file-systems", options->CrossFileSystems,
                      "Walk into file systems mounted below PATH (default: record them empty)");
    command->add_option("--threads", options->Threads,
                        "Threads that read the tree (default: twice the cores, at least 4)")
        ->check(CLI::Range(1, 256));
    AddHostLabelOption(command, options->HostLabel);
    options->Exclusions.AddTo(command);
    command->callback([options, exitCode] { *exitCode = RunSnapshot(*options); });
}

}  // namespace corvina::cli
