#include "analysis/AnalysisIndexes.h"

#include "store/Statement.h"

namespace corvina {

StoreError PrepareForAnalysis(DatabaseState& database) { return MapForLongReads(database); }

}  // namespace corvina
