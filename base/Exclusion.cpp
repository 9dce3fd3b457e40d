#include "base/Exclusion.h"

namespace corvina {

std::string_view ExclusionKindText(ExclusionKind kind) {
    return kind == ExclusionKind::Caches ? "caches" : "pattern";
}

std::string ExclusionDisplayText(const Exclusion& exclusion) {
    return exclusion.Kind == ExclusionKind::Caches ? std::string("cache directories") : exclusion.Pattern;
}

}  // namespace corvina
