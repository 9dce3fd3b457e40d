#include "store/Schema.h"

namespace corvina::schema {

std::string CreateTableSql(const engine::Dialect& dialect, const Table& table, Create how) {
    std::string sql = how == Create::TemporaryTable   ? "CREATE TEMP TABLE "
                      : how == Create::TableIfMissing ? "CREATE TABLE IF NOT EXISTS "
                                                      : "CREATE TABLE ";
    sql += table.Name;
    sql += " (";
    for (std::size_t i = 0; i < table.Columns.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += table.Columns[i].Name;
        sql += ' ';
        sql += dialect.TypeName(table.Columns[i].Kind);
    }
    if (!table.Key.empty()) {
        sql += ", ";
        sql += table.Key;
    }
    sql += ')';
    if (!table.Key.empty()) sql += dialect.KeyedTableSuffix();
    return sql;
}

}  // namespace corvina::schema
