#include "store/Statement.h"

#include <string>
#include <utility>

#include "store/DatabaseState.h"

namespace corvina {
namespace {

StoreError NotPrepared() { return StoreError{StoreCode::Other, "No statement is prepared", ""}; }

}  // namespace

Statement::Statement() noexcept = default;

Statement::~Statement() = default;

Statement::Statement(Statement&& other) noexcept = default;

Statement& Statement::operator=(Statement&& other) noexcept = default;

void Statement::Finalize() { query_.reset(); }

StoreError Statement::Prepare(DatabaseState& database, std::string_view sql, StatementUse use) {
    Finalize();
    if (!database.IsUsable()) return NotOpenError(std::string(sql));
    return database.Engine->Prepare(sql, use, query_);
}

int Statement::ParameterIndex(std::string_view name) const { return query_ ? query_->ParameterIndex(name) : 0; }

StoreError Statement::BindText(int position, std::string_view text) {
    return query_ ? query_->BindText(position, text, true) : NotPrepared();
}

StoreError Statement::BindTextView(int position, std::string_view text) {
    return query_ ? query_->BindText(position, text, false) : NotPrepared();
}

StoreError Statement::BindInt64(int position, std::int64_t value) {
    return query_ ? query_->BindInt64(position, value) : NotPrepared();
}

StoreError Statement::BindDouble(int position, double value) {
    return query_ ? query_->BindDouble(position, value) : NotPrepared();
}

StoreError Statement::BindNull(int position) { return query_ ? query_->BindNull(position) : NotPrepared(); }

StoreError Statement::Step(bool& row) {
    row = false;
    return query_ ? query_->Step(row) : NotPrepared();
}

StoreError Statement::Run() { return query_ ? query_->Run() : NotPrepared(); }

void Statement::Reset() {
    if (query_) query_->Reset();
}

int Statement::ColumnCount() const { return query_ ? query_->ColumnCount() : 0; }

std::string_view Statement::ColumnName(int column) const {
    return query_ ? query_->ColumnName(column) : std::string_view();
}

ColumnType Statement::Type(int column) const { return query_ ? query_->Type(column) : ColumnType::Null; }

std::int64_t Statement::Int64(int column) const { return query_ ? query_->Int64(column) : 0; }

double Statement::Double(int column) const { return query_ ? query_->Double(column) : 0; }

std::string_view Statement::Text(int column) const { return query_ ? query_->Text(column) : std::string_view(); }

StoreError Execute(DatabaseState& database, std::string_view sql) {
    if (!database.IsUsable()) return NotOpenError(std::string(sql));
    return database.Engine->Execute(sql);
}

}  // namespace corvina
