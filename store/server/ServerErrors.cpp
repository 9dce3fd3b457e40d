#include "store/server/ServerErrors.h"

#include <libpq-fe.h>

#include <cctype>

namespace corvina::server {

StoreCode CodeOfSqlState(std::string_view sqlstate) {
    if (sqlstate == "55P03" || sqlstate == "40P01" || sqlstate == "40001") return StoreCode::Busy;
    if (sqlstate.starts_with("23")) return StoreCode::Constraint;
    if (sqlstate == "42P01" || sqlstate == "42703") return StoreCode::NotSnapshotDatabase;
    if (sqlstate == "42501" || sqlstate == "25006") return StoreCode::ReadOnly;
    if (sqlstate.starts_with("08")) return StoreCode::Unreachable;
    if (sqlstate.starts_with("53") || sqlstate.starts_with("58")) return StoreCode::Io;
    if (sqlstate == "XX001" || sqlstate == "XX002") return StoreCode::Damaged;
    return StoreCode::Other;
}

std::string AsPlainLines(std::string_view text) {
    std::string lines;
    lines.reserve(text.size());
    bool lineStart = true;
    for (const char c : text) {
        if (c == '\t') {
            if (!lineStart) lines += ' ';
            continue;
        }
        lines += c;
        lineStart = c == '\n';
    }
    while (!lines.empty() && std::isspace(static_cast<unsigned char>(lines.back()))) lines.pop_back();
    return lines;
}

StoreError ServerError(pg_conn* connection, const pg_result* result, std::string datum, std::string_view note) {
    std::string message = AsPlainLines(result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(connection));
    // A result lost with the connection has no message of its own.
    if (message.empty()) message = AsPlainLines(PQerrorMessage(connection));
    if (message.empty()) message = "The server did not answer";
    if (!note.empty()) message += " " + std::string(note);
    const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    StoreCode code = StoreCode::Other;
    if (state != nullptr) {
        code = CodeOfSqlState(state);
        message += " (SQLSTATE " + std::string(state) + ")";
    } else if (PQstatus(connection) != CONNECTION_OK) {
        code = StoreCode::Unreachable;
    }
    return MakeError(code, std::move(message), std::move(datum));
}

}  // namespace corvina::server
