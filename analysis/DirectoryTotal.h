#pragma once
// The byte total a directory's Dir row records in one snapshot: what a click on
// a tree node makes DirTotal and CompareDirTotal.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h).
// A window shows a failure as DirectoryTotalFailureText and goes on with a
// total of 0; the command-line tool says it and ends.

#include <optional>
#include <string>
#include <string_view>

#include "analysis/AnalysisState.h"
#include "base/DateTime.h"
#include "base/PathStyle.h"
#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

// The size of the Dir row of that Entrytype named dirname in the snapshot, as
// basis counts it (TotsizeF or its Dirdisk row's bytes): a directory's, or
// that of a tree's "(files)" entry; total is nullopt when the snapshot has no
// such row. On disk, a row whose snapshot recorded no figure for it counts 0
// (a share of it is shown as no figure: the analyses read the same nulls).
StoreError FindDirectoryTotal(DatabaseState& database, std::string_view dirname, const DateTime& snapshot,
                              PathStyle style, std::optional<double>& total,
                              Entrytype entrytype = Entrytype::Directory, SizeBasis basis = SizeBasis::Apparent);

// "Error: <code> <reason>\nWhile processing directory <dirname>".
std::string DirectoryTotalFailureText(const StoreError& error, std::string_view dirname);

}  // namespace corvina
