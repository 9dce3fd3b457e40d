#include "analysis/AnalysisState.h"

#include <array>
#include <cstdio>

namespace corvina {

namespace {

std::string DayMonth(const DateTime& date) {
    static constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (date.Month < 1 || date.Month > 12) return {};
    return std::to_string(date.Day) + " " + kMonths[static_cast<std::size_t>(date.Month - 1)];
}

std::string HourMinute(const DateTime& date) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", date.Hour % 100, date.Minute % 100);
    return text;
}

}  // namespace

void FormSnapshotLabels(AnalysisState& state) {
    const DateTime& a = state.SnapshotDate;
    const DateTime& b = state.CompareSnapshotDate;
    if (b.IsNull()) {
        state.SnapshotLabel = DayMonth(a);
        state.CompareSnapshotLabel.clear();
        return;
    }
    bool sameDay = a.Year == b.Year && a.Month == b.Month && a.Day == b.Day;
    state.SnapshotLabel = sameDay ? HourMinute(a) : DayMonth(a);
    state.CompareSnapshotLabel = sameDay ? HourMinute(b) : DayMonth(b);
}

PathStyle PathStyleOfBasePath(std::string_view basePath) {
    return !basePath.empty() && basePath.front() == '/' ? PathStyle::Posix : PathStyle::Windows;
}

}  // namespace corvina
