#include "store/server/ServerConnection.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/PathStyle.h"
#include "store/server/BoundValues.h"
#include "store/server/ServerBulkRows.h"
#include "store/server/ServerErrors.h"
#include "store/server/ServerQuery.h"

namespace corvina::server {
namespace {

// The connect_timeout the location sets, in seconds; 0 for none (wait as
// long as the network does).
int ConnectTimeout(pg_conn* connection) {
    int seconds = 0;
    PQconninfoOption* options = PQconninfo(connection);
    for (PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr; ++option) {
        if (std::strcmp(option->keyword, "connect_timeout") == 0 && option->val != nullptr) {
            seconds = std::atoi(option->val);
        }
    }
    PQconninfoFree(options);
    return seconds;
}

// Drives a connection begun with PQconnectStartParams to its end, as
// PQconnectdbParams would.
void FinishConnecting(pg_conn* connection) {
    const int timeout = ConnectTimeout(connection);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    while (status == PGRES_POLLING_READING || status == PGRES_POLLING_WRITING) {
        pollfd socket{PQsocket(connection), static_cast<short>(status == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        if (socket.fd < 0) return;
        int wait = -1;
        if (timeout > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return;
            wait = static_cast<int>(left.count());
        }
        const int ready = ::poll(&socket, 1, wait);
        if (ready < 0 && errno != EINTR) return;
        if (ready == 0) return;
        if (ready > 0) status = PQconnectPoll(connection);
    }
}

bool Succeeded(const pg_result* result) {
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// Writers take turns through a lock of the database that ends with their
// transaction (a killed client's ends with its connection). Readers never
// wait for it: they see the last committed state.
// Writers that must be alone (a delete, a set-up, a conversion) take the
// database's lock exclusively; runs share it, so that they wait for those
// but never for one another.
constexpr const char* kWriteLock = "SELECT pg_try_advisory_xact_lock(1129271926)";
constexpr const char* kRunLock = "SELECT pg_try_advisory_xact_lock_shared(1129271926)";
constexpr auto kLockPoll = std::chrono::milliseconds(100);

// Table kinds of the catalogue: tables, partitioned tables, views,
// materialised views, foreign tables; indexes and partitioned indexes.
constexpr std::string_view kTableKinds = "rpvmf", kIndexKinds = "iI";

}  // namespace

void ResultFree::operator()(pg_result* result) const { PQclear(result); }

ServerConnection::ServerConnection(Notices notices) : notices_(std::move(notices)) {}

ServerConnection::~ServerConnection() {
    second_.reset();
    PQfinish(connection_);
}

void ServerConnection::OnNotice(void* self, const char* message) {
    auto& connection = *static_cast<ServerConnection*>(self);
    if (!connection.notices_ || connection.noticeCount_ > kMaxNotices) return;
    // A trigger that warns once a row would bury everything else.
    if (++connection.noticeCount_ > kMaxNotices) {
        connection.notices_("further notices of the server are not shown");
        return;
    }
    std::string_view text(message);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    connection.notices_(text);
}

StoreError ServerConnection::Connect(const std::string& location) {
    const char* keywords[] = {"dbname", "fallback_application_name", nullptr};
    const char* values[] = {location.c_str(), "corvina", nullptr};
    // Started and finished in two steps, so that our notice processor is in
    // place before the server says anything: it may warn already while the
    // session starts (of its database's collation, say).
    location_ = location;
    connection_ = PQconnectStartParams(keywords, values, 1);
    if (connection_ != nullptr) {
        PQsetNoticeProcessor(connection_, &ServerConnection::OnNotice, this);
        FinishConnecting(connection_);
    }
    if (connection_ == nullptr || PQstatus(connection_) != CONNECTION_OK) {
        StoreError error = ServerError(connection_, nullptr, engine::WithoutPassword(location));
        error.Code = StoreCode::Unreachable;
        return error;
    }
    // Quiet: notices (such as "table exists, skipping") are nobody's business.
    return Execute("SET client_min_messages = warning");
}

std::string ServerConnection::NewName(std::string_view prefix) { return std::string(prefix) + std::to_string(++names_); }

ServerConnection& ServerConnection::ForQuery(StatementUse use) {
    if (use != StatementUse::Scan || mode_ == Mode::Write || (cursors_ == 0 && ahead_ == nullptr)) return *this;
    if (!second_ && !secondFailed_) {
        second_ = std::make_unique<ServerConnection>(notices_);
        // A server that refuses a second session (a connection limit) is
        // read on this one, as before.
        if (!second_->Connect(location_).Ok()) {
            second_.reset();
            secondFailed_ = true;
        }
    }
    if (!second_ || second_->cursors_ > 0) return *this;
    return *second_;
}

bool ServerConnection::FetchAhead(ServerQuery* owner, const std::string& fetch) {
    if (ahead_ != nullptr) return false;
    if (PQsendQueryParams(connection_, fetch.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1) != 1) return false;
    ahead_ = owner;
    return true;
}

Result ServerConnection::TakeAhead(const ServerQuery* owner) {
    if (ahead_ == nullptr || ahead_ != owner) return nullptr;
    ahead_ = nullptr;
    Result result(PQgetResult(connection_));
    while (pg_result* more = PQgetResult(connection_)) PQclear(more);
    if (!result || !Succeeded(result.get())) AfterFailure();
    return result;
}

void ServerConnection::Settle() {
    if (ahead_ == nullptr) return;
    ServerQuery* owner = ahead_;
    owner->KeepAhead(TakeAhead(owner));
}

void ServerConnection::EndTransaction() {
    mode_ = Mode::None;
    cursors_ = 0;
    ++generation_;
}

void ServerConnection::AfterFailure() {
    if (mode_ != Mode::Reads) return;
    if (PQtransactionStatus(connection_) == PQTRANS_INTRANS || PQtransactionStatus(connection_) == PQTRANS_INERROR) {
        PQclear(PQexec(connection_, "ROLLBACK"));
    }
    EndTransaction();
}

StoreError ServerConnection::CloseCursor(const std::string& name, std::uint64_t generation) {
    Settle();
    if (generation != generation_) return {};
    if (cursors_ > 0) --cursors_;
    std::string sql;
    if (mode_ == Mode::Reads && cursors_ == 0) {
        sql = "COMMIT";
        EndTransaction();
    } else if (PQtransactionStatus(connection_) == PQTRANS_INTRANS) {
        sql = "CLOSE " + name;
    } else {
        // An aborted write transaction: the cursor goes with its rollback.
        return {};
    }
    Result result(PQexec(connection_, sql.c_str()));
    if (Succeeded(result.get())) return {};
    StoreError error = ServerError(connection_, result.get(), sql);
    AfterFailure();
    return error;
}

Result ServerConnection::RunOne(const Command& command) {
    static const ParameterArrays kNone;
    const ParameterArrays& p = command.Parameters != nullptr ? *command.Parameters : kNone;
    const int count = static_cast<int>(p.Values.size());
    const int format = command.BinaryRows ? 1 : 0;
    switch (command.What) {
        case Command::Kind::Text:
            return Result(PQexecParams(connection_, command.Sql.c_str(), count, p.Types.data(), p.Values.data(),
                                       p.Lengths.data(), p.Formats.data(), format));
        case Command::Kind::Prepare:
            return Result(PQprepare(connection_, command.Name.c_str(), command.Sql.c_str(), count, p.Types.data()));
        case Command::Kind::Prepared:
            return Result(PQexecPrepared(connection_, command.Name.c_str(), count, p.Values.data(), p.Lengths.data(),
                                         p.Formats.data(), format));
        case Command::Kind::Describe: return Result(PQdescribePrepared(connection_, command.Name.c_str()));
    }
    return nullptr;
}

StoreError ServerConnection::RunPipeline(std::span<const Command> commands, std::vector<Result>& results) {
    static const ParameterArrays kNone;
    if (PQenterPipelineMode(connection_) != 1) return ServerError(connection_, nullptr, {});
    std::size_t sent = 0;
    for (const Command& command : commands) {
        const ParameterArrays& p = command.Parameters != nullptr ? *command.Parameters : kNone;
        const int count = static_cast<int>(p.Values.size());
        const int format = command.BinaryRows ? 1 : 0;
        int ok = 0;
        switch (command.What) {
            case Command::Kind::Text:
                ok = PQsendQueryParams(connection_, command.Sql.c_str(), count, p.Types.data(), p.Values.data(),
                                       p.Lengths.data(), p.Formats.data(), format);
                break;
            case Command::Kind::Prepare:
                ok = PQsendPrepare(connection_, command.Name.c_str(), command.Sql.c_str(), count, p.Types.data());
                break;
            case Command::Kind::Prepared:
                ok = PQsendQueryPrepared(connection_, command.Name.c_str(), count, p.Values.data(), p.Lengths.data(),
                                         p.Formats.data(), format);
                break;
            case Command::Kind::Describe: ok = PQsendDescribePrepared(connection_, command.Name.c_str()); break;
        }
        if (ok != 1) break;
        ++sent;
    }
    const bool synced = PQpipelineSync(connection_) == 1;
    // Each command's result, then a null that ends it; after a failure the
    // rest come back aborted; the sync comes last.
    for (std::size_t i = 0; i < sent; ++i) {
        Result result(PQgetResult(connection_));
        if (!result) break;
        while (pg_result* more = PQgetResult(connection_)) PQclear(more);
        results.push_back(std::move(result));
    }
    while (synced) {
        Result result(PQgetResult(connection_));
        if (!result || PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC) break;
    }
    PQexitPipelineMode(connection_);
    return {};
}

StoreError ServerConnection::Run(std::span<const Command> commands, std::vector<Result>& results,
                                 const std::string& datum) {
    Settle();
    results.clear();
    StoreError error;
    if (commands.size() == 1) {
        results.push_back(RunOne(commands.front()));
    } else {
        error = RunPipeline(commands, results);
    }
    if (error.Ok()) {
        for (const Result& result : results) {
            if (Succeeded(result.get())) continue;
            error = ServerError(connection_, result.get(), datum);
            break;
        }
        if (error.Ok() && results.size() < commands.size()) error = ServerError(connection_, nullptr, datum);
    } else {
        error.Datum = datum;
    }
    if (!error.Ok()) AfterFailure();
    return error;
}

StoreError ServerConnection::SendBulkRows() {
    Settle();
    StoreError first;
    for (ServerBulkRows* rows : bulkRows_) {
        if (first.Ok()) {
            first = rows->Flush();
        } else {
            rows->Discard();
        }
    }
    return first;
}

void ServerConnection::Register(ServerBulkRows* rows) { bulkRows_.push_back(rows); }

void ServerConnection::Unregister(ServerBulkRows* rows) { std::erase(bulkRows_, rows); }

StoreError ServerConnection::Prepare(std::string_view sql, StatementUse use, std::unique_ptr<engine::Query>& query) {
    query = std::make_unique<ServerQuery>(*this, sql, use);
    return {};
}

StoreError ServerConnection::Execute(std::string_view sql) {
    Settle();
    if (StoreError error = SendBulkRows(); !error.Ok()) return error;
    const std::string text(sql);
    // The simple protocol: several statements in one text.
    Result result(PQexec(connection_, text.c_str()));
    if (Succeeded(result.get())) return {};
    StoreError error = ServerError(connection_, result.get(), text);
    AfterFailure();
    return error;
}

StoreError ServerConnection::TextRows(const std::string& sql, std::span<const std::string> parameters,
                                      std::vector<std::vector<std::string>>& rows) {
    Settle();
    rows.clear();
    if (StoreError error = SendBulkRows(); !error.Ok()) return error;
    std::vector<const char*> values;
    for (const std::string& parameter : parameters) values.push_back(parameter.c_str());
    Result result(PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                               nullptr, nullptr, 0));
    if (!Succeeded(result.get())) {
        StoreError error = ServerError(connection_, result.get(), sql);
        AfterFailure();
        return error;
    }
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        std::vector<std::string>& fields = rows.emplace_back();
        for (int column = 0; column < PQnfields(result.get()); ++column) {
            fields.emplace_back(PQgetvalue(result.get(), row, column));
        }
    }
    return {};
}

StoreError ServerConnection::OpenBulkRows(std::string_view table, std::span<const std::string_view> columns,
                                          int labelColumn, std::unique_ptr<engine::BulkRows>& rows) {
    // The base type of a domain: its binary form is the base type's.
    const std::string sql =
        "SELECT lower(a.attname), CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE a.atttypid END, "
        "format_type(a.atttypid, a.atttypmod) "
        "FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid "
        "WHERE a.attrelid = to_regclass($1) AND a.attnum > 0 AND NOT a.attisdropped";
    std::vector<std::vector<std::string>> found;
    const std::string name(table);
    if (StoreError error = TextRows(sql, std::span(&name, 1), found); !error.Ok()) return error;
    if (found.empty()) return MakeError(StoreCode::NotSnapshotDatabase, "There is no table '" + name + "'.", name);
    std::vector<ServerBulkRows::Field> fields;
    for (std::string_view column : columns) {
        const std::string lower = AsciiLower(column);
        auto type = std::find_if(found.begin(), found.end(), [&](const auto& row) { return row[0] == lower; });
        if (type == found.end()) {
            return MakeError(StoreCode::NotSnapshotDatabase,
                             "The table '" + name + "' has no field '" + std::string(column) + "'.", name);
        }
        fields.push_back(ServerBulkRows::Field{std::string(column),
                                               static_cast<unsigned>(std::strtoul((*type)[1].c_str(), nullptr, 10)),
                                               (*type)[2]});
    }
    // COPY does not pass rows through row-level security, so the server
    // refuses it into a table whose policies bind this role
    // (store/HostRoles.h): the rows go through a table of the session's own.
    std::vector<std::vector<std::string>> policed;
    if (StoreError error = TextRows("SELECT row_security_active(to_regclass($1))", std::span(&name, 1), policed);
        !error.Ok()) {
        return error;
    }
    const bool staged = !policed.empty() && policed.front().front() == "t";
    rows = std::make_unique<ServerBulkRows>(*this, name, std::move(fields), labelColumn, staged);
    return {};
}

StoreError ServerConnection::TakeLock(const std::string& try_, LockWait& wait, bool& taken) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        Result result(PQexec(connection_, try_.c_str()));
        if (!Succeeded(result.get())) return ServerError(connection_, result.get(), try_);
        taken = PQntuples(result.get()) == 1 && PQgetvalue(result.get(), 0, 0)[0] == 't';
        if (taken) return {};
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (!wait.KeepWaiting(waited)) return {};
        std::this_thread::sleep_for(kLockPoll);
    }
}

