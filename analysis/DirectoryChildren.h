#pragma once
// The children of one directory in a snapshot, as the directory tree shows
// them: the "(files)" entry first, then the subdirectories, each by name as
// the snapshot's path style compares names. A view asks for them when a node
// is expanded, so that a tree of any size opens at once.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/PathStyle.h"
#include "base/SizeFormat.h"
#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

struct DirectoryChild {
    std::string Dirname;       // the full path: the node's key
    std::string Shortname;     // the last element: what the node shows
    bool HasChildren = false;  // whether the child has children of its own
    bool Files = false;        // the "(files)" entry rather than a subdirectory
    double Bytes = 0;          // its size in the snapshot, in the basis asked for
    double CompareBytes = 0;   // the same in the compare snapshot; 0 when it has no such row
    std::int64_t FileCount = 0;  // its Files: the files it counts, whichever the basis
};

// children holds what was read up to a failure. With a compare snapshot (not
// null) each child carries its bytes there as well, read by the same query.
StoreError ListDirectoryChildren(DatabaseState& database, const DateTime& snapshot, std::string_view parent,
                                 PathStyle style, std::vector<DirectoryChild>& children,
                                 const DateTime& compare = DateTime{}, SizeBasis basis = SizeBasis::Apparent);

// How many Dir rows below the root keyed rootKey name a parent that has no
// Dir row: a damaged file, whose rows no tree reaches. One lookup per row
// through the (Snapshot, Dirname) index.
StoreError CountOrphanDirectories(DatabaseState& database, const DateTime& snapshot, std::string_view rootKey,
                                  PathStyle style, std::int64_t& count);

}  // namespace corvina
