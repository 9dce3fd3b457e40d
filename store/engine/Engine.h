#pragma once
// What store/ asks of a database engine. store/ includes this header and no
// engine's own: each engine lives in a folder of its own (store/sqlite/,
// store/server/) and implements these classes there, and one factory
// (store/engine/OpenEngine.cpp) chooses the engine by the location text.
//
// An engine maps its failures onto StoreCode (StoreCode.h), keeps its own
// number and words for the message, and throws nothing.
//
// The SQL that store/ and analysis/ write is the part both engines share, with
// parameters written "?", "?N" or ":name"; where the engines differ, the SQL
// asks the Dialect instead of being rewritten. An engine rewrites nothing but
// the parameter markers.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/engine/StoreCode.h"

namespace corvina {

enum class StatementUse {
    Once,      // run once or a few times, then dropped
    Repeated,  // kept while the database is open and run many times: prepared once
    // A read of many rows stepped beside another such read (the two sides of
    // a merge). Outside a write transaction an engine may read it on a
    // connection of its own, so that the two are read at once; it then sees
    // what was committed when it began, and no temporary table.
    Scan,
};

enum class ColumnType { Integer, Real, Text, Blob, Null };

class LockWait {
public:
    virtual ~LockWait() = default;
    // Another process holds the write lock and we have waited this long so
    // far; false stops waiting. Called on the waiting thread.
    virtual bool KeepWaiting(std::chrono::milliseconds waited) = 0;
};

// Waits up to a limit, saying nothing.
class WaitUpTo : public LockWait {
public:
    explicit WaitUpTo(std::chrono::milliseconds limit) : limit_(limit) {}
    bool KeepWaiting(std::chrono::milliseconds waited) override { return waited < limit_; }

private:
    std::chrono::milliseconds limit_;
};

namespace engine {

// Values bound to the parameters of a statement, by position from 1. A text
// bound as a view (copy false) must stay as it is until the statement has
// been stepped or the row added.
class Binds {
public:
    virtual ~Binds() = default;
    // The position of a named parameter (":q"), 0 when the text has none.
    virtual int ParameterIndex(std::string_view name) const = 0;
    virtual StoreError BindText(int position, std::string_view text, bool copy) = 0;
    virtual StoreError BindInt64(int position, std::int64_t value) = 0;
    virtual StoreError BindDouble(int position, double value) = 0;
    virtual StoreError BindNull(int position) = 0;
};

// One prepared statement. Rows are read one at a time and never held whole:
// a scan of a million rows keeps a bounded part of them in memory. Texts read
// from a row are views valid until the next Step or Reset.
class Query : public Binds {
public:
    // The next row: row is true when there is one, false at the end.
    virtual StoreError Step(bool& row) = 0;
    // Runs a statement that returns no rows and resets it for the next binds.
    virtual StoreError Run() = 0;
    // Back to before the first row; the bound values stay.
    virtual void Reset() = 0;

    virtual int ColumnCount() const = 0;
    virtual std::string_view ColumnName(int column) const = 0;
    virtual ColumnType Type(int column) const = 0;
    virtual std::int64_t Int64(int column) const = 0;
    virtual double Double(int column) const = 0;
    // The column as text (a number converted, a null empty).
    virtual std::string_view Text(int column) const = 0;
};

// The rows of a run, appended to one table: an engine may send them in
// batches. A row that fails is reported by the Add or Flush that sent it,
// naming the row (by its label column) or the batch it was in.
class BulkRows : public Binds {
public:
    virtual StoreError Add() = 0;
    // Sends every row held; the first failure is returned and the rest dropped.
    virtual StoreError Flush() = 0;
    // Drops the rows held (a rollback).
    virtual void Discard() = 0;
};

// What a column holds, for the CREATE statements of our tables.
enum class ValueKind {
    Key,      // a snapshot key or a date: text that compares as bytes
    Name,     // a path or name: any bytes a file system holds, compared as bytes
    Integer,  // 64-bit
    Real,     // double
};

// What differs between the engines' SQL.
class Dialect {
public:
    virtual ~Dialect() = default;
    // expr as an operand that compares and orders without regard to the case
    // of ASCII letters, as the names of a Windows-style snapshot compare.
    // Both sides of a comparison take it: Ci(a) + " = " + Ci(b).
    virtual std::string CaseInsensitive(std::string_view expr) const = 0;
    virtual std::string_view TypeName(ValueKind kind) const = 0;
    // Appended to a table reference to read the table in one pass rather
    // than through an index; "" where the engine takes no such hint.
    virtual std::string_view NotIndexed() const = 0;
    // Appended to the CREATE TABLE of a table that is its own primary key.
    virtual std::string_view KeyedTableSuffix() const = 0;
    // Where the writers may lack the right to make tables (a server's roles),
    // the set-up of a new database makes every table, also those a run
    // otherwise adds when it first writes a row.
    virtual bool SetUpMakesEveryTable() const { return false; }
    // A value of expr for a group of rows grouped by CaseInsensitive(expr),
    // where the engine wants every selected value to be grouped or summed.
    virtual std::string GroupValue(std::string_view expr) const { return std::string(expr); }
    // Statements that refresh the engine's statistics of the tables named,
    // cheaply: the views of the history layout join four tables, and
    // without figures of their sizes an engine may read a whole chain's rows
    // to find one.
    virtual std::string RefreshStatistics(std::string_view tables) const = 0;
};

// One connection to a snapshot database.
class Connection {
public:
    virtual ~Connection() = default;

    virtual const Dialect& SqlDialect() const = 0;

