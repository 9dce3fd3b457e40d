#include "analysis/HostOverview.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <tuple>
#include <utility>

#include "base/PathStyle.h"
#include "store/HostLabel.h"
#include "store/SnapshotTime.h"

namespace corvina {
namespace {

constexpr std::int64_t kWeekSeconds = 7 * 86400;

// When a snapshot was taken: its instant, else its key read as this
// machine's local time (the tables layout kept no zone).
std::int64_t TakenAt(const SnapshotTime& time) {
    if (time.Instant) return *time.Instant;
    std::tm local{};
    local.tm_year = time.Key.Year - 1900;
    local.tm_mon = time.Key.Month - 1;
    local.tm_mday = time.Key.Day;
    local.tm_hour = time.Key.Hour;
    local.tm_min = time.Key.Minute;
    local.tm_sec = time.Key.Second;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local));
}

// How far apart two snapshots of one host were taken: by instants where both
// have one, else by their keys, so that a converted snapshot is not set off
// against a recorded instant by its zone.
std::int64_t SecondsBetween(const SnapshotTime& earlier, const SnapshotTime& later) {
    if (earlier.Instant && later.Instant) return *later.Instant - *earlier.Instant;
    return std::llround((DaysOf(later.Key) - DaysOf(earlier.Key)) * 86400.0);
}

// The newest snapshot taken at least a week before the last, else the
// oldest; times are in the order taken.
const SnapshotTime& WeekBefore(const std::vector<SnapshotTime>& times) {
    for (auto it = times.rbegin(); it != times.rend(); ++it) {
        if (SecondsBetween(*it, times.back()) >= kWeekSeconds) return *it;
    }
    return times.front();
}

// In a database of one host every snapshot is that host's, labelled or not.
std::vector<BasePathHost> OverviewPairs(std::vector<BasePathHost> pairs, bool severalHosts) {
    if (severalHosts) return pairs;
    std::string only;
    for (const BasePathHost& pair : pairs) only = std::max(only, pair.Hostname);
    for (BasePathHost& pair : pairs) pair.Hostname = only;
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    return pairs;
}

StoreError ReadRow(DatabaseState& database, SessionObserver& observer, std::int64_t now, const BasePathHost& pair,
                   const std::optional<std::string>& host, OverviewGrowers growers,
                   std::vector<HostOverviewRow>& rows) {
    std::vector<SnapshotTime> times;
    if (StoreError error = ReadSnapshotTimes(database, pair.Basepath, host, times); !error.Ok()) return error;
    if (times.empty()) return {};
    std::vector<TrendPoint> points;
    const PathStyle style = PathStyleOfBasePath(pair.Basepath);
    StoreError error = ReadTrend(database, pair.Basepath, pair.Basepath, style, host, points);
    if (!error.Ok()) return error;
    HostOverviewRow row;
    row.Host = pair.Hostname;
    row.BasePath = pair.Basepath;
    row.Latest = times.back().Key;
    row.AgeSeconds = now - TakenAt(times.back());
    for (const TrendPoint& point : points) {
        if (point.Filesystem) row.Filesystem = point.Filesystem;
    }
    row.Full = ForecastFull(UsageOf(points));
    if (row.Full.FullOn) row.DaysLeft = DaysBetween(row.Latest, *row.Full.FullOn);
    if (growers == OverviewGrowers::Read) {
        error = FindTopGrower(database, observer, SizeBasis::Apparent, WeekBefore(times).Key, row.Latest,
                              row.BasePath, row.Grower);
    }
    rows.push_back(std::move(row));
    return error;
}

}  // namespace

std::int64_t DaysBetween(const DateTime& from, const DateTime& to) {
    return static_cast<std::int64_t>(std::floor(DaysOf(to))) - static_cast<std::int64_t>(std::floor(DaysOf(from)));
}

StoreError ReadHostOverview(DatabaseState& database, SessionObserver& observer, std::int64_t now,
                            std::vector<HostOverviewRow>& rows, OverviewGrowers growers) {
    rows.clear();
    std::vector<BasePathHost> pairs;
    bool several = false;
    StoreError error = ListBasePathHosts(database, pairs);
    if (error.Ok()) error = HoldsSeveralHosts(database, several);
    if (!error.Ok()) return error;
    for (const BasePathHost& pair : OverviewPairs(std::move(pairs), several)) {
        const std::optional<std::string> host = several ? std::optional(pair.Hostname) : std::nullopt;
        if (error = ReadRow(database, observer, now, pair, host, growers, rows); !error.Ok()) return error;
    }
    std::stable_sort(rows.begin(), rows.end(), [](const HostOverviewRow& a, const HostOverviewRow& b) {
        // Without a date a row comes after every row with one.
        return std::tuple(!a.DaysLeft, a.DaysLeft.value_or(0), a.Host, a.BasePath) <
               std::tuple(!b.DaysLeft, b.DaysLeft.value_or(0), b.Host, b.BasePath);
    });
    return {};
}

}  // namespace corvina
