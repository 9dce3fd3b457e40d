#include "store/StoreError.h"

namespace corvina {

StoreError NotOpenError(std::string datum) {
    return StoreError{StoreCode::Other, "No snapshot database is open", std::move(datum)};
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
    return "Error: " + std::string(StoreCodeName(error.Code)) + " " + error.Reason;
}

}  // namespace corvina
