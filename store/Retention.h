#pragma once
// Which snapshots a retention policy keeps, as the "forget" policies of
// backup tools choose them. Pure: keys and chains in, keep or remove out, so
// that any layout of the database can ask it and then delete what it says.
//
// A chain is the snapshots of one base path on one host. Within each chain,
// --keep-last N keeps the newest N snapshots; --keep-daily N keeps the newest
// snapshot of each of the N most recent days that have snapshots, and weekly
// (ISO weeks, Monday to Sunday, numbered by the year of their Thursday),
// monthly and yearly likewise. Days are those of the keys, which are local
// times. A snapshot that any rule keeps stays.
//
// Adding a snapshot to a chain never makes another one kept that was not:
// a prune that chose before a run committed stays right after it.

#include <string>
#include <vector>

#include "base/DateTime.h"

namespace corvina {

struct RetentionPolicy {
    int KeepLast = 0;  // 0: the rule keeps nothing
    int KeepDaily = 0;
    int KeepWeekly = 0;
    int KeepMonthly = 0;
    int KeepYearly = 0;

    // A policy without any rule would remove everything: callers refuse it.
    bool KeepsAnything() const { return KeepLast > 0 || KeepDaily > 0 || KeepWeekly > 0 || KeepMonthly > 0 || KeepYearly > 0; }
};

struct RetainedSnapshot {
    DateTime Key;
    std::string Basepath;
    std::string Host;  // "" for the unknown host, or for every snapshot of a database of one host
};

// One flag per snapshot, in the order given: true for those the policy keeps.
std::vector<bool> SnapshotsToKeep(const std::vector<RetainedSnapshot>& snapshots, const RetentionPolicy& policy);

// The ISO 8601 week of a date: its year (that of the week's Thursday) times
// 100 plus its number, 1 to 53. 2021-01-03 is week 53 of 2020.
int IsoWeek(const DateTime& day);

}  // namespace corvina