    virtual StoreError Prepare(std::string_view sql, StatementUse use, std::unique_ptr<Query>& query) = 0;
    // One or more statements without parameters that return no rows.
    virtual StoreError Execute(std::string_view sql) = 0;
    // The rows of table, one value a column in this order.
    virtual StoreError OpenBulkRows(std::string_view table, std::span<const std::string_view> columns,
                                    int labelColumn, std::unique_ptr<BulkRows>& rows) = 0;

    // A write transaction that holds the database's writers' lock from its
    // start, waiting while wait says so (LockedPastWait when it gave up).
    virtual StoreError BeginWrite(LockWait& wait) = 0;
    // The write transaction of a snapshot run. Where runs overlap it waits
    // only for what must be alone (a delete, a set-up), never for another run.
    virtual StoreError BeginRunWrite(LockWait& wait) { return BeginWrite(wait); }
    // Sends the bulk rows held, then commits; waits for readers as Begin does.
    virtual StoreError Commit(LockWait& wait) = 0;
    // Drops the bulk rows held and rolls back; harmless without a transaction.
    virtual void Rollback() = 0;
    // While deferred, a commit leaves folding its log into the file for Checkpoint.
    virtual void DeferCheckpoint(bool deferred) = 0;
    virtual StoreError Checkpoint() = 0;

    // Tables (a view reads as one) and indexes by name, without regard to case.
    virtual StoreError TableExists(std::string_view name, bool& exists) = 0;
    virtual StoreError IndexExists(std::string_view name, bool& exists) = 0;
    // The fields of a table, lower-cased, in field order; empty when there is
    // no such table.
    virtual StoreError Fields(std::string_view table, std::vector<std::string>& fields) = 0;
    // The fields of its primary key, lower-cased, in key order.
    virtual StoreError PrimaryKey(std::string_view table, std::vector<std::string>& fields) = 0;
    // True while nothing of any program is stored in the database.
    virtual StoreError IsEmpty(bool& empty) = 0;

    // Why this connection cannot write the database ("" when it can), in
    // words that finish "cannot be written: ...".
    virtual StoreError WhyNotWritable(std::string& reason) = 0;
    // Gives the free space back; the engine's own consistency check.
    virtual StoreError Compact() = 0;
    virtual StoreError CheckIntegrity(bool full) = 0;
    // Long reads of this process map the file where the engine can.
    virtual StoreError MapForLongReads() = 0;

    // Whether the runs of several processes write at once. Each run then
    // claims what must be unique across runs (a key, an id) before it uses
    // it, and adds shared rows (paths) through a side connection, so that
    // no run waits for the rows of another's open transaction.
    virtual bool RunsOverlap() const { return false; }
    // Claims value in space for this session until its write transaction
    // ends; claimed is false while another session holds it. Without
    // overlapping runs there is nobody to claim against.
    virtual StoreError Claim(int space, std::int64_t value, bool& claimed) {
        (void)space, (void)value;
        claimed = true;
        return {};
    }
    // Waits, as BeginWrite does, until no other write transaction holds value
    // in space, and holds it to the end of this one.
    virtual StoreError AwaitTurn(int space, std::int64_t value, LockWait& wait) {
        (void)space, (void)value, (void)wait;
        return {};
    }
    // A second connection to the same database whose statements each commit
    // on their own: rows other runs must find at once, whatever this
    // connection's transaction then does.
    virtual StoreError OpenSideConnection(std::unique_ptr<Connection>& side) {
        side.reset();
        return StoreError{StoreCode::Other, "This database has no side connection", ""};
    }

    // The open that made this connection created the database file and it
    // failed afterwards: the file goes again (nothing on a server).
    virtual void RemoveCreatedFile() = 0;
};

// How the factory opens a location.
struct OpenRequest {
    std::string Location;   // a file path, or a server's connection text
    bool Create = false;    // make a missing file (readable by its owner only)
    // The caller means to write: a file's journal may be set up. An empty
    // file opened only to be read is left exactly as it is.
    bool ForWriting = false;
    int BusyTimeoutMs = 5000;
    // Receives what a server says besides its answers; may be empty.
    std::function<void(std::string_view)> Notices;
};

// What an engine found at the open.
struct OpenedEngine {
    std::unique_ptr<engine::Connection> Database;
    std::string Location;           // as messages name it (a server's without its password)
    bool Created = false;           // the open made the file
    bool WriteAheadLog = false;     // readers go on while a snapshot is written
    bool Empty = false;             // nothing of any program's is stored there yet
    // With NotSnapshotDatabase: the location is no regular file at all (a
    // device, a pipe, a directory, a file the kernel makes up as it is read).
    bool NoRegularFile = false;
};

// Opens the engine the location names. Missing for a file that is not there
// (unless Create), NotSnapshotDatabase for what is no database or no regular
// file, Unreachable for a server that did not answer.
StoreError OpenEngine(const OpenRequest& request, OpenedEngine& opened);

// A location that names a server rather than a file: a postgresql:// (or
// postgres://) URI, or a keyword string ("host=... dbname=...").
bool IsServerLocation(std::string_view location);
// The location as messages and the state keep it: a password in it is used
// to connect, then forgotten.
std::string WithoutPassword(std::string_view location);

// Process-wide engine settings, taken before the first open: cheaper row
// writes (no memory statistics), and a watch on the engine's log for pages
// it found damaged anywhere, also where a caller went on after the failure.
void ConfigureEngineForRuns();
void WatchEngineForDamage();
bool EngineMetDamage();

}  // namespace engine
}  // namespace corvina
