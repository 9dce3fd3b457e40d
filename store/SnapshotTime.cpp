// The order of snapshots in time. The statements read the Snap table of the
// history layout directly (Control is a view of it there), and only Control
// in the tables layout, which has no instants.

#include "store/SnapshotTime.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <tuple>

#include <fmt/format.h>

#include "store/HostLabel.h"
#include "store/Statement.h"

namespace corvina {
namespace {

std::string TimesSql(const DatabaseState& state) {
    return state.History ? "SELECT c.Snapshot, c.Instant, c.Utcoffset FROM Snap c"
                         : "SELECT c.Snapshot, NULL, NULL FROM Control c";
}

// The current row as a time; false for a key this program did not write.
bool ReadRow(const Statement& query, SnapshotTime& time) {
    std::optional<DateTime> key = DateTime::Parse(query.Text(0));
    if (!key) return false;
    time = SnapshotTime{*key, {}, {}};
    if (!query.IsNull(1)) time.Instant = query.Int64(1);
    if (!query.IsNull(2)) time.Utcoffset = static_cast<int>(query.Int64(2));
    return true;
}

}  // namespace

bool TakenBefore(const SnapshotTime& a, const SnapshotTime& b) {
    return std::tuple(a.Instant.has_value(), a.Instant.value_or(0), a.Key) <
           std::tuple(b.Instant.has_value(), b.Instant.value_or(0), b.Key);
}

StoreError ReadSnapshotTimes(DatabaseState& state, std::optional<std::string_view> basePath,
                             std::optional<std::string_view> host, std::vector<SnapshotTime>& times) {
    times.clear();
    std::string sql = TimesSql(state);
    if (host) sql += JoinHostOf("c");
    if (basePath || host) sql += " WHERE ";
    if (basePath) sql += "c.Basepath = ?";
    if (basePath && host) sql += " AND ";
    if (host) sql += HostIs("?");
    Statement query;
    StoreError error = query.Prepare(state, sql);
    int position = 0;
    if (error.Ok() && basePath) error = query.BindText(++position, *basePath);
    if (error.Ok() && host) error = query.BindText(++position, *host);
    SnapshotTime time;
    for (bool row = true; error.Ok() && (error = query.Step(row)).Ok() && row;) {
        if (ReadRow(query, time)) times.push_back(time);
    }
    std::sort(times.begin(), times.end(), TakenBefore);
    return error;
}

StoreError ReadSnapshotTime(DatabaseState& state, const DateTime& key, SnapshotTime& time) {
    time = SnapshotTime{key, {}, {}};
    Statement query;
    bool row = false;
    StoreError error = query.Prepare(state, TimesSql(state) + " WHERE c.Snapshot = ?");
    if (error.Ok()) error = query.BindText(1, FormatKey(key));
    if (error.Ok()) error = query.Step(row);
    if (error.Ok() && row) ReadRow(query, time);
    return error;
}

std::string FormatInstant(std::int64_t instant) {
    namespace chr = std::chrono;
    const chr::sys_seconds seconds{chr::seconds{instant}};
    const auto day = chr::floor<chr::days>(seconds);
    const chr::year_month_day ymd{day};
    const chr::hh_mm_ss time{seconds - day};
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", static_cast<int>(ymd.year()),
                       static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), time.hours().count(),
                       time.minutes().count(), time.seconds().count());
}

std::string FormatUtcOffset(int seconds) {
    const int minutes = std::abs(seconds) / 60;
    return fmt::format("{}{:02}:{:02}", seconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

}  // namespace corvina
