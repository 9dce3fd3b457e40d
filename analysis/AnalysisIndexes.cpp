#include "analysis/AnalysisIndexes.h"

#include <exception>

namespace corvina {

void AddAnalysisIndexes(SQLite::Database& db) {
    try {
        db.exec("CREATE INDEX IF NOT EXISTS FileName ON files (Snapshot, Filename)");
    } catch (const std::exception&) {
        // Ignored by design: see the header.
    }
}

void PrepareForAnalysis(SQLite::Database& db) {
    AddAnalysisIndexes(db);
    try {
        db.exec("PRAGMA mmap_size = 1073741824");
    } catch (const std::exception&) {
        // Reads then go through the page cache as before.
    }
}

}  // namespace corvina
