#include "store/StoreError.h"

#include <sqlite3.h>

namespace corvina {

std::string StoreError::Details() const { return "Code=" + std::to_string(Code) + " Reason=" + Reason; }

bool StoreError::IsDamaged() const { return (Code & 0xff) == SQLITE_CORRUPT; }

bool StoreError::IsBusy() const { return (Code & 0xff) == SQLITE_BUSY || (Code & 0xff) == SQLITE_LOCKED; }

StoreError NotOpenError(std::string datum) {
    return StoreError{SQLITE_MISUSE, "No snapshot database is open", std::move(datum)};
}

std::string DamagedDatabaseText(std::string_view path, std::string_view reason) {
    return "Snapshot database " + std::string(path) + " is damaged: " + std::string(reason);
}

std::string BusyDatabaseText(std::string_view path) {
    return "Snapshot database " + std::string(path) +
           " is busy: another program has held it locked for too long. Try again later";
}

std::string StoreErrorText(std::string_view databasePath, const StoreError& error) {
    if (error.IsDamaged()) return DamagedDatabaseText(databasePath, error.Reason);
    return "Error: " + std::to_string(error.Code) + " " + error.Reason;
}

}  // namespace corvina
