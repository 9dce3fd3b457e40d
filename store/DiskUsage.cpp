#include "store/DiskUsage.h"

#include <array>
#include <string_view>

#include "store/Schema.h"
#include "store/Statement.h"

namespace corvina {

namespace {

constexpr std::array<std::string_view, 4> kDirdiskRowFields{"Snapshot", "Dirname", "Entrytype", "Diskbytes"};
constexpr std::array<std::string_view, 5> kFilediskRowFields{"Snapshot", "Filedir", "Filename", "Diskbytes", "Links"};

}  // namespace

StoreError CreateDiskTables(DatabaseState& state) {
    if (!state.IsUsable()) return NotOpenError("Diskusage");
    const engine::Dialect& dialect = state.Engine->SqlDialect();
    StoreError error;
    for (const schema::Table* table : {&schema::kDiskusage, &schema::kDirdisk, &schema::kFiledisk}) {
        const std::string create = schema::CreateTableSql(dialect, *table, schema::Create::TableIfMissing);
        if (error.Ok()) error = CreateTableWhenMissing(state, table->Name, {create});
    }
    return error;
}

StoreError OpenDiskRows(DatabaseState& state, RowAppender& dirdisk, RowAppender& filedisk) {
    if (!state.IsUsable()) return NotOpenError("Dirdisk");
    StoreError error = dirdisk.Open(*state.Engine, schema::kDirdisk.Name, kDirdiskRowFields, 1);
    if (error.Ok()) error = filedisk.Open(*state.Engine, schema::kFiledisk.Name, kFilediskRowFields, 2);
    return error;
}

StoreError WriteDiskusageRow(DatabaseState& state, const DateTime& key, const DiskTotals& totals) {
    if (!state.IsUsable()) return NotOpenError("Diskusage");
    Statement insert;
    StoreError error = insert.Prepare(
        state, "INSERT INTO Diskusage (Snapshot, Totdiskbytes, Filediskbytes, Blockunit) VALUES (?,?,?,?)");
    if (error.Ok()) error = insert.BindText(1, FormatKey(key));
    if (error.Ok()) error = insert.BindInt64(2, totals.Totdiskbytes);
    if (error.Ok()) error = insert.BindInt64(3, totals.Filediskbytes);
    if (error.Ok()) error = insert.BindInt64(4, totals.Blockunit);
    if (error.Ok()) error = insert.Run();
    if (!error.Ok()) error.Datum = "Diskusage";
    return error;
}

StoreError ReadDiskusageRow(DatabaseState& state, const DateTime& key, std::optional<DiskTotals>& totals) {
    totals.reset();
    bool exists = false;
    if (StoreError error = TableExists(state, "Diskusage", exists); !error.Ok() || !exists) return error;
    Statement query;
    bool row = false;
    StoreError error =
        query.Prepare(state, "SELECT Totdiskbytes, Filediskbytes, Blockunit FROM Diskusage WHERE Snapshot = ?");
    if (error.Ok()) error = query.BindText(1, FormatKey(key));
    if (error.Ok()) error = query.Step(row);
    if (error.Ok() && row) totals = DiskTotals{query.Int64(0), query.Int64(1), query.Int64(2)};
    return error;
}

FilediskSql FilediskTerms(const FilediskAliases& aliases, bool tablesExist) {
    if (!tablesExist) return FilediskSql{{}, "NULL", "NULL"};
    const std::string f(aliases.Files), fd(aliases.Filedisk), du(aliases.Diskusage);
    FilediskSql terms;
    terms.Joins = " LEFT JOIN Diskusage " + du + " ON " + du + ".Snapshot = " + f + ".Snapshot";
    // The Filedisk row is read as a value of its own rather than joined:
    // where Filedisk is a view of several tables (the history layout), an
    // engine would rather read the whole view than look into it.
    const auto filedisk = [&](std::string_view field) {
        return "(SELECT " + fd + "." + std::string(field) + " FROM Filedisk " + fd + " WHERE " + fd + ".Snapshot = " +
               f + ".Snapshot AND " + fd + ".Filedir = " + f + ".Filedir AND " + fd + ".Filename = " + f +
               ".Filename)";
    };
    // NULLIF: with a unit of 0 every files row has its Filedisk row; one
    // missing anyway reads NULL rather than failing the query on the server.
    terms.Diskbytes = "COALESCE(" + filedisk("Diskbytes") + ", (" + f + ".Filesize + " + du + ".Blockunit - 1) / NULLIF(" +
                      du + ".Blockunit, 0) * " + du + ".Blockunit)";
    terms.Links = "COALESCE(" + filedisk("Links") + ", CASE WHEN " + du + ".Snapshot IS NOT NULL THEN 1 END)";
    return terms;
}

}  // namespace corvina
