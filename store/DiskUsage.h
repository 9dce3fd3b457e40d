#pragma once
// What a snapshot takes on disk: allocated blocks (st_blocks x 512), a file
// with several names counted once, at the name first in the snapshot's row
// order. The figures live in three tables of their own (store/Schema.h:
// Diskusage, Dirdisk, Filedisk), so that files written before them, and
// programs that do not know them, read and write as they did: a run creates
// them when it first writes, inside its own transaction, never an open. A
// snapshot has on-disk figures exactly when it has its Diskusage row; one
// taken before has none, and nothing here makes one up for it.
//
// Error policy: as every function of store/ (StoreError.h): failures are
// returned, nothing is shown.

#include <cstdint>
#include <optional>

#include "base/DateTime.h"
#include "store/DatabaseState.h"
#include "store/RowAppender.h"

namespace corvina {

// A snapshot's Diskusage row.
struct DiskTotals {
    std::int64_t Totdiskbytes = 0;   // the base directory's whole subtree, as du -sB1 -x counts it
    std::int64_t Filediskbytes = 0;  // the recorded files (its files rows)
};

// Creates the three tables when missing; call inside the run's transaction.
StoreError CreateDiskTables(DatabaseState& state);

// Opens the run's Dirdisk and Filedisk rows, bound in field order:
// (Snapshot, Dirname, Entrytype, Diskbytes) and (Snapshot, Filedir, Filename, Diskbytes,
// Links). The tables must be there.
StoreError OpenDiskRows(DatabaseState& state, RowAppender& dirdisk, RowAppender& filedisk);

// Appends the snapshot's Diskusage row; call inside the run's transaction.
StoreError WriteDiskusageRow(DatabaseState& state, const DateTime& key, const DiskTotals& totals);

// nullopt for a snapshot without a row, and for a database without the table.
StoreError ReadDiskusageRow(DatabaseState& state, const DateTime& key, std::optional<DiskTotals>& totals);

}  // namespace corvina
