#pragma once
// The host a snapshot was taken on. One database may hold the snapshots of
// several machines, and the same base path (/home) from two of them must stay
// apart without the stored base path changing. The label lives in a table of
// its own, Host, one row per snapshot key, so that files written before it,
// and programs that do not know it, read and write as they did: a run creates
// the table when it first writes a row, inside its own transaction, never an
// open.
//
// A snapshot without a row (taken before labels, or where the machine had no
// name) has the label "". Only labels that were written count as hosts: a
// database holds several hosts when the Host table holds more than one
// distinct label. So a file of one machine, upgraded, still holds one host
// although its older snapshots have no row; once a second machine writes,
// the unlabelled snapshots show apart as an unknown host.
//
// Error policy: as every function of store/ (StoreError.h): failures are
// returned, nothing is shown.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "store/DatabaseState.h"

namespace corvina {

// Creates Host (and its unique index Host1 on Snapshot) when missing and
// appends the snapshot's row; call inside the run's transaction.
StoreError WriteHostLabel(DatabaseState& state, const DateTime& key, std::string_view label);

// The label of every snapshot that has one; empty for a file without the table.
StoreError ReadHostLabels(DatabaseState& state, std::map<DateTime, std::string>& labels);

// Whether the Host table holds more than one distinct label (see above).
StoreError HoldsSeveralHosts(DatabaseState& state, bool& several);

// The label of one snapshot: "" without a row or without the table.
StoreError ReadHostLabel(DatabaseState& state, const DateTime& key, std::string& label);

// The host whose snapshots the history from key keeps to: nullopt when the
// database holds one host, so that such a file reads as it did before
// labels; otherwise key's label ("" for the unknown host).
StoreError HostToKeepTo(DatabaseState& state, const DateTime& key, std::optional<std::string>& host);

// A history keeps to one host by joining Host to its Control rows (the alias
// given) and comparing the label with a bound parameter: on a server the
// label is bytea, which only a parameter or the '' of COALESCE meets.
std::string JoinHostOf(std::string_view controlAlias);
std::string HostIs(std::string_view parameter);

// A base path as taken on one host ("" for an unknown host).
struct BasePathHost {
    std::string Basepath;
    std::string Hostname;
    auto operator<=>(const BasePathHost&) const = default;
};
// Every distinct base path and host, by path, then host (the unknown host
// first); after a failure pairs holds what was read up to it.
StoreError ListBasePathHosts(DatabaseState& state, std::vector<BasePathHost>& pairs);

// What a list shows for a host: the label, or "unknown host" for "".
std::string HostDisplayName(std::string_view label);

}  // namespace corvina