StoreError ServerConnection::BeginWrite(LockWait& wait) { return BeginWriteTaking(kWriteLock, wait); }

StoreError ServerConnection::BeginRunWrite(LockWait& wait) { return BeginWriteTaking(kRunLock, wait); }

StoreError ServerConnection::BeginWriteTaking(const char* lock, LockWait& wait) {
    Settle();
    if (mode_ == Mode::Write) return MakeError(StoreCode::Other, "A write transaction is already open", "BEGIN");
    if (StoreError error = SendBulkRows(); !error.Ok()) return error;
    const bool tookOver = mode_ == Mode::Reads;
    if (!tookOver) {
        Result result(PQexec(connection_, "BEGIN"));
        if (!Succeeded(result.get())) return ServerError(connection_, result.get(), "BEGIN");
    }
    mode_ = Mode::Write;
    bool taken = false;
    StoreError error = TakeLock(lock, wait, taken);
    if (error.Ok() && taken) return {};
    if (error.Ok()) {
        error = MakeError(StoreCode::LockedPastWait, "another program is writing a snapshot", "lock");
    }
    // A refused try leaves the transaction as it was: the reads it took
    // over go on. A failed one has aborted it.
    if (tookOver && PQtransactionStatus(connection_) == PQTRANS_INTRANS) {
        mode_ = Mode::Reads;
    } else {
        PQclear(PQexec(connection_, "ROLLBACK"));
        EndTransaction();
    }
    return error;
}

