#pragma once
// The database switch of the windows' open and recent items, and how a
// window names the database in use. The chosen database is opened into a
// state of its own and takes the place of the one in use only once that open
// has succeeded: a mistyped server address, a declined question or a file
// that is no snapshot database is said by the open and leaves the user with
// the database they had, its status and the recent list as they were.

#include <string>

#include <QString>

#include "ui/ProgramContext.h"

namespace corvina {

struct DatabaseState;

enum class SwitchOutcome {
    Switched,  // the chosen database is in use and heads the recent list
    Kept,      // its open failed and said why; the database in use stays
    Ended,     // its open ended the program
};

// Opens path and, when that succeeds, puts it in place of context.Database
// and at the top of the recent list. The caller refreshes its menu and
// lists afterwards.
SwitchOutcome SwitchDatabase(const ProgramContext& context, const std::string& path);

// "Snapshot database is: " and the database's path, or, when none is
// usable, "No snapshot database is open".
QString DatabaseStatusText(const DatabaseState& database);

}  // namespace corvina
