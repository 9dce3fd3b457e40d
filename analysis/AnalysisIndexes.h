#pragma once
// What the analyses want of the connection they run on, set by RunAnalysis.
// No index beyond the Dir lookup indexes and File1 is needed: the file
// analyses read File1 ranges or the table, and compare snapshots in one
// ordered pass over File1 (FileListMerge.h).
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h).
// RunAnalysis ends on a failure here, as a file that cannot be read gives no
// rows either.

#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

// Memory-mapped reads for this connection where the engine and the state
// allow them: the long scans of the file analyses then cost about a third
// less.
StoreError PrepareForAnalysis(DatabaseState& database);

}  // namespace corvina
