#include "store/WriteTransaction.h"

#include <sqlite3.h>

#include <thread>

#include "store/DatabaseConnection.h"
#include "store/ServerConnection.h"

namespace corvina {
namespace {

// Each attempt lets the engine's own busy handler wait this long before we
// look at the caller's wait again.
constexpr int kAttemptMs = 100;
// The engine's default: the log is folded in once it holds this many pages.
constexpr int kAutoCheckpointPages = 1000;

StoreError LastError(sqlite3* db, int rc, const char* datum) {
    return StoreError{rc, sqlite3_errmsg(db), datum};
}

// Runs sql until it gets past SQLITE_BUSY or wait gives up.
StoreError RunWaiting(DatabaseState& state, const char* sql, LockWait& wait) {
    sqlite3* db = state.SnapshotDatabase->getHandle();
    const auto start = std::chrono::steady_clock::now();
    sqlite3_busy_timeout(db, kAttemptMs);
    StoreError error;
    for (;;) {
        int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) break;
        error = LastError(db, sqlite3_extended_errcode(db), sql);
        if (!error.IsBusy()) break;
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (!wait.KeepWaiting(waited)) break;
        error = {};
    }
    sqlite3_busy_timeout(db, state.BusyTimeoutMs);
    return error;
}

// On a server, writers take turns through a lock of the database that ends
// with their transaction (a killed client's ends with its connection).
// Readers never wait for it: they see the last committed state.
constexpr std::string_view kServerWriteLock = "SELECT pg_try_advisory_xact_lock(1129271926)";

StoreError BeginOnServer(DatabaseState& state, LockWait& wait) {
    if (StoreError error = Execute(state, "BEGIN"); !error.Ok()) return error;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        Statement take;
        bool row = false;
        StoreError error = take.Prepare(state, kServerWriteLock);
        if (error.Ok()) error = take.Step(row);
        if (error.Ok() && row && take.Int64(0) == 1) return {};
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (error.Ok() && !wait.KeepWaiting(waited)) {
            error = StoreError{SQLITE_BUSY, "another program is writing a snapshot", "lock"};
        }
        if (!error.Ok()) {
            Execute(state, "ROLLBACK");
            return error;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kAttemptMs));
    }
}

}  // namespace

WriteTransaction::~WriteTransaction() { Rollback(); }

StoreError WriteTransaction::Begin(LockWait& wait) {
    if (state_.Server) {
        StoreError error = BeginOnServer(state_, wait);
        active_ = error.Ok();
        return error;
    }
    if (!state_.SnapshotDatabase) return NotOpenError("");
    StoreError error = RunWaiting(state_, "BEGIN IMMEDIATE", wait);
    active_ = error.Ok();
    return error;
}

StoreError WriteTransaction::Commit(LockWait& wait) {
    if (!active_) return StoreError{SQLITE_MISUSE, "No transaction is open", ""};
    if (state_.Server) {
        // The rows still buffered go first; a failure there leaves the
        // transaction to the rollback.
        StoreError error = state_.Server->Commit();
        if (error.Ok()) End();
        return error;
    }
    StoreError error = RunWaiting(state_, "COMMIT", wait);
    if (error.Ok()) End();
    return error;
}

void WriteTransaction::DeferCheckpoint() {
    if (!state_.SnapshotDatabase) return;
    deferred_ = true;
    sqlite3_wal_autocheckpoint(state_.SnapshotDatabase->getHandle(), 0);
}

void WriteTransaction::End() {
    active_ = false;
    if (deferred_ && state_.SnapshotDatabase) {
        sqlite3_wal_autocheckpoint(state_.SnapshotDatabase->getHandle(), kAutoCheckpointPages);
    }
    deferred_ = false;
}

void WriteTransaction::Rollback() {
    if (!active_) return;
    End();
    if (state_.Server) {
        state_.Server->Discard();
        Execute(state_, "ROLLBACK");
        return;
    }
    if (!state_.SnapshotDatabase) return;
    sqlite3* db = state_.SnapshotDatabase->getHandle();
    // Rolls back even when the engine has already ended the transaction itself
    // (it does after some errors); that second case fails harmlessly.
    if (sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

StoreError CheckpointDatabase(DatabaseState& state) {
    if (!state.SnapshotDatabase || !state.WriteAheadLog) return {};
    sqlite3* db = state.SnapshotDatabase->getHandle();
    int rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    if (rc == SQLITE_OK) return {};
    return LastError(db, sqlite3_extended_errcode(db), "checkpoint");
}

}  // namespace corvina
