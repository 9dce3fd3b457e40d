#include "store/server/ServerBulkRows.h"

#include <libpq-fe.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>

#include "base/PathStyle.h"
#include "store/server/BinaryValues.h"
#include "store/server/ServerConnection.h"
#include "store/server/ServerErrors.h"

namespace corvina::server {
namespace {

// The row number of the server's context "COPY dir, line 3[, column ...]";
// 0 when it names none.
int FailedRow(const pg_result* result) {
    const char* context = PQresultErrorField(result, PG_DIAG_CONTEXT);
    if (context == nullptr) return 0;
    const std::string_view text(context);
    const std::size_t copy = text.find("COPY ");
    const std::size_t line = copy == std::string_view::npos ? copy : text.find(", line ", copy);
    if (line == std::string_view::npos) return 0;
    int row = 0;
    const char* start = text.data() + line + 7;
    std::from_chars(start, text.data() + text.size(), row);
    return row;
}

std::string Rows(int count) { return std::to_string(count) + (count == 1 ? " row" : " rows"); }

bool IsTextual(unsigned type) {
    return type == oid::kBytea || type == oid::kText || type == oid::kVarchar || type == oid::kBpchar;
}

// value as type, appended as a field of a binary COPY row; false for a type
// that cannot take it.
bool AppendField(std::string& out, const BoundValue& value, unsigned type) {
    if (value.Kind == BoundKind::Null) {
        AppendBigEndian<std::int32_t>(out, -1);
        return true;
    }
    if (type == oid::kInt8) {
        const std::int64_t whole = value.Kind == BoundKind::Int64    ? value.Integer
                                   : value.Kind == BoundKind::Double ? SaturatingInt64(value.Real)
                                                                     : ParseInt64(value.Text);
        AppendBigEndian<std::int32_t>(out, 8);
        AppendBigEndian<std::int64_t>(out, whole);
        return true;
    }
    if (type == oid::kFloat8) {
        const double real = value.Kind == BoundKind::Int64    ? static_cast<double>(value.Integer)
                            : value.Kind == BoundKind::Double ? value.Real
                                                              : ParseDouble(value.Text);
        AppendBigEndian<std::int32_t>(out, 8);
        AppendBigEndian<std::int64_t>(out, std::bit_cast<std::int64_t>(real));
        return true;
    }
    if (!IsTextual(type)) return false;
    const std::string number = value.Kind == BoundKind::Int64    ? std::to_string(value.Integer)
                               : value.Kind == BoundKind::Double ? FloatText(value.Real)
                                                                 : std::string();
    const std::string_view bytes = value.Kind == BoundKind::Text ? value.Text : std::string_view(number);
    AppendBigEndian<std::int32_t>(out, static_cast<std::int32_t>(bytes.size()));
    out += bytes;
    return true;
}

// Runs statements in turn; the first failure, naming its statement.
StoreError RunEach(pg_conn* connection, const std::vector<std::string>& statements) {
    for (const std::string& sql : statements) {
        Result result(PQexec(connection, sql.c_str()));
        if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) return ServerError(connection, result.get(), sql);
    }
    return {};
}

}  // namespace

ServerBulkRows::ServerBulkRows(ServerConnection& connection, std::string table, std::vector<Field> fields,
                               int labelColumn, bool staged)
    : BoundValues(static_cast<int>(fields.size()), table),
      connection_(connection),
      table_(std::move(table)),
      fields_(std::move(fields)),
      labelColumn_(labelColumn) {
    std::string names;
    for (std::size_t i = 0; i < fields_.size(); ++i) names += (i > 0 ? ", " : "") + fields_[i].Name;
    std::string target = table_;
    if (staged) {
        target = "corvina_staged_" + AsciiLower(table_);
        // Made by a batch when missing: the rollback of the transaction that
        // made it takes it away again, and every commit leaves it empty.
        stage_ = {"CREATE TEMPORARY TABLE IF NOT EXISTS " + target + " (LIKE " + table_ + ") ON COMMIT DELETE ROWS"};
        unstage_ = {"INSERT INTO " + table_ + " (" + names + ") SELECT " + names + " FROM " + target,
                    "TRUNCATE " + target};
    }
    copy_ = "COPY " + target + " (" + names + ") FROM STDIN (FORMAT binary)";
    connection_.Register(this);
}

ServerBulkRows::~ServerBulkRows() { connection_.Unregister(this); }

