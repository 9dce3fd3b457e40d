#pragma once
// Every host and base path of a snapshot database at a glance: how full its
// file system is, how fast it fills, when it is full and what grew last week.
// What "corvina-cli hosts" lists and "corvina-cli alert" judges, as plain
// data; the forecast is the trend's (analysis/Trend.h) over the base path.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h):
// failures are returned, nothing is shown; the sessions that find the top
// growers tell their own failures to the observer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/SessionObserver.h"
#include "analysis/Trend.h"
#include "base/DateTime.h"
#include "store/Catalogue.h"
#include "store/DatabaseState.h"
#include "store/StoreError.h"

namespace corvina {

struct HostOverviewRow {
    std::string Host;  // the label, "" for an unknown host
    std::string BasePath;
    DateTime Latest;   // the newest snapshot in time
    std::int64_t AgeSeconds = 0;  // from when it was taken to now
    // Of the newest snapshot that recorded its file system; nullopt when none did.
    std::optional<FilesystemFigures> Filesystem;
    Forecast Full;
    // Whole days from the latest snapshot's date to the forecast full date;
    // nullopt without such a date (no forecast, not filling, not within 10 years).
    std::optional<std::int64_t> DaysLeft;
    // What grew most between the latest snapshot and the newest at least a
    // week older (the oldest when none is that old).
    std::optional<TopGrower> Grower;
};

// Whole days from one date to the other, by their calendar days.
std::int64_t DaysBetween(const DateTime& from, const DateTime& to);

// The rows of every host and base path (in a database of one host, every
// base path once, with that host's label), fewest days left first, then
// those without a date by host and path. now is seconds since 1970 UTC; a
// snapshot without a recorded instant was taken at its key in local time.
// Without growers, Grower stays empty: each costs a comparison of two
// snapshots, which a check of the forecasts does not need.
enum class OverviewGrowers { Read, Skip };
StoreError ReadHostOverview(DatabaseState& database, SessionObserver& observer, std::int64_t now,
                            std::vector<HostOverviewRow>& rows, OverviewGrowers growers = OverviewGrowers::Read);

// The top grower of a row read without growers, as ReadHostOverview reads it:
// a view can show the rows at once and fill in the growers one by one.
StoreError ReadOverviewGrower(DatabaseState& database, SessionObserver& observer, HostOverviewRow& row);

// Size minus free of the file system; nullopt without its figures.
std::optional<std::int64_t> UsedBytes(const HostOverviewRow& row);
// The forecast's rate in whole bytes; nullopt without a forecast.
std::optional<double> BytesPerDay(const HostOverviewRow& row);

// The overview as a window shows it: headings (sizes in unit, base/SizeFormat.h),
// then per row host, path, latest snapshot, age, file system size and used,
// growth a day, full on, days left and top grower; missing stands where there
// is no figure. The age reads in hours up to two days, in days beyond. A rate
// or growth that would read 0 in unit shows in the unit that keeps it at
// least 1, named.
std::vector<std::string> HostOverviewHeadings(char unit);
std::vector<std::string> HostOverviewCells(const HostOverviewRow& row, char unit, std::string_view missing = kNoFigure);

}  // namespace corvina
