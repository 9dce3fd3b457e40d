#pragma once
// What a snapshot recorded besides Control, Dir and files, as the analyses
// read it: whether it has on-disk figures (its Diskusage row; the Dirdisk and
// Filedisk rows come with it); what its run left out is read by
// store/Exclusion.h. A run writes these tables; a database made before them
// lacks them, which reads as a snapshot without rows there.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h).

#include <string>
#include <vector>

#include "base/DateTime.h"
#include "store/Exclusion.h"
#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

// Whether the database has Dirdisk and Filedisk, which the queries on disk join.
StoreError DiskTablesExist(DatabaseState& database, bool& exist);

// Whether the snapshot has on-disk figures.
StoreError HasDiskFigures(DatabaseState& database, const DateTime& key, bool& has);

}  // namespace corvina
