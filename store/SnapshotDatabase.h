#pragma once
// Opening, creating, validating and upgrading the snapshot database, and the
// row appenders that stay ready while it is open. The other layers query it
// through store/Statement.h; the engine (store/engine/Engine.h) stays behind
// store/, and nothing here asks which engine it is.
//
// Error policy: as every function of store/ (StoreError.h). The open returns
// what it found, and what it did on the way (an older table upgraded), as
// data: the window and the tool decide what to say, whether to ask before a
// missing file is made, and whether the program ends.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/DatabaseState.h"
#include "store/StoreError.h"
#include "store/engine/Engine.h"

namespace corvina {

enum class OpenOutcome {
    Opened,         // an existing valid database (possibly upgraded)
    Created,        // the file was created (or found empty) and its tables were made
    NeedsCreating,  // OpenMode::CreateWhenMissing and no file: nothing made, DatabasePath kept
    Declined,       // the user declined to create it: DatabasePath ""
    Invalid,        // not a snapshot database (or no regular file at all): DatabasePath ""
    Failed,         // unrecoverable at Step: DatabasePath ""; the caller ends the program
    Ended,          // the caller said so and ended the program
    Missing,        // OpenMode::ExistingOnly and no file: DatabasePath ""
    Damaged,        // the engine found the file damaged: DatabasePath ""
    Busy,           // another program kept it locked past the wait: DatabasePath ""
    Unreachable,    // a server that did not answer or refused us: DatabasePath ""
};

enum class OpenMode {
    // The window, and the commands that write: a missing file is NeedsCreating
    // (the caller asks, then opens again with Create); an empty one is set up
    // without asking.
    CreateWhenMissing,
    // Makes a missing file without asking.
    Create,
    // Commands that only read or delete: a missing file is Missing, and an
    // empty one reads as a database without snapshots. Nothing is created.
    ExistingOnly,
};

// The step of the open that failed, for the caller's words.
enum class OpenStep { Open, CreateFile, CreateControl, CreateFiles, CreateDir, Control, Files, Dir };

// What the open did on the way, said before its outcome.
enum class OpenNote {
    CreateFileFailed,       // the file could not be made (before OpenStep::CreateFile)
    ControlNotMigrated,     // an older Control table in a file that cannot be written
    ControlUpgraded,
    DirNotMigrated,
    DirUpgradeFailed,
    DirUpgraded,
};

struct OpenResult {
    OpenOutcome Outcome = OpenOutcome::Opened;
    StoreError Error;                 // why, for every outcome but Opened and Created
    OpenStep Step = OpenStep::Open;   // where, for Failed and Invalid
    bool NoRegularFile = false;       // Invalid: the location is no regular file at all
    std::vector<OpenNote> Notes;
};

// Opens state.DatabasePath. A failure leaves DatabasePath "" (except
// NeedsCreating), and a file this open made is removed again, unless another
// process held it locked (it is setting the file up then).
OpenResult OpenDatabase(DatabaseState& state, OpenMode mode);

// Why the open database cannot take a new snapshot (read-only, or a table of
// an older or odd layout that lacks a field a new row needs); Ok when it can.
// Asked before a run starts, so that nobody waits for a walk in vain.
StoreError CheckSnapshotWritable(const DatabaseState& state);

// The engine's own consistency check of the whole database: quick (the
// structure of every page) or full (also every index against its table). Ok,
// or an error with IsDamaged() whose Reason gives the first problems found.
StoreError CheckDatabaseIntegrity(DatabaseState& state, bool full);

// Long reads of this process map the file where the engine can, when the
// state's MapLongReads says so.
StoreError MapForLongReads(DatabaseState& state);

// Process-wide settings of the database engine that make the row writes of a
// run cheaper. Takes effect only when called before the first database is
// opened; later calls change nothing.
void ConfigureDatabaseEngineForRuns();

}  // namespace corvina
