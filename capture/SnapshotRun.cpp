// The snapshot run: checks, key, walk, Control row. Everything the run writes
// goes into one transaction that is committed together with the Control row;
// an abort, the error limit or any failed write leaves the transaction to roll
// back, so a run never leaves part of a snapshot behind, not even after a
// crash.
//
// Error policy: the run shows nothing. Each step returns whether the run goes
// on; one that stops it leaves why (the outcome, and the failure to tell) for
// the one exit, Stopped, that rolls back and says so. Every failure of the
// database turns the run into RunOutcome::Failed, and so does any exception,
// caught here once. Messages are collected in the result, in the order the
// steps meet them.

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "capture/SnapshotRun.h"

#include "capture/DirectoryWalk.h"
#include "capture/FileSystem.h"
#include "capture/RowPipeline.h"
#include "store/Catalogue.h"
#include "store/DiskUsage.h"
#include "store/Exclusion.h"
#include "store/HostLabel.h"
#include "store/RunClaims.h"
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

RunMessage Plain(std::string text) { return RunMessage{std::move(text), false}; }
RunMessage Warning(std::string text) { return RunMessage{std::move(text), true}; }

}  // namespace

std::optional<RunMessage> CheckSnapshotTexts(const SnapshotRequest& request) {
    if (request.Description.empty()) return Plain("Enter a Snapshot description");
    if (Trimmed(request.BasePath).empty()) return Plain("Select a directory or path");
    if (CharacterCount(request.Description) > kMaxDescription) {
        return Warning("The Snapshot description is longer than 255 characters (" +
                       std::to_string(CharacterCount(request.Description)) + ")");
    }
    return std::nullopt;
}

