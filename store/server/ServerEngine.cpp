// Stand-in until the server engine is written against the engine interface.

#include "store/server/ServerEngine.h"

namespace corvina::engine {

StoreError OpenServerEngine(const OpenRequest& request, OpenedEngine& opened) {
    opened = OpenedEngine{};
    opened.Location = request.Location;
    return StoreError{StoreCode::Unreachable, "The server engine is not built yet", request.Location};
}

bool IsServerLocation(std::string_view location) {
    return location.starts_with("postgresql://") || location.starts_with("postgres://") ||
           (location.find('=') != std::string_view::npos && !location.starts_with('/') && !location.starts_with('.'));
}

std::string WithoutPassword(std::string_view location) { return std::string(location); }

}  // namespace corvina::engine
