#pragma once
// The trend of one directory over the snapshots of its base path, and a
// forecast of when the file system that holds it fills: what
// "corvina-cli trend" prints, as plain data for any view.
//
// Every snapshot of the base path gives a point, also one that lacks the
// directory (a directory made or removed meanwhile): its counts are 0 and
// Present says so, and its file system figures still count for the forecast.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h):
// failures are returned, nothing is shown; the session that finds the top
// grower tells its own failures to its observer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/AnalysisSession.h"
#include "store/Catalogue.h"
#include "base/DateTime.h"
#include "base/PathStyle.h"
#include "base/SizeFormat.h"
#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

struct TrendPoint {
    DateTime Snapshot;
    bool Present = false;  // the snapshot has a Dir row of the directory
    std::int64_t Files = 0;
    double Bytes = 0;  // in the basis the trend was read in
    // On disk: false for a snapshot without on-disk figures, whose Bytes
    // mean nothing (shown as kNoFigure, drawn nowhere).
    bool Measured = true;
    std::optional<FilesystemFigures> Filesystem;  // nullopt where not recorded
};

// One point per snapshot of basePath, oldest first in time
// (store/SnapshotTime.h); only
// the snapshots of host when one is given (see TrendHost). The directory's
// bytes are counted in basis; the file system's figures are its own.
StoreError ReadTrend(DatabaseState& database, std::string_view basePath, std::string_view directory,
                     PathStyle style, const std::optional<std::string>& host, std::vector<TrendPoint>& points,
                     SizeBasis basis = SizeBasis::Apparent);

// The host a trend of directory keeps to, so that two machines' snapshots of
// one base path do not make one line: nullopt when the database holds one
// host (store/HostLabel.h), otherwise the label of the newest snapshot of
// basePath that holds directory, or of the newest at all when none does.
StoreError TrendHost(DatabaseState& database, std::string_view basePath, std::string_view directory,
                     PathStyle style, std::optional<std::string>& host);

// The base path of the newest snapshot that holds directory (of the newest
// snapshot at all when directory is empty), of host when one is given;
// nullopt when there is none.
StoreError NewestBasePath(DatabaseState& database, std::string_view directory, std::optional<std::string>& basePath,
                          const std::optional<std::string>& host = {});

struct UsagePoint {
    DateTime Date;
    double Used = 0;  // size - free
    double Size = 0;
};
// The points whose file system figures were recorded, in the trend's order.
std::vector<UsagePoint> UsageOf(const std::vector<TrendPoint>& points);

enum class ForecastState {
    None,        // fewer than three points, or all within a day
    NotFilling,  // the used space does not grow
    Filling,
};

// A least-squares line of used space against time. It is full where it meets
// the size last recorded; the earliest and latest dates take the slope plus
// and minus its standard error, pivoting on the mean point. A date more than
// ten years after the last point, or never, is nullopt.
struct Forecast {
    ForecastState State = ForecastState::None;
    double BytesPerDay = 0;  // the slope; 0 without a forecast
    double MeanDay = 0;      // the line passes through (MeanDay, MeanUsed); see DaysOf
    double MeanUsed = 0;
    std::optional<DateTime> FullOn;
    std::optional<DateTime> Earliest;
    std::optional<DateTime> Latest;
};
Forecast ForecastFull(const std::vector<UsagePoint>& points);

// A key as days since 1970-01-01. Keys are local wall-clock times; they
// count as if they were UTC, so that a forecast reads the same in every time
// zone (a daylight-saving hour is noise next to the days a forecast spans).
double DaysOf(const DateTime& date);

// What a forecast date shows in every view: "" without a forecast, "not
// filling", the day (yyyy-MM-dd) or "not within 10 years".
std::string ForecastText(const Forecast& forecast, const std::optional<DateTime>& date);

// The directory at any depth of the tree whose own files grew most between
// the two snapshots, by the "Where did it grow" analysis in the session's
// size basis.
struct TopGrower {
    std::string Directory;
    double Bytes = 0;
};
// grower is nullopt when the earlier snapshot is the later one, the later
// one lacks the directory, the two cannot be compared in the basis, or
// nothing grew.
StoreError FindTopGrower(AnalysisSession& session, const DateTime& earlier, const DateTime& later,
                         const std::string& directory, std::optional<TopGrower>& grower);

// The same in a session of its own, in basis, which tells observer what it
// has to tell, all but that its result was cut: only its first row is wanted.
StoreError FindTopGrower(DatabaseState& database, SessionObserver& observer, SizeBasis basis, const DateTime& earlier,
                         const DateTime& later, const std::string& directory, std::optional<TopGrower>& grower);

// Everything a trend view shows of one directory.
struct TrendReport {
    std::string BasePath;
    std::string Directory;
    std::optional<std::string> Host;  // as ReadTrend takes it
    SizeBasis Basis = SizeBasis::Apparent;  // of the directory's bytes and the grower
    std::vector<TrendPoint> Points;
    Forecast Full;
    std::optional<TopGrower> Grower;
    // On disk: fewer than two snapshots that hold the directory have
    // on-disk figures, so no grower could be looked for.
    bool GrowerUnmeasured = false;
};

// The forecast over report.Points and the top grower between the first and
// the last snapshot that hold the directory (at least one must), on disk the
// first and last of those with on-disk figures (FindTopGrower above, which
// tells observer what it has to tell).
StoreError CompleteTrend(DatabaseState& database, SessionObserver& observer, TrendReport& report);

// The table every view shows: a heading row, then per point the key, files,
// bytes, file system size and free ("" where not recorded). Sizes are in
// unit (base/SizeFormat.h): in bytes they are numbers in full under
// "Bytes"; in another unit the headings name it, and with kAutoUnit each
// cell does. On disk the headings say so, and a point not measured shows
// missing in place of its bytes.
std::vector<std::vector<std::string>> TrendCells(const std::vector<TrendPoint>& points, char unit = 'B',
                                                 SizeBasis basis = SizeBasis::Apparent,
                                                 std::string_view missing = kNoFigure);
// "Forecast: 2025-03-01 (between … and …), 1234 bytes a day" ("1.2 KB a day"
// in kAutoUnit), or why there is none.
std::string ForecastSummary(const Forecast& forecast, char unit = 'B');
// "Top grower: /data/logs (+1000 bytes)", the name made safe to show, or "Top
// grower: none", on disk with why when the snapshots could not say.
std::string GrowerSummary(const TrendReport& report, char unit = 'B');

}  // namespace corvina
