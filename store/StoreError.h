#pragma once
// The store's error (store/engine/StoreCode.h) and how every layer words it.
// Engine exceptions and numbers never leave an engine folder.
//
// Error policy of store/ and analysis/: a function that can fail returns a
// StoreError (Ok() on success) and hands its results back through reference
// parameters, which after a failure hold what was read up to it. Nothing is
// passed over: every failure reaches the caller with its code and reason, and
// the caller reports it or passes it on. Nothing in store/, capture/ or
// analysis/ shows a message or ends the program: the texts below only word a
// failure, and the window program and the tool show it
// (report/StoreErrorReport.h).

#include <string>
#include <string_view>

#include "store/engine/StoreCode.h"

namespace corvina {

// The error of a query on a database that is not open (or not usable).
StoreError NotOpenError(std::string datum);

// "Snapshot database <path> is damaged: <reason>": how every layer says it.
std::string DamagedDatabaseText(std::string_view path, std::string_view reason);
// "Snapshot database <path> is busy: ...": a lock held longer than we wait.
std::string BusyDatabaseText(std::string_view path);

// How a failure without a message of its own is told: the damaged-file text
// for a damaged file, else "Error: <code> <reason>".
std::string StoreErrorText(std::string_view databasePath, const StoreError& error);

}  // namespace corvina
