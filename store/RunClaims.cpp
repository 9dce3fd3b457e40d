#include "store/RunClaims.h"

#include <optional>
#include <string>

#include "store/Catalogue.h"
#include "store/HistoryLayout.h"
#include "store/Statement.h"

namespace corvina {

std::uint64_t StableHash(std::string_view text, std::uint64_t seed) {
    std::uint64_t hash = seed;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

StoreError ClaimKey(DatabaseState& state, const DateTime& key, bool& free) {
    free = false;
    bool claimed = false;
    const std::string text = FormatKey(key);
    if (StoreError error = state.Engine->Claim(claim::kKey, static_cast<std::int64_t>(StableHash(text)), claimed);
        !error.Ok() || !claimed) {
        return error;
    }
    // Looked at after the claim: a run that stored the key has ended its
    // claim only after its commit, which this read then sees.
    bool exists = false;
    StoreError error = KeyInUse(state, key, exists);
    free = error.Ok() && !exists;
    return error;
}

StoreError AwaitChainTurn(DatabaseState& state, std::string_view basePath, std::string_view host, LockWait& wait) {
    std::string chain(host);
    chain += '\0';
    chain += basePath;
    return state.Engine->AwaitTurn(claim::kChainTurn, static_cast<std::int64_t>(StableHash(chain)), wait);
}

StoreError ClaimNextId(DatabaseState& state, std::string_view table, int space, std::int64_t& id) {
    std::optional<std::int64_t> value;
    const std::string name(table);
    if (StoreError error = history::ReadInteger(state, "SELECT max(Id) FROM " + name, {}, value); !error.Ok()) {
        return error;
    }
    for (id = value.value_or(0) + 1;; ++id) {
        bool claimed = false;
        if (StoreError error = state.Engine->Claim(space, id, claimed); !error.Ok()) return error;
        if (!claimed) continue;
        // A run that ended after the read above may have stored this id.
        if (StoreError error = history::ReadInteger(state, "SELECT 1 FROM " + name + " WHERE Id = ?", {id}, value);
            !error.Ok() || !value) {
            return error;
        }
    }
}

}  // namespace corvina
