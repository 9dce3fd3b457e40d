#pragma once
// When a snapshot was taken, as far as the database knows, and the order of
// snapshots in time. A key is the local time of the host that took it, so
// two hosts in different zones cannot be ordered by their keys; the history
// layout records each run's UTC instant and its zone offset beside the key
// (store/HistoryLayout.h). The tables layout, and the snapshots converted
// from it, have no instants: they are ordered by key.
//
// Error policy: as every function of store/ (StoreError.h): failures are
// returned, nothing is shown.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "store/DatabaseState.h"

namespace corvina {

struct SnapshotTime {
    DateTime Key;
    std::optional<std::int64_t> Instant;  // seconds since 1970 UTC
    std::optional<int> Utcoffset;         // seconds east of UTC
};

// Whether a was taken before b. Instants decide where both have one, keys
// where neither has; a snapshot without an instant comes before one with,
// since instants began with the layout that keeps them and a snapshot
// without one was converted from a database written before.
bool TakenBefore(const SnapshotTime& a, const SnapshotTime& b);

// The snapshots of the database (of one base path when given, and of one
// host when given: compare store/HostLabel.h), in the order they were taken;
// after a failure times holds what was read up to it.
StoreError ReadSnapshotTimes(DatabaseState& state, std::optional<std::string_view> basePath,
                             std::optional<std::string_view> host, std::vector<SnapshotTime>& times);

// The time of one snapshot: Key alone when no instant is recorded, or when
// there is no such snapshot.
StoreError ReadSnapshotTime(DatabaseState& state, const DateTime& key, SnapshotTime& time);

// "2024-05-01T06:00:00Z" and "+09:00", "-04:00", "+00:00".
std::string FormatInstant(std::int64_t instant);
std::string FormatUtcOffset(int seconds);

}  // namespace corvina
