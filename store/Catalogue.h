#pragma once
// The Control table as the catalogue of snapshots: load one row, list base
// paths and the snapshots of one, remove a snapshot. The lists return data for
// a window or the command-line tool to show; they know nothing of widgets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/DateTime.h"
#include "store/Prompter.h"
#include "store/SnapshotDatabase.h"
#include "store/WriteTransaction.h"

namespace corvina {

// The Control row last loaded. Nothing clears it: a failed load leaves the
// other values as they were and empties InfoBasePath only.
struct SnapshotInfo {
    std::string InfoBasePath;
    std::string InfoDescription;
    std::string InfoCollectFiles;
    std::int64_t InfoFileLimit = 0;
    std::int64_t InfoTotalDirs = 0;
    std::int64_t InfoTotalFiles = 0;
    double InfoTotalBytes = 0;
    std::int64_t InfoFilesCollected = 0;
    double InfoCollectedBytes = 0;
};

// Fills info from the Control row of key, or says "Snapshot <key> not found"
// and sets InfoBasePath to "". A field the row lacks (an older file that could
// not be upgraded) leaves its value as it was. A damaged file is said to be
// damaged, and InfoBasePath is "" too.
void LoadSnapshotInfo(DatabaseState& state, Prompter& prompter, const DateTime& key, SnapshotInfo& info);

// Distinct base paths in ascending order. A failure says "Error: <code> <reason>"
// (or that the file is damaged), sets *ok to false and returns what was read so far.
std::vector<std::string> ListBasePaths(DatabaseState& state, Prompter& prompter, bool* ok = nullptr);

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
};

// Every snapshot of basePath, newest first (no row limit). ok is false after a
// reported failure; the rows read so far are returned.
std::vector<SnapshotListRow> ListSnapshots(DatabaseState& state, Prompter& prompter, std::string_view basePath,
                                           bool* ok = nullptr);

// Removes the snapshot from Control, Dir and files in one transaction: all or
// nothing. Waits for the write lock while wait says so (a snapshot being
// written holds it). Reports nothing: the error says why nothing was changed,
// busy when the wait was given up.
StoreError DeleteSnapshot(DatabaseState& state, const DateTime& key, LockWait& wait);

// The newest snapshot of the database (of one base path when given).
std::optional<DateTime> LatestSnapshot(DatabaseState& state, std::optional<std::string_view> basePath = {});
// The newest snapshot of the same base path taken before key.
std::optional<DateTime> PreviousSnapshot(DatabaseState& state, const DateTime& key);
// True when a Control row with this key exists.
bool SnapshotExists(DatabaseState& state, const DateTime& key);

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
};
// Appends the row through the prepared Control insert; the error on failure.
StoreError WriteControlRow(DatabaseState& state, const ControlRow& row);

}  // namespace corvina
