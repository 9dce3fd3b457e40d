#pragma once
// What the server said, as the store's error. Every failure of this folder
// goes through here, so that the codes mean the same wherever they come from:
//
//   55P03, 40P01, 40001 (a lock, a deadlock, a serialisation)  Busy
//   23xxx (a key, a check, not null)                           Constraint
//   42P01, 42703 (no such table or field)                      NotSnapshotDatabase
//   42501 (no privilege), 25006 (a read-only transaction)      ReadOnly
//   08xxx, or a connection that failed or broke                Unreachable
//   53xxx, 58xxx (resources, the server's files)               Io
//   XX001, XX002 (a damaged page or index)                     Damaged
//   anything else                                              Other
//
// The reason is the server's message as plain lines, followed by
// " (SQLSTATE xxxxx)"; the datum is the statement as its caller wrote it.
// EngineCode stays 0: SQLSTATE is not a number.

#include <string>
#include <string_view>

#include "store/engine/StoreCode.h"

struct pg_conn;
struct pg_result;

namespace corvina::server {

StoreCode CodeOfSqlState(std::string_view sqlstate);

// The error of result, or of the connection when result is null; note, when
// given, goes after the message and before the SQLSTATE.
StoreError ServerError(pg_conn* connection, const pg_result* result, std::string datum, std::string_view note = {});

// The client library indents its second lines with a tab; a message box lays
// tabs out by its own tab stops, so a tab at a line's start goes and any
// other one becomes a space. Trailing blanks go too.
std::string AsPlainLines(std::string_view text);

}  // namespace corvina::server
