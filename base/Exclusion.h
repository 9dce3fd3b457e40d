#pragma once
// What a run leaves out of its walk: shell patterns of names or paths, and
// directories tagged as caches. The walk reads them (capture/ExclusionFilter.h
// says how), the store keeps them with the snapshot (store/Exclusion.h) and
// both programs show them.

#include <string>
#include <string_view>

namespace corvina {

enum class ExclusionKind {
    Pattern,  // a shell pattern, matched against a name, or a path below the base when it holds a "/"
    Caches,   // directories holding a valid CACHEDIR.TAG
};

struct Exclusion {
    ExclusionKind Kind = ExclusionKind::Pattern;
    std::string Pattern;  // "" for Caches

    bool operator==(const Exclusion&) const = default;
};

// "pattern" or "caches", as the snapshot database keeps the kind.
std::string_view ExclusionKindText(ExclusionKind kind);

// How a list shows one: the pattern as it is, or "cache directories".
std::string ExclusionDisplayText(const Exclusion& exclusion);

}  // namespace corvina
