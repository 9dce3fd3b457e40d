// The catalogue reads Control. Error policy: LoadSnapshotInfo reports a
// missing snapshot (and a damaged file); the lists report a failure once
// ("Error: ...", or that the file is damaged) and return what they read;
// DeleteSnapshot reports nothing and changes all or nothing.

#include "store/Catalogue.h"

#include <cctype>
#include <map>

#include <SQLiteCpp/Statement.h>

#include "store/SizeFormat.h"

namespace corvina {
namespace {

void ReportListFailure(DatabaseState& state, Prompter& prompter, const std::exception& e) {
    StoreError error = ToStoreError(e);
    if (error.IsDamaged()) {
        ShowMessage(prompter, DamagedDatabaseText(state.DatabasePath, error.Reason), Icon::Exclamation);
        return;
    }
    ShowMessage(prompter, "Error: " + std::to_string(error.Code) + " " + error.Reason);
}

// Fields of a Control row by lower-cased name. Rows are read with "SELECT *"
// so that a file of an older layout, which lacks some fields, still lists and
// loads: a missing field is skipped, not the row.
class FieldIndex {
public:
    explicit FieldIndex(SQLite::Statement& query) : query_(query) {
        for (int i = 0; i < query.getColumnCount(); ++i) {
            std::string name = query.getColumnName(i);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            index_.emplace(std::move(name), i);
        }
    }
    // The field, or nullopt when the table has none of that name.
    std::optional<SQLite::Column> Get(const std::string& lowerName) const {
        auto found = index_.find(lowerName);
        if (found == index_.end()) return std::nullopt;
        return query_.getColumn(found->second);
    }

private:
    SQLite::Statement& query_;
    std::map<std::string, int> index_;
};

template <typename T>
void CopyIfPresent(const std::optional<SQLite::Column>& field, T& target) {
    if (!field || field->isNull()) return;
    const SQLite::Column& column = *field;
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
            SQLite::Statement query(*state.SnapshotDatabase, "SELECT * FROM Control WHERE Snapshot = ?");
            query.bind(1, FormatKey(key));
            if (query.executeStep()) {
                found = true;
                const FieldIndex fields(query);
                CopyIfPresent(fields.Get("basepath"), info.InfoBasePath);
                CopyIfPresent(fields.Get("description"), info.InfoDescription);
                CopyIfPresent(fields.Get("collfiles"), info.InfoCollectFiles);
                CopyIfPresent(fields.Get("filelimit"), info.InfoFileLimit);
                CopyIfPresent(fields.Get("totdirs"), info.InfoTotalDirs);
                CopyIfPresent(fields.Get("totfiles"), info.InfoTotalFiles);
                CopyIfPresent(fields.Get("totbytesf"), info.InfoTotalBytes);
                CopyIfPresent(fields.Get("filetot"), info.InfoFilesCollected);
                CopyIfPresent(fields.Get("filesizef"), info.InfoCollectedBytes);
            }
        } catch (const std::exception& e) {
            if (StoreError error = ToStoreError(e); error.IsDamaged()) {
                ShowMessage(prompter, DamagedDatabaseText(state.DatabasePath, error.Reason), Icon::Exclamation);
                info.InfoBasePath.clear();
                return;
            }
            found = false;
        }
    }
    if (!found) {
        ShowMessage(prompter, "Snapshot " + FormatGeneralDate(key) + " not found");
        info.InfoBasePath.clear();
    }
}

std::vector<std::string> ListBasePaths(DatabaseState& state, Prompter& prompter, bool* ok) {
    std::vector<std::string> paths;
    if (ok != nullptr) *ok = true;
    if (!state.SnapshotDatabase) return paths;
    try {
        SQLite::Statement query(*state.SnapshotDatabase,
                                "SELECT DISTINCT Basepath FROM Control ORDER BY Basepath");
        while (query.executeStep()) paths.push_back(query.getColumn(0).getString());
    } catch (const std::exception& e) {
        ReportListFailure(state, prompter, e);
        if (ok != nullptr) *ok = false;
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
                                "SELECT * FROM Control WHERE Basepath = ? ORDER BY Snapshot DESC");
        query.bind(1, std::string(basePath));
        while (query.executeStep()) {
            const FieldIndex fields(query);
            SnapshotListRow row;
            row.Key = KeyFrom(*fields.Get("snapshot")).value_or(DateTime{});
            CopyIfPresent(fields.Get("snapshot"), row.KeyText);
            CopyIfPresent(fields.Get("basepath"), row.Basepath);
            CopyIfPresent(fields.Get("description"), row.Description);
            if (auto total = fields.Get("totbytesf"); total && !total->isNull()) {
                row.Totbytes = total->getDouble();
                row.SizeText = FormatSize(row.Totbytes);
            }
            CopyIfPresent(fields.Get("totdirs"), row.Totdirs);
            CopyIfPresent(fields.Get("totfiles"), row.Totfiles);
            rows.push_back(std::move(row));
        }
    } catch (const std::exception& e) {
        ReportListFailure(state, prompter, e);
        if (ok != nullptr) *ok = false;
    }
    return rows;
}

StoreError DeleteSnapshot(DatabaseState& state, const DateTime& key, LockWait& wait) {
    if (!state.SnapshotDatabase) return StoreError{1, "No snapshot database is open", ""};
    WriteTransaction transaction(state);
    if (StoreError error = transaction.Begin(wait); !error.Ok()) return error;
    try {
        SQLite::Database& db = *state.SnapshotDatabase;
        const std::string keyText = FormatKey(key);
        for (const char* sql : {"DELETE FROM Control WHERE Snapshot = ?", "DELETE FROM Dir WHERE Snapshot = ?",
                                "DELETE FROM files WHERE Snapshot = ?"}) {
            SQLite::Statement statement(db, sql);
            statement.bind(1, keyText);
            statement.exec();
        }
    } catch (const std::exception& e) {
        return ToStoreError(e);
    }
    return transaction.Commit(wait);
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
