#pragma once
// What a run left out of its walk (base/Exclusion.h). A snapshot keeps them
// in a table of its own, Exclusion, one row per choice in the order given, so
// that its totals can be read for what they are (and two snapshots that left out different things
// told apart). Files written before it, and programs that do not know it,
// read and write as they did: a run creates the table when it first writes a
// row, inside its own transaction, never an open. A snapshot that left
// nothing out has no rows, as every older snapshot.
//
// Error policy: as every function of store/ (StoreError.h): failures are
// returned, nothing is shown.

#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/Exclusion.h"
#include "store/StoreError.h"

namespace corvina {

struct DatabaseState;

// Creates Exclusion (when there is anything to write and the table is
// missing) and appends the rows, positions from 0; call inside the run's
// transaction.
StoreError WriteExclusionRows(DatabaseState& state, const DateTime& key, const std::vector<Exclusion>& exclusions);

// The snapshot's rows in the order given; empty without rows or without the
// table. A kind this version does not know reads as a pattern.
StoreError ReadExclusions(DatabaseState& state, const DateTime& key, std::vector<Exclusion>& exclusions);

}  // namespace corvina
