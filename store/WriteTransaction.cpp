#include "store/WriteTransaction.h"

namespace corvina {

WriteTransaction::~WriteTransaction() { Rollback(); }

StoreError WriteTransaction::Begin(LockWait& wait) {
    if (!state_.IsUsable()) return NotOpenError("");
    StoreError error = state_.Engine->BeginWrite(wait);
    active_ = error.Ok();
    return error;
}

StoreError WriteTransaction::BeginRun(LockWait& wait) {
    if (!state_.IsUsable()) return NotOpenError("");
    StoreError error = state_.Engine->BeginRunWrite(wait);
    active_ = error.Ok();
    return error;
}

StoreError WriteTransaction::Commit(LockWait& wait) {
    if (!active_) return StoreError{StoreCode::Other, "No transaction is open", ""};
    // A failure (of the rows still held, say) leaves the transaction to the
    // rollback.
    StoreError error = state_.Engine->Commit(wait);
    if (error.Ok()) active_ = false;
    return error;
}

void WriteTransaction::DeferCheckpoint() {
    if (state_.IsUsable()) state_.Engine->DeferCheckpoint(true);
}

void WriteTransaction::Rollback() {
    if (!active_) return;
    active_ = false;
    if (state_.Engine) state_.Engine->Rollback();
}

StoreError CheckpointDatabase(DatabaseState& state) {
    if (!state.IsUsable() || !state.WriteAheadLog) return {};
    return state.Engine->Checkpoint();
}

}  // namespace corvina
