#include "store/server/ServerEngine.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>

#include "store/server/ServerConnection.h"

namespace corvina {
namespace server {

StoreError OpenServerEngine(const engine::OpenRequest& request, engine::OpenedEngine& opened) {
    opened = engine::OpenedEngine{};
    opened.Location = engine::WithoutPassword(request.Location);
    auto connection = std::make_unique<ServerConnection>(request.Notices);
    if (StoreError error = connection->Connect(request.Location); !error.Ok()) return error;
    opened.Database = std::move(connection);
    return {};
}

}  // namespace server

namespace engine {
namespace {

// The connection parameters of a keyword string, or null when it is not one.
PQconninfoOption* ParseKeywords(std::string_view location) {
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(std::string(location).c_str(), &message);
    PQfreemem(message);
    return options;
}

}  // namespace

bool IsServerLocation(std::string_view location) {
    if (location.starts_with("postgresql://") || location.starts_with("postgres://")) return true;
    // A keyword string names at least one parameter, and a path that merely
    // holds an "=" does not parse as one.
    if (location.find('=') == std::string_view::npos || location.starts_with('/') || location.starts_with('.')) {
        return false;
    }
    PQconninfoOption* options = ParseKeywords(location);
    PQconninfoFree(options);
    return options != nullptr;
}

std::string WithoutPassword(std::string_view location) {
    if (location.starts_with("postgresql://") || location.starts_with("postgres://")) {
        std::string uri(location);
        // user:password@ in the authority part.
        const std::size_t start = uri.find("://") + 3;
        const std::size_t end = std::min(uri.find_first_of("/?", start), uri.size());
        const std::size_t at = uri.rfind('@', end);
        if (at != std::string::npos && at >= start) {
            const std::size_t colon = uri.find(':', start);
            if (colon != std::string::npos && colon < at) uri.erase(colon, at - colon);
        }
        // password=... among the query parameters.
        for (std::size_t query = uri.find('?'); query != std::string::npos;) {
            const std::size_t name = query + 1;
            const std::size_t next = uri.find('&', name);
            if (uri.compare(name, 9, "password=") == 0) {
                uri.erase(name, next == std::string::npos ? std::string::npos : next + 1 - name);
                if (uri.back() == '?' || uri.back() == '&') uri.pop_back();
                query = next == std::string::npos ? std::string::npos : query;
                continue;
            }
            query = next;
        }
        return uri;
    }
    PQconninfoOption* options = ParseKeywords(location);
    if (options == nullptr) return std::string(location);
    PQconninfoFree(options);
    // The keywords as written, in their order, less the password: "key = value"
    // or "key='quoted \\' value'", apart by blanks.
    std::string text;
    std::size_t i = 0;
    auto blank = [&]() { return i < location.size() && std::isspace(static_cast<unsigned char>(location[i])); };
    while (i < location.size()) {
        while (blank()) ++i;
        if (i >= location.size()) break;
        const std::size_t start = i;
        while (i < location.size() && location[i] != '=' && !blank()) ++i;
        const std::string_view keyword = location.substr(start, i - start);
        while (blank()) ++i;
        if (i < location.size() && location[i] == '=') ++i;
        while (blank()) ++i;
        const bool quoted = i < location.size() && location[i] == '\'';
        if (quoted) ++i;
        while (i < location.size() && (quoted ? location[i] != '\'' : !blank())) {
            if (location[i] == '\\') ++i;
            ++i;
        }
        if (quoted && i < location.size()) ++i;
        if (keyword == "password") continue;
        if (!text.empty()) text += ' ';
        text += location.substr(start, i - start);
    }
    return text;
}

}  // namespace engine
}  // namespace corvina
