#include "analysis/DiskFigures.h"

#include "store/Statement.h"

namespace corvina {

StoreError DiskTablesExist(DatabaseState& database, bool& exist) {
    exist = false;
    bool files = false;
    StoreError error = TableExists(database, "Dirdisk", exist);
    if (error.Ok() && exist) error = TableExists(database, "Filedisk", files);
    exist = exist && files;
    return error;
}

StoreError HasDiskFigures(DatabaseState& database, const DateTime& key, bool& has) {
    has = false;
    bool table = false;
    if (StoreError error = TableExists(database, "Diskusage", table); !error.Ok() || !table) return error;
    Statement query;
    StoreError error = query.Prepare(database, "SELECT 1 FROM Diskusage WHERE Snapshot = ?");
    if (error.Ok()) error = query.BindText(1, FormatKey(key));
    if (error.Ok()) error = query.Step(has);
    return error;
}

}  // namespace corvina
