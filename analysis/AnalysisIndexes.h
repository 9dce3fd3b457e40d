#pragma once
// Indexes the analyses need on a million-file snapshot, added by the open step
// when missing (like the Dir lookup indexes). A failure (a read-only file, a
// full disk) is ignored: the analyses still give the same rows, only slower.

#include <SQLiteCpp/Database.h>

namespace corvina {

// FileName on files (Snapshot, Filename): the duplicate-name search reads the
// rows of one name instead of the whole snapshot.
void AddAnalysisIndexes(SQLite::Database& db);

}  // namespace corvina
