// The policies are written again on every run, dropped and made in the same
// transaction: a database set up by an older version gets this one's, and
// running the set-up twice leaves it as once.

#include "store/HostRoles.h"

#include <initializer_list>
#include <optional>

#include "store/HistoryLayout.h"
#include "store/Statement.h"
#include "store/WriteTransaction.h"

namespace corvina {
namespace {

// Server 15 reads a view as the role that queries it (security_invoker);
// before, every view read its tables as the owner, past the policies.
constexpr std::int64_t kFirstServerVersion = 150000;

// The tables whose rows the policies keep to a host, in the order told.
constexpr const char* kPolicedTables[] = {"Chain",      "Snap", "Dirspan",   "Filespan",
                                          "Filesystem", "Host", "Exclusion", "Diskusage"};
constexpr const char* kOtherViews[] = {"Dir", "files", "Dirdisk", "Filedisk"};

// A snapshot's key that is not one of a chain outside chains (a view of
// chain ids): a key without a Snap row yet, or no longer, passes.
std::string KeyOutsideOthers(std::string_view chains) {
    return "Snapshot NOT IN (SELECT Snapshot FROM Snap WHERE Chain NOT IN (SELECT Id FROM " + std::string(chains) +
           "))";
}

std::vector<std::string> SetUpStatements() {
    std::vector<std::string> sql{
        "CREATE TABLE IF NOT EXISTS Hostrole (Rolename TEXT COLLATE \"C\" PRIMARY KEY, Hostname BYTEA NOT NULL, "
        "Readall BOOLEAN NOT NULL)",
        // A barrier, so that no function of a reader's query meets the other
        // roles' rows before the filter.
        "CREATE OR REPLACE VIEW Ownhost WITH (security_barrier) AS SELECT Hostname, Readall FROM Hostrole "
        "WHERE Rolename = current_user",
        "CREATE OR REPLACE VIEW Readchain AS SELECT Id FROM Chain WHERE NOT EXISTS (SELECT 1 FROM Ownhost WHERE NOT "
        "Readall) OR Hostname IN (SELECT Hostname FROM Ownhost)",
        "CREATE OR REPLACE VIEW Ownchain AS SELECT Id FROM Chain WHERE Hostname IN (SELECT Hostname FROM Ownhost)",
        "GRANT SELECT ON Ownhost, Readchain, Ownchain TO PUBLIC",
    };
    for (const char* table : kPolicedTables) {
        const std::string t(table);
        sql.push_back("ALTER TABLE " + t + " ENABLE ROW LEVEL SECURITY");
        for (const char* policy : {"Hostread", "Hostchange"}) {
            sql.push_back("DROP POLICY IF EXISTS " + std::string(policy) + " ON " + t);
        }
    }
    const std::string ownHost = "Hostname IN (SELECT Hostname FROM Ownhost)";
    const std::string ownChain = "Chain IN (SELECT Id FROM Ownchain)";
    // Runs close spans and deletes narrow them: a span's Chain never changes,
    // so one test serves the row before and after.
    const auto policies = [&sql](const std::string& table, const std::string& read, const std::string& change) {
        sql.push_back("CREATE POLICY Hostread ON " + table + " FOR SELECT USING (" + read + ")");
        sql.push_back("CREATE POLICY Hostchange ON " + table + " FOR ALL USING (" + change + ") WITH CHECK (" + change +
                      ")");
    };
    // Nothing updates a Chain or Snap row, nor deletes a chain: FOR ALL
    // allows no more than adding and deleting what the own test passes.
    policies("Chain", "true", ownHost);
    policies("Snap", "true", ownChain);
    for (const char* spans : {"Dirspan", "Filespan"}) policies(spans, "Chain IN (SELECT Id FROM Readchain)", ownChain);
    // A role outside the map changes nothing; inside it, only its own keys.
    const std::string ownKey = "EXISTS (SELECT 1 FROM Ownhost) AND " + KeyOutsideOthers("Ownchain");
    for (const char* figures : {"Filesystem", "Exclusion", "Diskusage"}) {
        policies(figures, KeyOutsideOthers("Readchain"), ownKey);
    }
    policies("Host", KeyOutsideOthers("Readchain"), ownKey + " AND " + ownHost);
    sql.push_back("CREATE OR REPLACE VIEW Control WITH (security_invoker = true) AS SELECT " +
                  std::string(history::kControlViewFields) + " FROM Snap WHERE Chain IN (SELECT Id FROM Readchain)");
    for (const char* view : kOtherViews) sql.push_back("ALTER VIEW " + std::string(view) + " SET (security_invoker = true)");
    return sql;
}

// What a role kept to a host may do with each table, granted to quotedRole.
std::vector<std::string> GrantStatements(const std::string& quotedRole) {
    const std::string to = " TO " + quotedRole;
    return {"GRANT SELECT ON Chain, Snap, Dirpath, Dirspan, Filespan, Filesystem, Host, Exclusion, Diskusage, Control, "
            "Dir, files, Dirdisk, Filedisk" + to,
            "GRANT INSERT ON Chain, Snap, Dirpath, Dirspan, Filespan, Filesystem, Host, Exclusion, Diskusage" + to,
            "GRANT UPDATE ON Dirspan, Filespan" + to,
            "GRANT DELETE ON Snap, Dirspan, Filespan, Filesystem, Host, Exclusion, Diskusage" + to};
}

struct FoundRole {
    bool Exists = false;
    std::string Quoted;  // the name as an identifier, quoted where it must be
    bool Bypasses = false;
    bool OwnsTables = false;
};

StoreError FindRole(DatabaseState& state, const std::string& role, FoundRole& found) {
    Statement query;
    StoreError error = query.Prepare(
        state,
        "SELECT quote_ident(rolname), CASE WHEN rolsuper OR rolbypassrls THEN 1 ELSE 0 END, "
        "CASE WHEN oid = (SELECT relowner FROM pg_class WHERE oid = to_regclass('snap')) THEN 1 ELSE 0 END "
        "FROM pg_roles WHERE rolname = ?");
    if (error.Ok()) error = query.BindText(1, role);
    if (error.Ok()) error = query.Step(found.Exists);
    if (!error.Ok() || !found.Exists) return error;
    found.Quoted = std::string(query.Text(0));
    found.Bypasses = query.Int64(1) != 0;
    found.OwnsTables = query.Int64(2) != 0;
    return {};
}

StoreError CheckRole(const HostRole& role, const FoundRole& found) {
    if (!found.Exists) {
        return MakeError(StoreCode::Missing,
                         "There is no role " + role.Role + " on the server: a superuser makes it first (CREATE ROLE)",
                         role.Role);
    }
    if (found.OwnsTables) {
        return MakeError(StoreCode::Other,
                         "Role " + role.Role + " owns the tables and passes their policies: it cannot be kept to a host",
                         role.Role);
    }
    if (found.Bypasses) {
        return MakeError(StoreCode::Other,
                         "Role " + role.Role + " is a superuser or bypasses row-level security: it cannot be kept "
                         "to a host",
                         role.Role);
    }
    return {};
}

std::string Reading(bool readsAll) {
    return readsAll ? "reads the snapshots of every host" : "reads the snapshots of its own host only";
}

// Maps the role to its host, saying how that differs from before.
StoreError MapRole(DatabaseState& state, const HostRole& role, std::vector<std::string>& done) {
    std::optional<std::string> host;
    bool readsAll = false;
    {
        Statement before;
        StoreError error = before.Prepare(
            state, "SELECT Hostname, CASE WHEN Readall THEN 1 ELSE 0 END FROM Hostrole WHERE Rolename = ?");
        if (error.Ok()) error = before.BindText(1, role.Role);
        bool row = false;
        if (error.Ok()) error = before.Step(row);
        if (!error.Ok()) return error;
        if (row) {
            host = std::string(before.Text(0));
            readsAll = before.Int64(1) != 0;
        }
    }
    const std::string now = "Role " + role.Role + " changes the snapshots of host " + role.Host + " only and " +
                            Reading(role.ReadsAll);
    if (host && *host == role.Host && readsAll == role.ReadsAll) {
        done.push_back(now + " (as before)");
        return {};
    }
    Statement upsert;
    StoreError error = upsert.Prepare(state,
                                      "INSERT INTO Hostrole (Rolename, Hostname, Readall) VALUES (?, ?, ? <> 0) "
                                      "ON CONFLICT (Rolename) DO UPDATE SET Hostname = EXCLUDED.Hostname, "
                                      "Readall = EXCLUDED.Readall");
    if (error.Ok()) error = upsert.BindText(1, role.Role);
    if (error.Ok()) error = upsert.BindText(2, role.Host);
    if (error.Ok()) error = upsert.BindInt64(3, role.ReadsAll ? 1 : 0);
    if (error.Ok()) error = upsert.Run();
    if (!error.Ok()) return error;
    done.push_back(host ? now + " (before: host " + *host + ", " + Reading(readsAll) + ")" : now);
    return {};
}

}  // namespace

StoreError SetUpHostRole(DatabaseState& state, const HostRole& role, LockWait& wait, std::vector<std::string>& done) {
    done.clear();
    if (!state.IsUsable()) return NotOpenError("");
    if (!IsServerLocation(state.DatabasePath)) {
        return MakeError(StoreCode::Other,
                         "Host roles are roles of a PostgreSQL server; a database file is shared through its "
                         "permissions",
                         state.DatabasePath);
    }
    if (!state.History) {
        return MakeError(StoreCode::Other,
                         "This server database is of the older tables layout, whose roles keep the grants they "
                         "have; host roles need a database set up by this version",
                         state.DatabasePath);
    }
    WriteTransaction transaction(state);
    if (StoreError error = transaction.Begin(wait); !error.Ok()) return error;
    std::optional<std::int64_t> version;
    if (StoreError error =
            history::ReadInteger(state, "SELECT CAST(current_setting('server_version_num') AS BIGINT)", {}, version);
        !error.Ok()) {
        return error;
    }
    if (version.value_or(0) < kFirstServerVersion) {
        return MakeError(StoreCode::Other, "Host roles need PostgreSQL 15 or later; this server is older",
                         state.DatabasePath);
    }
    FoundRole found;
    if (StoreError error = FindRole(state, role.Role, found); !error.Ok()) return error;
    if (StoreError error = CheckRole(role, found); !error.Ok()) return error;

    bool mapped = false;
    if (StoreError error = TableExists(state, "Hostrole", mapped); !error.Ok()) return error;
    for (const std::string& sql : SetUpStatements()) {
        if (StoreError error = Execute(state, sql); !error.Ok()) return error;
    }
    std::string tables;
    for (const char* table : kPolicedTables) tables += (tables.empty() ? "" : ", ") + std::string(table);
    done.push_back(mapped ? "Row-level security was set up already on " + tables + "; its policies were renewed"
                          : "Row-level security set up on " + tables + ", with the host map Hostrole");
    // The identifier comes quoted from the server itself: a role name is
    // no parameter a GRANT can take.
    for (const std::string& sql : GrantStatements(found.Quoted)) {
        if (StoreError error = Execute(state, sql); !error.Ok()) return error;
    }
    done.push_back("Role " + role.Role + " may select, insert, update and delete rows of the snapshot tables, as far "
                   "as the policies let it");
    if (StoreError error = MapRole(state, role, done); !error.Ok()) return error;
    return transaction.Commit(wait);
}

}  // namespace corvina
