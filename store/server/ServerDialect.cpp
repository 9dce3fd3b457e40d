#include "store/server/ServerDialect.h"

namespace corvina::server {

std::string ServerDialect::CaseInsensitive(std::string_view expr) const {
    return "decode(lower(encode(" + std::string(expr) + ", 'escape') COLLATE \"C\"), 'escape')";
}

std::string_view ServerDialect::TypeName(engine::ValueKind kind) const {
    switch (kind) {
        case engine::ValueKind::Key: return "TEXT COLLATE \"C\"";
        case engine::ValueKind::Name: return "BYTEA";
        case engine::ValueKind::Integer: return "BIGINT";
        case engine::ValueKind::Real: return "DOUBLE PRECISION";
    }
    return "TEXT";
}

std::string ServerDialect::RefreshStatistics(std::string_view tables) const {
    const std::string_view first = tables.substr(0, tables.find(','));
    return "DO $$BEGIN IF pg_has_role((SELECT relowner FROM pg_class WHERE oid = to_regclass('" + std::string(first) +
           "')), 'USAGE') THEN ANALYZE " + std::string(tables) + "; END IF; END$$";
}

}  // namespace corvina::server
