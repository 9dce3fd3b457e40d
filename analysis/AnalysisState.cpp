#include "analysis/AnalysisState.h"

#include <array>
#include <cassert>
#include <cstdio>

#include "base/SizeFormat.h"

namespace corvina {

namespace {

std::string DayMonth(const DateTime& date) {
    std::string_view month = MonthAbbreviation(date.Month);
    if (month.empty()) return {};
    return std::to_string(date.Day) + " " + std::string(month);
}

std::string HourMinute(const DateTime& date) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", date.Hour % 100, date.Minute % 100);
    return text;
}

}  // namespace

std::string EntrytypeText(Entrytype type) { return std::string(1, static_cast<char>(type)); }

char ColumnRuleLetter(ColumnRule rule) {
    switch (rule) {
        case ColumnRule::Text: return 'C';
        case ColumnRule::Count: return 'N';
        case ColumnRule::Size: return 'S';
        case ColumnRule::Percent: return 'P';
        case ColumnRule::Date: return 'D';
    }
    return 'C';
}

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

std::string FilterSuffix(std::int64_t sizeThreshold) {
    if (sizeThreshold == 0) return " (all files)";
    return " (files larger than " + FormatSize(static_cast<double>(sizeThreshold)) + ")";
}

std::string FillLabels(std::string_view pattern, const AnalysisState& state) {
    std::string text;
    std::size_t at = 0;
    while (at < pattern.size()) {
        const std::size_t open = pattern.find('{', at);
        const std::size_t close = open == std::string_view::npos ? open : pattern.find('}', open);
        if (close == std::string_view::npos) break;
        text += pattern.substr(at, open - at);
        const std::string_view field = pattern.substr(open + 1, close - open - 1);
        if (field == "dir") {
            // A base path stored with a trailing separator is named without
            // it, as the tree and the queries name it.
            text += WithoutTrailingSeparators(state.SelectedDirectory, state.Style);
        } else if (field == "prime") {
            text += state.SnapshotLabel;
        } else if (field == "compare") {
            text += state.CompareSnapshotLabel;
        } else if (field == "filter") {
            text += FilterSuffix(state.SizeThreshold);
        } else if (field == "unit") {
            text += SizeUnitLabel(state.SizeUnit, state.SizeBasis);
        } else {
            assert(false && "a pattern names an unknown field");
        }
        at = close + 1;
    }
    text += pattern.substr(at);
    return text;
}

std::string BasisSuffix(SizeBasis basis) { return basis == SizeBasis::Disk ? " (on disk)" : ""; }

}  // namespace corvina
