#pragma once
// One connection to a snapshot database on a PostgreSQL server, and the
// transaction state its queries share.
//
// Transactions. A query's rows are read through a cursor, and a cursor lives
// in a transaction. When none is open, the first cursor begins one for the
// reads, and the last cursor to close commits it, so that the connection
// never idles inside a transaction (it would hold its snapshot and its table
// locks against vacuum and other clients' changes of the tables). Statements
// run while it is open are part of it. A write transaction begun meanwhile
// takes that transaction over rather than nesting in it: its commit or
// rollback then ends the cursors still open too, and a query that needs more
// rows afterwards says so; one that had its last batch in hand reads on.
//
// A failed statement aborts the server's transaction. A read transaction of
// ours is rolled back at once, so that the next statement works (its cursors
// end with it); a write transaction stays as the server left it until its
// owner rolls it back, as SQLite's callers do after a failed write.
//
// The rows of the bulk row writers are held here until their batch is full;
// every other statement, and every commit, sends them first, so that nothing
// reads a state without the rows written before it.
//
// Reading ahead. A cursor's next batch is asked for as soon as its batch
// arrives, so that the server reads it while the client works through the
// rows in hand. One such FETCH is outstanding on a connection at a time;
// every other use of the connection first takes its answer and hands it to
// the query that asked (Settle), so statements never meet a half-read
// answer. Scans (StatementUse::Scan) begun while this connection already has
// a cursor open and no write transaction read on a second connection to the
// same database, made when first needed: the two sides of a merge are then
// read by two server processes at once.
//
// What the server says besides its answers (NOTICE, WARNING, the notice that
// it ends the session) goes to OpenRequest::Notices, never to libpq's default
// processor, which would print the server's bytes to stderr as they are.
//
// Error policy: as every engine (store/engine/Engine.h); the codes are those
// of ServerErrors.h.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/engine/Engine.h"
#include "store/server/ServerDialect.h"

struct pg_conn;
struct pg_result;

namespace corvina::server {

struct ParameterArrays;
class ServerBulkRows;

struct ResultFree {
    void operator()(pg_result* result) const;
};
using Result = std::unique_ptr<pg_result, ResultFree>;

// One statement sent to the server.
struct Command {
    enum class Kind {
        Text,      // Sql, with Parameters when given
        Prepare,   // Sql prepared as Name, with the parameter types of Parameters
        Prepared,  // the statement prepared as Name, with Parameters
        Describe,  // the parameter types the server chose for the statement prepared as Name
    };
    Kind What = Kind::Text;
    std::string Sql;
    std::string Name;
    const ParameterArrays* Parameters = nullptr;
    bool BinaryRows = true;  // rows in binary form, else as text

    static Command Plain(std::string sql) { return Command{Kind::Text, std::move(sql), {}, nullptr, true}; }
};

class ServerQuery;

class ServerConnection final : public engine::Connection {
public:
    using Notices = std::function<void(std::string_view)>;
    explicit ServerConnection(Notices notices);
    ~ServerConnection() override;
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // Connects to location (a URI or keyword string), honouring its
    // connect_timeout; the notice processor is in place before the server
    // says anything.
    StoreError Connect(const std::string& location);

    const engine::Dialect& SqlDialect() const override { return dialect_; }
    StoreError Prepare(std::string_view sql, StatementUse use, std::unique_ptr<engine::Query>& query) override;
    StoreError Execute(std::string_view sql) override;
    StoreError OpenBulkRows(std::string_view table, std::span<const std::string_view> columns, int labelColumn,
                            std::unique_ptr<engine::BulkRows>& rows) override;
    StoreError BeginWrite(LockWait& wait) override;
    StoreError BeginRunWrite(LockWait& wait) override;
    StoreError Commit(LockWait& wait) override;
    void Rollback() override;
    void DeferCheckpoint(bool) override {}
    StoreError Checkpoint() override { return {}; }
    StoreError TableExists(std::string_view name, bool& exists) override;
    StoreError IndexExists(std::string_view name, bool& exists) override;
    StoreError Fields(std::string_view table, std::vector<std::string>& fields) override;
    StoreError PrimaryKey(std::string_view table, std::vector<std::string>& fields) override;
    StoreError IsEmpty(bool& empty) override;
    StoreError WhyNotWritable(std::string& reason) override;
    // Nothing to give back: the server keeps its own free space.
    StoreError Compact() override { return {}; }
    // The server answers for its own pages.
    StoreError CheckIntegrity(bool) override { return {}; }
    StoreError MapForLongReads() override { return {}; }
    void RemoveCreatedFile() override {}
    bool RunsOverlap() const override { return true; }
    StoreError Claim(int space, std::int64_t value, bool& claimed) override;
    StoreError AwaitTurn(int space, std::int64_t value, LockWait& wait) override;
    StoreError OpenSideConnection(std::unique_ptr<engine::Connection>& side) override;

