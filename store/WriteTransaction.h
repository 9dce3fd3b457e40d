#pragma once
// A write transaction that waits its turn. One writer at a time holds a
// snapshot database's writers' lock; a snapshot run or a delete takes it when
// it starts, so that it never finds out at its end that another process got
// there first. While another process holds the lock, the caller's LockWait
// (store/engine/Engine.h) hears about it about ten times a second and may
// give up.
//
// Error policy: as every function of store/ (StoreError.h). Begin and Commit
// return the engine's error (LockedPastWait when the wait was given up); the
// destructor rolls back whatever was not committed.

#include <chrono>

#include "store/DatabaseState.h"
#include "store/StoreError.h"

namespace corvina {

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
    // The same for a snapshot run, which on a server shares the lock with
    // other runs (store/engine/Engine.h, BeginRunWrite).
    StoreError BeginRun(LockWait& wait);
    // Sends the rows the engine holds and commits; when readers of a
    // rollback-journal file hold it, waits as Begin does.
    StoreError Commit(LockWait& wait);
    void Rollback();
    // The commit leaves the write-ahead log as it is, however large, instead
    // of folding it into the file before it returns; CheckpointDatabase does
    // that later.
    void DeferCheckpoint();

private:
    DatabaseState& state_;
    bool active_ = false;
};

// Folds the write-ahead log back into the database file without waiting for
// anybody (readers and a writer may go on meanwhile). The writer calls it
// after a large commit, when nobody waits for the result any more.
StoreError CheckpointDatabase(DatabaseState& state);

}  // namespace corvina
