#include "analysis/AnalysisIndexes.h"

#include <exception>

namespace corvina {

void PrepareForAnalysis(SQLite::Database& db) {
    try {
        db.exec("PRAGMA mmap_size = 1073741824");
    } catch (const std::exception&) {
        // Ignored by design: see the header.
    }
}

}  // namespace corvina
