#pragma once
// A write transaction that waits its turn. One process at a time may write a
// snapshot database; a snapshot run or a delete takes the write lock when it
// starts (BEGIN IMMEDIATE), so that it never finds out at its end that another
// process got there first. While another process holds the lock, the caller's
// LockWait hears about it about ten times a second and may give up.
//
// Error policy: as every function of store/ (StoreError.h). Begin and Commit
// return the engine's error (busy when the wait was given up); the destructor
// rolls back whatever was not committed.

#include <chrono>

#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

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

// How long a delete waits for a snapshot being written before it gives up.
inline constexpr std::chrono::seconds kDeleteWait{60};

class WriteTransaction {
public:
    explicit WriteTransaction(DatabaseState& state) : state_(state) {}
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    // Takes the write lock, waiting while wait says so.
    StoreError Begin(LockWait& wait);
    // Commits; when readers of a rollback-journal file hold it, waits as Begin does.
    StoreError Commit(LockWait& wait);
    void Rollback();
    bool Active() const { return active_; }
    // The commit leaves the write-ahead log as it is, however large, instead
    // of folding it into the file before it returns; CheckpointDatabase does
    // that later.
    void DeferCheckpoint();

private:
    void End();

    DatabaseState& state_;
    bool active_ = false;
    bool deferred_ = false;
};

// Folds the write-ahead log back into the database file without waiting for
// anybody (readers and a writer may go on meanwhile). The writer calls it
// after a large commit, when nobody waits for the result any more.
StoreError CheckpointDatabase(DatabaseState& state);

}  // namespace corvina
