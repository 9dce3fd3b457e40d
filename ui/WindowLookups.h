#pragma once
// Lookups a window makes in passing on the program's database, where a
// failure is shown through the program's prompter and the window goes on as
// each function says, instead of stopping what the user asked for.

#include <string_view>

#include "store/DateTime.h"
#include "store/PathStyle.h"
#include "ui/ProgramContext.h"

namespace corvina {

// Whether the snapshot is (still) in the database. A failure counts as "no":
// the window then offers a fresh choice.
bool SnapshotStillStored(ProgramContext& context, const DateTime& key);

// The byte total of the directory in the snapshot, 0 when the snapshot holds no
// such directory. A failure shows "Error: <code> <reason>\nWhile processing
// directory <dirname>" and gives 0, so that the steps after it go on.
double DirectoryTotalOrZero(ProgramContext& context, std::string_view dirname, const DateTime& snapshot,
                            PathStyle style);

}  // namespace corvina