// Claims and turns take the two-key form of the advisory locks, a space of
// their own beside the database's one-key lock. A value is folded into the
// second key: two values that fold alike only make a run pass over a free one.
static std::string AdvisoryKeys(int space, std::int64_t value) {
    const auto folded = static_cast<std::int32_t>(static_cast<std::uint32_t>(value ^ (value >> 32)));
    return std::to_string(space) + ", " + std::to_string(folded);
}

StoreError ServerConnection::Claim(int space, std::int64_t value, bool& claimed) {
    Settle();
    const std::string sql = "SELECT pg_try_advisory_lock(" + AdvisoryKeys(space, value) + ")";
    Result result(PQexec(connection_, sql.c_str()));
    if (!Succeeded(result.get())) return ServerError(connection_, result.get(), sql);
    claimed = PQntuples(result.get()) == 1 && PQgetvalue(result.get(), 0, 0)[0] == 't';
    claims_ = claims_ || claimed;
    return {};
}

StoreError ServerConnection::AwaitTurn(int space, std::int64_t value, LockWait& wait) {
    Settle();
    if (mode_ != Mode::Write) return MakeError(StoreCode::Other, "No write transaction is open", "lock");
    bool taken = false;
    StoreError error = TakeLock("SELECT pg_try_advisory_xact_lock(" + AdvisoryKeys(space, value) + ")", wait, taken);
    if (error.Ok() && !taken) {
        error = MakeError(StoreCode::LockedPastWait, "another program is writing a snapshot", "lock");
    }
    return error;
}

