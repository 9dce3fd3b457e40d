// The statements of the other layers, on SQLite's own calls: the row writers
// and the long scans bind and read through here a million times a run, and
// the wrapper's copies and column objects would cost as much again as the
// engine's work.

#include "store/Statement.h"

#include <sqlite3.h>

#include <string>
#include <utility>

#include "store/DatabaseConnection.h"
#include "store/ServerConnection.h"
#include "store/SnapshotDatabase.h"

namespace corvina {
namespace {

sqlite3_stmt* Raw(EngineStatement* statement) { return reinterpret_cast<sqlite3_stmt*>(statement); }

// The engine's message for code: its last message when that is about code
// (a failed step or prepare), else the generic text of the code.
std::string EngineReason(sqlite3* db, int code) {
    if (db != nullptr && (sqlite3_extended_errcode(db) & 0xff) == (code & 0xff)) return sqlite3_errmsg(db);
    return sqlite3_errstr(code);
}

// A number as the 8 bytes a server statement keeps for it.
template <typename T>
std::string_view BytesOf(const T& value) {
    return std::string_view(reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

Statement::Statement() noexcept = default;

Statement::~Statement() { Finalize(); }

Statement::Statement(Statement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)), server_(std::move(other.server_)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        Finalize();
        statement_ = std::exchange(other.statement_, nullptr);
        server_ = std::move(other.server_);
    }
    return *this;
}

void Statement::Finalize() {
    sqlite3_finalize(Raw(statement_));
    statement_ = nullptr;
    server_.reset();
}

StoreError Statement::Failure(int code) const {
    sqlite3_stmt* s = Raw(statement_);
    const char* sql = s != nullptr ? sqlite3_sql(s) : nullptr;
    sqlite3* db = s != nullptr ? sqlite3_db_handle(s) : nullptr;
    return StoreError{code, EngineReason(db, code), sql != nullptr ? sql : ""};
}

StoreError Statement::Prepare(DatabaseState& database, std::string_view sql, StatementUse use) {
    Finalize();
    if (!database.IsUsable()) return NotOpenError(std::string(sql));
    if (database.Server) {
        server_ = std::make_unique<ServerStatement>(*database.Server, sql, use == StatementUse::Repeated);
        StoreError error = server_->Open();
        if (!error.Ok()) server_.reset();
        return error;
    }
    sqlite3* db = database.SnapshotDatabase->getHandle();
    sqlite3_stmt* prepared = nullptr;
    const unsigned flags = use == StatementUse::Repeated ? SQLITE_PREPARE_PERSISTENT : 0;
    int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), flags, &prepared, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(prepared);
        return StoreError{rc, EngineReason(db, rc), std::string(sql)};
    }
    statement_ = reinterpret_cast<EngineStatement*>(prepared);
    return {};
}

int Statement::ParameterIndex(std::string_view name) const {
    if (server_) return server_->ParameterIndex(name);
    if (statement_ == nullptr) return 0;
    // The engine wants the name ending in a zero byte.
    return sqlite3_bind_parameter_index(Raw(statement_), std::string(name).c_str());
}

StoreError Statement::BindText(int position, std::string_view text) {
    if (server_) return server_->Bind(position, text, ServerStatement::kText);
    int rc = sqlite3_bind_text(Raw(statement_), position, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return rc == SQLITE_OK ? StoreError{} : Failure(rc);
}

StoreError Statement::BindTextView(int position, std::string_view text) {
    if (server_) return server_->Bind(position, text, ServerStatement::kText);
    int rc = sqlite3_bind_text(Raw(statement_), position, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    return rc == SQLITE_OK ? StoreError{} : Failure(rc);
}

StoreError Statement::BindInt64(int position, std::int64_t value) {
    if (server_) return server_->Bind(position, BytesOf(value), ServerStatement::kInt64);
    int rc = sqlite3_bind_int64(Raw(statement_), position, value);
    return rc == SQLITE_OK ? StoreError{} : Failure(rc);
}

StoreError Statement::BindDouble(int position, double value) {
    if (server_) return server_->Bind(position, BytesOf(value), ServerStatement::kDouble);
    int rc = sqlite3_bind_double(Raw(statement_), position, value);
    return rc == SQLITE_OK ? StoreError{} : Failure(rc);
}

StoreError Statement::BindNull(int position) {
    if (server_) return server_->Bind(position, std::string_view(), ServerStatement::kNull);
    int rc = sqlite3_bind_null(Raw(statement_), position);
    return rc == SQLITE_OK ? StoreError{} : Failure(rc);
}

StoreError Statement::Step(bool& row) {
    row = false;
    if (server_) return server_->Step(row);
    if (statement_ == nullptr) return StoreError{SQLITE_MISUSE, "No statement is prepared", ""};
    int rc = sqlite3_step(Raw(statement_));
    if (rc == SQLITE_ROW) {
        row = true;
        return {};
    }
    return rc == SQLITE_DONE ? StoreError{} : Failure(rc);
}

StoreError Statement::Run() {
    if (server_) return server_->Run();
    if (statement_ == nullptr) return StoreError{SQLITE_MISUSE, "No statement is prepared", ""};
    int rc = sqlite3_step(Raw(statement_));
    // The message is taken before the reset, which may replace it.
    StoreError error = rc == SQLITE_DONE ? StoreError{} : Failure(rc);
    sqlite3_reset(Raw(statement_));
    return error;
}

void Statement::Reset() {
    if (server_) return server_->Reset();
    sqlite3_reset(Raw(statement_));
}

int Statement::ColumnCount() const {
    return server_ ? server_->ColumnCount() : sqlite3_column_count(Raw(statement_));
}

std::string_view Statement::ColumnName(int column) const {
    if (server_) return server_->ColumnName(column);
    const char* name = statement_ != nullptr ? sqlite3_column_name(Raw(statement_), column) : nullptr;
    return name != nullptr ? std::string_view(name) : std::string_view();
}

ColumnType Statement::Type(int column) const {
    if (server_) return server_->Type(column);
    switch (sqlite3_column_type(Raw(statement_), column)) {
        case SQLITE_INTEGER: return ColumnType::Integer;
        case SQLITE_FLOAT: return ColumnType::Real;
        case SQLITE_TEXT: return ColumnType::Text;
        case SQLITE_BLOB: return ColumnType::Blob;
        default: return ColumnType::Null;
    }
}

std::int64_t Statement::Int64(int column) const {
    return server_ ? server_->Int64(column) : sqlite3_column_int64(Raw(statement_), column);
}

double Statement::Double(int column) const {
    return server_ ? server_->Double(column) : sqlite3_column_double(Raw(statement_), column);
}

std::string_view Statement::Text(int column) const {
    if (server_) return server_->Text(column);
    // The text first, then its length: the order the engine asks for.
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(Raw(statement_), column));
    if (text == nullptr) return {};
    return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(Raw(statement_), column)));
}

StoreError Execute(DatabaseState& database, std::string_view sql) {
    if (!database.IsUsable()) return NotOpenError(std::string(sql));
    if (database.Server) return database.Server->Execute(sql);
    sqlite3* db = database.SnapshotDatabase->getHandle();
    const std::string text(sql);
    int rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? StoreError{} : StoreError{rc, EngineReason(db, rc), text};
}

}  // namespace corvina
