#pragma once
// The byte total a directory's Dir row records in one snapshot: what a click on
// a tree node makes DirTotal and CompareDirTotal.

#include <optional>
#include <string_view>

#include "store/DateTime.h"
#include "store/PathStyle.h"
#include "store/SnapshotDatabase.h"

namespace corvina {

// TotsizeF of the Dir row named dirname in the snapshot, nullopt when the
// snapshot has no such row or the query fails.
std::optional<double> FindDirectoryTotal(DatabaseState& database, std::string_view dirname, const DateTime& snapshot,
                                         PathStyle style);

// As FindDirectoryTotal, 0 when there is no row.
double GetDirectoryTotal(DatabaseState& database, std::string_view dirname, const DateTime& snapshot,
                         PathStyle style);

}  // namespace corvina
