#include "store/Exclusion.h"

#include "store/DatabaseState.h"
#include "store/Schema.h"
#include "store/Statement.h"

namespace corvina {

StoreError WriteExclusionRows(DatabaseState& state, const DateTime& key, const std::vector<Exclusion>& exclusions) {
    if (exclusions.empty()) return {};
    if (!state.IsUsable()) return NotOpenError("Exclusion");
    const std::string create =
        schema::CreateTableSql(state.Engine->SqlDialect(), schema::kExclusion, schema::Create::TableIfMissing);
    StoreError error = CreateTableWhenMissing(state, "Exclusion", {create});
    Statement insert;
    if (error.Ok()) {
        error = insert.Prepare(state, "INSERT INTO Exclusion (Snapshot, Position, Kind, Pattern) VALUES (?, ?, ?, ?)");
    }
    const std::string keyText = FormatKey(key);
    for (std::size_t position = 0; error.Ok() && position < exclusions.size(); ++position) {
        const Exclusion& exclusion = exclusions[position];
        error = insert.BindText(1, keyText);
        if (error.Ok()) error = insert.BindInt64(2, static_cast<std::int64_t>(position));
        if (error.Ok()) error = insert.BindText(3, ExclusionKindText(exclusion.Kind));
        if (error.Ok()) error = insert.BindText(4, exclusion.Pattern);
        if (error.Ok()) error = insert.Run();
    }
    if (!error.Ok()) error.Datum = "Exclusion";
    return error;
}

StoreError ReadExclusions(DatabaseState& state, const DateTime& key, std::vector<Exclusion>& exclusions) {
    exclusions.clear();
    bool exists = false;
    if (StoreError error = TableExists(state, "Exclusion", exists); !error.Ok() || !exists) return error;
    Statement query;
    StoreError error =
        query.Prepare(state, "SELECT Kind, Pattern FROM Exclusion WHERE Snapshot = ? ORDER BY Position");
    if (error.Ok()) error = query.BindText(1, FormatKey(key));
    for (bool row = true; error.Ok() && (error = query.Step(row)).Ok() && row;) {
        const bool caches = query.Text(0) == ExclusionKindText(ExclusionKind::Caches);
        exclusions.push_back({caches ? ExclusionKind::Caches : ExclusionKind::Pattern, std::string(query.Text(1))});
    }
    return error;
}

}  // namespace corvina
