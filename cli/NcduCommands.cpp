// corvina-cli import ncdu and export ncdu: snapshots from and to ncdu's JSON
// export. An import reads the whole export first and opens the database only
// once it was read without fault, so that a refused export writes nothing,
// not even a new database file; the snapshot is then an ordinary run over the
// tree read (capture/NcduFileSystem.h). An export streams the snapshot to a
// file or to stdout; a file that could not be written to its end is removed.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analysis/NcduExport.h"
#include "app/Version.h"
#include "capture/NcduFileSystem.h"
#include "capture/NcduImport.h"
#include "cli/CliSupport.h"
#include "cli/Output.h"
#include "cli/RunProgress.h"

namespace corvina::cli {
namespace {

struct ImportOptions {
    std::string File;
    std::string Db;
    std::string Description;
    bool Files = false;
    std::string MinSize = "0";
    std::string HostLabel;
};

// Reads the export named (stdin for "-"); kExitOk when the tree was read.
int ReadExport(const std::string& file, NcduTree& tree) {
    const bool stdinput = file == "-";
    const int fd = stdinput ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        PrintMessage("cannot open " + file + ": " + std::strerror(errno));
        return kExitFailed;
    }
    const std::string problem = ReadNcduExport(fd, tree);
    if (!stdinput) ::close(fd);
    if (problem.empty()) return kExitOk;
    PrintMessage((stdinput ? std::string("standard input") : file) + ": " + problem + "; nothing was imported");
    return kExitFailed;
}

int RunImport(const ImportOptions& options) {
    NcduTree tree;
    if (int rc = ReadExport(options.File, tree); rc != kExitOk) return rc;

    SnapshotRequest request;
    request.BasePath = std::string(tree.BasePath());
    request.CollectFiles = options.Files;
    ParseSize(options.MinSize, &request.SizeThreshold);
    // The scan chose which file systems to read; what it read is the tree.
    request.CrossFileSystems = true;
    request.Threads = 1;
    request.Style = PathStyle::Posix;
    request.HostLabel = options.HostLabel;
    request.Instant = tree.Timestamp;
    const DateTime taken = tree.Timestamp ? DateTime::FromUnix(*tree.Timestamp) : DateTime::Now();
    request.Description = options.Description.empty() ? DefaultDescription(request.BasePath, taken) : options.Description;

    StderrPrompter prompter;
    if (std::optional<RunMessage> refusal = CheckSnapshotTexts(request)) {
        ShowMessage(prompter, refusal->Text);
        return kExitUsage;
    }
    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter, OpenMode::CreateWhenMissing); rc != kExitOk) return rc;
    if (StoreError writable = CheckSnapshotWritable(state); !writable.Ok()) {
        PrintMessage(writable.Reason);
        return kExitFailed;
    }
    NcduFileSystem fileSystem(tree);
    return TakeAndReport(state, request, prompter, &fileSystem);
}

struct ExportOptions {
    std::string Db;
    std::string Key = "latest";
    std::string Host;
    std::string File = "-";
};

// Where the export goes: stdout, whose failures the tool notices at its end
// (cli/Output.h), or a file.
class ExportTarget {
public:
    explicit ExportTarget(const std::string& file) : path_(file == "-" ? std::string() : file) {}
    ~ExportTarget() {
        if (file_ != nullptr) std::fclose(file_);
    }
    ExportTarget(const ExportTarget&) = delete;
    ExportTarget& operator=(const ExportTarget&) = delete;

    bool Open() {
        if (path_.empty()) return true;
        file_ = std::fopen(path_.c_str(), "wbe");
        if (file_ == nullptr) error_ = errno;
        return file_ != nullptr;
    }
    bool Write(std::string_view bytes) {
        if (path_.empty()) {
            WriteOut(bytes);
            return true;
        }
        if (error_ == 0 && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) error_ = errno ? errno : EIO;
        return error_ == 0;
    }
    // Closes a file; false (and the file removed) when it was not written whole.
    bool Close(bool complete) {
        if (path_.empty()) return true;
        if (std::fclose(file_) != 0 && error_ == 0) error_ = errno ? errno : EIO;
        file_ = nullptr;
        if (error_ != 0 || !complete) std::remove(path_.c_str());
        return error_ == 0;
    }
    std::string Failure() const { return "cannot write " + path_ + ": " + std::strerror(error_); }

private:
    std::string path_;  // "" for stdout
    std::FILE* file_ = nullptr;
    int error_ = 0;
};

int RunExport(const ExportOptions& options) {
    if (int rc = CheckKeySyntax(options.Key, "--snapshot"); rc != kExitOk) return rc;
    StderrPrompter prompter;
    DatabaseState state;
    if (int rc = OpenForCommand(state, options.Db, prompter); rc != kExitOk) return rc;
    std::optional<std::string> host;
    if (options.Key == "latest" || !options.Host.empty()) {
        if (int rc = ChooseHost(state, options.Host, host); rc != kExitOk) return rc;
    }
    DateTime key;
    if (int rc = ReadKey(state, options.Key, key, host); rc != kExitOk) return rc;
    ExportTarget target(options.File);
    if (!target.Open()) {
        PrintMessage(target.Failure());
        return kExitFailed;
    }
    const StoreError error = WriteNcduExport(state, key, "corvina-cli", kVersion,
                                             [&target](std::string_view bytes) { return target.Write(bytes); });
    if (!target.Close(error.Ok())) {
        PrintMessage(target.Failure());
        return kExitFailed;
    }
    // A missing snapshot is said as "Snapshot ... not found".
    return Succeeded(state, prompter, error) ? kExitOk : kExitFailed;
}

}  // namespace

void AddImportCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("import", "Make a snapshot from another program's scan");
    command->require_subcommand(1);
    auto* ncdu = command->add_subcommand(
        "ncdu", "Make a snapshot from an ncdu JSON export (ncdu -o FILE, format major version 1)");
    auto options = std::make_shared<ImportOptions>();
    ncdu->add_option("FILE", options->File, "The export, or - for standard input")->required();
    AddDbOption(ncdu, options->Db);
    ncdu->add_option("--description", options->Description,
                     "Description (default: \"Analysis of PATH taken on dd-MMM-yy\", the date of the scan)");
    ncdu->add_flag("--files", options->Files, "Record a row for every file at or above --min-size");
    ncdu->add_option("--min-size", options->MinSize, "Smallest file recorded: 0, 4096, 10K, 1.5M, 2G (default 0)")
        ->check(CLI::Validator([](std::string& text) { return ParseSize(text, nullptr); }, "SIZE"));
    AddHostLabelOption(ncdu, options->HostLabel);
    ncdu->callback([options, exitCode] { *exitCode = RunImport(*options); });
}

void AddExportCommand(CLI::App& app, int* exitCode) {
    auto* command = app.add_subcommand("export", "Write a snapshot in another program's format");
    command->require_subcommand(1);
    auto* ncdu = command->add_subcommand("ncdu", "Write a snapshot as an ncdu JSON export, for ncdu -f FILE");
    auto options = std::make_shared<ExportOptions>();
    ncdu->add_option("FILE", options->File, "Where to write it, or - for standard output (default -)");
    ncdu->add_option("--snapshot", options->Key, "Snapshot key (yyyy-MM-dd HH:mm:ss) or latest (default latest)");
    AddHostOption(ncdu, options->Host);
    AddDbOption(ncdu, options->Db);
    ncdu->callback([options, exitCode] { *exitCode = RunExport(*options); });
}

}  // namespace corvina::cli
