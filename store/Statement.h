#pragma once
// A prepared statement on the open snapshot database: the one way the other
// layers query it, so that the engine stays behind store/. A Statement is a
// scoped value: preparing creates it, destruction finalizes it, and it must die
// before the DatabaseState it was prepared on closes.
//
// Error policy: as every function of store/ (StoreError.h); each failure of
// the engine, a bind included, comes back with its code and reason, and the
// statement text as the datum. Reading a column cannot fail: a column that the
// row does not have reads as null.
//
// Texts are bound either copied, or as views for the hot paths (the row
// writers): a view must stay as it is until the statement has been stepped.
// The statement is the engine's (store/engine/Engine.h), whichever engine
// holds the database.
// Texts read from a row are views into the statement, valid until the next
// Step or Reset; the scans of a million rows read them without a copy.

#include <cstdint>
#include <memory>
#include <string_view>

#include "store/StoreError.h"
#include "store/engine/Engine.h"

namespace corvina {

struct DatabaseState;

class Statement {
public:
    Statement() noexcept;
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Prepares sql, one statement whose parameters are "?" (by position, from
    // 1), "?N" or ":name", on the usable database. Any statement held before
    // is finalized first.
    StoreError Prepare(DatabaseState& database, std::string_view sql, StatementUse use = StatementUse::Once);
    bool IsPrepared() const { return query_ != nullptr; }
    void Finalize();

    // The position of a named parameter (":q"), 0 when the text has none of
    // that name.
    int ParameterIndex(std::string_view name) const;

    StoreError BindText(int position, std::string_view text);
    // Not copied: text must stay as it is until the statement has been stepped.
    StoreError BindTextView(int position, std::string_view text);
    StoreError BindInt64(int position, std::int64_t value);
    StoreError BindDouble(int position, double value);
    StoreError BindNull(int position);

    // The next row: row is true when there is one, false at the end.
    StoreError Step(bool& row);
    // Runs a statement that returns no rows (an insert, a delete) and resets
    // it, so that it can be bound and run again.
    StoreError Run();
    // Back to before the first row; the bound values stay.
    void Reset();

    int ColumnCount() const;
    std::string_view ColumnName(int column) const;
    ColumnType Type(int column) const;
    bool IsNull(int column) const { return Type(column) == ColumnType::Null; }
    std::int64_t Int64(int column) const;
    double Double(int column) const;
    // The column as text (a number converted, a null empty).
    std::string_view Text(int column) const;

private:
    std::unique_ptr<engine::Query> query_;
};

// Runs sql, one or more statements that return no rows (an index, a delete).
StoreError Execute(DatabaseState& database, std::string_view sql);

}  // namespace corvina
