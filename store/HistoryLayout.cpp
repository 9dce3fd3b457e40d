#include "store/HistoryLayout.h"

#include <cstdlib>
#include <optional>

#include "store/Schema.h"
#include "store/Statement.h"

namespace corvina::history {
namespace {

using schema::Column;
using schema::Table;
using engine::ValueKind;

constexpr Column kChainColumns[] = {{"Id", ValueKind::Integer},
                                    {"Basepath", ValueKind::Name},
                                    {"Hostname", ValueKind::Name},
                                    {"Baselevel", ValueKind::Integer}};
constexpr Column kSnapColumns[] = {
    {"Id", ValueKind::Integer},         {"Snapshot", ValueKind::Key},       {"Chain", ValueKind::Integer},
    {"Instant", ValueKind::Integer},    {"Utcoffset", ValueKind::Integer},  {"Basepath", ValueKind::Name},
    {"Description", ValueKind::Name},   {"Collfiles", ValueKind::Key},      {"Filelimit", ValueKind::Integer},
    {"Totdirs", ValueKind::Integer},    {"Totfiles", ValueKind::Integer},   {"Totbytes", ValueKind::Integer},
    {"Totbytesf", ValueKind::Real},     {"Filetot", ValueKind::Integer},    {"Filesize", ValueKind::Integer},
    {"Filesizef", ValueKind::Real},
};
constexpr Column kDirpathColumns[] = {{"Id", ValueKind::Integer},
                                      {"Dirname", ValueKind::Name},
                                      {"Parent", ValueKind::Integer},
                                      {"Shortname", ValueKind::Name},
                                      {"Level", ValueKind::Integer}};
constexpr Column kDirspanColumns[] = {
    {"Chain", ValueKind::Integer}, {"Path", ValueKind::Integer},    {"Entrytype", ValueKind::Key},
    {"Last", ValueKind::Integer},  {"First", ValueKind::Integer},   {"Files", ValueKind::Integer},
    {"Totsizef", ValueKind::Real}, {"Diskbytes", ValueKind::Integer},
};
constexpr Column kFilespanColumns[] = {
    {"Chain", ValueKind::Integer},    {"Path", ValueKind::Integer},     {"Filename", ValueKind::Name},
    {"Last", ValueKind::Integer},     {"First", ValueKind::Integer},    {"Filesize", ValueKind::Integer},
    {"Filetype", ValueKind::Name},    {"Fileattr", ValueKind::Integer}, {"Filedate", ValueKind::Key},
    {"Diskbytes", ValueKind::Integer}, {"Links", ValueKind::Integer},
};

constexpr Table kChain{"Chain", kChainColumns, "CONSTRAINT Chain0 PRIMARY KEY (Id)"};
constexpr Table kSnap{"Snap", kSnapColumns, "CONSTRAINT Snap0 PRIMARY KEY (Id)"};
constexpr Table kDirpath{"Dirpath", kDirpathColumns, "CONSTRAINT Dirpath0 PRIMARY KEY (Id)"};
// A directory's spans lie together, each row's history in the order it
// closed: the run finds what held at the chain's latest snapshot, and a
// reader what held at any, by the key's range.
constexpr Table kDirspan{"Dirspan", kDirspanColumns, "CONSTRAINT Dirspan0 PRIMARY KEY (Chain, Path, Entrytype, Last)"};
constexpr Table kFilespan{"Filespan", kFilespanColumns,
                          "CONSTRAINT Filespan0 PRIMARY KEY (Chain, Path, Filename, Last)"};

// The fields of a Dir row from Dirspan x of snapshot s, and what they join.
// Totsize, which runs no longer fill, is a null of the integer type named.
std::string DirFields(std::string_view integer) {
    return "s.Snapshot AS Snapshot, x.Entrytype AS Entrytype, p.Dirname AS Dirname, p.Shortname AS Shortname, "
           "q.Dirname AS Parentdir, p.Level - c.Baselevel AS Dirlevel, x.Files AS Files, CAST(NULL AS " +
           std::string(integer) + ") AS Totsize, x.Totsizef AS TotsizeF";
}
constexpr std::string_view kDirJoins =
    " JOIN Chain c ON c.Id = s.Chain JOIN Dirpath p ON p.Id = x.Path JOIN Dirpath q ON q.Id = p.Parent";

// The snapshots a span holds for, as a join condition of span x on snapshot s.
std::string Holds(std::string_view x) {
    const std::string a(x);
    return a + ".Chain = s.Chain AND " + a + ".Last >= s.Id AND " + a + ".First <= s.Id";
}

}  // namespace

// A chain's first snapshot opens its spans with First = 0, so these hold
// only what changed after it: a few bytes a changed row, where an index of
// every span would cost as much as the rows' keys.
std::vector<std::string> ChangedSpanIndexes() {
    const std::string open = std::to_string(kOpenSpan);
    return {"CREATE INDEX IF NOT EXISTS Filespan1 ON Filespan (Chain, First) WHERE First > 0",
            "CREATE INDEX IF NOT EXISTS Filespan2 ON Filespan (Chain, Last) WHERE Last < " + open,
            "CREATE INDEX IF NOT EXISTS Dirspan1 ON Dirspan (Chain, First) WHERE First > 0",
            "CREATE INDEX IF NOT EXISTS Dirspan2 ON Dirspan (Chain, Last) WHERE Last < " + open};
}

std::vector<std::string> SetUpStatements(const engine::Dialect& dialect, bool converting) {
    const std::string integer(dialect.TypeName(ValueKind::Integer));
    std::vector<std::string> sql;
    for (const Table* table : {&kChain, &kSnap, &kDirpath, &kDirspan, &kFilespan}) {
        sql.push_back(schema::CreateTableSql(dialect, *table));
    }
    for (const Table* table : {&schema::kFilesystem, &schema::kHost, &schema::kExclusion, &schema::kDiskusage}) {
        sql.push_back(schema::CreateTableSql(dialect, *table,
                                             converting ? schema::Create::TableIfMissing : schema::Create::Table));
    }
    sql.push_back("CREATE UNIQUE INDEX Chain1 ON Chain (Basepath, Hostname)");
    sql.push_back("CREATE UNIQUE INDEX Snap1 ON Snap (Snapshot)");
    sql.push_back("CREATE INDEX Snap2 ON Snap (Chain, Id)");
    sql.push_back("CREATE UNIQUE INDEX Dirpath1 ON Dirpath (Dirname, Parent)");
    sql.push_back("CREATE INDEX Dirpath2 ON Dirpath (Parent)");
    for (std::string& index : ChangedSpanIndexes()) sql.push_back(std::move(index));
    sql.push_back(std::string(schema::kCreateHost1));
    // The parent of every path without one, so that Parentdir is a plain join.
    sql.push_back("INSERT INTO Dirpath (Id, Dirname, Parent, Shortname, Level) VALUES (0, '', NULL, '', 0)");
    sql.push_back("CREATE VIEW Control AS SELECT " + std::string(kControlViewFields) + " FROM Snap");
    sql.push_back("CREATE VIEW Dir AS SELECT " + DirFields(integer) + " FROM Snap s JOIN Dirspan x ON " +
                  Holds("x") + std::string(kDirJoins));
    sql.push_back("CREATE VIEW files AS SELECT s.Snapshot AS Snapshot, f.Filename AS Filename, f.Filesize AS Filesize, "
                  "f.Filetype AS Filetype, p.Dirname AS Filedir, f.Fileattr AS Fileattr, f.Filedate AS Filedate "
                  "FROM Snap s JOIN Filespan f ON " + Holds("f") + " JOIN Dirpath p ON p.Id = f.Path");
    sql.push_back("CREATE VIEW Dirdisk AS SELECT s.Snapshot AS Snapshot, p.Dirname AS Dirname, d.Entrytype AS Entrytype, "
                  "d.Diskbytes AS Diskbytes FROM Snap s JOIN Dirspan d ON " + Holds("d") +
                  " JOIN Dirpath p ON p.Id = d.Path WHERE d.Diskbytes IS NOT NULL");
    sql.push_back("CREATE VIEW Filedisk AS SELECT s.Snapshot AS Snapshot, p.Dirname AS Filedir, f.Filename AS Filename, "
                  "f.Diskbytes AS Diskbytes, f.Links AS Links FROM Snap s JOIN Filespan f ON " + Holds("f") +
                  " JOIN Dirpath p ON p.Id = f.Path WHERE f.Diskbytes IS NOT NULL");
    return sql;
}

// A span of s's chain that holds at s but not at o began after o (s is the
// newer) or ended before it (s is the older). Each case reads its own
// partial index, which holds only the spans that began after their chain's
// first snapshot or have ended: what changed, not the whole chain.
std::string Differing(std::string_view fields, std::string_view span, std::string_view joins, std::string_view other) {
    const std::string head = "SELECT " + std::string(fields) + " FROM Snap s JOIN Snap o ON o.Snapshot = " +
                             std::string(other) + " JOIN " + std::string(span) + " x ON ";
    const std::string tail(joins);
    return head + "o.Chain = s.Chain AND x.Chain = s.Chain AND x.First > 0 AND x.First > o.Id AND x.First <= s.Id "
                  "AND x.Last >= s.Id" + tail +
           " UNION ALL " + head + "o.Chain = s.Chain AND x.Chain = s.Chain AND x.Last < " + std::to_string(kOpenSpan) +
           " AND x.Last < o.Id AND x.Last >= s.Id AND x.First <= s.Id" + tail +
           " UNION ALL " + head + "o.Chain <> s.Chain AND " + Holds("x") + tail;
}

std::string DifferingFilesSql(std::string_view other) {
    return Differing("s.Snapshot AS Snapshot, x.Filename AS Filename, x.Filesize AS Filesize, x.Filetype AS Filetype, "
                     "p.Dirname AS Filedir, x.Fileattr AS Fileattr, x.Filedate AS Filedate",
                     "Filespan", " JOIN Dirpath p ON p.Id = x.Path", other);
}

std::string DifferingDirsSql(std::string_view other) {
    return Differing(DirFields("BIGINT"), "Dirspan", kDirJoins, other);
}

// The paths first: the engine would otherwise read every file span of the
// chain and look each one's path up, for the tree of one directory too.
std::string FilesUnderSql(std::string_view pathCondition) {
    return "SELECT s.Snapshot AS Snapshot, f.Filename AS Filename, f.Filesize AS Filesize, f.Filetype AS Filetype, "
           "p.Dirname AS Filedir, f.Fileattr AS Fileattr, f.Filedate AS Filedate FROM Snap s CROSS JOIN Dirpath p "
           "CROSS JOIN Filespan f WHERE " + std::string(pathCondition) + " AND f.Chain = s.Chain AND f.Path = p.Id "
           "AND f.Last >= s.Id AND f.First <= s.Id";
}

StoreError RefreshStatistics(DatabaseState& state) {
    return Execute(state, state.Engine->SqlDialect().RefreshStatistics("Chain, Snap, Dirpath, Dirspan, Filespan"));
}

StoreError ReadInteger(DatabaseState& state, std::string_view sql, std::initializer_list<std::int64_t> values,
                       std::optional<std::int64_t>& value) {
    Statement query;
    StoreError error = query.Prepare(state, sql);
    int position = 1;
    for (std::int64_t value : values) {
        if (error.Ok()) error = query.BindInt64(position++, value);
    }
    bool row = false;
    if (error.Ok()) error = query.Step(row);
    value.reset();
    if (error.Ok() && row && !query.IsNull(0)) value = query.Int64(0);
    return error;
}

bool NewDatabasesUseHistory() {
    const char* layout = std::getenv("CORVINA_LAYOUT");
    return layout == nullptr || std::string_view(layout) != "tables";
}

StoreError IsHistoryDatabase(DatabaseState& state, bool& history) { return TableExists(state, "Snap", history); }

StoreError DeleteSnapshotSpans(DatabaseState& state, const std::string& key) {
    std::optional<std::int64_t> id, chain, before, after;
    {
        Statement query;
        StoreError error = query.Prepare(state, "SELECT Id, Chain FROM Snap WHERE Snapshot = ?");
        if (error.Ok()) error = query.BindText(1, key);
        bool row = false;
        if (error.Ok()) error = query.Step(row);
        if (!error.Ok() || !row) return error;
        id = query.Int64(0);
        chain = query.Int64(1);
    }
    const std::int64_t s = *id, c = *chain;
    if (StoreError error = ReadInteger(state, "SELECT max(Id) FROM Snap WHERE Chain = ? AND Id < ?", {c, s}, before);
        !error.Ok()) {
        return error;
    }
    if (StoreError error = ReadInteger(state, "SELECT min(Id) FROM Snap WHERE Chain = ? AND Id > ?", {c, s}, after);
        !error.Ok()) {
        return error;
    }
    const std::string open = std::to_string(kOpenSpan);
    for (const char* table : {"Dirspan", "Filespan"}) {
        const std::string t(table);
        // The order matters: what held at this snapshot alone goes first, and
        // the rows of the one before reopen only once nothing else is open.
        // The chain's first snapshot began its spans with First = 0 (or its
        // own id, in databases written before that rule); a span that begins
        // at 0 still holds from the start once the first snapshot is gone.
        const std::string began = before ? "First = ?" : "First <= ?";
        std::vector<std::pair<std::string, std::vector<std::int64_t>>> steps;
        steps.push_back({"DELETE FROM " + t + " WHERE Chain = ? AND " + began + " AND Last = ?", {c, s, s}});
        if (after) {
            if (before) {
                steps.push_back({"UPDATE " + t + " SET First = ? WHERE Chain = ? AND First = ?", {*after, c, s}});
            } else {
                // The next snapshot becomes the chain's first: what it began
                // now holds from the start.
                steps.push_back({"UPDATE " + t + " SET First = 0 WHERE Chain = ? AND First > 0 AND First <= ?", {c, *after}});
            }
            if (before) steps.push_back({"UPDATE " + t + " SET Last = ? WHERE Chain = ? AND Last = ?", {*before, c, s}});
        } else {
            steps.push_back({"DELETE FROM " + t + " WHERE Chain = ? AND " + began, {c, s}});
            if (before) steps.push_back({"UPDATE " + t + " SET Last = " + open + " WHERE Chain = ? AND Last = ?", {c, *before}});
        }
        for (const auto& [sql, values] : steps) {
            Statement statement;
            StoreError error = statement.Prepare(state, sql);
            int position = 1;
            for (std::int64_t value : values) {
                if (error.Ok()) error = statement.BindInt64(position++, value);
            }
            if (error.Ok()) error = statement.Run();
            if (!error.Ok()) return error;
        }
    }
    Statement remove;
    StoreError error = remove.Prepare(state, "DELETE FROM Snap WHERE Id = ?");
    if (error.Ok()) error = remove.BindInt64(1, s);
    if (error.Ok()) error = remove.Run();
    if (!error.Ok()) return error;
    // On a server whose roles are kept to their hosts (store/HostRoles.h) the
    // policies pass another host's rows over without a word: every step
    // above changed nothing, and the Snap row is still there.
    std::optional<std::int64_t> left;
    if (error = ReadInteger(state, "SELECT Id FROM Snap WHERE Id = ?", {s}, left); !error.Ok() || !left) return error;
    Statement host;
    error = host.Prepare(state, "SELECT Hostname FROM Chain WHERE Id = ?");
    if (error.Ok()) error = host.BindInt64(1, c);
    bool row = false;
    if (error.Ok()) error = host.Step(row);
    if (!error.Ok()) return error;
    const std::string label = row ? std::string(host.Text(0)) : std::string();
    return StoreError{StoreCode::OtherHost,
                      "Snapshot " + key + (label.empty() ? " is of an unknown host" : " is of host " + label) +
                          ": this role may change only its own host's snapshots",
                      key};
}

}  // namespace corvina::history
