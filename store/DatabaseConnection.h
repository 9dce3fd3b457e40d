#pragma once
// The engine's connection behind DatabaseState::SnapshotDatabase. Only store/
// includes this header (tests and benchmarks do too, to look at a file
// directly); the other layers see an opaque type and reach the database
// through store/Statement.h, so that another engine could take this one's
// place behind store/ alone.
//
// Error policy: the wrapper's exceptions are caught inside store/ and returned
// as StoreError (store/StoreError.h).

#include <SQLiteCpp/Database.h>

namespace corvina {

class DatabaseConnection : public SQLite::Database {
public:
    using SQLite::Database::Database;
};

}  // namespace corvina
