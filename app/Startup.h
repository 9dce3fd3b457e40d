#pragma once
// The choice of the database when none is named: the first recent entry, else
// the default file, which is then stored as the first entry at once. The
// window program and corvina-cli both choose through here, so that they keep
// one history.

#include <string>

class QSettings;

namespace corvina {

// "corvina.mdb" in programDir when that folder is writable, else in the
// per-user data folder (created when missing).
std::string DefaultDatabasePath(const std::string& programDir);

// Steps 1 and 2 of start-up: "File1", or the default written as "File1".
std::string ResolveStartupDatabasePath(QSettings& settings, const std::string& programDir);

// The folder of the running executable. Both programs are built into one
// folder, so that both find the same default database beside them.
std::string ProgramFolder();

// The folder the default database goes in when it is writable: the
// program's own folder when the program runs from the folder it was built
// into; "" (the per-user data folder) for an installed program, whoever runs
// it: an installed program never writes beside itself.
std::string DefaultDatabaseFolder();

}  // namespace corvina
