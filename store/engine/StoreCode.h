#pragma once
// The store's own error: what went wrong, in the few kinds its callers act
// on, with the engine's own number and words kept for the message. Engine
// exceptions and engine codes never leave an engine folder: each engine maps
// what it met onto a StoreCode.
//
// Error policy of store/ and analysis/: a function that can fail returns a
// StoreError (Ok() on success) and hands its results back through reference
// parameters, which after a failure hold what was read up to it. Nothing is
// passed over: every failure reaches the caller with its code and reason, and
// the caller reports it or passes it on. Nothing below ui/ and cli/ shows a
// message or ends the program.

#include <string>
#include <string_view>

namespace corvina {

enum class StoreCode {
    Ok,
    Busy,                 // another connection held a lock longer than the engine waits
    LockedPastWait,       // the writers' lock stayed taken longer than our caller waited
    Damaged,              // a page is not what it should be: nothing read can be trusted
    NotSnapshotDatabase,  // not a database, or one without our tables or fields
    Missing,              // no such file, table row or snapshot
    ReadOnly,             // the database cannot be written (mount, permission, role)
    Unreachable,          // a server that did not answer or refused us; a file the engine cannot open
    Constraint,           // a row that breaks a key or a check
    OtherHost,            // a snapshot of another host, which a server's role may not change
    Io,                   // the disk or the connection failed under a read or a write
    Other,
};

// "Busy", "Damaged", ...: the code as messages name it.
std::string_view StoreCodeName(StoreCode code);

struct StoreError {
    StoreCode Code = StoreCode::Ok;
    std::string Reason;     // the engine's description
    std::string Datum;      // the path, statement or row it concerns
    int EngineCode = 0;     // the engine's own number (an SQLite result code, 0 on a server)

    bool Ok() const { return Code == StoreCode::Ok; }
    // "Code=" + StoreCodeName(Code) + " Reason=" + Reason, as every database
    // message shows it.
    std::string Details() const;
    bool IsDamaged() const { return Code == StoreCode::Damaged; }
    // Another connection held a lock for longer than we waited.
    bool IsBusy() const { return Code == StoreCode::Busy || Code == StoreCode::LockedPastWait; }
};

inline StoreError MakeError(StoreCode code, std::string reason, std::string datum = {}, int engineCode = 0) {
    return StoreError{code, std::move(reason), std::move(datum), engineCode};
}

}  // namespace corvina