namespace {

std::string NotADirectoryText(std::string_view path, std::string_view reason) {
    return "The path " + std::string(path) + " is not an existing directory (" + std::string(reason) + ")";
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

// A failed write, as the run tells it: the step's own text, or "Error
// saving the snapshot" when the step has none. A damaged file is nobody's
// step's fault: it is said to be damaged instead.
struct Failure {
    StoreError Error;
    std::string Text;
};

// One run, step by step. Each step returns true when the run goes on; one
// that returns false has called Stop, and Take leaves by Stopped.
class Run {
public:
    Run(DatabaseState& database, const SnapshotRequest& request, RunControl& control, WalkObserver& observer,
        FileSystem& fileSystem)
        : database_(database),
          request_(request),
          control_(control),
          status_(observer),
          fs_(fileSystem),
          // A trailing separator would double every separator below the base.
          walkBase_(WithoutTrailingSeparators(Trimmed(request.BasePath), request.Style)),
          transaction_(database) {}

    RunResult Take() {
        control_.AbortFlag.store(false);
        // Refused, the run has nothing open to undo.
        if (std::optional<RunMessage> refusal = Refusal()) {
            result_.Messages.push_back(std::move(*refusal));
            return std::move(result_);
        }
        try {
            if (BeginTransaction() && ChooseKey() && AwaitChain() && Walk() && WriteFigures() && WriteExclusions() && WriteControl() &&
                Commit()) {
                result_.Outcome = RunOutcome::Completed;
                result_.StatusText = "Snapshot completed.";
                return std::move(result_);
            }
        } catch (const std::exception& e) {
            Stop(RunOutcome::Failed, Failure{StoreError{StoreCode::Other, e.what(), ""}, {}});
        }
        return Stopped();
    }

private:
    // The checks of the click, then those only the run can make: a database
    // that takes snapshots, a base the file system opens.
    std::optional<RunMessage> Refusal() {
        if (std::optional<RunMessage> refusal = CheckSnapshotTexts(request_)) return refusal;
        if (StoreError writable = CheckSnapshotWritable(database_); !writable.Ok()) return Warning(writable.Reason);
        DirectoryHandle probe;
        EntryStat stat;
        if (int code = fs_.OpenDirectory(walkBase_, probe, stat); code != 0) {
            return Warning(NotADirectoryText(walkBase_, fs_.ErrorText(code)));
        }
        return std::nullopt;
    }

    bool BeginTransaction() {
        WaitForWriter wait(control_, status_);
        if (!Waited(transaction_.BeginRun(wait))) return false;
        // The commit of a large run would otherwise copy the whole log into the
        // file before returning; the caller does that once the result is out.
        transaction_.DeferCheckpoint();
        return true;
    }

    // Two runs of one base path on one host follow each other, as the
    // second compares with what the first stored; other hosts' runs go on.
    bool AwaitChain() {
        WaitForWriter wait(control_, status_);
        return Waited(AwaitChainTurn(database_, walkBase_, HostLabel(), wait));
    }

    // The end of a wait for a lock: false, having stopped the run, when it
    // failed or the user ended it.
    bool Waited(const StoreError& error) {
        if (error.Ok()) return true;
        const bool aborted = control_.AbortFlag.load();
        // A wait the user ended is no failure to tell.
        if (error.IsBusy() && aborted) return Stop(RunOutcome::Aborted);
        return Stop(aborted ? RunOutcome::Aborted : RunOutcome::Failed, Failure{error, {}});
    }

    // The local time of now as a key, with the instant and the zone's offset
    // it stands for, so that a key repeated by a clock turned back still
    // orders by when the run took it.
    DateTime TakeKey() {
        const std::time_t now =
            (request_.Instant ? static_cast<std::time_t>(*request_.Instant) : std::time(nullptr)) + laterSeconds_;
        std::tm local{};
        localtime_r(&now, &local);
        instant_ = static_cast<std::int64_t>(now);
        utcOffset_ = static_cast<int>(local.tm_gmtoff);
        return DateTime::FromUnix(instant_.value());
    }

    // A key that no snapshot of the database has and no other run holds:
    // the current second, or the next free one. Where runs write at once the
    // key moves on to the next second at once, since the run holding this
    // one may walk for minutes; a lone writer waits for the clock to get
    // there, so that its key is never ahead of the time.
    bool ChooseKey() {
        DateTime& key = result_.Key;
        key = TakeKey();
        const bool overlap = database_.Engine->RunsOverlap();
        for (;;) {
            bool free = false;
            if (StoreError error = ClaimKey(database_, key, free); !error.Ok()) {
                return Stop(RunOutcome::Failed, Failure{error, {}});
            }
            if (free) return true;
            // A given instant, and a run beside others, move on to the next
            // second at once; a lone run waits for the clock.
            if (overlap || request_.Instant) {
                ++laterSeconds_;
            } else {
                while (DateTime::Now() == key) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            key = TakeKey();
        }
    }

    std::string HostLabel() const { return request_.HostLabel.empty() ? MachineName() : request_.HostLabel; }

    // The walk, its rows written on the pipeline's thread meanwhile.
    bool Walk() {
        RowContext context;
        context.SnapshotDate = result_.Key;
        context.SnapshotBasePath = walkBase_;
        context.BaseLevel = BaseLevelOf(walkBase_, request_.Style);
        context.Style = request_.Style;
        context.Hostname = HostLabel();
        RowWriter writer(database_, context);
        if (StoreError error = writer.OpenDiskRows(); !error.Ok()) return Stop(RunOutcome::Failed, Failure{error, {}});

        WalkOptions options;
        options.CollectFiles = request_.CollectFiles;
        options.SizeThreshold = request_.SizeThreshold;
        options.CrossFileSystems = request_.CrossFileSystems;
        options.Style = request_.Style;
        options.Threads = request_.Threads;
        options.Exclusions = request_.Exclusions;

        WalkResult walk;
        std::optional<RowFailure> refused;
        {
            RowPipeline pipeline(writer);
            walk = WalkDirectory(walkBase_, options, fs_, pipeline, control_, status_);
            const bool stopping = control_.AbortFlag.load() || walk.ErrorLimitReached();
            if (!pipeline.Finish(stopping)) control_.AbortFlag.store(true);
            refused = pipeline.Failure();
        }
        const bool limitReached = walk.ErrorLimitReached();
        result_.Counters = walk.Counters;
        disk_ = DiskTotals{walk.DiskBytes, walk.CollectedDiskBytes, walk.BlockUnit};
        result_.ErrorList = std::move(walk.ErrorList);

        if (limitReached) result_.Messages.push_back(Plain(std::string(kTooManyErrors)));
        // A refused row stopped the walk as an abort does; the row is the failure to tell.
        if (control_.AbortFlag.load()) {
            if (refused) return Stop(RunOutcome::Aborted, Failure{refused->Error, refused->Text});
            return Stop(RunOutcome::Aborted);
        }
        if (limitReached) {
            result_.Messages.push_back(Plain(std::string(kTooManyFileErrors)));
            return Stop(RunOutcome::TooManyErrors);
        }
        if (!result_.ErrorList.empty()) {
            result_.Messages.push_back(Plain("Note: information on " + std::to_string(result_.ErrorList.size()) +
                                             " files could not be collected"));
        }
        return true;
    }

    // The snapshot's blocks on disk, the free space as it ends, and the host it was taken on.
    bool WriteFigures() {
        if (StoreError error = WriteDiskusageRow(database_, result_.Key, disk_); !error.Ok()) {
            return Stop(RunOutcome::Failed, Failure{error, {}});
        }
        // A file system that cannot tell leaves the snapshot without figures.
        if (FileSystemSpace space; fs_.ReadSpace(walkBase_, space) == 0) {
            if (StoreError error = WriteFilesystemRow(database_, result_.Key, {space.Size, space.Free}); !error.Ok()) {
                return Stop(RunOutcome::Failed, Failure{error, {}});
            }
        }
        // A machine without a name leaves the snapshot without a label,
        // as one taken before labels: an empty label would be a host of its own.
        const std::string label = HostLabel();
        if (!label.empty()) {
            if (StoreError error = WriteHostLabel(database_, result_.Key, label); !error.Ok()) {
                return Stop(RunOutcome::Failed, Failure{error, {}});
            }
        }
        return true;
    }

    bool WriteExclusions() {
        if (StoreError error = WriteExclusionRows(database_, result_.Key, request_.Exclusions); !error.Ok()) {
            return Stop(RunOutcome::Failed, Failure{error, {}});
        }
        return true;
    }

    bool WriteControl() {
        ControlRow row;
        row.Snapshot = result_.Key;
        // The base path as walked, so that it names the root Dir entry even
        // when the text held blanks or a trailing separator.
        row.Basepath = walkBase_;
        row.Description = request_.Description;
        row.Collfiles = request_.CollectFiles ? "Y" : "N";
        row.Filelimit = request_.SizeThreshold;
        row.Totdirs = result_.Counters.TotalDirs;
        row.Totfiles = result_.Counters.TotalFiles;
        row.Totbytesf = result_.Counters.TotalBytes;
        row.Filetot = result_.Counters.CollectedFiles;
        row.Filesizef = result_.Counters.CollectedBytes;
        row.Instant = instant_;
        row.Utcoffset = utcOffset_;
        if (StoreError error = WriteControlRow(database_, row); !error.Ok()) {
            return Stop(RunOutcome::Failed, Failure{error, ControlFailureText(error)});
        }
        return true;
    }

    bool Commit() {
        WaitAsLongAsItTakes wait;
        if (StoreError error = transaction_.Commit(wait); !error.Ok()) {
            return Stop(RunOutcome::Failed, Failure{error, {}});
        }
        return true;
    }

    // Notes why the run stops; false, for the step to return.
    bool Stop(RunOutcome outcome, std::optional<Failure> failure = std::nullopt) {
        stop_ = outcome;
        failure_ = std::move(failure);
        return false;
    }

    // The one way out of a run that did not complete: nothing of it stays,
    // the failure is told after what the run said before it, and the status
    // says the run is aborted (after too many errors, the last directory
    // reached stays on show).
    RunResult Stopped() {
        transaction_.Rollback();
        if (failure_) result_.Messages.push_back(Warning(FailureText(*failure_)));
        result_.Outcome = stop_;
        result_.StatusText = stop_ == RunOutcome::TooManyErrors ? status_.Last() : "Snapshot aborted";
        return std::move(result_);
    }

    std::string FailureText(const Failure& failure) const {
        const StoreError& error = failure.Error;
        if (error.IsDamaged()) return DamagedDatabaseText(database_.DatabasePath, error.Reason) + "\n. Snapshot aborted";
        if (!failure.Text.empty()) return failure.Text;
        return "Error saving the snapshot. \n" + error.Details() + "\n. Snapshot aborted";
    }

    DatabaseState& database_;
    const SnapshotRequest& request_;
    RunControl& control_;
    StatusKeeper status_;
    FileSystem& fs_;
    const std::string walkBase_;
    WriteTransaction transaction_;
    RunResult result_;
    DiskTotals disk_;
    std::optional<std::int64_t> instant_;
    std::optional<int> utcOffset_;
    std::int64_t laterSeconds_ = 0;  // how far a given instant moved to find a free key
    RunOutcome stop_ = RunOutcome::Failed;
    std::optional<Failure> failure_;
};

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

std::string MachineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::optional<RunMessage> CheckSnapshotInput(const SnapshotRequest& request) {
    if (std::optional<RunMessage> refusal = CheckSnapshotTexts(request)) return refusal;
    std::error_code error;
    std::string path = Trimmed(request.BasePath);
    if (request.Style == PathStyle::Posix && !std::filesystem::is_directory(path, error)) {
        return Warning(NotADirectoryText(path, error ? error.message() : "not a directory"));
    }
    return std::nullopt;
}

RunResult TakeSnapshot(DatabaseState& database, const SnapshotRequest& request, RunControl& control,
                       WalkObserver& observer, FileSystem* fileSystem) {
    std::unique_ptr<FileSystem> ownFileSystem;
    if (fileSystem == nullptr) {
        ownFileSystem = MakePosixFileSystem();
        fileSystem = ownFileSystem.get();
    }
    return Run(database, request, control, observer, *fileSystem).Take();
}

}  // namespace corvina
