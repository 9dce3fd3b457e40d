#include "ui/WindowLookups.h"

#include <optional>

#include "analysis/DirectoryTotal.h"

namespace corvina {

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
