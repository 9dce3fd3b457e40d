#include "store/FilesLayout.h"

#include <sqlite3.h>

#include "store/Schema.h"
#include "store/Statement.h"

namespace corvina {

namespace {

// The first column of the first row of sql, as text.
StoreError QueryText(DatabaseState& state, std::string_view sql, std::string& text) {
    Statement query;
    bool row = false;
    StoreError error = query.Prepare(state, sql);
    if (error.Ok()) error = query.Step(row);
    text = error.Ok() && row ? std::string(query.Text(0)) : std::string();
    return error;
}

// The rows move to a keyed table made under the table's own name; the old
// table goes with its File1 index. Appending the rows in key order leaves
// the new table's pages full.
constexpr std::string_view kCopySteps[] = {
    "ALTER TABLE files RENAME TO files_previous",
    "",  // schema::kCreateFiles
    "INSERT INTO files (Snapshot, Filename, Filesize, Filetype, Filedir, Fileattr, Filedate) "
    "SELECT Snapshot, Filename, Filesize, Filetype, Filedir, Fileattr, Filedate FROM files_previous "
    "ORDER BY Snapshot, Filedir, Filename",
    "DROP TABLE files_previous",
};

StoreError CopyIntoKeyedTable(DatabaseState& state, LockWait& wait) {
    WriteTransaction transaction(state);
    if (StoreError error = transaction.Begin(wait); !error.Ok()) return error;
    for (std::string_view step : kCopySteps) {
        if (StoreError error = Execute(state, step.empty() ? schema::kCreateFiles : step); !error.Ok()) {
            return error;
        }
    }
    return transaction.Commit(wait);
}

}  // namespace

StoreError FilesTableIsKeyed(DatabaseState& state, bool& keyed) {
    // A server's table is made keyed, and the server keeps no free pages for us.
    keyed = state.Server != nullptr;
    if (keyed) return {};
    // The key's fields in key order; names are matched without regard to case.
    std::string key;
    StoreError error = QueryText(state,
                                 "SELECT lower(group_concat(name)) FROM "
                                 "(SELECT name FROM pragma_table_info('files') WHERE pk > 0 ORDER BY pk)",
                                 key);
    keyed = error.Ok() && key == "snapshot,filedir,filename";
    return error;
}

StoreError CompactFilesTable(DatabaseState& state, LockWait& wait, CompactOutcome& outcome, std::int64_t& rows) {
    if (!state.IsUsable()) return NotOpenError(state.DatabasePath);
    if (state.ReadOnly) {
        return StoreError{SQLITE_READONLY, CannotWriteText(state), state.DatabasePath};
    }
    bool keyed = false;
    if (StoreError error = FilesTableIsKeyed(state, keyed); !error.Ok()) return error;
    if (!keyed) {
        std::string fields;
        if (StoreError error = QueryText(state, "SELECT count(*) FROM pragma_table_info('files')", fields);
            !error.Ok()) {
            return error;
        }
        // A field of another program's would not survive the copy.
        if (fields != std::to_string(schema::kFilesFields.size())) {
            return StoreError{SQLITE_ERROR, "The files table has fields that the compact layout does not keep",
                              "files"};
        }
        if (StoreError error = CopyIntoKeyedTable(state, wait); !error.Ok()) return error;
    }
    outcome = keyed ? CompactOutcome::Already : CompactOutcome::Converted;
    std::string count;
    if (StoreError error = QueryText(state, "SELECT count(*) FROM files", count); !error.Ok()) return error;
    rows = std::stoll(count);
    return state.Server ? StoreError{} : Execute(state, "VACUUM");
}

}  // namespace corvina
