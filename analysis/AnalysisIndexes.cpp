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

}  // namespace corvina
