#pragma once
// The snapshot database on a PostgreSQL server: the connection behind
// DatabaseState::Server and the statements that run on it. Only store/
// includes this header (tests look at a server's tables through it too).
//
// The other layers write their queries once, in the SQL the two engines
// share, with "?", "?N" and ":name" parameters; TranslateForServer turns a
// statement into the server's form ($N parameters, no hints only the
// embedded engine knows). Names are stored as bytea, so that any byte string
// a file system holds comes back byte for byte and sorts as bytes do; keys
// and dates are text in the "C" collation.
//
// The row inserts of a run do not go one by one: a statement prepared for
// repeated use whose text is an INSERT appends its rows to a buffer of the
// connection, which goes to the server in binary COPY batches. Every other
// statement, and every commit, sends the buffers first, so that nothing reads
// a state without the rows written before it.
//
// What the server says besides its answers (NOTICE, WARNING, the notice that
// it ends the session) goes to the handler given to Connect, never to
// libpq's default processor, which would print the server's bytes to stderr
// as they are.
//
// Error policy: as every function of store/ (StoreError.h). A server error
// comes back with SQLITE_ERROR as its code (SQLITE_BUSY for a lock wait given
// up, SQLITE_CANTOPEN for a connection that failed), the server's message, as
// plain lines without the client library's tabs, and SQLSTATE as its reason,
// and the statement as its datum.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/SnapshotDatabase.h"
#include "store/Statement.h"
#include "store/StoreError.h"

struct pg_conn;
struct pg_result;

namespace corvina {

struct ServerStatementText {
    std::string Sql;                            // with $N parameters
    std::vector<std::string> Names;             // Names[i] is the name of $(i+1), "" for a positional one
    int ParameterCount = 0;
    bool Skip = false;                          // a hint of the embedded engine: runs as nothing
};
ServerStatementText TranslateForServer(std::string_view sql);

// OpenSnapshotDatabase for a server location (store/ServerDatabase.cpp).
OpenOutcome OpenServerDatabase(DatabaseState& state, Prompter& prompter, OpenMode mode);

class ServerConnection {
public:
    ServerConnection() = default;
    ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    using NoticeHandler = std::function<void(std::string_view)>;
    // Connects; from then on the server's notices go to notices (dropped when
    // it is empty), at most kMaxNotices of them, then one line saying that
    // the rest are not shown.
    StoreError Connect(const std::string& location, NoticeHandler notices = {});
    pg_conn* Handle() const { return connection_; }

    // Runs sql (one or more statements without parameters); sends the row
    // buffers first.
    StoreError Execute(std::string_view sql);
    // Sends the buffered rows and commits; an error when the server rolled
    // back instead (a statement of the transaction had failed).
    StoreError Commit();
    // Sends every buffered row; the first failure is returned and the rest dropped.
    StoreError Flush();
    // Drops the buffered rows (a rollback).
    void Discard();

    // A row for table, in its columns' order, encoded for binary COPY.
    std::string& Buffer(const std::string& table, const std::string& columns);
    // Whether the buffers hold enough to send now.
    bool BufferFull() const { return buffered_ >= kBatchBytes; }
    void Added(std::size_t bytes) { buffered_ += bytes; }

    // The type of each column of a table, lower-cased names: "bytea",
    // "bigint", "double precision", "text", ...
    StoreError ColumnTypes(const std::string& table, std::map<std::string, std::string>& types);

    static constexpr int kMaxNotices = 20;

private:
    static constexpr std::size_t kBatchBytes = 4u << 20;
    static void OnNotice(void* self, const char* message);
    struct Batch {
        std::string Columns;
        std::string Rows;
    };
    StoreError Send(const std::string& table, Batch& batch);

    pg_conn* connection_ = nullptr;
    NoticeHandler notices_;
    int noticeCount_ = 0;
    std::map<std::string, Batch> batches_;
    std::size_t buffered_ = 0;
};

// The server's error of a result (or of the connection when result is null).
StoreError ServerError(pg_conn* connection, pg_result* result, std::string datum);

// One statement on the server: a query run when first stepped, or a row
// insert into the connection's COPY buffers. Statement forwards to it.
class ServerStatement {
public:
    ServerStatement(ServerConnection& connection, std::string_view sql, bool repeated);
    ~ServerStatement();
    StoreError Open();  // the insert's column types; Ok for a query

    int ParameterIndex(std::string_view name) const;
    StoreError Bind(int position, std::string_view value, int kind);
    StoreError Step(bool& row);
    StoreError Run();
    void Reset();

    int ColumnCount() const;
    std::string_view ColumnName(int column) const;
    ColumnType Type(int column) const;
    std::int64_t Int64(int column) const;
    double Double(int column) const;
    std::string_view Text(int column) const;

    static constexpr int kNull = 0, kText = 1, kInt64 = 2, kDouble = 3;

private:
    StoreError Execute();
    StoreError AppendRow();

    ServerConnection& connection_;
    ServerStatementText text_;
    std::string original_;
    std::vector<std::string> values_;
    std::vector<int> kinds_;
    // The insert: its table and the types of its columns in field order.
    std::string table_;
    std::string columnList_;
    std::vector<std::string> columnTypes_;
    pg_result* result_ = nullptr;
    int row_ = -1;
    mutable std::vector<std::string> decoded_;  // bytea columns of the current row
};

}  // namespace corvina
