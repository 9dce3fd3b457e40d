#pragma once
// The Control table as the catalogue of snapshots: load one row, list base
// paths and the snapshots of one, remove a snapshot. The lists return data for
// a window or the command-line tool to show; they know nothing of widgets.
//
// Error policy: as every function of store/ (StoreError.h): failures are
// returned, nothing is shown.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "store/SnapshotDatabase.h"
#include "store/WriteTransaction.h"

namespace corvina {

// Whether a snapshot recorded its files rows: Control's Collfiles, which
// holds "Y" or "N".
enum class FilesRecorded { No, Yes };
// "Y" or "N", as Collfiles holds it; "" for a row without the field.
std::string CollfilesText(std::optional<FilesRecorded> recorded);

// The Control row last loaded. Nothing clears it: a failed load leaves the
// other values as they were and empties InfoBasePath only.
struct SnapshotInfo {
    std::string InfoBasePath;
    std::string InfoDescription;
    // nullopt until a row with the field is read; any text but "Y" is No.
    std::optional<FilesRecorded> InfoCollectFiles;
    std::int64_t InfoFileLimit = 0;
    std::int64_t InfoTotalDirs = 0;
    std::int64_t InfoTotalFiles = 0;
    double InfoTotalBytes = 0;
    std::int64_t InfoFilesCollected = 0;
    double InfoCollectedBytes = 0;
};

// Fills info from the Control row of key. A field the row lacks (an older
// file that could not be upgraded) leaves its value as it was. When there is
// no such row, returns StoreCode::Missing with the reason "Snapshot <key> not
// found", the text to tell. Either way InfoBasePath becomes "" and the other
// values stay as they were.
StoreError LoadSnapshotInfo(DatabaseState& state, const DateTime& key, SnapshotInfo& info);

// Distinct base paths in ascending order; after a failure paths holds what
// was read up to it.
StoreError ListBasePaths(DatabaseState& state, std::vector<std::string>& paths);

// One row of the snapshot grid of a base path.
struct SnapshotListRow {
    DateTime Key;
    std::string Basepath;
    std::string KeyText;      // general date-time text of the key
    std::string Description;
    std::string SizeText;     // FormatSize(Totbytesf), "" when empty
    std::int64_t Totdirs = 0;
    std::int64_t Totfiles = 0;
    double Totbytes = 0;
    // Recorded by the history layout only (store/SnapshotTime.h).
    std::optional<std::int64_t> Instant;
    std::optional<int> Utcoffset;
};

// Every snapshot of basePath, newest first in time (store/SnapshotTime.h; no
// row limit); after a failure rows holds what was read up to it.
StoreError ListSnapshots(DatabaseState& state, std::string_view basePath, std::vector<SnapshotListRow>& rows);

// Removes the snapshot from Control, Dir, files and the tables runs add
// (Filesystem, Host, Exclusion, Diskusage, Dirdisk, Filedisk) in one transaction: all or
// nothing. Waits for the write lock while wait says so (a snapshot being
// written holds it). Reports nothing: the error says why nothing was changed,
// busy when the wait was given up.
StoreError DeleteSnapshot(DatabaseState& state, const DateTime& key, LockWait& wait);
// The same for several snapshots in one transaction: all of them or none.
// A key without a snapshot (deleted meanwhile) is passed over.
StoreError DeleteSnapshots(DatabaseState& state, const std::vector<DateTime>& keys, LockWait& wait);

// The newest snapshot of the database in time (store/SnapshotTime.h): of
// one base path when given, and of one host when given and the database
// holds several (store/HostLabel.h); nullopt when there is none.
StoreError LatestSnapshot(DatabaseState& state, std::optional<DateTime>& latest,
                          std::optional<std::string_view> basePath = {}, std::optional<std::string_view> host = {});
// The newest snapshot of the same base path taken before key in time, on
// key's host when the database holds several; nullopt when there is none.
StoreError PreviousSnapshot(DatabaseState& state, const DateTime& key, std::optional<DateTime>& previous);
// Whether a Control row with this key exists.
StoreError SnapshotExists(DatabaseState& state, const DateTime& key, bool& exists);
// Whether any snapshot has this key, also one the role may not read: a run
// takes a key that none has.
StoreError KeyInUse(DatabaseState& state, const DateTime& key, bool& used);

// The Control row of a finished run, written last.
struct ControlRow {
    DateTime Snapshot;
    std::string Basepath;
    std::string Description;
    std::string Collfiles;  // "Y" or "N"
    std::int64_t Filelimit = 0;
    std::int64_t Totdirs = 0;
    std::int64_t Totfiles = 0;
    double Totbytesf = 0;
    std::int64_t Filetot = 0;
    double Filesizef = 0;
    // When the run took its key, in seconds since 1970 UTC, and the host's
    // offset from UTC then; a database of the history layout keeps them.
    std::optional<std::int64_t> Instant;
    std::optional<int> Utcoffset;
};
// Appends the row through the prepared Control insert.
StoreError WriteControlRow(DatabaseState& state, const ControlRow& row);

// The size and free space, in bytes, of the file system that held a
// snapshot's base path when it was taken. They live in a table of their own,
// Filesystem, so that files written before it, and programs that do not know
// it, read and write as they did: a run creates the table when it first
// writes a row, inside its own transaction, never an open.
struct FilesystemFigures {
    std::int64_t Fssize = 0;
    std::int64_t Fsfree = 0;  // what an unprivileged user may still fill
};
// Creates Filesystem when missing and appends the snapshot's row; call
// inside the run's transaction.
StoreError WriteFilesystemRow(DatabaseState& state, const DateTime& key, const FilesystemFigures& figures);
// nullopt for a file without the table or a snapshot without a row.
StoreError ReadFilesystemRow(DatabaseState& state, const DateTime& key, std::optional<FilesystemFigures>& figures);

}  // namespace corvina