int ServerBulkRows::ParameterIndex(std::string_view name) const {
    if (name.starts_with(':')) name.remove_prefix(1);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::string& field = fields_[i].Name;
        if (std::equal(field.begin(), field.end(), name.begin(), name.end(), [](unsigned char a, unsigned char b) {
                return std::tolower(a) == std::tolower(b);
            })) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

std::string ServerBulkRows::CurrentLabel() const {
    if (labelColumn_ < 0 || labelColumn_ >= static_cast<int>(values_.size())) return {};
    const BoundValue& value = values_[static_cast<std::size_t>(labelColumn_)];
    switch (value.Kind) {
        case BoundKind::Text: return std::string(value.Text);
        case BoundKind::Int64: return std::to_string(value.Integer);
        case BoundKind::Double: return FloatText(value.Real);
        case BoundKind::Null: return {};
    }
    return {};
}

StoreError ServerBulkRows::Add() {
    const std::size_t before = batch_.size();
    AppendBigEndian<std::int16_t>(batch_, static_cast<std::int16_t>(fields_.size()));
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (AppendField(batch_, values_[i], fields_[i].Type)) continue;
        batch_.resize(before);
        return MakeError(StoreCode::Other,
                         "The field " + fields_[i].Name + " of " + table_ + " has the type " + fields_[i].TypeName +
                             ", which cannot take a row of ours",
                         CurrentLabel());
    }
    ++rows_;
    return batch_.size() >= kBatchBytes ? Send() : StoreError{};
}

StoreError ServerBulkRows::Flush() { return Send(); }

void ServerBulkRows::Discard() {
    batch_.clear();
    rows_ = 0;
}

std::string ServerBulkRows::LabelOfRow(int row) const {
    // Each row: its field count, then each field's length (-1 for a null)
    // and bytes.
    std::size_t at = 0;
    for (int current = 1; current <= row && at + 2 <= batch_.size(); ++current) {
        const int count = ReadBigEndian<std::int16_t>(batch_.data() + at);
        at += 2;
        for (int field = 0; field < count && at + 4 <= batch_.size(); ++field) {
            const std::int32_t length = ReadBigEndian<std::int32_t>(batch_.data() + at);
            at += 4;
            const std::size_t size = length > 0 ? static_cast<std::size_t>(length) : 0;
            if (current == row && field == labelColumn_) {
                if (length < 0 || at + size > batch_.size()) return {};
                const std::string_view bytes(batch_.data() + at, size);
                const unsigned type = fields_[static_cast<std::size_t>(field)].Type;
                if (type == oid::kInt8) return std::to_string(ReadBigEndian<std::int64_t>(bytes.data()));
                if (type == oid::kFloat8) return FloatText(std::bit_cast<double>(ReadBigEndian<std::uint64_t>(bytes.data())));
                return std::string(bytes);
            }
            at += size;
        }
    }
    return {};
}

StoreError ServerBulkRows::Insert() {
    StoreError error = RunEach(connection_.Handle(), unstage_);
    if (!error.Ok()) connection_.AfterFailure();
    return error;
}

StoreError ServerBulkRows::Send() {
    if (rows_ == 0) return {};
    pg_conn* connection = connection_.Handle();
    if (StoreError error = RunEach(connection, stage_); !error.Ok()) {
        Discard();
        connection_.AfterFailure();
        return error;
    }
    Result start(PQexec(connection, copy_.c_str()));
    if (PQresultStatus(start.get()) != PGRES_COPY_IN) {
        StoreError error = ServerError(connection, start.get(), copy_, "(a batch of " + Rows(rows_) + ")");
        Discard();
        connection_.AfterFailure();
        return error;
    }
    // The binary format's signature, flags and header extension; the rows;
    // then a field count of -1 that ends the data.
    static constexpr char kHeader[] = "PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0";
    static constexpr char kTrailer[] = "\377\377";
    const bool sent = PQputCopyData(connection, kHeader, sizeof kHeader - 1) == 1 &&
                      PQputCopyData(connection, batch_.data(), static_cast<int>(batch_.size())) == 1 &&
                      PQputCopyData(connection, kTrailer, sizeof kTrailer - 1) == 1;
    PQputCopyEnd(connection, sent ? nullptr : "the rows could not be sent");
    StoreError error;
    while (Result result{PQgetResult(connection)}) {
        if (!error.Ok() || PQresultStatus(result.get()) == PGRES_COMMAND_OK) continue;
        const int row = FailedRow(result.get());
        if (row >= 1 && row <= rows_ && labelColumn_ >= 0) {
            error = ServerError(connection, result.get(), LabelOfRow(row),
                                "(row " + std::to_string(row) + " of a batch of " + Rows(rows_) + ")");
        } else {
            error = ServerError(connection, result.get(), copy_, "(a batch of " + Rows(rows_) + ")");
        }
    }
    Discard();
    if (!error.Ok()) {
        connection_.AfterFailure();
        return error;
    }
    return Insert();
}

}  // namespace corvina::server
