// Host labels. The statements keep to SQL that every engine behind
// store/Statement runs: no upsert (a key is written once, by its run), null
// ordering left to the program, which sorts the pairs itself.

#include "store/HostLabel.h"

#include <algorithm>
#include <utility>

#include "store/Schema.h"
#include "store/Statement.h"

namespace corvina {

StoreError WriteHostLabel(DatabaseState& state, const DateTime& key, std::string_view label) {
    if (!state.IsUsable()) return NotOpenError("Host");
    const std::string create =
        schema::CreateTableSql(state.Engine->SqlDialect(), schema::kHost, schema::Create::TableIfMissing);
    StoreError error = CreateTableWhenMissing(state, "Host", {create, schema::kCreateHost1});
    Statement insert;
    if (error.Ok()) error = insert.Prepare(state, "INSERT INTO Host (Snapshot, Hostname) VALUES (?, ?)");
    if (error.Ok()) error = insert.BindText(1, FormatKey(key));
    if (error.Ok()) error = insert.BindText(2, label);
    if (error.Ok()) error = insert.Run();
    if (!error.Ok()) error.Datum = "Host";
    return error;
}

StoreError ReadHostLabels(DatabaseState& state, std::map<DateTime, std::string>& labels) {
    labels.clear();
    bool exists = false;
    if (StoreError error = TableExists(state, "Host", exists); !error.Ok() || !exists) return error;
    Statement query;
    StoreError error = query.Prepare(state, "SELECT Snapshot, Hostname FROM Host");
    for (bool row = true; error.Ok() && (error = query.Step(row)).Ok() && row;) {
        if (query.IsNull(0) || query.IsNull(1)) continue;
        if (auto key = DateTime::Parse(query.Text(0))) labels[*key] = std::string(query.Text(1));
    }
    return error;
}

StoreError HoldsSeveralHosts(DatabaseState& state, bool& several) {
    several = false;
    bool exists = false;
    if (StoreError error = TableExists(state, "Host", exists); !error.Ok() || !exists) return error;
    Statement query;
    bool row = false;
    StoreError error = query.Prepare(state, "SELECT count(DISTINCT Hostname) FROM Host");
    if (error.Ok()) error = query.Step(row);
    if (error.Ok() && row) several = query.Int64(0) > 1;
    return error;
}

StoreError ReadHostLabel(DatabaseState& state, const DateTime& key, std::string& label) {
    label.clear();
    bool exists = false;
    if (StoreError error = TableExists(state, "Host", exists); !error.Ok() || !exists) return error;
    Statement query;
    bool row = false;
    StoreError error = query.Prepare(state, "SELECT Hostname FROM Host WHERE Snapshot = ?");
    if (error.Ok()) error = query.BindText(1, FormatKey(key));
    if (error.Ok()) error = query.Step(row);
    if (error.Ok() && row) label = query.Text(0);
    return error;
}

StoreError HostToKeepTo(DatabaseState& state, const DateTime& key, std::optional<std::string>& host) {
    host.reset();
    bool several = false;
    if (StoreError error = HoldsSeveralHosts(state, several); !error.Ok() || !several) return error;
    std::string label;
    StoreError error = ReadHostLabel(state, key, label);
    if (error.Ok()) host = std::move(label);
    return error;
}

std::string JoinHostOf(std::string_view controlAlias) {
    return " LEFT JOIN Host h ON h.Snapshot = " + std::string(controlAlias) + ".Snapshot";
}

std::string HostIs(std::string_view parameter) { return "COALESCE(h.Hostname, '') = " + std::string(parameter); }

StoreError ListBasePathHosts(DatabaseState& state, std::vector<BasePathHost>& pairs) {
    pairs.clear();
    bool exists = false;
    StoreError error = TableExists(state, "Host", exists);
    Statement query;
    if (error.Ok()) {
        error = query.Prepare(state, exists ? "SELECT DISTINCT c.Basepath, h.Hostname FROM Control c "
                                              "LEFT JOIN Host h ON h.Snapshot = c.Snapshot"
                                            : "SELECT DISTINCT Basepath FROM Control");
    }
    for (bool row = true; error.Ok() && (error = query.Step(row)).Ok() && row;) {
        const bool labelled = exists && !query.IsNull(1);
        pairs.push_back({std::string(query.Text(0)), labelled ? std::string(query.Text(1)) : std::string()});
    }
    // A null label and "" are the same unknown host: sorting brings them
    // together, and the duplicate goes.
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    return error;
}

std::string HostDisplayName(std::string_view label) {
    return label.empty() ? std::string("unknown host") : std::string(label);
}

}  // namespace corvina