void ServerConnection::ReleaseClaims() {
    if (!claims_) return;
    claims_ = false;
    // A failure leaves them to the end of the session, which ends them too.
    PQclear(PQexec(connection_, "SELECT pg_advisory_unlock_all()"));
}

StoreError ServerConnection::OpenSideConnection(std::unique_ptr<engine::Connection>& side) {
    auto connection = std::make_unique<ServerConnection>(notices_);
    if (StoreError error = connection->Connect(location_); !error.Ok()) return error;
    side = std::move(connection);
    return {};
}

StoreError ServerConnection::Commit(LockWait&) {
    Settle();
    if (mode_ != Mode::Write) return MakeError(StoreCode::Other, "No write transaction is open", "COMMIT");
    // A failure here leaves the transaction to the rollback.
    if (StoreError error = SendBulkRows(); !error.Ok()) return error;
    Result result(PQexec(connection_, "COMMIT"));
    StoreError error;
    if (!Succeeded(result.get())) {
        error = ServerError(connection_, result.get(), "COMMIT");
    } else if (std::strcmp(PQcmdStatus(result.get()), "COMMIT") != 0) {
        // A statement of the transaction had failed: COMMIT rolls back.
        error = MakeError(StoreCode::Other, "The server rolled the transaction back", "COMMIT");
    }
    // Committed or rolled back, the transaction is over either way.
    if (PQtransactionStatus(connection_) == PQTRANS_IDLE) {
        EndTransaction();
        ReleaseClaims();
    }
    return error;
}

