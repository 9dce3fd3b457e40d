#include "tests/support/DiskRows.h"

#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "store/Schema.h"
#include "store/Statement.h"
#include "tests/support/SnapshotRows.h"

namespace corvina::test {
namespace {

void Check(const StoreError& error, std::string_view what) {
    if (error.Ok()) return;
    std::fprintf(stderr, "test rows not written: %.*s: %s\n", static_cast<int>(what.size()), what.data(),
                 error.Details().c_str());
    std::abort();
}

void Create(DatabaseState& database, const schema::Table& table) {
    const std::string sql =
        schema::CreateTableSql(database.Engine->SqlDialect(), table, schema::Create::TableIfMissing);
    Check(CreateTableWhenMissing(database, table.Name, {sql}), table.Name);
}

// Runs insert once per row: texts bind as texts, numbers as whole numbers.
template <typename... Values>
void Insert(DatabaseState& database, const char* sql, const Values&... values) {
    Statement insert;
    StoreError error = insert.Prepare(database, sql);
    int position = 0;
    auto bind = [&](const auto& value) {
        ++position;
        if (!error.Ok()) return;
        if constexpr (std::is_integral_v<std::decay_t<decltype(value)>>) {
            error = insert.BindInt64(position, value);
        } else {
            error = insert.BindText(position, value);
        }
    };
    (bind(values), ...);
    if (error.Ok()) error = insert.Run();
    Check(error, sql);
}

}  // namespace

void AddDiskRows(DatabaseState& database, const DiskRows& rows) {
    for (const schema::Table* table : {&schema::kDiskusage, &schema::kDirdisk, &schema::kFiledisk}) {
        Create(database, *table);
    }
    const std::string key = FormatKey(Key(rows.Key));
    std::int64_t files = 0;
    for (const FileDisk& file : rows.Files) {
        files += file.Bytes;
        if (file.Derived) continue;
        Insert(database, "INSERT INTO Filedisk (Snapshot, Filedir, Filename, Diskbytes, Links) VALUES (?, ?, ?, ?, ?)",
               key, file.Dir, file.Name, file.Bytes, file.Links);
    }
    for (const DirDisk& dir : rows.Dirs) {
        const bool filesEntry = dir.Name.ends_with("(files)");
        Insert(database, "INSERT INTO Dirdisk (Snapshot, Dirname, Entrytype, Diskbytes) VALUES (?, ?, ?, ?)", key,
               dir.Name, filesEntry ? "1" : "2", dir.Bytes);
    }
    Insert(database, "INSERT INTO Diskusage (Snapshot, Totdiskbytes, Filediskbytes, Blockunit) VALUES (?, ?, ?, ?)",
           key, rows.Total, files, rows.Blockunit);
}

void AddExclusions(DatabaseState& database, const char* key,
                   const std::vector<std::pair<std::string, std::string>>& exclusions) {
    Create(database, schema::kExclusion);
    std::int64_t position = 0;
    for (const auto& [kind, pattern] : exclusions) {
        Insert(database, "INSERT INTO Exclusion (Snapshot, Position, Kind, Pattern) VALUES (?, ?, ?, ?)",
               FormatKey(Key(key)), position++, kind, pattern);
    }
}

}  // namespace corvina::test
