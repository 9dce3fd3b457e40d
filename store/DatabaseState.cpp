#include "store/DatabaseState.h"

#include <utility>

#include "store/HistoryWriter.h"

namespace corvina {

DatabaseState::DatabaseState() = default;

DatabaseState::~DatabaseState() { CloseSnapshotDatabase(*this); }

void CloseSnapshotDatabase(DatabaseState& state) {
    state.DatabaseOpen = false;
    state.ControlTable.Finalize();
    state.DirTable.Finalize();
    state.FilesTable.Finalize();
    state.Run.reset();
    state.History = false;
    state.Engine.reset();
}

void SwapDatabaseStates(DatabaseState& a, DatabaseState& b) noexcept {
    using std::swap;
    swap(a.DatabasePath, b.DatabasePath);
    swap(a.DatabaseOpen, b.DatabaseOpen);
    swap(a.ReadOnly, b.ReadOnly);
    swap(a.ReadOnlyReason, b.ReadOnlyReason);
    swap(a.OlderLayout, b.OlderLayout);
    swap(a.WriteAheadLog, b.WriteAheadLog);
    swap(a.BusyTimeoutMs, b.BusyTimeoutMs);
    swap(a.MapLongReads, b.MapLongReads);
    swap(a.Engine, b.Engine);
    swap(a.ServerNotices, b.ServerNotices);
    swap(a.ControlTable, b.ControlTable);
    swap(a.DirTable, b.DirTable);
    swap(a.FilesTable, b.FilesTable);
    swap(a.History, b.History);
    swap(a.Run, b.Run);
}

std::string CannotWriteText(const DatabaseState& state) {
    return "The snapshot database " + state.DatabasePath + " cannot be written: " +
           (state.ReadOnlyReason.empty() ? std::string("it is open for reading only") : state.ReadOnlyReason);
}

StoreError TableExists(DatabaseState& state, std::string_view name, bool& exists) {
    exists = false;
    if (!state.IsUsable()) return NotOpenError(std::string(name));
    return state.Engine->TableExists(name, exists);
}

StoreError CreateTableWhenMissing(DatabaseState& state, std::string_view name,
                                  std::initializer_list<std::string_view> statements) {
    // Looked for first: a role that may write rows but not make tables (on
    // a server) writes into the table that is there.
    bool exists = false;
    StoreError error = TableExists(state, name, exists);
    for (std::string_view sql : statements) {
        if (error.Ok() && !exists) error = state.Engine->Execute(sql);
    }
    return error;
}

}  // namespace corvina
