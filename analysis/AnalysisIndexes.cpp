#include "analysis/AnalysisIndexes.h"

#include "store/Statement.h"

namespace corvina {

StoreError PrepareForAnalysis(DatabaseState& database) { return Execute(database, "PRAGMA mmap_size = 1073741824"); }

}  // namespace corvina
