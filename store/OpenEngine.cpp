// The one place that knows both engines: it chooses one by the location text.

#include "store/engine/Engine.h"
#include "store/server/ServerEngine.h"
#include "store/sqlite/SqliteEngine.h"

namespace corvina::engine {

StoreError OpenEngine(const OpenRequest& request, OpenedEngine& opened) {
    if (IsServerLocation(request.Location)) {
        StoreError error = server::OpenServerEngine(request, opened);
        if (error.Ok()) error = opened.Database->IsEmpty(opened.Empty);
        return error;
    }
    return OpenSqliteEngine(request, opened);
}

void ConfigureEngineForRuns() { ConfigureSqliteForRuns(); }

void WatchEngineForDamage() { WatchSqliteForDamage(); }

bool EngineMetDamage() { return SqliteMetDamage(); }

}  // namespace corvina::engine
