#pragma once
// The server engine's entry: the factory (store/engine/OpenEngine.cpp) calls
// it for a location that IsServerLocation accepts. The open connects and
// quiets the server's notices below warnings; it makes no table and asks
// nothing: the store's open sequence does that through the connection.
//
// Opened.Location is the location without its password; WriteAheadLog stays
// false (there is no file to checkpoint) and Created false (a server's
// database is never made by us). A server that does not answer, refuses us
// or is not there is Unreachable, with the location without its password as
// the datum.

#include "store/engine/Engine.h"

namespace corvina::server {

StoreError OpenServerEngine(const engine::OpenRequest& request, engine::OpenedEngine& opened);

}  // namespace corvina::server
