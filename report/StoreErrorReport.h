#pragma once
// A failure of the store, shown. store/ words its errors (StoreErrorText) and
// returns them; the window program and the tool show them through this.
//
// Error policy: nothing here fails.

#include <string_view>

#include "base/Prompter.h"
#include "store/StoreError.h"

namespace corvina {

// Shows StoreErrorText, with the exclamation icon for a damaged file. A
// snapshot that is not there (StoreCode::Missing, from LoadSnapshotInfo) is told
// by the error's own reason, "Snapshot <date> not found", without an icon.
void ReportStoreError(Prompter& prompter, std::string_view databasePath, const StoreError& error);

}  // namespace corvina
