#pragma once
// Start-up's choice of the database: the first recent entry, else the default
// file, which is then stored as the first entry at once.

#include <string>

class QSettings;

namespace corvina {

// "corvina.mdb" in programDir when that folder is writable, else in the
// per-user data folder (created when missing).
std::string DefaultDatabasePath(const std::string& programDir);

// Steps 1 and 2 of start-up: "File1", or the default written as "File1".
std::string ResolveStartupDatabasePath(QSettings& settings, const std::string& programDir);

}  // namespace corvina
