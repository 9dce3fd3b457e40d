#include "store/FilesLayout.h"

#include "store/Schema.h"
#include "store/Statement.h"

namespace corvina {

namespace {

// The rows move to a keyed table made under the table's own name; the old
// table goes with its File1 index. Appending the rows in key order leaves
// the new table's pages full.
StoreError CopyIntoKeyedTable(DatabaseState& state, LockWait& wait) {
    const std::string steps[] = {
        "ALTER TABLE files RENAME TO files_previous",
        schema::CreateTableSql(state.Engine->SqlDialect(), schema::kFiles),
        "INSERT INTO files (Snapshot, Filename, Filesize, Filetype, Filedir, Fileattr, Filedate) "
        "SELECT Snapshot, Filename, Filesize, Filetype, Filedir, Fileattr, Filedate FROM files_previous "
        "ORDER BY Snapshot, Filedir, Filename",
        "DROP TABLE files_previous",
    };
    WriteTransaction transaction(state);
    if (StoreError error = transaction.Begin(wait); !error.Ok()) return error;
    for (const std::string& step : steps) {
        if (StoreError error = Execute(state, step); !error.Ok()) return error;
    }
    return transaction.Commit(wait);
}

}  // namespace

StoreError FilesTableIsKeyed(DatabaseState& state, bool& keyed) {
    keyed = false;
    if (!state.IsUsable()) return NotOpenError("files");
    // The key's fields in key order; names are matched without regard to case.
    std::vector<std::string> key;
    StoreError error = state.Engine->PrimaryKey("files", key);
    keyed = error.Ok() && key == std::vector<std::string>{"snapshot", "filedir", "filename"};
    return error;
}

StoreError CompactFilesTable(DatabaseState& state, LockWait& wait, CompactOutcome& outcome, std::int64_t& rows) {
    if (!state.IsUsable()) return NotOpenError(state.DatabasePath);
    if (state.ReadOnly) return StoreError{StoreCode::ReadOnly, CannotWriteText(state), state.DatabasePath};
    bool keyed = false;
    if (StoreError error = FilesTableIsKeyed(state, keyed); !error.Ok()) return error;
    if (!keyed) {
        std::vector<std::string> fields;
        if (StoreError error = state.Engine->Fields("files", fields); !error.Ok()) return error;
        // A field of another program's would not survive the copy.
        if (fields.size() != schema::kFilesFields.size()) {
            return StoreError{StoreCode::Other, "The files table has fields that the compact layout does not keep",
                              "files"};
        }
        if (StoreError error = CopyIntoKeyedTable(state, wait); !error.Ok()) return error;
    }
    outcome = keyed ? CompactOutcome::Already : CompactOutcome::Converted;
    Statement count;
    bool row = false;
    StoreError error = count.Prepare(state, "SELECT count(*) FROM files");
    if (error.Ok()) error = count.Step(row);
    if (!error.Ok()) return error;
    rows = row ? count.Int64(0) : 0;
    count.Finalize();
    return state.Engine->Compact();
}

}  // namespace corvina