    static constexpr int kMaxNotices = 20;

    // For the queries and bulk rows of this connection: any answer read
    // ahead is taken first.
    pg_conn* Handle() {
        Settle();
        return connection_;
    }
    // Runs commands in one round trip (a pipeline when there are several);
    // results[i] is the result of commands[i]. The first failure is returned,
    // with datum, and ends a read transaction.
    StoreError Run(std::span<const Command> commands, std::vector<Result>& results, const std::string& datum);
    // Sends the rows every bulk row writer holds.
    StoreError SendBulkRows();
    void Register(ServerBulkRows* rows);
    void Unregister(ServerBulkRows* rows);
    // A name for a prepared statement or a cursor, unique on this connection.
    std::string NewName(std::string_view prefix);

    bool InTransaction() const { return mode_ != Mode::None; }
    // The next commands sent begin a read transaction.
    void BeginReads() { mode_ = Mode::Reads; }
    void CursorOpened() { ++cursors_; }
    // Counts up each time a transaction ends, and with it every cursor.
    std::uint64_t Generation() const { return generation_; }
    // Closes a cursor opened in generation; the last one commits the read
    // transaction.
    StoreError CloseCursor(const std::string& name, std::uint64_t generation);
    // After a failed statement: rolls back a read transaction of ours.
    void AfterFailure();

    // The connection a query of use reads on: this one, or for a scan beside
    // an open cursor the second connection.
    ServerConnection& ForQuery(StatementUse use);
    // Sends fetch for owner without waiting for its answer; false when
    // another is outstanding or the send failed (the owner then fetches as
    // usual).
    bool FetchAhead(ServerQuery* owner, const std::string& fetch);
    // The answer owner's FetchAhead brought, or null when none is
    // outstanding for it.
    Result TakeAhead(const ServerQuery* owner);
    // Takes the outstanding answer, if any, and hands it to its owner.
    void Settle();

private:
    enum class Mode { None, Reads, Write };
    static void OnNotice(void* self, const char* message);
    Result RunOne(const Command& command);
    StoreError RunPipeline(std::span<const Command> commands, std::vector<Result>& results);
    // A statement without parameters whose text rows come back in rows.
    // The first column of sql's rows, its one parameter the table's name.
    StoreError NamesOf(const std::string& sql, std::string_view table, std::vector<std::string>& names);
    StoreError TextRows(const std::string& sql, std::span<const std::string> parameters,
                        std::vector<std::vector<std::string>>& rows);
    StoreError RelationKind(std::string_view name, std::string& kind);
    // Polls the statement try (one boolean) until it gives true or wait gives up.
    StoreError TakeLock(const std::string& try_, LockWait& wait, bool& taken);
    StoreError BeginWriteTaking(const char* lock, LockWait& wait);
    void EndTransaction();
    // Ends the claims of a write transaction that has just ended.
    void ReleaseClaims();

    pg_conn* connection_ = nullptr;
    std::string location_;
    Notices notices_;
    ServerQuery* ahead_ = nullptr;  // whose FETCH is outstanding
    std::unique_ptr<ServerConnection> second_;
    bool secondFailed_ = false;
    int noticeCount_ = 0;
    ServerDialect dialect_;
    Mode mode_ = Mode::None;
    int cursors_ = 0;
    std::uint64_t generation_ = 0;
    std::uint64_t names_ = 0;
    std::vector<ServerBulkRows*> bulkRows_;  // not owned: each unregisters as it goes
    bool claims_ = false;  // session-level claims are held until the write ends
};

}  // namespace corvina::server
