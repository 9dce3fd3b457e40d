// The conversion of a database of the tables layout into the history layout
// (store/HistoryLayout.h). The tables are renamed out of the way, every
// snapshot is written again through the run's own writer, and the views are
// compared with the renamed tables before these are dropped: a database whose
// rows the history layout would not give back exactly is left as it was.

#include <string>
#include <vector>

#include "base/PathStyle.h"
#include "store/HistoryLayout.h"
#include "store/HistoryWriter.h"
#include "store/Statement.h"
#include "store/WriteTransaction.h"

namespace corvina::history {
namespace {

// The tables the views take the place of; the on-disk ones are missing in
// files older than them.
constexpr const char* kReplaced[] = {"Control", "Dir", "files", "Dirdisk", "Filedisk"};

// What each view must give back, field by field. Totsize and Totbytes, the
// integer totals that files of the first format kept beside the real ones,
// are not kept: the real ones hold the same.
struct Compared {
    const char* Name;
    const char* Fields;
};
constexpr Compared kCompared[] = {
    {"Control", "Snapshot, Basepath, Description, Collfiles, Filelimit, Totdirs, Totfiles, Totbytesf, Filetot, "
                "Filesize, Filesizef"},
    {"Dir", "Snapshot, Entrytype, Dirname, Shortname, Parentdir, Dirlevel, Files, TotsizeF"},
    {"files", "Snapshot, Filename, Filesize, Filetype, Filedir, Fileattr, Filedate"},
    {"Dirdisk", "Snapshot, Dirname, Entrytype, Diskbytes"},
    {"Filedisk", "Snapshot, Filedir, Filename, Diskbytes, Links"},
};

std::string Old(std::string_view table) { return std::string(table) + "_tables"; }

StoreError Count(DatabaseState& state, const std::string& sql, std::int64_t& count) {
    std::optional<std::int64_t> value;
    StoreError error = ReadInteger(state, sql, {}, value);
    count = value.value_or(0);
    return error;
}

struct OldSnapshot {
    std::string Key, Basepath, Hostname;
};

StoreError ReadSnapshots(DatabaseState& state, std::vector<OldSnapshot>& snapshots) {
    Statement query;
    StoreError error = query.Prepare(state, "SELECT c.Snapshot, c.Basepath, h.Hostname FROM Control_tables c "
                                            "LEFT JOIN Host h ON h.Snapshot = c.Snapshot ORDER BY c.Snapshot");
    bool row = false;
    while (error.Ok() && (error = query.Step(row)).Ok() && row) {
        snapshots.push_back({std::string(query.Text(0)), std::string(query.Text(1)), std::string(query.Text(2))});
    }
    return error;
}

// One snapshot's rows, as a run of it would have written them.
StoreError WriteAgain(DatabaseState& state, const OldSnapshot& snap, bool disk) {
    const PathStyle style = PathStyleOfBasePath(snap.Basepath);
    HistoryRun run(state, {snap.Key, snap.Basepath, snap.Hostname, BaseLevelOf(snap.Basepath, style), style});
    Statement files;
    StoreError error = files.Prepare(
        state, std::string("SELECT f.Filedir, f.Filename, f.Filesize, f.Filetype, f.Fileattr, f.Filedate, ") +
                   (disk ? "k.Diskbytes, k.Links FROM files_tables f LEFT JOIN Filedisk_tables k ON k.Snapshot = "
                           "f.Snapshot AND k.Filedir = f.Filedir AND k.Filename = f.Filename"
                         : "NULL, NULL FROM files_tables f") +
                   " WHERE f.Snapshot = ? ORDER BY f.Filedir, f.Filename");
    if (error.Ok()) error = files.BindText(1, snap.Key);
    bool row = false;
    while (error.Ok() && (error = files.Step(row)).Ok() && row) {
        error = run.FileRow(files.Text(0), files.Text(1), files.Int64(2), files.Text(3),
                            static_cast<int>(files.Int64(4)), files.Text(5));
        if (error.Ok() && !files.IsNull(6)) error = run.FileDisk(files.Text(0), files.Text(1), files.Int64(6), files.Int64(7));
    }
    Statement dirs;
    if (error.Ok()) {
        error = dirs.Prepare(state, std::string("SELECT d.Entrytype, d.Dirname, d.Files, d.TotsizeF, ") +
                                        (disk ? "k.Diskbytes FROM Dir_tables d LEFT JOIN Dirdisk_tables k ON "
                                                "k.Snapshot = d.Snapshot AND k.Dirname = d.Dirname AND "
                                                "k.Entrytype = d.Entrytype"
                                              : "NULL FROM Dir_tables d") +
                                        " WHERE d.Snapshot = ?");
    }
    if (error.Ok()) error = dirs.BindText(1, snap.Key);
    while (error.Ok() && (error = dirs.Step(row)).Ok() && row) {
        error = run.DirRow(dirs.Text(0), dirs.Text(1), dirs.Int64(2), dirs.Double(3));
        if (error.Ok() && !dirs.IsNull(4)) error = run.DirDisk(dirs.Text(0), dirs.Text(1), dirs.Int64(4));
    }
    if (error.Ok()) error = run.FinishRows();
    // The Control row as it was, legacy totals and empty fields included.
    Statement control;
    if (error.Ok()) {
        error = control.Prepare(state, "INSERT INTO Snap (Id, Snapshot, Chain, Basepath, Description, Collfiles, "
                                       "Filelimit, Totdirs, Totfiles, Totbytes, Totbytesf, Filetot, Filesize, Filesizef) "
                                       "SELECT ?, Snapshot, ?, Basepath, Description, Collfiles, Filelimit, Totdirs, "
                                       "Totfiles, Totbytes, Totbytesf, Filetot, Filesize, Filesizef FROM Control_tables "
                                       "WHERE Snapshot = ?");
    }
    if (error.Ok()) error = control.BindInt64(1, run.SnapId());
    if (error.Ok()) error = control.BindInt64(2, run.ChainId());
    if (error.Ok()) error = control.BindText(3, snap.Key);
    if (error.Ok()) error = control.Run();
    return error;
}

// A path is used by a span, or is the parent of a path in use; every other
// goes (Id 0, the empty parent of every base, stays).
constexpr std::string_view kDeleteUnusedPaths =
    "WITH RECURSIVE used(Id) AS (SELECT Path FROM Dirspan UNION SELECT Path FROM Filespan UNION "
    "SELECT p.Parent FROM Dirpath p JOIN used u ON p.Id = u.Id WHERE p.Parent IS NOT NULL) "
    "DELETE FROM Dirpath WHERE Id > 0 AND Id NOT IN (SELECT Id FROM used)";

}  // namespace

StoreError ConvertToHistory(DatabaseState& state, LockWait& wait, bool& converted, std::int64_t& snapshots) {
    converted = false;
    snapshots = 0;
    if (!state.IsUsable()) return NotOpenError(state.DatabasePath);
    if (state.History) {
        // A database set up before the indexes of changed spans gains them,
        // and the paths that deletes left unused go.
        WriteTransaction transaction(state);
        StoreError error = transaction.Begin(wait);
        for (const std::string& sql : ChangedSpanIndexes()) {
            if (error.Ok()) error = Execute(state, sql);
        }
        if (error.Ok()) error = Execute(state, kDeleteUnusedPaths);
        if (error.Ok()) error = RefreshStatistics(state);
        if (error.Ok()) error = transaction.Commit(wait);
        return error.Ok() ? state.Engine->Compact() : error;
    }
    WriteTransaction transaction(state);
    if (StoreError error = transaction.Begin(wait); !error.Ok()) return error;
    bool disk = true;
    std::vector<std::string> renamed;
    for (const char* table : kReplaced) {
        bool exists = false;
        if (StoreError error = TableExists(state, table, exists); !error.Ok()) return error;
        if (!exists) {
            disk = false;
            continue;
        }
        renamed.push_back(Old(table));
        if (StoreError error = Execute(state, "ALTER TABLE " + std::string(table) + " RENAME TO " + Old(table));
            !error.Ok()) {
            return error;
        }
    }
    for (const std::string& sql : SetUpStatements(state.Engine->SqlDialect(), true)) {
        if (StoreError error = Execute(state, sql); !error.Ok()) return error;
    }
    std::vector<OldSnapshot> old;
    if (StoreError error = ReadSnapshots(state, old); !error.Ok()) return error;
    for (const OldSnapshot& snap : old) {
        if (StoreError error = WriteAgain(state, snap, disk); !error.Ok()) return error;
    }
    for (const Compared& c : kCompared) {
        const bool onDisk = std::string_view(c.Name).ends_with("disk");
        if (onDisk && !disk) continue;
        const std::string view = "SELECT " + std::string(c.Fields) + " FROM " + c.Name;
        const std::string table = "SELECT " + std::string(c.Fields) + " FROM " + Old(c.Name);
        std::int64_t viewRows = 0, tableRows = 0, onlyView = 0, onlyTable = 0;
        StoreError error = Count(state, "SELECT count(*) FROM " + std::string(c.Name), viewRows);
        if (error.Ok()) error = Count(state, "SELECT count(*) FROM " + Old(c.Name), tableRows);
        if (error.Ok()) error = Count(state, "SELECT count(*) FROM (" + view + " EXCEPT " + table + ") x", onlyView);
        if (error.Ok()) error = Count(state, "SELECT count(*) FROM (" + table + " EXCEPT " + view + ") x", onlyTable);
        if (!error.Ok()) return error;
        if (viewRows != tableRows || onlyView != 0 || onlyTable != 0) {
            return StoreError{StoreCode::Other,
                              "its " + std::string(c.Name) + " rows would not read back the same (" +
                                  std::to_string(tableRows) + " rows, " + std::to_string(onlyTable) +
                                  " of them differ); it was left as it was",
                              c.Name};
        }
    }
    for (const std::string& table : renamed) {
        if (StoreError error = Execute(state, "DROP TABLE " + table); !error.Ok()) return error;
    }
    if (StoreError error = RefreshStatistics(state); !error.Ok()) return error;
    if (StoreError error = transaction.Commit(wait); !error.Ok()) return error;
    state.DirTable.Finalize();
    state.FilesTable.Finalize();
    state.ControlTable.Finalize();
    state.History = true;
    converted = true;
    snapshots = static_cast<std::int64_t>(old.size());
    return state.Engine->Compact();
}

}  // namespace corvina::history
