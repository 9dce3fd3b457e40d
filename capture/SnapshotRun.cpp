// The snapshot run: checks, key, walk, Control row. Everything the run writes
// goes into one transaction that is committed together with the Control row;
// an abort, the error limit or any failed write leaves the transaction to roll
// back, so a run never leaves part of a snapshot behind, not even after a
// crash.
//
// Error policy: every message goes through the prompter, and those that come
// while the transaction is open are said once it has ended; every failure of the
// database turns the run into RunOutcome::Failed, and so does any exception,
// caught here once.

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "capture/DirectoryWalk.h"
#include "capture/RowPipeline.h"
#include "capture/SnapshotRun.h"
#include "store/Catalogue.h"
#include "store/HostLabel.h"
#include "store/WriteTransaction.h"

namespace corvina {

namespace {

constexpr std::size_t kMaxDescription = 255;
constexpr std::string_view kEllipsis = "\u2026";

// Characters of a UTF-8 text (continuation bytes do not count).
std::size_t CharacterCount(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++count;
    }
    return count;
}

std::string Trimmed(std::string_view text) {
    auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

bool CheckTexts(const SnapshotRequest& request, Prompter& prompter) {
    if (request.Description.empty()) {
        ShowMessage(prompter, "Enter a Snapshot description");
        return false;
    }
    if (Trimmed(request.BasePath).empty()) {
        ShowMessage(prompter, "Select a directory or path");
        return false;
    }
    if (CharacterCount(request.Description) > kMaxDescription) {
        ShowMessage(prompter, "The Snapshot description is longer than 255 characters (" +
                                  std::to_string(CharacterCount(request.Description)) + ")",
                    Icon::Exclamation);
        return false;
    }
    return true;
}

std::string NotADirectoryText(std::string_view path, std::string_view reason) {
    return "The path " + std::string(path) + " is not an existing directory (" + std::string(reason) + ")";
}

// A key that no snapshot of the database has: the current second, or the
// next one when a run of this second is already stored. Called with the
// write lock held, so that no other run can store the same key meanwhile.
StoreError ChooseKey(DatabaseState& database, DateTime& key) {
    key = DateTime::Now();
    for (;;) {
        bool taken = false;
        if (StoreError error = SnapshotExists(database, key, taken); !error.Ok() || !taken) return error;
        while (DateTime::Now() == key) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        key = DateTime::Now();
    }
}

// Remembers the last status text: after the error limit it stays on show.
class StatusKeeper final : public WalkObserver {
public:
    explicit StatusKeeper(WalkObserver& inner) : inner_(inner) {}
    void OnStatus(const std::string& text) override {
        last_ = text;
        inner_.OnStatus(text);
    }
    void OnCounters(const RunCounters& counters) override { inner_.OnCounters(counters); }
    DebugAnswer OnDebugStop(const std::string& title, const std::vector<DebugEntry>& entries) override {
        return inner_.OnDebugStop(title, entries);
    }
    const std::string& Last() const { return last_; }

private:
    WalkObserver& inner_;
    std::string last_;
};

// The machine's name as gethostname gives it; "" when it has none.
std::string MachineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string ControlFailureText(const StoreError& error) {
    return "Error writing to Control table. \n" + error.Details() + "\n. Snapshot aborted";
}

// The wait for another run's write lock: says so once, and ends when the user aborts.
class WaitForWriter final : public LockWait {
public:
    WaitForWriter(RunControl& control, WalkObserver& observer) : control_(control), observer_(observer) {}
    bool KeepWaiting(std::chrono::milliseconds) override {
        if (!told_) {
            observer_.OnStatus(std::string(kWaitingForWriter));
            told_ = true;
        }
        return !control_.AbortFlag.load();
    }

private:
    RunControl& control_;
    WalkObserver& observer_;
    bool told_ = false;
};

// Commits wait as long as it takes: the run is complete, and giving up would lose it.
class WaitAsLongAsItTakes final : public LockWait {
public:
    bool KeepWaiting(std::chrono::milliseconds) override { return true; }
};

// Messages that come while the run's transaction is open wait until it has
// ended, committed or rolled back, and are then said in their order: a
// message box waiting for a person's click would otherwise hold every other
// writer of the database (a scheduled run, another host) until the click.
// Only messages are held; a question goes through at once (the run asks none).
class MessagesAfterTheTransaction final : public Prompter {
public:
    explicit MessagesAfterTheTransaction(Prompter& inner) : inner_(inner) {}
    MessagesAfterTheTransaction(const MessagesAfterTheTransaction&) = delete;
    MessagesAfterTheTransaction& operator=(const MessagesAfterTheTransaction&) = delete;
    // Declared before the transaction, so that it goes after the rollback.
    ~MessagesAfterTheTransaction() override {
        for (const Message& message : held_) inner_.Ask(message);
    }
    Answer Ask(const Message& message) override {
        if (message.MessageButtons != Buttons::Ok) return inner_.Ask(message);
        // The walk's threads and the row writer may speak at once.
        std::lock_guard lock(mutex_);
        held_.push_back(message);
        return Answer::Ok;
    }

private:
    Prompter& inner_;
    std::mutex mutex_;
    std::vector<Message> held_;
};

// Reports a failure of the database during a run.
void ReportSaveFailure(const DatabaseState& database, Prompter& prompter, const StoreError& error) {
    if (error.IsDamaged()) {
        ShowMessage(prompter, DamagedDatabaseText(database.DatabasePath, error.Reason) + "\n. Snapshot aborted",
                    Icon::Exclamation);
        return;
    }
    ShowMessage(prompter, "Error saving the snapshot. \n" + error.Details() + "\n. Snapshot aborted",
                Icon::Exclamation);
}

}  // namespace

std::string DefaultDescription(const std::string& basePath, const DateTime& date) {
    const std::string prefix = "Analysis of ";
    const std::string suffix = " taken on " + FormatMediumDate(date);
    const std::size_t room = kMaxDescription - CharacterCount(prefix) - CharacterCount(suffix);
    if (CharacterCount(basePath) <= room) return prefix + basePath + suffix;
    // Keep the start and the end of the path, cut at character boundaries.
    const std::size_t keep = room - 1;  // the ellipsis is one character
    const std::size_t head = keep / 2, tail = keep - head;
    auto byteOfCharacter = [&](std::size_t characters) {
        std::size_t seen = 0, i = 0;
        for (; i < basePath.size(); ++i) {
            if ((static_cast<unsigned char>(basePath[i]) & 0xC0) != 0x80) {
                if (seen == characters) break;
                ++seen;
            }
        }
        return i;
    };
    const std::size_t total = CharacterCount(basePath);
    return prefix + basePath.substr(0, byteOfCharacter(head)) + std::string(kEllipsis) +
           basePath.substr(byteOfCharacter(total - tail)) + suffix;
}

bool CheckSnapshotInput(const SnapshotRequest& request, Prompter& prompter) {
    if (!CheckTexts(request, prompter)) return false;
    std::error_code error;
    std::string path = Trimmed(request.BasePath);
    if (request.Style == PathStyle::Posix && !std::filesystem::is_directory(path, error)) {
        ShowMessage(prompter, NotADirectoryText(path, error ? error.message() : "not a directory"),
                    Icon::Exclamation);
        return false;
    }
    return true;
}

RunResult TakeSnapshot(DatabaseState& database, const SnapshotRequest& request, RunControl& control,
                       WalkObserver& observer, Prompter& prompter, FileSystem* fileSystem) {
    RunResult result;
    control.AbortFlag.store(false);
    if (!CheckTexts(request, prompter)) return result;
    if (StoreError writable = CheckSnapshotWritable(database); !writable.Ok()) {
        ShowMessage(prompter, writable.Reason, Icon::Exclamation);
        return result;
    }

    std::unique_ptr<FileSystem> ownFileSystem;
    if (fileSystem == nullptr) {
        ownFileSystem = MakePosixFileSystem();
        fileSystem = ownFileSystem.get();
    }
    // A trailing separator would double every separator below the base.
    std::string walkBase(WithoutTrailingSeparators(Trimmed(request.BasePath), request.Style));
    {
        DirectoryHandle probe;
        EntryStat stat;
        if (int code = fileSystem->OpenDirectory(walkBase, probe, stat); code != 0) {
            ShowMessage(prompter, NotADirectoryText(walkBase, fileSystem->ErrorText(code)), Icon::Exclamation);
            return result;
        }
    }

    WalkOptions options;
    options.CollectFiles = request.CollectFiles;
    options.SizeThreshold = request.SizeThreshold;
    options.CrossFileSystems = request.CrossFileSystems;
    options.Style = request.Style;
    options.Threads = request.Threads;

    StatusKeeper status(observer);
    MessagesAfterTheTransaction held(prompter);
    WriteTransaction transaction(database);
    {
        WaitForWriter wait(control, status);
        if (StoreError error = transaction.Begin(wait); !error.Ok()) {
            if (!error.IsBusy() || !control.AbortFlag.load()) ReportSaveFailure(database, held, error);
            result.Outcome = control.AbortFlag.load() ? RunOutcome::Aborted : RunOutcome::Failed;
            result.StatusText = "Snapshot aborted";
            return result;
        }
    }
    // The commit of a large run would otherwise copy the whole log into the
    // file before returning; the caller does that once the result is out.
    transaction.DeferCheckpoint();
    try {
        if (StoreError error = ChooseKey(database, result.Key); !error.Ok()) {
            ReportSaveFailure(database, held, error);
            result.Outcome = RunOutcome::Failed;
            result.StatusText = "Snapshot aborted";
            return result;
        }
        RowContext context;
        context.SnapshotDate = result.Key;
        context.SnapshotBasePath = walkBase;
        context.BaseLevel = BaseLevelOf(walkBase, request.Style);
        context.Style = request.Style;
        RowWriter writer(database, context);

        WalkResult walk;
        std::optional<RowFailure> refused;
        {
            RowPipeline pipeline(writer);
            walk = WalkDirectory(walkBase, options, *fileSystem, pipeline, control, status);
            const bool stopping = control.AbortFlag.load() || walk.ErrorLimitReached();
            if (!pipeline.Finish(stopping)) control.AbortFlag.store(true);
            refused = pipeline.Failure();
        }
        if (walk.ErrorLimitReached()) ShowMessage(held, std::string(kTooManyErrors));
        // A damaged file is nobody's row's fault: it is said to be damaged instead.
        if (refused && refused->Error.IsDamaged()) {
            ReportSaveFailure(database, held, refused->Error);
        } else if (refused) {
            ShowMessage(held, refused->Text, Icon::Exclamation);
        }
        result.Counters = walk.Counters;
        result.ErrorList = std::move(walk.ErrorList);
        const int errors = static_cast<int>(result.ErrorList.size());

        if (control.AbortFlag.load()) {
            result.Outcome = RunOutcome::Aborted;
            result.StatusText = "Snapshot aborted";
            return result;
        }
        if (errors > kMaxErrors) {
            ShowMessage(held, std::string(kTooManyFileErrors));
            result.Outcome = RunOutcome::TooManyErrors;
            result.StatusText = status.Last();
            return result;
        }
        if (errors > 0) {
            ShowMessage(held,
                        "Note: information on " + std::to_string(errors) + " files could not be collected");
        }

        // Once per run, after the walk: the free space as the snapshot ends.
        // A file system that cannot tell leaves the snapshot without figures.
        if (FileSystemSpace space; fileSystem->ReadSpace(walkBase, space) == 0) {
            if (StoreError error = WriteFilesystemRow(database, result.Key, {space.Size, space.Free}); !error.Ok()) {
                ReportSaveFailure(database, held, error);
                result.Outcome = RunOutcome::Failed;
                result.StatusText = "Snapshot aborted";
                return result;
            }
        }

        // A machine without a name leaves the snapshot without a label,
        // as one taken before labels: an empty label would be a host of its own.
        const std::string label = request.HostLabel.empty() ? MachineName() : request.HostLabel;
        if (!label.empty()) {
            if (StoreError error = WriteHostLabel(database, result.Key, label); !error.Ok()) {
                ReportSaveFailure(database, held, error);
                result.Outcome = RunOutcome::Failed;
                result.StatusText = "Snapshot aborted";
                return result;
            }
        }

        ControlRow row;
        row.Snapshot = result.Key;
        // The base path as walked, so that it names the root Dir entry even
        // when the text held blanks or a trailing separator.
        row.Basepath = walkBase;
        row.Description = request.Description;
        row.Collfiles = request.CollectFiles ? "Y" : "N";
        row.Filelimit = request.SizeThreshold;
        row.Totdirs = result.Counters.TotalDirs;
        row.Totfiles = result.Counters.TotalFiles;
        row.Totbytesf = result.Counters.TotalBytes;
        row.Filetot = result.Counters.CollectedFiles;
        row.Filesizef = result.Counters.CollectedBytes;
        if (StoreError error = WriteControlRow(database, row); !error.Ok()) {
            if (error.IsDamaged()) {
                ReportSaveFailure(database, held, error);
            } else {
                ShowMessage(held, ControlFailureText(error), Icon::Exclamation);
            }
            result.Outcome = RunOutcome::Failed;
            result.StatusText = "Snapshot aborted";
            return result;
        }
        WaitAsLongAsItTakes wait;
        if (StoreError error = transaction.Commit(wait); !error.Ok()) {
            ReportSaveFailure(database, held, error);
            result.Outcome = RunOutcome::Failed;
            result.StatusText = "Snapshot aborted";
            return result;
        }
        result.Outcome = RunOutcome::Completed;
        result.StatusText = "Snapshot completed.";
    } catch (const std::exception& e) {
        ReportSaveFailure(database, held, ToStoreError(e));
        result.Outcome = RunOutcome::Failed;
        result.StatusText = "Snapshot aborted";
    }
    return result;
}

}  // namespace corvina
