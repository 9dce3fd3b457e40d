#pragma once
// The store's own error: what the database engine said, and about what. Wrapper
// exceptions never leave store/: each entry point turns them into one of these.
//
// Error policy of store/ and analysis/: a function that can fail returns a
// StoreError (Ok() on success) and hands its results back through reference
// parameters, which after a failure hold what was read up to it. Nothing is
// passed over: every failure reaches the caller with its code and reason, and
// the caller reports it or passes it on. A function that takes a Prompter also
// reports its own failures through it, as its header says, and returns them all
// the same. The texts below only word a failure; the window program and the
// tool show it (report/StoreErrorReport.h).

#include <string>
#include <string_view>

namespace corvina {

// Engine-independent numbers that steer the open sequence and the catalogue.
inline constexpr int kErrRowNotFound = 3021;
inline constexpr int kErrFileNotFound = 3024;
inline constexpr int kErrTableNotFound = 3078;

struct StoreError {
    int Code = 0;             // SQLite result code, or one of the numbers above
    std::string Reason;       // the engine's description
    std::string Datum;        // the path or statement it concerns

    bool Ok() const { return Code == 0; }
    // "Code=" + Code + " Reason=" + Reason, as every database message shows it.
    std::string Details() const;
    // The engine found a page that is not what it should be: the file is
    // damaged, and nothing read from it can be trusted.
    bool IsDamaged() const;
    // Another connection held a lock for longer than we waited.
    bool IsBusy() const;
};

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
