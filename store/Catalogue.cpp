// The catalogue reads Control. Error policy: LoadSnapshotInfo reports only a
// missing snapshot; the lists report a failure once ("Error: ...") and return
// what they read; DeleteSnapshot reports nothing and changes all or nothing.

#include "store/Catalogue.h"

#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include "store/SizeFormat.h"

namespace corvina {
namespace {

void ReportListFailure(Prompter& prompter, const std::exception& e) {
    StoreError error = ToStoreError(e);
    ShowMessage(prompter, "Error: " + std::to_string(error.Code) + " " + error.Reason);
}

template <typename T>
void CopyIfPresent(const SQLite::Column& column, T& target) {
    if (column.isNull()) return;
    if constexpr (std::is_same_v<T, std::string>) {
        target = column.getString();
    } else if constexpr (std::is_same_v<T, double>) {
        target = column.getDouble();
    } else {
        target = column.getInt64();
    }
}

std::optional<DateTime> KeyFrom(const SQLite::Column& column) {
    if (column.isNull()) return std::nullopt;
    return DateTime::Parse(column.getString());
}

}  // namespace

void LoadSnapshotInfo(DatabaseState& state, Prompter& prompter, const DateTime& key, SnapshotInfo& info) {
    bool found = false;
    if (state.SnapshotDatabase) {
        try {
            SQLite::Statement query(*state.SnapshotDatabase,
                                    "SELECT Basepath, Description, Collfiles, Filelimit, Totdirs, Totfiles, "
                                    "Totbytesf, Filetot, Filesizef FROM Control WHERE Snapshot = ?");
            query.bind(1, FormatKey(key));
            if (query.executeStep()) {
                found = true;
                CopyIfPresent(query.getColumn(0), info.InfoBasePath);
                CopyIfPresent(query.getColumn(1), info.InfoDescription);
                CopyIfPresent(query.getColumn(2), info.InfoCollectFiles);
                CopyIfPresent(query.getColumn(3), info.InfoFileLimit);
                CopyIfPresent(query.getColumn(4), info.InfoTotalDirs);
                CopyIfPresent(query.getColumn(5), info.InfoTotalFiles);
                CopyIfPresent(query.getColumn(6), info.InfoTotalBytes);
                CopyIfPresent(query.getColumn(7), info.InfoFilesCollected);
                CopyIfPresent(query.getColumn(8), info.InfoCollectedBytes);
            }
        } catch (const std::exception&) {
            found = false;
        }
    }
    if (!found) {
        ShowMessage(prompter, "Snapshot " + FormatGeneralDate(key) + " not found");
        info.InfoBasePath.clear();
    }
}

std::vector<std::string> ListBasePaths(DatabaseState& state, Prompter& prompter) {
    std::vector<std::string> paths;
    if (!state.SnapshotDatabase) return paths;
    try {
        SQLite::Statement query(*state.SnapshotDatabase,
                                "SELECT DISTINCT Basepath FROM Control ORDER BY Basepath");
        while (query.executeStep()) paths.push_back(query.getColumn(0).getString());
    } catch (const std::exception& e) {
        ReportListFailure(prompter, e);
    }
    return paths;
}

std::vector<SnapshotListRow> ListSnapshots(DatabaseState& state, Prompter& prompter, std::string_view basePath,
                                           bool* ok) {
    std::vector<SnapshotListRow> rows;
    if (ok != nullptr) *ok = true;
    if (!state.SnapshotDatabase) return rows;
    try {
        SQLite::Statement query(*state.SnapshotDatabase,
                                "SELECT Snapshot, Basepath, Description, Totbytesf, Totdirs, Totfiles FROM Control "
                                "WHERE Basepath = ? ORDER BY Snapshot DESC");
        query.bind(1, std::string(basePath));
        while (query.executeStep()) {
            SnapshotListRow row;
            row.Key = KeyFrom(query.getColumn(0)).value_or(DateTime{});
            row.KeyText = query.getColumn(0).getString();
            row.Basepath = query.getColumn(1).getString();
            row.Description = query.getColumn(2).getString();
            if (!query.getColumn(3).isNull()) {
                row.Totbytes = query.getColumn(3).getDouble();
                row.SizeText = FormatSize(row.Totbytes);
            }
            row.Totdirs = query.getColumn(4).getInt64();
            row.Totfiles = query.getColumn(5).getInt64();
            rows.push_back(std::move(row));
        }
    } catch (const std::exception& e) {
        ReportListFailure(prompter, e);
        if (ok != nullptr) *ok = false;
    }
    return rows;
}

bool DeleteSnapshot(DatabaseState& state, const DateTime& key) {
    if (!state.SnapshotDatabase) return false;
    try {
        SQLite::Database& db = *state.SnapshotDatabase;
        const std::string keyText = FormatKey(key);
        SQLite::Transaction transaction(db);
        for (const char* sql : {"DELETE FROM Control WHERE Snapshot = ?", "DELETE FROM Dir WHERE Snapshot = ?",
                                "DELETE FROM files WHERE Snapshot = ?"}) {
            SQLite::Statement statement(db, sql);
            statement.bind(1, keyText);
            statement.exec();
        }
        transaction.commit();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<DateTime> LatestSnapshot(DatabaseState& state, std::optional<std::string_view> basePath) {
    if (!state.SnapshotDatabase) return std::nullopt;
    try {
        SQLite::Statement query(*state.SnapshotDatabase,
                                basePath ? "SELECT max(Snapshot) FROM Control WHERE Basepath = ?"
                                         : "SELECT max(Snapshot) FROM Control");
        if (basePath) query.bind(1, std::string(*basePath));
        if (query.executeStep()) return KeyFrom(query.getColumn(0));
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::optional<DateTime> PreviousSnapshot(DatabaseState& state, const DateTime& key) {
    if (!state.SnapshotDatabase) return std::nullopt;
    try {
        SQLite::Statement query(*state.SnapshotDatabase,
                                "SELECT max(c2.Snapshot) FROM Control c1 JOIN Control c2 ON c2.Basepath = c1.Basepath "
                                "WHERE c1.Snapshot = ?1 AND c2.Snapshot < ?1");
        query.bind(1, FormatKey(key));
        if (query.executeStep()) return KeyFrom(query.getColumn(0));
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

bool SnapshotExists(DatabaseState& state, const DateTime& key) {
    if (!state.SnapshotDatabase) return false;
    try {
        SQLite::Statement query(*state.SnapshotDatabase, "SELECT 1 FROM Control WHERE Snapshot = ?");
        query.bind(1, FormatKey(key));
        return query.executeStep();
    } catch (const std::exception&) {
        return false;
    }
}

StoreError WriteControlRow(DatabaseState& state, const ControlRow& row) {
    if (!state.ControlTable) return StoreError{1, "The Control table is not open for writing", "Control"};
    SQLite::Statement& insert = *state.ControlTable;
    try {
        insert.reset();
        insert.bind(1, FormatKey(row.Snapshot));
        insert.bind(2, row.Basepath);
        insert.bind(3, row.Description);
        insert.bind(4, row.Collfiles);
        insert.bind(5, row.Filelimit);
        insert.bind(6, row.Totdirs);
        insert.bind(7, row.Totfiles);
        insert.bind(8, row.Totbytesf);
        insert.bind(9, row.Filetot);
        insert.bind(10, row.Filesizef);
        insert.exec();
        insert.reset();
        return {};
    } catch (const std::exception& e) {
        insert.tryReset();
        return ToStoreError(e, "Control");
    }
}

}  // namespace corvina
