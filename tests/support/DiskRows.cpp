#include "tests/support/DiskRows.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "store/Schema.h"
#include "store/Statement.h"
#include "tests/support/SnapshotRows.h"

namespace corvina::test {
namespace {

[[noreturn]] void Fail(const std::string& what, const StoreError& error) {
    std::fprintf(stderr, "test rows not written: %s: %s\n", what.c_str(), error.Details().c_str());
    std::abort();
}

void Create(DatabaseState& database, const schema::Table& table) {
    const std::string sql =
        schema::CreateTableSql(database.Engine->SqlDialect(), table, schema::Create::TableIfMissing);
    if (StoreError error = CreateTableWhenMissing(database, table.Name, {sql}); !error.Ok()) {
        Fail(std::string(table.Name), error);
    }
}

// One row of texts and whole numbers, in the order of the statement's markers.
struct Value {
    std::string Text;
    std::int64_t Number = 0;
    bool IsText = true;
};
Value T(std::string text) { return {std::move(text), 0, true}; }
Value N(std::int64_t number) { return {{}, number, false}; }

void Insert(DatabaseState& database, const std::string& sql, std::initializer_list<Value> values) {
    Statement insert;
    StoreError error = insert.Prepare(database, sql);
    int position = 1;
    for (const Value& value : values) {
        if (!error.Ok()) break;
        error = value.IsText ? insert.BindText(position, value.Text) : insert.BindInt64(position, value.Number);
        ++position;
    }
    if (error.Ok()) error = insert.Run();
    if (!error.Ok()) Fail(sql, error);
}

}  // namespace

void AddDiskRows(DatabaseState& database, const DiskRows& rows) {
    for (const schema::Table* table : {&schema::kDiskusage, &schema::kDirdisk, &schema::kFiledisk}) {
        Create(database, *table);
    }
    const std::string key = FormatKey(Key(rows.Key));
    std::int64_t files = 0;
    for (const FileDisk& file : rows.Files) {
        Insert(database, "INSERT INTO Filedisk (Snapshot, Filedir, Filename, Diskbytes, Links) VALUES (?, ?, ?, ?, ?)",
               {T(key), T(file.Dir), T(file.Name), N(file.Bytes), N(file.Links)});
        files += file.Bytes;
    }
    for (const DirDisk& dir : rows.Dirs) {
        Insert(database, "INSERT INTO Dirdisk (Snapshot, Dirname, Diskbytes) VALUES (?, ?, ?)",
               {T(key), T(dir.Name), N(dir.Bytes)});
    }
    Insert(database, "INSERT INTO Diskusage (Snapshot, Totdiskbytes, Filediskbytes) VALUES (?, ?, ?)",
           {T(key), N(rows.Total), N(files)});
}

void AddExclusions(DatabaseState& database, const char* key,
                   const std::vector<std::pair<std::string, std::string>>& exclusions) {
    Create(database, schema::kExclusion);
    std::int64_t position = 0;
    for (const auto& [kind, pattern] : exclusions) {
        Insert(database, "INSERT INTO Exclusion (Snapshot, Position, Kind, Pattern) VALUES (?, ?, ?, ?)",
               {T(FormatKey(Key(key))), N(position++), T(kind), T(pattern)});
    }
}

}  // namespace corvina::test
