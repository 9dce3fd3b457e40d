#pragma once
// The open of the snapshot database as the window and the tool hold it with
// the user: the question before a missing file is made, the notes of an
// upgrade, and the message of every failure. An unrecoverable failure ends
// the program through the ProgramEnder, after a message ending in
// ". Program aborted"; a damaged file, another program's lock and a server
// out of reach are said, and the program goes on without a database.

#include <string>
#include <string_view>

#include "base/Prompter.h"
#include "store/SnapshotDatabase.h"

namespace corvina {

// Opens state.DatabasePath and says what there is to say. Returns the
// outcome: Declined when the user did not want a missing file made, Ended
// once EndProgram was called, else the store's.
OpenOutcome OpenSnapshotDatabase(DatabaseState& state, Prompter& prompter, ProgramEnder& ender,
                                 OpenMode mode = OpenMode::CreateWhenMissing);

// phrase + path + "\n" + "Code=.. Reason=.." + ". Program aborted".
std::string ProgramAbortedText(std::string_view phrase, std::string_view path, const StoreError& error);

}  // namespace corvina
