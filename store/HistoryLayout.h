#pragma once
// The history layout of a new database: a snapshot stores only the rows that
// differ from the previous snapshot of its chain (the same base path and
// host). Each directory path is stored once per database (Dirpath), and a row
// is a span: it holds, unchanged, for every snapshot of its chain whose id
// lies in [First, Last]. A row that still holds keeps Last = kOpenSpan, so a
// run over an unchanged tree writes no row at all. The rows a chain's first
// snapshot opens take First = 0 (they hold from the chain's start), so that
// the indexes of spans that began or ended later hold only changes.
//
//   Chain    (Id, Basepath, Hostname, Baselevel)           one per base path and host
//   Snap     (Id, Snapshot key, Chain, Instant, Utcoffset,  one per snapshot; ids rise
//             and the fields of a Control row)              in the order of the runs
//   Dirpath  (Id, Dirname, Parent, Shortname, Level)       a path once; Id 0 is ""
//   Dirspan  (Chain, Path, Entrytype, Last | First, Files, Totsizef, Diskbytes)
//   Filespan (Chain, Path, Filename, Last | First, Filesize, Filetype, Fileattr,
//             Filedate, Diskbytes, Links)                  keyed by the fields before "|"
//
// Control, Dir, files, Dirdisk and Filedisk are views with the fields and
// rows of the tables they replace, so that every query reads both layouts
// alike, and so do people with the engine's shell. Diskusage, Filesystem,
// Host and Exclusion stay tables of one row per snapshot.
//
// The spans alive at a chain's latest snapshot are exactly its open ones;
// every change below keeps that so.
//
// Error policy: as every function of store/ (StoreError.h).

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/DatabaseState.h"
#include "store/StoreError.h"

namespace corvina::history {

// Last of a span that still holds: above any snapshot id.
inline constexpr std::int64_t kOpenSpan = 2147483647;

// The fields of the view Control, as it selects them from Snap.
inline constexpr std::string_view kControlViewFields =
    "Snapshot, Basepath, Description, Collfiles, Filelimit, Totdirs, Totfiles, Totbytes, Totbytesf, Filetot, "
    "Filesize, Filesizef";

// Every statement that sets up an empty database in this layout, tables,
// indexes and views; run in one transaction. For a conversion the tables of
// one row per snapshot are kept where they are.
std::vector<std::string> SetUpStatements(const engine::Dialect& dialect, bool converting = false);

// The partial indexes of the file spans that began after their chain's first
// snapshot or have ended, by which a comparison reads only what changed.
// Made if missing: databases set up before them gain them on compact.
std::vector<std::string> ChangedSpanIndexes();

// The files rows of the snapshot a query names (its Snapshot) that the
// snapshot the parameter other names does not share, with the fields of
// files: what a comparison of two snapshots of one chain needs to read.
std::string DifferingFilesSql(std::string_view other);
// The same for the rows of Dir.
std::string DifferingDirsSql(std::string_view other);

// The files rows of the directories whose Dirname (as p.Dirname) meets
// pathCondition, with the fields of files: the files of one tree, read by
// its paths.
std::string FilesUnderSql(std::string_view pathCondition);

// The one value of a query whose parameters are integers (none when it
// gives no row or a null), for the layout's own bookkeeping.
StoreError ReadInteger(DatabaseState& state, std::string_view sql, std::initializer_list<std::int64_t> values,
                       std::optional<std::int64_t>& value);

// Refreshes the engine's statistics of the layout's tables: called at the end
// of every run and conversion, inside its transaction.
StoreError RefreshStatistics(DatabaseState& state);

// Whether new databases get this layout: yes, unless CORVINA_LAYOUT is
// "tables" (the benchmarks and the tests make the older layout so).
bool NewDatabasesUseHistory();

// Whether the open database is in this layout (it has the Snap table).
StoreError IsHistoryDatabase(DatabaseState& state, bool& history);

// Removes one snapshot inside the caller's write transaction. Spans it shares
// with its neighbours in the chain are narrowed to them, so every other
// snapshot keeps its rows exactly; when it was the chain's latest, the rows of
// the one before it become the open ones again.
StoreError DeleteSnapshotSpans(DatabaseState& state, const std::string& key);

// Converts a database of the tables layout in one write transaction (wait
// says how long to wait for another writer): every snapshot, in key order, is
// written again as a run would write it, what the views then read is checked
// against the tables row for row, and the tables go; then the file is rebuilt
// without its free pages. A database in this layout already is only rebuilt
// (converted false).
StoreError ConvertToHistory(DatabaseState& state, LockWait& wait, bool& converted, std::int64_t& snapshots);

}  // namespace corvina::history