void ServerConnection::Rollback() {
    Settle();
    for (ServerBulkRows* rows : bulkRows_) rows->Discard();
    if (mode_ != Mode::Write) return;
    if (PQtransactionStatus(connection_) != PQTRANS_IDLE) PQclear(PQexec(connection_, "ROLLBACK"));
    EndTransaction();
    ReleaseClaims();
}

StoreError ServerConnection::RelationKind(std::string_view name, std::string& kind) {
    // to_regclass resolves the name as a query would: unquoted, so in any
    // case, along the search path (temporary tables first).
    std::vector<std::vector<std::string>> rows;
    const std::string text(name);
    StoreError error = TextRows("SELECT relkind FROM pg_class WHERE oid = to_regclass($1)", std::span(&text, 1), rows);
    kind = rows.empty() ? "" : rows.front().front();
    return error;
}

StoreError ServerConnection::TableExists(std::string_view name, bool& exists) {
    std::string kind;
    StoreError error = RelationKind(name, kind);
    exists = kind.size() == 1 && kTableKinds.find(kind[0]) != std::string_view::npos;
    return error;
}

StoreError ServerConnection::IndexExists(std::string_view name, bool& exists) {
    std::string kind;
    StoreError error = RelationKind(name, kind);
    exists = kind.size() == 1 && kIndexKinds.find(kind[0]) != std::string_view::npos;
    return error;
}

