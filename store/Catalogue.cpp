// The catalogue reads Control. Every function returns its failure and shows
// nothing; a missing snapshot is an error of its own (StoreCode::Missing), and
// the lists keep what they read up to a failure. DeleteSnapshot changes all
// or nothing.

#include "store/Catalogue.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <initializer_list>
#include <map>
#include <utility>

#include "base/PathStyle.h"
#include "base/SizeFormat.h"
#include "store/HistoryLayout.h"
#include "store/HistoryWriter.h"
#include "store/HostLabel.h"
#include "store/Schema.h"
#include "store/SnapshotTime.h"
#include "store/Statement.h"

namespace corvina {
namespace {

// Fields of a Control row by lower-cased name. Rows are read with "SELECT *"
// so that a file of an older layout, which lacks some fields, still lists and
// loads: a missing field is skipped, not the row. The fields are known once
// the first row is there (a server says them only with its result).
class FieldIndex {
public:
    explicit FieldIndex(const Statement& query) : query_(query) {}
    // The column of the field in the current row, -1 when the table has no
    // field of that name or the row holds null there.
    int Present(const std::string& lowerName) const {
        if (index_.empty()) {
            for (int i = 0; i < query_.ColumnCount(); ++i) {
                std::string name(query_.ColumnName(i));
                for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                index_.emplace(std::move(name), i);
            }
        }
        auto found = index_.find(lowerName);
        if (found == index_.end() || query_.IsNull(found->second)) return -1;
        return found->second;
    }
    template <typename T>
    void CopyIfPresent(const std::string& lowerName, T& target) const {
        const int column = Present(lowerName);
        if (column < 0) return;
        if constexpr (std::is_same_v<T, std::string>) {
            target = query_.Text(column);
        } else if constexpr (std::is_same_v<T, double>) {
            target = query_.Double(column);
        } else {
            target = query_.Int64(column);
        }
    }

private:
    const Statement& query_;
    mutable std::map<std::string, int> index_;
};

// Prepares sql and binds texts to its parameters, in order.
StoreError PrepareWithTexts(DatabaseState& state, Statement& query, std::string_view sql,
                            std::initializer_list<std::string_view> texts) {
    if (StoreError error = query.Prepare(state, sql); !error.Ok()) return error;
    int position = 0;
    for (std::string_view text : texts) {
        if (StoreError error = query.BindText(++position, text); !error.Ok()) return error;
    }
    return {};
}

StoreError ReadBasePaths(DatabaseState& state, std::vector<std::string>& paths) {
    Statement query;
    StoreError error = query.Prepare(state, "SELECT DISTINCT Basepath FROM Control ORDER BY Basepath");
    for (bool row = true; error.Ok() && (error = query.Step(row)).Ok() && row;) paths.emplace_back(query.Text(0));
    return error;
}

// Newest first by the times the database recorded, rather than by keys: the
// keys of two hosts are the local times of two zones.
StoreError InTimeOrder(DatabaseState& state, std::string_view basePath, std::vector<SnapshotListRow>& rows) {
    std::vector<SnapshotTime> times;
    if (StoreError error = ReadSnapshotTimes(state, basePath, {}, times); !error.Ok()) return error;
    std::map<DateTime, SnapshotTime> byKey;
    for (const SnapshotTime& time : times) byKey.emplace(time.Key, time);
    for (SnapshotListRow& row : rows) {
        if (auto found = byKey.find(row.Key); found != byKey.end()) {
            row.Instant = found->second.Instant;
            row.Utcoffset = found->second.Utcoffset;
        }
    }
    const auto timeOf = [](const SnapshotListRow& row) { return SnapshotTime{row.Key, row.Instant, row.Utcoffset}; };
    std::stable_sort(rows.begin(), rows.end(), [&](const SnapshotListRow& a, const SnapshotListRow& b) {
        return TakenBefore(timeOf(b), timeOf(a));
    });
    return {};
}

StoreError ReadSnapshots(DatabaseState& state, std::string_view basePath, std::vector<SnapshotListRow>& rows) {
    Statement query;
    StoreError error =
        PrepareWithTexts(state, query, "SELECT * FROM Control WHERE Basepath = ? ORDER BY Snapshot DESC", {basePath});
    if (!error.Ok()) return error;
    const FieldIndex fields(query);
    for (bool row = true; (error = query.Step(row)).Ok() && row;) {
        SnapshotListRow listed;
        fields.CopyIfPresent("snapshot", listed.KeyText);
        listed.Key = DateTime::Parse(listed.KeyText).value_or(DateTime{});
        fields.CopyIfPresent("basepath", listed.Basepath);
        fields.CopyIfPresent("description", listed.Description);
        if (int total = fields.Present("totbytesf"); total >= 0) {
            listed.Totbytes = query.Double(total);
            listed.SizeText = FormatSize(listed.Totbytes);
        }
        fields.CopyIfPresent("totdirs", listed.Totdirs);
        fields.CopyIfPresent("totfiles", listed.Totfiles);
        rows.push_back(std::move(listed));
    }
    return error.Ok() ? InTimeOrder(state, basePath, rows) : error;
}

}  // namespace

std::string CollfilesText(std::optional<FilesRecorded> recorded) {
    if (!recorded) return {};
    return *recorded == FilesRecorded::Yes ? "Y" : "N";
}

StoreError LoadSnapshotInfo(DatabaseState& state, const DateTime& key, SnapshotInfo& info) {
    const std::string keyText = FormatKey(key);
    Statement query;
    bool row = false;
    StoreError error = PrepareWithTexts(state, query, "SELECT * FROM Control WHERE Snapshot = ?", {keyText});
    if (error.Ok()) error = query.Step(row);
    if (!error.Ok() || !row) {
        if (error.Ok()) {
            error = StoreError{StoreCode::Missing, "Snapshot " + FormatGeneralDate(key) + " not found", keyText};
        }
        info.InfoBasePath.clear();
        return error;
    }
    const FieldIndex fields(query);
    fields.CopyIfPresent("basepath", info.InfoBasePath);
    fields.CopyIfPresent("description", info.InfoDescription);
    if (const int column = fields.Present("collfiles"); column >= 0) {
        info.InfoCollectFiles = query.Text(column) == "Y" ? FilesRecorded::Yes : FilesRecorded::No;
    }
    fields.CopyIfPresent("filelimit", info.InfoFileLimit);
    fields.CopyIfPresent("totdirs", info.InfoTotalDirs);
    fields.CopyIfPresent("totfiles", info.InfoTotalFiles);
    fields.CopyIfPresent("totbytesf", info.InfoTotalBytes);
    fields.CopyIfPresent("filetot", info.InfoFilesCollected);
    fields.CopyIfPresent("filesizef", info.InfoCollectedBytes);
    return {};
}

StoreError ListBasePaths(DatabaseState& state, std::vector<std::string>& paths) {
    paths.clear();
    return ReadBasePaths(state, paths);
}

StoreError ListSnapshots(DatabaseState& state, std::string_view basePath, std::vector<SnapshotListRow>& rows) {
    rows.clear();
    return ReadSnapshots(state, basePath, rows);
}

StoreError DeleteSnapshot(DatabaseState& state, const DateTime& key, LockWait& wait) {
    return DeleteSnapshots(state, {key}, wait);
}

StoreError DeleteSnapshots(DatabaseState& state, const std::vector<DateTime>& keys, LockWait& wait) {
    if (!state.IsUsable()) return NotOpenError("");
    WriteTransaction transaction(state);
    if (StoreError error = transaction.Begin(wait); !error.Ok()) return error;
    std::vector<const char*> deletes;
    if (state.History) {
        for (const DateTime& key : keys) {
            if (StoreError error = history::DeleteSnapshotSpans(state, FormatKey(key)); !error.Ok()) return error;
        }
    } else {
        deletes = {"DELETE FROM Control WHERE Snapshot = ?", "DELETE FROM Dir WHERE Snapshot = ?",
                   "DELETE FROM files WHERE Snapshot = ?"};
    }
    // The tables a run adds when it first writes a row; older files lack them.
    for (const auto& [table, sql] : {std::pair{"Filesystem", "DELETE FROM Filesystem WHERE Snapshot = ?"},
                                     std::pair{"Host", "DELETE FROM Host WHERE Snapshot = ?"},
                                     std::pair{"Exclusion", "DELETE FROM Exclusion WHERE Snapshot = ?"},
                                     std::pair{"Diskusage", "DELETE FROM Diskusage WHERE Snapshot = ?"},
                                     std::pair{"Dirdisk", "DELETE FROM Dirdisk WHERE Snapshot = ?"},
                                     std::pair{"Filedisk", "DELETE FROM Filedisk WHERE Snapshot = ?"}}) {
        // In the history layout the on-disk figures are in the spans.
        if (state.History && std::string_view(table).ends_with("disk")) continue;
        bool exists = false;
        if (StoreError error = TableExists(state, table, exists); !error.Ok()) return error;
        if (exists) deletes.push_back(sql);
    }
    for (const char* sql : deletes) {
        // One statement a table, bound again for each key.
        Statement statement;
        if (StoreError error = statement.Prepare(state, sql); !error.Ok()) return error;
        for (const DateTime& key : keys) {
            StoreError error = statement.BindText(1, FormatKey(key));
            if (error.Ok()) error = statement.Run();
            if (!error.Ok()) return error;
        }
    }
    return transaction.Commit(wait);
}

StoreError LatestSnapshot(DatabaseState& state, std::optional<DateTime>& latest,
                          std::optional<std::string_view> basePath, std::optional<std::string_view> host) {
    latest.reset();
    // In a database of one host a snapshot without a label is that host's.
    bool several = false;
    if (host) {
        if (StoreError error = HoldsSeveralHosts(state, several); !error.Ok()) return error;
    }
    std::vector<SnapshotTime> times;
    StoreError error = ReadSnapshotTimes(state, basePath, several ? host : std::nullopt, times);
    if (error.Ok() && !times.empty()) latest = times.back().Key;
    return error;
}

StoreError PreviousSnapshot(DatabaseState& state, const DateTime& key, std::optional<DateTime>& previous) {
    previous.reset();
    std::optional<std::string> host;
    if (StoreError error = HostToKeepTo(state, key, host); !error.Ok()) return error;
    Statement query;
    bool row = false;
    StoreError error = PrepareWithTexts(state, query, "SELECT Basepath FROM Control WHERE Snapshot = ?", {FormatKey(key)});
    if (error.Ok()) error = query.Step(row);
    if (!error.Ok() || !row) return error;
    const std::string basePath(query.Text(0));
    std::vector<SnapshotTime> times;
    error = ReadSnapshotTimes(state, basePath, host ? std::optional<std::string_view>(*host) : std::nullopt, times);
    auto at = std::find_if(times.begin(), times.end(), [&key](const SnapshotTime& time) { return time.Key == key; });
    if (error.Ok() && at != times.end() && at != times.begin()) previous = std::prev(at)->Key;
    return error;
}

StoreError SnapshotExists(DatabaseState& state, const DateTime& key, bool& exists) {
    exists = false;
    Statement query;
    StoreError error = PrepareWithTexts(state, query, "SELECT 1 FROM Control WHERE Snapshot = ?", {FormatKey(key)});
    if (error.Ok()) error = query.Step(exists);
    return error;
}

StoreError KeyInUse(DatabaseState& state, const DateTime& key, bool& used) {
    if (!state.History) return SnapshotExists(state, key, used);
    used = false;
    // Snap, not its view Control, which on a server may show a role its own
    // host's snapshots alone (store/HostRoles.h).
    Statement query;
    StoreError error = PrepareWithTexts(state, query, "SELECT 1 FROM Snap WHERE Snapshot = ?", {FormatKey(key)});
    if (error.Ok()) error = query.Step(used);
    return error;
}

StoreError WriteControlRow(DatabaseState& state, const ControlRow& row) {
    if (state.History) {
        // A run that wrote no row through a RowWriter is a chain's snapshot
        // all the same; its rows are those of nothing.
        const std::string key = FormatKey(row.Snapshot);
        if (!state.Run || state.Run->Key() != key) {
            state.Run = std::make_unique<HistoryRun>(
                state, HistoryRun::Context{key, row.Basepath, "", BaseLevelOf(row.Basepath, kNativePathStyle),
                                           kNativePathStyle});
        }
        StoreError error = state.Run->Finish(row, row.Instant, row.Utcoffset);
        state.Run.reset();
        if (!error.Ok() && error.Datum.empty()) error.Datum = "Control";
        return error;
    }
    RowAppender& insert = state.ControlTable;
    if (!insert.IsPrepared()) return StoreError{StoreCode::Other, "The Control table is not open for writing", "Control"};
    StoreError error = insert.BindText(1, FormatKey(row.Snapshot));
    if (error.Ok()) error = insert.BindText(2, row.Basepath);
    if (error.Ok()) error = insert.BindText(3, row.Description);
    if (error.Ok()) error = insert.BindText(4, row.Collfiles);
    if (error.Ok()) error = insert.BindInt64(5, row.Filelimit);
    if (error.Ok()) error = insert.BindInt64(6, row.Totdirs);
    if (error.Ok()) error = insert.BindInt64(7, row.Totfiles);
    if (error.Ok()) error = insert.BindDouble(8, row.Totbytesf);
    if (error.Ok()) error = insert.BindInt64(9, row.Filetot);
    if (error.Ok()) error = insert.BindDouble(10, row.Filesizef);
    if (error.Ok()) error = insert.Run();
    if (!error.Ok()) error.Datum = "Control";
    return error;
}

StoreError WriteFilesystemRow(DatabaseState& state, const DateTime& key, const FilesystemFigures& figures) {
    const std::string create =
        schema::CreateTableSql(state.Engine->SqlDialect(), schema::kFilesystem, schema::Create::TableIfMissing);
    StoreError error = CreateTableWhenMissing(state, "Filesystem", {create});
    Statement insert;
    if (error.Ok()) {
        error = PrepareWithTexts(state, insert, "INSERT INTO Filesystem (Snapshot, Fssize, Fsfree) VALUES (?,?,?)",
                                 {FormatKey(key)});
    }
    if (error.Ok()) error = insert.BindInt64(2, figures.Fssize);
    if (error.Ok()) error = insert.BindInt64(3, figures.Fsfree);
    if (error.Ok()) error = insert.Run();
    if (!error.Ok()) error.Datum = "Filesystem";
    return error;
}

StoreError ReadFilesystemRow(DatabaseState& state, const DateTime& key, std::optional<FilesystemFigures>& figures) {
    figures.reset();
    bool exists = false;
    if (StoreError error = TableExists(state, "Filesystem", exists); !error.Ok() || !exists) return error;
    Statement query;
    bool row = false;
    StoreError error =
        PrepareWithTexts(state, query, "SELECT Fssize, Fsfree FROM Filesystem WHERE Snapshot = ?", {FormatKey(key)});
    if (error.Ok()) error = query.Step(row);
    if (error.Ok() && row) figures = FilesystemFigures{query.Int64(0), query.Int64(1)};
    return error;
}

}  // namespace corvina
