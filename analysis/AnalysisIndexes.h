#pragma once
// What the analyses want of the connection they run on, set by RunAnalysis.
// No index beyond the Dir lookup indexes and File1 is needed: the file
// analyses read File1 ranges or the table, and pair files up in memory. A
// failure is ignored: the analyses still give the same rows, only slower.

#include <SQLiteCpp/Database.h>

namespace corvina {

// Memory-mapped reads for this connection (up to 1 GiB of the file): the long
// scans of the file analyses then cost about a third less.
void PrepareForAnalysis(SQLite::Database& db);

}  // namespace corvina
