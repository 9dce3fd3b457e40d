#include "analysis/Trend.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>

#include "analysis/AnalysisKind.h"
#include "analysis/AnalysisQuery.h"
#include "analysis/DiskFigures.h"
#include "store/Catalogue.h"
#include "base/DisplayText.h"
#include "store/HostLabel.h"
#include "store/SnapshotTime.h"
#include "base/SizeFormat.h"
#include "store/Statement.h"

namespace corvina {
namespace {

namespace chr = std::chrono;

DateTime DateOfDays(double days) {
    const auto seconds = chr::sys_seconds{chr::seconds{std::llround(days * 86400.0)}};
    const auto day = chr::floor<chr::days>(seconds);
    const chr::year_month_day ymd{day};
    const chr::hh_mm_ss time{seconds - day};
    return DateTime{static_cast<int>(ymd.year()),        static_cast<int>(static_cast<unsigned>(ymd.month())),
                    static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(time.hours().count()),
                    static_cast<int>(time.minutes().count()),          static_cast<int>(time.seconds().count())};
}

// Ten calendar years on; 29 February becomes 28 February of a common year.
double TenYearsAfter(const DateTime& date) {
    DateTime later = date;
    later.Year += 10;
    const chr::year_month_day ymd{chr::year{later.Year}, chr::month{static_cast<unsigned>(later.Month)},
                                  chr::day{static_cast<unsigned>(later.Day)}};
    if (!ymd.ok()) later.Day = 28;
    return DaysOf(later);
}

// The points in the order their snapshots were taken (store/SnapshotTime.h)
// rather than that of their keys, the local times of their hosts.
StoreError InTimeOrder(DatabaseState& database, std::vector<TrendPoint>& points) {
    std::vector<SnapshotTime> times;
    if (StoreError error = ReadSnapshotTimes(database, {}, {}, times); !error.Ok()) return error;
    std::map<DateTime, std::size_t> rank;
    for (std::size_t i = 0; i < times.size(); ++i) rank.emplace(times[i].Key, i);
    const auto rankOf = [&rank](const TrendPoint& point) {
        auto found = rank.find(point.Snapshot);
        return found == rank.end() ? rank.size() : found->second;
    };
    std::stable_sort(points.begin(), points.end(),
                     [&rankOf](const TrendPoint& a, const TrendPoint& b) { return rankOf(a) < rankOf(b); });
    return {};
}

}  // namespace

double DaysOf(const DateTime& date) {
    const chr::year_month_day ymd{chr::year{date.Year}, chr::month{static_cast<unsigned>(date.Month)},
                                  chr::day{static_cast<unsigned>(date.Day)}};
    const auto seconds = chr::sys_days{ymd}.time_since_epoch() + chr::hours{date.Hour} +
                         chr::minutes{date.Minute} + chr::seconds{date.Second};
    return static_cast<double>(chr::duration_cast<chr::seconds>(seconds).count()) / 86400.0;
}

StoreError ReadTrend(DatabaseState& database, std::string_view basePath, std::string_view directory,
                     PathStyle style, const std::optional<std::string>& host, std::vector<TrendPoint>& points,
                     SizeBasis basis) {
    points.clear();
    bool filesystem = false;
    if (StoreError error = TableExists(database, "Filesystem", filesystem); !error.Ok()) return error;
    const engine::Dialect& dialect = database.Engine->SqlDialect();
    QueryParts parts{.Style = style, .Hints = {.Dialect = &dialect}, .Basis = basis};
    // On disk, a snapshot measured its sizes when it has its Diskusage row.
    bool measures = false;
    if (basis == SizeBasis::Disk) {
        if (StoreError error = DiskTablesExist(database, parts.Hints.DiskTables); !error.Ok()) return error;
        if (StoreError error = TableExists(database, "Diskusage", measures); !error.Ok()) return error;
    }
    // One query for all snapshots: the DirName index finds each Dir row.
    std::string sql = "SELECT c.Snapshot, d.Snapshot, d.Files, " + parts.DirSize("d");
    sql += filesystem ? ", f.Fssize, f.Fsfree" : ", NULL, NULL";
    if (basis == SizeBasis::Disk) sql += measures ? ", u.Snapshot" : ", NULL";
    auto name = [&](std::string_view expr) { return NameOperand(&dialect, style, expr); };
    sql += " FROM Control c LEFT JOIN Dir d ON d.Snapshot = c.Snapshot AND d.Entrytype = '2' AND " + name("d.Dirname") +
           " = " + name("?2");
    if (filesystem) sql += " LEFT JOIN Filesystem f ON f.Snapshot = c.Snapshot";
    if (measures) sql += " LEFT JOIN Diskusage u ON u.Snapshot = c.Snapshot";
    if (host) sql += JoinHostOf("c");
    sql += " WHERE " + name("c.Basepath") + " = " + name("?1");
    if (host) sql += " AND " + HostIs("?3");
    sql += " ORDER BY c.Snapshot";
    Statement query;
    StoreError error = query.Prepare(database, sql);
    if (error.Ok()) error = query.BindText(1, basePath);
    if (error.Ok()) error = query.BindText(2, directory);
    if (error.Ok() && host) error = query.BindText(3, *host);
    for (bool row = true; error.Ok() && (error = query.Step(row)).Ok() && row;) {
        std::optional<DateTime> key = DateTime::Parse(query.Text(0));
        if (!key) continue;  // not a key this program wrote: no point in time
        TrendPoint point;
        point.Snapshot = *key;
        point.Present = !query.IsNull(1);
        point.Measured = basis == SizeBasis::Apparent || !query.IsNull(6);
        if (point.Present) {
            point.Files = query.Int64(2);
            point.Bytes = query.Double(3);
        }
        if (!query.IsNull(4) && !query.IsNull(5)) point.Filesystem = FilesystemFigures{query.Int64(4), query.Int64(5)};
        points.push_back(point);
    }
    return error.Ok() ? InTimeOrder(database, points) : error;
}

StoreError TrendHost(DatabaseState& database, std::string_view basePath, std::string_view directory,
                     PathStyle style, std::optional<std::string>& host) {
    host.reset();
    bool several = false;
    if (StoreError error = HoldsSeveralHosts(database, several); !error.Ok() || !several) return error;
    const engine::Dialect& dialect = database.Engine->SqlDialect();
    auto name = [&](std::string_view expr) { return NameOperand(&dialect, style, expr); };
    Statement query;
    StoreError error = query.Prepare(
        database, "SELECT c.Snapshot FROM Control c LEFT JOIN Dir d ON d.Snapshot = c.Snapshot AND d.Entrytype = '2' "
                  "AND " + name("d.Dirname") + " = " + name("?2") + " WHERE " + name("c.Basepath") + " = " +
                      name("?1") + " ORDER BY CASE WHEN d.Snapshot IS NULL THEN 1 ELSE 0 END, c.Snapshot DESC LIMIT 1");
    if (error.Ok()) error = query.BindText(1, basePath);
    if (error.Ok()) error = query.BindText(2, directory);
    bool row = false;
    if (error.Ok()) error = query.Step(row);
    std::optional<DateTime> key;
    if (error.Ok() && row) key = DateTime::Parse(query.Text(0));
    // No snapshot of the base path: the trend is empty on any host.
    std::string label;
    if (error.Ok() && key) error = ReadHostLabel(database, *key, label);
    if (error.Ok()) host = std::move(label);
    return error;
}

StoreError NewestBasePath(DatabaseState& database, std::string_view directory, std::optional<std::string>& basePath,
                          const std::optional<std::string>& host) {
    basePath.reset();
    std::string sql = "SELECT c.Basepath FROM Control c";
    if (!directory.empty()) sql += " JOIN Dir d ON d.Snapshot = c.Snapshot AND d.Dirname = ? AND d.Entrytype = '2'";
    if (host) sql += JoinHostOf("c") + " WHERE " + HostIs("?");
    sql += " ORDER BY c.Snapshot DESC LIMIT 1";
    Statement query;
    StoreError error = query.Prepare(database, sql);
    int position = 0;
    if (error.Ok() && !directory.empty()) error = query.BindText(++position, directory);
    if (error.Ok() && host) error = query.BindText(++position, *host);
    bool row = false;
    if (error.Ok()) error = query.Step(row);
    if (error.Ok() && row) basePath = std::string(query.Text(0));
    return error;
}

std::vector<UsagePoint> UsageOf(const std::vector<TrendPoint>& points) {
    std::vector<UsagePoint> usage;
    for (const TrendPoint& point : points) {
        if (!point.Filesystem) continue;
        const double size = static_cast<double>(point.Filesystem->Fssize);
        usage.push_back({point.Snapshot, size - static_cast<double>(point.Filesystem->Fsfree), size});
    }
    return usage;
}

Forecast ForecastFull(const std::vector<UsagePoint>& points) {
    Forecast forecast;
    const std::size_t n = points.size();
    if (n < 3) return forecast;
    double firstDay = DaysOf(points.front().Date), lastDay = firstDay;
    const UsagePoint* last = &points.front();
    double meanX = 0, meanY = 0;
    for (const UsagePoint& point : points) {
        const double x = DaysOf(point.Date);
        firstDay = std::min(firstDay, x);
        if (x >= lastDay) {
            lastDay = x;
            last = &point;
        }
        meanX += x / static_cast<double>(n);
        meanY += point.Used / static_cast<double>(n);
    }
    if (lastDay - firstDay < 1.0) return forecast;

    double sxx = 0, sxy = 0;
    for (const UsagePoint& point : points) {
        const double dx = DaysOf(point.Date) - meanX;
        sxx += dx * dx;
        sxy += dx * (point.Used - meanY);
    }
    const double slope = sxy / sxx;
    double residuals = 0;
    for (const UsagePoint& point : points) {
        const double off = point.Used - (meanY + slope * (DaysOf(point.Date) - meanX));
        residuals += off * off;
    }
    const double standardError = std::sqrt(residuals / static_cast<double>(n - 2) / sxx);

    forecast.BytesPerDay = slope;
    forecast.MeanDay = meanX;
    forecast.MeanUsed = meanY;
    if (slope <= 0) {
        forecast.State = ForecastState::NotFilling;
        return forecast;
    }
    forecast.State = ForecastState::Filling;
    const double limit = TenYearsAfter(last->Date);
    auto dateAt = [&](double lineSlope) -> std::optional<DateTime> {
        if (lineSlope <= 0) return std::nullopt;
        const double day = meanX + (last->Size - meanY) / lineSlope;
        if (!(day <= limit)) return std::nullopt;
        return DateOfDays(day);
    };
    forecast.FullOn = dateAt(slope);
    forecast.Earliest = dateAt(slope + standardError);
    forecast.Latest = dateAt(slope - standardError);
    return forecast;
}

StoreError FindTopGrower(AnalysisSession& session, const DateTime& earlier, const DateTime& later,
                         const std::string& directory, std::optional<TopGrower>& grower) {
    grower.reset();
    if (!(earlier < later)) return {};
    StoreError error = session.ChoosePrime(later);
    if (!error.Ok()) return error;
    CompareChoice choice = session.ChooseCompare(earlier);
    if (!choice.Error.Ok() || !choice.Chosen) return choice.Error;
    bool found = false;
    if (error = session.SelectDirectory(directory, found); !error.Ok() || !found) return error;
    session.SetUnit('B');
    session.SetKind(AnalysisKind::WhereDidItGrow);
    AnalysisOutcome outcome = session.Run();
    if (!outcome.Error.Ok()) return outcome.Error;
    // Rows come largest growth first; a first row that did not grow means
    // nothing did.
    const ResultGrid& grid = session.Grid();
    const int row = session.Settings().FirstDetailRow;
    if (row >= grid.RowCount()) return {};
    const double bytes = std::strtod(grid.Cell(row, 2).c_str(), nullptr);
    if (bytes > 0) grower = TopGrower{grid.Cell(row, 0), bytes};
    return {};
}

std::string ForecastText(const Forecast& forecast, const std::optional<DateTime>& date) {
    switch (forecast.State) {
        case ForecastState::None: return {};
        case ForecastState::NotFilling: return "not filling";
        case ForecastState::Filling: break;
    }
    return date ? FormatKey(*date).substr(0, 10) : "not within 10 years";
}

namespace {

// The observer of the grower's session: everything but the cut result goes on.
class WithoutCutNote final : public SessionObserver {
public:
    explicit WithoutCutNote(SessionObserver& inner) : inner_(inner) {}
    void ReadFailed(const StoreError& error) override { inner_.ReadFailed(error); }
    void DirectoryTotalFailed(const StoreError& error, const std::string& directory) override {
        inner_.DirectoryTotalFailed(error, directory);
    }
    void AnalysisFailed(const std::string& title, const StoreError& error) override {
        inner_.AnalysisFailed(title, error);
    }
    void ResultCut(int) override {}
    void CutResultSorted() override { inner_.CutResultSorted(); }

private:
    SessionObserver& inner_;
};

}  // namespace

StoreError FindTopGrower(DatabaseState& database, SessionObserver& observer, SizeBasis basis, const DateTime& earlier,
                         const DateTime& later, const std::string& directory, std::optional<TopGrower>& grower) {
    WithoutCutNote quiet(observer);
    AnalysisSession session(database, quiet);
    session.SetSizeBasis(basis);
    return FindTopGrower(session, earlier, later, directory, grower);
}

StoreError CompleteTrend(DatabaseState& database, SessionObserver& observer, TrendReport& report) {
    report.Full = ForecastFull(UsageOf(report.Points));
    report.Grower.reset();
    report.GrowerUnmeasured = false;
    const TrendPoint* first = nullptr;
    const TrendPoint* last = nullptr;
    int present = 0;
    for (const TrendPoint& point : report.Points) {
        if (!point.Present) continue;
        ++present;
        if (!point.Measured) continue;
        if (!first) first = &point;
        last = &point;
    }
    // Two snapshots hold the directory, but not two with on-disk figures:
    // that is said, rather than that nothing grew.
    report.GrowerUnmeasured = present >= 2 && first == last;
    if (!first) return {};
    return FindTopGrower(database, observer, report.Basis, first->Snapshot, last->Snapshot, report.Directory,
                         report.Grower);
}

std::vector<std::vector<std::string>> TrendCells(const std::vector<TrendPoint>& points, char unit, SizeBasis basis,
                                                 std::string_view missing) {
    const bool disk = basis == SizeBasis::Disk;
    std::vector<std::vector<std::string>> rows{{"Snapshot", "Files", disk ? "Bytes on disk" : "Bytes", "FS size",
                                                "FS free"}};
    if (unit != 'B') {
        const std::string label = unit == kAutoUnit ? "" : " (" + std::string(SizeUnitName(unit)) + ")";
        rows[0] = {"Snapshot", "Files", (disk ? "Size on disk" : "Size") + label, "FS size" + label, "FS free" + label};
    }
    const auto size = [unit](auto bytes) { return FormatSizeCell(CellValue(bytes), unit); };
    for (const TrendPoint& point : points) {
        const auto& fs = point.Filesystem;
        rows.push_back({FormatKey(point.Snapshot), FormatNumber(point.Files),
                        point.Measured ? size(point.Bytes) : std::string(missing), fs ? size(fs->Fssize) : "",
                        fs ? size(fs->Fsfree) : ""});
    }
    return rows;
}

namespace {

// An amount that may be negative, the same magnitude either way: "1234
// bytes", "3 MB", "-1.5 GB".
std::string AmountText(double bytes, char unit) {
    if (unit == 'B') return FormatNumber(bytes) + " bytes";
    std::string text = FormatSizeCell(CellValue(bytes), unit, SizeRounding::TowardZero);
    return unit == kAutoUnit ? text : text + " " + std::string(SizeUnitName(unit));
}

}  // namespace

std::string ForecastSummary(const Forecast& forecast, char unit) {
    if (forecast.State == ForecastState::None) {
        return "Forecast: none (needs the file system of three snapshots over a day or more)";
    }
    std::string text = "Forecast: " + ForecastText(forecast, forecast.FullOn);
    if (forecast.State == ForecastState::Filling) {
        text += " (between " + ForecastText(forecast, forecast.Earliest) + " and " +
                ForecastText(forecast, forecast.Latest) + ")";
    }
    return text + ", " + AmountText(std::round(forecast.BytesPerDay), unit) + " a day";
}

std::string GrowerSummary(const TrendReport& report, char unit) {
    const std::optional<TopGrower>& grower = report.Grower;
    if (report.GrowerUnmeasured) return "Top grower: none on disk (fewer than two snapshots recorded on-disk figures)";
    if (!grower) return "Top grower: none";
    return "Top grower: " + EscapeForDisplay(grower->Directory) + " (+" + AmountText(grower->Bytes, unit) + ")";
}

}  // namespace corvina
