#include "analysis/HostOverview.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#include "base/DisplayText.h"
#include "base/PathStyle.h"
#include "base/SizeFormat.h"
#include "store/HostLabel.h"
#include "store/SnapshotTime.h"

namespace corvina {
namespace {

constexpr std::int64_t kWeekSeconds = 7 * 86400;

// When a snapshot was taken: its instant, else its key read as this
// machine's local time (the tables layout kept no zone).
std::int64_t TakenAt(const SnapshotTime& time) {
    return time.Instant ? *time.Instant : time.Key.ToUnix();
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

// The grower of the week up to the last of times, of basePath.
StoreError ReadWeekGrower(DatabaseState& database, SessionObserver& observer, const std::vector<SnapshotTime>& times,
                          const std::string& basePath, std::optional<TopGrower>& grower) {
    return FindTopGrower(database, observer, SizeBasis::Apparent, WeekBefore(times).Key, times.back().Key, basePath,
                         grower);
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
    if (growers == OverviewGrowers::Read) error = ReadWeekGrower(database, observer, times, row.BasePath, row.Grower);
    rows.push_back(std::move(row));
    return error;
}

// An amount in unit, unless it would read 0 there (97 KB a day in
// megabytes): then in the unit that keeps it at least 1, which names itself.
char AmountUnit(double bytes, char unit) {
    const bool none = FormatSizeCell(CellValue(bytes), unit, SizeRounding::TowardZero) == "0";
    return none && bytes != 0 ? kAutoUnit : unit;
}

std::string AmountCell(double bytes, char unit) {
    return FormatSizeCell(CellValue(bytes), AmountUnit(bytes, unit), SizeRounding::TowardZero);
}

// "+300 MB": the unit named, since the cell holds a path too.
std::string GrowthText(double bytes, char unit) {
    const char shown = AmountUnit(bytes, unit);
    const std::string text = "+" + AmountCell(bytes, unit);
    return shown == kAutoUnit ? text : text + " " + std::string(SizeUnitName(shown));
}

// Hours say more of a fresh snapshot, days of an old one.
std::string AgeText(std::int64_t seconds) {
    constexpr std::int64_t kHour = 3600;
    if (seconds < 48 * kHour) return FormatNumber(seconds / kHour) + " h";
    return FormatNumber(seconds / (24 * kHour)) + " d";
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

namespace corvina {

StoreError ReadOverviewGrower(DatabaseState& database, SessionObserver& observer, HostOverviewRow& row) {
    row.Grower.reset();
    bool several = false;
    if (StoreError error = HoldsSeveralHosts(database, several); !error.Ok()) return error;
    const std::optional<std::string_view> host = several ? std::optional<std::string_view>(row.Host) : std::nullopt;
    std::vector<SnapshotTime> times;
    if (StoreError error = ReadSnapshotTimes(database, row.BasePath, host, times); !error.Ok()) return error;
    if (times.empty()) return {};  // deleted since the rows were read
    return ReadWeekGrower(database, observer, times, row.BasePath, row.Grower);
}

std::optional<std::int64_t> UsedBytes(const HostOverviewRow& row) {
    if (!row.Filesystem) return std::nullopt;
    return row.Filesystem->Fssize - row.Filesystem->Fsfree;
}

std::optional<double> BytesPerDay(const HostOverviewRow& row) {
    if (row.Full.State == ForecastState::None) return std::nullopt;
    return std::round(row.Full.BytesPerDay);
}

std::vector<std::string> HostOverviewHeadings(char unit) {
    const std::string label = unit == kAutoUnit ? "" : " (" + std::string(SizeUnitName(unit)) + ")";
    return {"Host", "Path", "Latest snapshot", "Age", "FS size" + label, "FS used" + label, "Growth a day" + label,
            "Full on", "Days left", "Top grower (week)"};
}

std::vector<std::string> HostOverviewCells(const HostOverviewRow& row, char unit, std::string_view missing) {
    const std::string none(missing);
    const auto size = [&](std::optional<double> bytes) {
        return bytes ? FormatSizeCell(CellValue(*bytes), unit) : none;
    };
    const std::optional<std::int64_t> used = UsedBytes(row);
    const std::optional<double> perDay = BytesPerDay(row);
    const std::string fullOn = ForecastText(row.Full, row.Full.FullOn);
    return {EscapeForDisplay(HostDisplayName(row.Host)),
            EscapeForDisplay(row.BasePath),
            FormatKey(row.Latest),
            AgeText(row.AgeSeconds),
            size(row.Filesystem ? std::optional<double>(row.Filesystem->Fssize) : std::nullopt),
            size(used ? std::optional<double>(*used) : std::nullopt),
            perDay ? AmountCell(*perDay, unit) : none,
            fullOn.empty() ? none : fullOn,
            row.DaysLeft ? FormatNumber(*row.DaysLeft) : none,
            row.Grower ? EscapeForDisplay(row.Grower->Directory) + " (" + GrowthText(row.Grower->Bytes, unit) + ")"
                       : none};
}

}  // namespace corvina
