// corvina-cli snapshot: takes a snapshot without a window, run and reported as
// cli/RunProgress.h says; Ctrl-C stops it as "Abort Snapshot " does, and
// nothing of it stays.

#include "capture/SnapshotRun.h"
#include "cli/CliSupport.h"
#include "cli/ExclusionOptions.h"
#include "cli/Output.h"
#include "cli/RunProgress.h"

namespace corvina::cli {
namespace {

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

    return TakeAndReport(state, request, prompter);
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
