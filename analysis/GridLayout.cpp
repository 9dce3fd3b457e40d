#include "analysis/GridLayout.h"

#include <vector>

#include "analysis/AnalysisCatalogue.h"
#include "store/SizeFormat.h"

namespace corvina {

namespace {

struct ColumnLayout {
    std::string Heading;
    int Width;
};

std::vector<ColumnLayout> ColumnsOf(const AnalysisState& state) {
    const std::string u = SizeUnitLabel(state.SizeUnit);
    const std::string& l1 = state.SnapshotLabel;
    const std::string& l2 = state.CompareSnapshotLabel;
    switch (state.AnalysisKind) {
        case DirectoryDetails:
            return {{"Directory Name", 2000}, {"# of Files", 1000}, {"Total size " + u, 1500}, {"% of Total", 1000}};
        case CompareDirectories:
            return {{"Directory", 1500},        {"Size (" + l1 + ") " + u, 1500}, {"Size (" + l2 + ") " + u, 1500},
                    {"Increase " + u, 1200},    {"% incr", 800},                  {"% of Total Incr", 1200}};
        case NewDirectories:
        case DeletedDirectories:
            return {{"Directory Name", 2000}, {"# of Files", 1000}, {"Total size " + u, 1500}};
        case DirectoryHistory: return {{"Date", 2000}, {"# of files", 1500}, {"Size " + u, 1500}};
        case FilesInDirectory:
            return {{"File", 2000}, {"Size" + u, 1500}, {"File Date", 2000}, {"% of dir size", 1500}};
        case FilesInTree:
        case NewFiles:
        case DeletedFiles:
            return {{"File", 2000}, {"Directory", 2500}, {"Size" + u, 1000}, {"File Date", 2000}};
        case ChangedFiles:
            return {{"File", 2000},      {"Directory", 2500}, {"Change" + u, 1300}, {"Size" + u, 1000},
                    {"File Date", 2000}, {"Size" + u, 1000},  {"File Date", 2000}};
        case FileTypeSummary: return {{"File Type", 2000}, {"# of files", 1000}, {"Size" + u, 1000}};
        case DuplicateFiles:
        case RecentlyChangedFiles:
            return {{"File", 2000}, {"Directory", 2000}, {"Size" + u, 1500}, {"File Date", 2000}};
        default: return {};
    }
}

}  // namespace

void LayoutResultGrid(const AnalysisState& state, GridSettings& settings, ResultGrid& grid) {
    std::vector<ColumnLayout> columns = ColumnsOf(state);
    if (columns.empty()) return;
    if (grid.RowCount() == 0) grid.SetRowCount(1);
    grid.SetColumnCount(static_cast<int>(columns.size()));
    for (std::size_t i = 0; i < columns.size(); ++i) {
        settings.ColumnHeading[i] = columns[i].Heading;
        grid.SetColumnWidth(static_cast<int>(i), columns[i].Width);
        grid.SetCell(0, static_cast<int>(i), columns[i].Heading);
    }
}

}  // namespace corvina
