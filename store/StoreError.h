#pragma once
// The store's own error: what the database engine said, and about what. Wrapper
// exceptions never leave store/: each entry point turns them into one of these.

#include <string>
#include <string_view>

namespace corvina {

// Engine-independent numbers that steer the open sequence.
inline constexpr int kErrFileNotFound = 3024;
inline constexpr int kErrTableNotFound = 3078;

struct StoreError {
    int Code = 0;             // SQLite (extended) result code, or one of the numbers above
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

// "Snapshot database <path> is damaged: <reason>": how every layer says it.
std::string DamagedDatabaseText(std::string_view path, std::string_view reason);
// "Snapshot database <path> is busy: ...": a lock held longer than we wait.
std::string BusyDatabaseText(std::string_view path);

}  // namespace corvina
