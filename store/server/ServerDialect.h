#pragma once
// The server's side of the SQL the engines share. Names are BYTEA there (any
// bytes a file system holds, compared and ordered as bytes), keys and dates
// text in the "C" collation, so that both compare as SQLite compares them.

#include "store/engine/Engine.h"

namespace corvina::server {

class ServerDialect final : public engine::Dialect {
public:
    // As SQLite's NOCASE on our names: ASCII A-Z folded to a-z, then the
    // bytes compared. The escape encoding turns every byte outside ASCII
    // (and a zero byte) into \ooo and doubles a backslash; lower() under "C"
    // folds ASCII letters only; decoding gives the bytes back. Built-ins only,
    // so it works for a role that may not create functions.
    std::string CaseInsensitive(std::string_view expr) const override;
    std::string_view TypeName(engine::ValueKind kind) const override;
    // The server plans its own scans and keeps no rowid.
    std::string_view NotIndexed() const override { return ""; }
    std::string_view KeyedTableSuffix() const override { return ""; }
    // A role that may add rows may lack the right to make tables.
    bool SetUpMakesEveryTable() const override { return true; }
    // The server wants a grouped value: the least of the group's names.
    std::string GroupValue(std::string_view expr) const override { return "min(" + std::string(expr) + ")"; }
    // Only the tables' owner may analyse them: another role would be warned
    // once a table on every run, so it leaves them to the server's own
    // statistics. The first table's owner stands for all.
    std::string RefreshStatistics(std::string_view tables) const override;
};

}  // namespace corvina::server