StoreError ServerConnection::NamesOf(const std::string& sql, std::string_view table, std::vector<std::string>& names) {
    names.clear();
    std::vector<std::vector<std::string>> rows;
    const std::string name(table);
    StoreError error = TextRows(sql, std::span(&name, 1), rows);
    for (auto& row : rows) names.push_back(std::move(row.front()));
    return error;
}

StoreError ServerConnection::Fields(std::string_view table, std::vector<std::string>& fields) {
    return NamesOf("SELECT lower(attname) FROM pg_attribute WHERE attrelid = to_regclass($1) AND attnum > 0 "
                   "AND NOT attisdropped ORDER BY attnum",
                   table, fields);
}

StoreError ServerConnection::PrimaryKey(std::string_view table, std::vector<std::string>& fields) {
    return NamesOf("SELECT lower(a.attname) FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid "
                   "AND a.attnum = ANY (i.indkey) WHERE i.indrelid = to_regclass($1) AND i.indisprimary "
                   "ORDER BY array_position(i.indkey::int2[], a.attnum)",
                   table, fields);
}

StoreError ServerConnection::IsEmpty(bool& empty) {
    // A server's database holds other programs' tables too: it is empty of
    // ours while none of the three tables a run writes is there, in a schema
    // of the search path. The catalogue is read as a table, whose rows each
    // statement sees as last committed, and not looked up by name: a name
    // lookup answers from the session's cache, which keeps "no such table"
    // until the transaction ends or takes a table's lock. A first run that
    // waited for the write lock, inside its transaction, while another set
    // the database up would find it empty still and make the tables again.
    std::vector<std::vector<std::string>> rows;
    StoreError error = TextRows(
        "SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relname IN ('control', 'files', 'dir') AND n.nspname = ANY (current_schemas(true))",
        {}, rows);
    empty = error.Ok() && !rows.empty() && rows.front().front() == "0";
    return error;
}

StoreError ServerConnection::WhyNotWritable(std::string& reason) {
    // A table that is not there yet is made by the open, not written. In the
    // history layout Control, Dir and files are views, and a run writes the
    // tables below them.
    std::vector<std::vector<std::string>> rows;
    StoreError error = TextRows(
        "SELECT coalesce(bool_and(has_table_privilege(to_regclass(t.name), 'INSERT')), true) "
        "FROM unnest(CASE WHEN to_regclass('snap') IS NULL THEN ARRAY['control', 'dir', 'files'] "
        "ELSE ARRAY['snap', 'dirspan', 'filespan'] END) AS t(name)",
        {}, rows);
    const bool writable = !error.Ok() || (!rows.empty() && rows.front().front() == "t");
    reason = writable ? "" : "this role may not add rows to its tables";
    return error;
}

}  // namespace corvina::server
