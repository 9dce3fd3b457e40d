#include "store/Retention.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <numeric>
#include <utility>

namespace corvina {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's
// days_from_civil), so that weeks need no calendar of the C library and no
// time zone.
std::int64_t DaysFromCivil(int year, int month, int day) {
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return std::int64_t{era} * 146097 + dayOfEra - 719468;
}

// The civil year of a day count (the inverse of DaysFromCivil, year only).
int YearOfDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 = March
    return static_cast<int>(yearOfEra + era * 400 + (monthIndex >= 10 ? 1 : 0));
}

using Bucket = std::function<std::int64_t(const DateTime&)>;

// Keeps the newest snapshot of each of the count most recent buckets;
// newestFirst holds one chain's indexes, newest first.
void KeepNewestOfBuckets(const std::vector<RetainedSnapshot>& snapshots, const std::vector<std::size_t>& newestFirst,
                         int count, const Bucket& bucketOf, std::vector<bool>& keep) {
    int buckets = 0;
    std::int64_t last = 0;
    for (std::size_t i = 0; i < newestFirst.size() && buckets < count; ++i) {
        const std::int64_t bucket = bucketOf(snapshots[newestFirst[i]].Key);
        if (i > 0 && bucket == last) continue;
        last = bucket;
        ++buckets;
        keep[newestFirst[i]] = true;
    }
}

void KeepInChain(const std::vector<RetainedSnapshot>& snapshots, std::vector<std::size_t>& chain,
                 const RetentionPolicy& policy, std::vector<bool>& keep) {
    std::sort(chain.begin(), chain.end(),
              [&](std::size_t a, std::size_t b) { return snapshots[b].Key < snapshots[a].Key; });
    // Every snapshot is a bucket of its own for --keep-last.
    std::int64_t position = 0;
    const Bucket rules[] = {[&position](const DateTime&) { return position++; },
                            [](const DateTime& key) { return DaysFromCivil(key.Year, key.Month, key.Day); },
                            [](const DateTime& key) { return std::int64_t{IsoWeek(key)}; },
                            [](const DateTime& key) { return std::int64_t{key.Year} * 12 + key.Month; },
                            [](const DateTime& key) { return std::int64_t{key.Year}; }};
    const int counts[] = {policy.KeepLast, policy.KeepDaily, policy.KeepWeekly, policy.KeepMonthly, policy.KeepYearly};
    for (std::size_t rule = 0; rule < std::size(rules); ++rule) {
        if (counts[rule] > 0) KeepNewestOfBuckets(snapshots, chain, counts[rule], rules[rule], keep);
    }
}

}  // namespace

int IsoWeek(const DateTime& day) {
    const std::int64_t days = DaysFromCivil(day.Year, day.Month, day.Day);
    // 1970-01-01 was a Thursday; Monday is 0.
    const std::int64_t weekday = ((days + 3) % 7 + 7) % 7;
    const std::int64_t thursday = days - weekday + 3;
    const int year = YearOfDays(thursday);
    const std::int64_t week = (thursday - DaysFromCivil(year, 1, 1)) / 7 + 1;
    return year * 100 + static_cast<int>(week);
}

std::vector<bool> SnapshotsToKeep(const std::vector<RetainedSnapshot>& snapshots, const RetentionPolicy& policy) {
    std::vector<bool> keep(snapshots.size(), false);
    std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> chains;
    for (std::size_t i = 0; i < snapshots.size(); ++i) {
        chains[{snapshots[i].Basepath, snapshots[i].Host}].push_back(i);
    }
    for (auto& [chain, indexes] : chains) KeepInChain(snapshots, indexes, policy, keep);
    return keep;
}

}  // namespace corvina
