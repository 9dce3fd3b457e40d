#pragma once
// The server engine (a PostgreSQL database): only this folder includes libpq.

#include "store/engine/Engine.h"

namespace corvina::engine {

StoreError OpenServerEngine(const OpenRequest& request, OpenedEngine& opened);

}  // namespace corvina::engine
