// The retention policy on its own: which snapshots of which chains each rule
// keeps, at the edges of days, ISO weeks, months and years.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/Retention.h"
#include "tests/support/SnapshotRows.h"

namespace corvina {
namespace {

// The keys the policy keeps, oldest first, each followed by its chain where
// that is not the one given to every key here.
std::string Kept(const std::vector<RetainedSnapshot>& snapshots, const RetentionPolicy& policy) {
    const std::vector<bool> keep = SnapshotsToKeep(snapshots, policy);
    std::string out;
    for (std::size_t i = 0; i < snapshots.size(); ++i) {
        if (!keep[i]) continue;
        out += (out.empty() ? "" : ",") + FormatKey(snapshots[i].Key).substr(0, 16);
        if (snapshots[i].Basepath != "/srv" || !snapshots[i].Host.empty()) {
            out += " " + snapshots[i].Basepath + "@" + snapshots[i].Host;
        }
    }
    return out;
}

std::vector<RetainedSnapshot> Chain(const std::vector<const char*>& keys, const std::string& base = "/srv",
                                    const std::string& host = "") {
    std::vector<RetainedSnapshot> snapshots;
    for (const char* key : keys) snapshots.push_back({test::Key(key), base, host});
    return snapshots;
}

TEST(Retention, IsoWeeksTurnWithTheYearOfTheirThursday) {
    const std::pair<const char*, int> weeks[] = {
        {"2020-12-27 12:00:00", 202052}, {"2020-12-28 00:00:00", 202053}, {"2021-01-03 23:59:59", 202053},
        {"2021-01-04 00:00:00", 202101}, {"2019-12-30 00:00:00", 202001}, {"2024-12-29 00:00:00", 202452},
        {"2024-12-30 00:00:00", 202501}, {"2026-01-01 00:00:00", 202601}, {"2027-01-01 00:00:00", 202653},
        {"2000-02-29 00:00:00", 200009}, {"1999-01-01 00:00:00", 199853}};
    for (const auto& [key, week] : weeks) EXPECT_EQ(IsoWeek(test::Key(key)), week) << key;
}

TEST(Retention, EachRuleKeepsTheNewestOfItsMostRecentPeriodsThatHaveSnapshots) {
    // Three on 10 March, none on the 11th and 12th: the days counted are
    // those with snapshots.
    const auto days = Chain({"2024-03-09 23:59:59", "2024-03-10 00:00:00", "2024-03-10 12:00:00", "2024-03-10 23:59:59",
                             "2024-03-13 00:00:01", "2024-03-08 09:00:00"});
    EXPECT_EQ(Kept(days, {.KeepDaily = 3}), "2024-03-09 23:59,2024-03-10 23:59,2024-03-13 00:00");
    EXPECT_EQ(Kept(days, {.KeepDaily = 30}), "2024-03-09 23:59,2024-03-10 23:59,2024-03-13 00:00,2024-03-08 09:00");
    EXPECT_EQ(Kept(days, {.KeepLast = 2}), "2024-03-10 23:59,2024-03-13 00:00");

    // Sunday 3 January 2021 is in the last week of 2020, with Monday 28 December.
    const auto weeks = Chain({"2020-12-27 10:00:00", "2020-12-28 10:00:00", "2021-01-03 10:00:00",
                              "2021-01-04 10:00:00", "2021-01-10 10:00:00"});
    EXPECT_EQ(Kept(weeks, {.KeepWeekly = 2}), "2021-01-03 10:00,2021-01-10 10:00");
    EXPECT_EQ(Kept(weeks, {.KeepWeekly = 3}), "2020-12-27 10:00,2021-01-03 10:00,2021-01-10 10:00");

    const auto months = Chain({"2023-11-30 23:00:00", "2023-12-01 00:00:00", "2023-12-31 23:59:59",
                               "2024-01-01 00:00:00", "2022-06-15 08:00:00"});
    EXPECT_EQ(Kept(months, {.KeepMonthly = 2}), "2023-12-31 23:59,2024-01-01 00:00");
    EXPECT_EQ(Kept(months, {.KeepMonthly = 3}), "2023-11-30 23:00,2023-12-31 23:59,2024-01-01 00:00");
    EXPECT_EQ(Kept(months, {.KeepYearly = 3}), "2023-12-31 23:59,2024-01-01 00:00,2022-06-15 08:00");
}

TEST(Retention, RulesKeepTheirUnionInEveryChainApart) {
    const auto hourly = Chain({"2024-05-01 01:00:00", "2024-05-01 02:00:00", "2024-05-02 01:00:00",
                               "2024-05-02 02:00:00", "2024-05-02 03:00:00", "2024-04-30 05:00:00"});
    // The last two are the newest day's; the daily rule adds 1 May's newest,
    // the monthly rule April's.
    EXPECT_EQ(Kept(hourly, {.KeepLast = 2, .KeepDaily = 2, .KeepMonthly = 2}),
              "2024-05-01 02:00,2024-05-02 02:00,2024-05-02 03:00,2024-04-30 05:00");
    EXPECT_EQ(Kept(hourly, {}), "");

    // The same base path on another host, and another base path, are chains
    // of their own; each keeps its own newest.
    std::vector<RetainedSnapshot> mixed = Chain({"2024-05-01 01:00:00", "2024-05-03 01:00:00"});
    for (const auto& more : {Chain({"2024-05-02 01:00:00", "2024-05-04 01:00:00"}, "/srv", "north"),
                             Chain({"2024-04-01 01:00:00", "2024-04-02 01:00:00"}, "/home")}) {
        mixed.insert(mixed.end(), more.begin(), more.end());
    }
    EXPECT_EQ(Kept(mixed, {.KeepLast = 1}), "2024-05-03 01:00,2024-05-04 01:00 /srv@north,2024-04-02 01:00 /home@");
    EXPECT_EQ(Kept(mixed, {.KeepMonthly = 1}), Kept(mixed, {.KeepLast = 1}));
}

}  // namespace
}  // namespace corvina
