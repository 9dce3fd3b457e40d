#include "report/StoreErrorReport.h"

namespace corvina {

void ReportStoreError(Prompter& prompter, std::string_view databasePath, const StoreError& error) {
    if (error.Code == StoreCode::Missing) {
        ShowMessage(prompter, error.Reason);
        return;
    }
    ShowMessage(prompter, StoreErrorText(databasePath, error), error.IsDamaged() ? Icon::Exclamation : Icon::None);
}

}  // namespace corvina
