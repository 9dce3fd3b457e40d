#pragma once
// Taking a snapshot: the input checks, the run's request and result, and
// TakeSnapshot. Built to run on a worker thread: the window program turns the
// observer into queued signals; the command-line tool prints. The run says
// nothing itself: what it has to tell is in its result, for the caller to show
// once the run has ended.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/PathStyle.h"
#include "capture/DirectoryWalk.h"
#include "store/SnapshotDatabase.h"

namespace corvina {

class FileSystem;  // capture/FileSystem.h: what the walk reads the disk through

// Something a run tells the user: the window shows it in a message box, with
// the warning icon when Warning; the command-line tool prints it.
struct RunMessage {
    std::string Text;
    bool Warning = false;

    bool operator==(const RunMessage&) const = default;
};

struct SnapshotRequest {
    std::string BasePath;      // as entered: no trailing separator, "/" for the root
    std::string Description;
    bool CollectFiles = false;
    std::int64_t SizeThreshold = 0;  // bytes; files at or above it get a files row
    bool CrossFileSystems = false;   // walk into other file systems mounted below
    PathStyle Style = kNativePathStyle;
    int Threads = 0;                 // that read the tree; 0: DefaultWalkThreads()
    std::string HostLabel;           // the Host row's label; "": this machine's name
    std::vector<Exclusion> Exclusions;  // what the walk leaves out, kept with the snapshot
    // The moment the snapshot stands for, in seconds since 1970 UTC, when
    // the tree was read before the run (an imported scan); none: the run's
    // own start. Its key is this instant's local time, or the next second
    // free, and the instant moves with it, so that a key always names the
    // local time of its instant.
    std::optional<std::int64_t> Instant;
};

enum class RunOutcome {
    Refused,        // input checks failed before the walk; nothing written
    Completed,      // Control row written (possibly with 1 to 100 errors)
    Aborted,        // user abort or a failed row: nothing of the run stays
    TooManyErrors,  // 101 errors: nothing of the run stays
    Failed,         // the Control row or the commit failed: nothing of the run stays
};

struct RunResult {
    RunOutcome Outcome = RunOutcome::Refused;
    DateTime Key;                     // SnapshotDate of the run
    RunCounters Counters;
    std::vector<ErrorEntry> ErrorList;  // for the file-errors window
    std::string StatusText;           // "Snapshot completed.", "Snapshot aborted", or the last status
    std::vector<RunMessage> Messages;   // to be shown in this order; the transaction has ended
};

// "Analysis of PATH taken on dd-MMM-yy", the description a run gets when the
// user gives none. A long path gives way in its middle ("/home/…/photos"), so
// that the text fits the 255 characters a description may have.
std::string DefaultDescription(const std::string& basePath, const DateTime& date);

// What a run that met more than 100 errors says once the walk has ended, after
// the walk's own message of the moment it stopped.
inline constexpr std::string_view kTooManyFileErrors = "Snapshot aborted due to excessive numbers of file errors";

// What a run waiting for another run's write lock shows as its status.
inline constexpr std::string_view kWaitingForWriter = "Waiting for another snapshot of this database to finish";

// The checks of the texts alone: "Enter a Snapshot description", "Select a
// directory or path", a description over 255 characters. For a tree read
// elsewhere, whose base path is no directory of this machine.
std::optional<RunMessage> CheckSnapshotTexts(const SnapshotRequest& request);

// The click's checks: "Enter a Snapshot description", "Select a directory or
// path", a description over 255 characters, a base path that is not an
// existing directory. Returns what refuses the input; none when the run may start.
std::optional<RunMessage> CheckSnapshotInput(const SnapshotRequest& request);

// The machine's name as gethostname gives it; "" when it has none. A run
// labels its snapshot with it unless told otherwise, and the command-line
// tool reads this host's snapshots unless told otherwise.
std::string MachineName();

// Runs one snapshot into the open database: resets the counters and the abort
// flag, takes the database's write lock (waiting, with kWaitingForWriter as
// the status, while another run holds it; an abort ends the wait), chooses a
// key no stored snapshot has (waiting for the next second when needed),
// walks, then writes the Control row and commits, or rolls everything back.
// The rows are written on a second thread while the walk reads the disk.
// Beside the Control row it writes the snapshot's Filesystem, Host and
// Exclusion rows, and its blocks on disk (store/DiskUsage.h).
// Its messages come back in the result: a message box waiting for a person's
// click would otherwise hold every other writer of the database (a scheduled
// run, another host) until the click. fileSystem null means the real one.
// The write-ahead log is left for the caller to fold back into the file
// (CheckpointDatabase) once the result is out.
RunResult TakeSnapshot(DatabaseState& database, const SnapshotRequest& request, RunControl& control,
                       WalkObserver& observer, FileSystem* fileSystem = nullptr);

}  // namespace corvina
