#include "ui/WindowLookups.h"

#include <optional>

#include "analysis/DirectoryTotal.h"
#include "store/Catalogue.h"

namespace corvina {

bool SnapshotStillStored(ProgramContext& context, const DateTime& key) {
    bool exists = false;
    if (StoreError error = SnapshotExists(context.Database, key, exists); !error.Ok()) {
        ReportStoreError(context.Messages, context.Database.DatabasePath, error);
        return false;
    }
    return exists;
}

double DirectoryTotalOrZero(ProgramContext& context, std::string_view dirname, const DateTime& snapshot,
                            PathStyle style) {
    std::optional<double> total;
    if (StoreError error = FindDirectoryTotal(context.Database, dirname, snapshot, style, total); !error.Ok()) {
        ShowMessage(context.Messages, DirectoryTotalFailureText(error, dirname));
        return 0;
    }
    return total.value_or(0);
}

}  // namespace corvina
