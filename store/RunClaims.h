#pragma once
// What runs writing at once into one database must not share. A server lets
// the runs of many hosts write beside one another (store/engine/Engine.h,
// RunsOverlap): each claims its key and ids before it uses them, and two
// runs of one chain (a base path on a host) take turns, since the second
// compares with what the first stored. Where one writer is alone, every
// claim succeeds and the stored rows decide as before.
//
// Error policy: as every function of store/ (StoreError.h).

#include <cstdint>
#include <string_view>

#include "base/DateTime.h"
#include "store/DatabaseState.h"

namespace corvina {

// The spaces claims are taken in.
namespace claim {
inline constexpr int kKey = 1, kSnap = 2, kChain = 3, kChainTurn = 4;
}

// A 64-bit hash of text that stays the same across builds and machines: it
// numbers what several runs must number alike (store/HistoryWriter.cpp).
std::uint64_t StableHash(std::string_view text, std::uint64_t seed = 14695981039346656037ull);

// Claims key for this run when no stored snapshot has it and no other run
// holds it; free is false otherwise.
StoreError ClaimKey(DatabaseState& state, const DateTime& key, bool& free);

// Waits for the turn of the chain of basePath on host; held to the end of
// the run's transaction.
StoreError AwaitChainTurn(DatabaseState& state, std::string_view basePath, std::string_view host, LockWait& wait);

// The smallest id above those of table (its Id column) that neither a
// stored row nor another run's claim holds, claimed for this run.
StoreError ClaimNextId(DatabaseState& state, std::string_view table, int space, std::int64_t& id);

}  // namespace corvina
