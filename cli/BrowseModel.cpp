#include "cli/BrowseModel.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "analysis/AnalysisState.h"
#include "analysis/DirectoryTotal.h"
#include "base/DisplayText.h"
#include "cli/Output.h"
#include "report/BasisNotes.h"
#include "store/StoreError.h"

namespace corvina::cli {

std::string GrowthText(double growth) {
    const std::string size = FormatSizeCell(CellValue(std::fabs(growth)), kAutoUnit, SizeRounding::TowardZero);
    return (growth < 0 ? "-" : "+") + size;
}

std::string SizeText(double bytes) { return FormatSizeCell(CellValue(bytes), kAutoUnit); }

namespace {

BrowseEntry EntryOf(DirectoryChild&& child) {
    return {std::move(child.Dirname), std::move(child.Shortname), child.Files, child.HasChildren,
            child.Bytes,           child.CompareBytes,            child.FileCount};
}

// Names compare as the snapshot's path style compares them.
std::string NameKey(const std::string& name, PathStyle style) {
    return style == PathStyle::Windows ? AsciiLower(name) : name;
}

bool SamePath(const std::string& a, const std::string& b, PathStyle style) {
    return NameKey(a, style) == NameKey(b, style);
}

bool Below(const std::string& path, const std::string& directory, PathStyle style) {
    const std::string prefix = IsRootPath(directory, style) && style == PathStyle::Posix
                                   ? directory
                                   : directory + Separator(style);
    return path.size() > prefix.size() && SamePath(path.substr(0, prefix.size()), prefix, style);
}

}  // namespace

BrowseModel::BrowseModel(DatabaseState& database, BrowseSetup setup)
    : database_(database), setup_(std::move(setup)), basis_(setup_.Basis) {}

bool BrowseModel::GrowthKnown() const {
    if (!HasCompare()) return false;
    return basis_ == SizeBasis::Apparent || (setup_.SnapshotOnDisk && setup_.CompareOnDisk);
}

StoreError BrowseModel::Open(const std::string& directory, bool& found) {
    found = false;
    chain_.clear();
    // The base path's own row is the one whose Parentdir is empty: listed as
    // a child of "", it comes with its totals in both snapshots.
    std::vector<DirectoryChild> read;
    const DateTime compare = GrowthKnown() ? setup_.Compare : DateTime{};
    StoreError error = ListDirectoryChildren(database_, setup_.Snapshot, "", setup_.Style, read, compare, basis_);
    if (!error.Ok()) return error;
    BrowseEntry root{.Dirname = setup_.BasePath, .Shortname = setup_.BasePath, .HasChildren = true};
    for (DirectoryChild& child : read) {
        if (!child.Files && SamePath(child.Dirname, setup_.BasePath, setup_.Style)) root = EntryOf(std::move(child));
    }
    root.Shortname = root.Dirname;
    chain_.push_back(std::move(root));
    // Down from the base path, one listing per level, to the directory asked for.
    while (!directory.empty() && !SamePath(Directory().Dirname, directory, setup_.Style)) {
        if (!Below(directory, Directory().Dirname, setup_.Style)) return error;
        error = ListDirectoryChildren(database_, setup_.Snapshot, Directory().Dirname, setup_.Style, read, compare,
                                      basis_);
        if (!error.Ok()) return error;
        auto next = std::find_if(read.begin(), read.end(), [&](const DirectoryChild& child) {
            return !child.Files && (SamePath(child.Dirname, directory, setup_.Style) ||
                                    Below(directory, child.Dirname, setup_.Style));
        });
        if (next == read.end()) return error;
        chain_.push_back(EntryOf(std::move(*next)));
    }
    found = true;
    return ReadRows();
}

void BrowseModel::SetPageRows(int rows) {
    pageRows_ = std::max(1, rows);
    Move(selected_);
}

StoreError BrowseModel::ReadRows() {
    std::vector<DirectoryChild> read;
    const DateTime compare = GrowthKnown() ? setup_.Compare : DateTime{};
    const StoreError error =
        ListDirectoryChildren(database_, setup_.Snapshot, Directory().Dirname, setup_.Style, read, compare, basis_);
    std::vector<BrowseEntry> rows;
    for (DirectoryChild& child : read) rows.push_back(EntryOf(std::move(child)));
    ShowRows(std::move(rows));
    if (!error.Ok()) Failed(error);
    return error;
}

void BrowseModel::ShowRows(std::vector<BrowseEntry> rows) {
    rows_ = std::move(rows);
    SortRows();
    top_ = 0;
    Move(0);
}

void BrowseModel::SortRows() {
    const PathStyle style = setup_.Style;
    // Ties go by name, so that an order never depends on the listing's.
    const auto byName = [style](const BrowseEntry& a, const BrowseEntry& b) {
        if (a.Files != b.Files) return a.Files;  // the directory's own files first, as the tree lists them
        return NameKey(a.Shortname, style) < NameKey(b.Shortname, style);
    };
    const auto larger = [&](auto figure) {
        return [figure, byName](const BrowseEntry& a, const BrowseEntry& b) {
            if (figure(a) != figure(b)) return figure(a) > figure(b);
            return byName(a, b);
        };
    };
    switch (sort_) {
        case BrowseSort::Size:
            std::stable_sort(rows_.begin(), rows_.end(), larger([](const BrowseEntry& e) { return e.Bytes; }));
            break;
        case BrowseSort::Name: std::stable_sort(rows_.begin(), rows_.end(), byName); break;
        case BrowseSort::Files:
            std::stable_sort(rows_.begin(), rows_.end(),
                             larger([](const BrowseEntry& e) { return static_cast<double>(e.FileCount); }));
            break;
        case BrowseSort::Growth:
            std::stable_sort(rows_.begin(), rows_.end(), larger([](const BrowseEntry& e) { return e.Growth(); }));
            break;
    }
    if (reversed_) std::reverse(rows_.begin(), rows_.end());
}

void BrowseModel::SelectDirname(const std::string& dirname, bool files) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].Dirname == dirname && rows_[i].Files == files) {
            Move(static_cast<int>(i));
            return;
        }
    }
}

// The selection stays on a row and in view; the view shows no blank rows
// below the last while rows above are hidden.
void BrowseModel::Move(int to) {
    const int count = static_cast<int>(rows_.size());
    if (count == 0) {
        selected_ = -1;
        top_ = 0;
        return;
    }
    selected_ = std::clamp(to, 0, count - 1);
    if (selected_ < top_) top_ = selected_;
    if (selected_ >= top_ + pageRows_) top_ = selected_ - pageRows_ + 1;
    top_ = std::clamp(top_, 0, std::max(0, count - pageRows_));
}

bool BrowseModel::Handle(BrowseCommand command) {
    message_.clear();
    // A panel covers the list: whatever is pressed closes it, and only that.
    if (panel_ != BrowsePanel::None) {
        panel_ = BrowsePanel::None;
        return true;
    }
    switch (command) {
        case BrowseCommand::Up: Move(selected_ - 1); break;
        case BrowseCommand::Down: Move(selected_ + 1); break;
        case BrowseCommand::PageUp: Move(selected_ - pageRows_); break;
        case BrowseCommand::PageDown: Move(selected_ + pageRows_); break;
        case BrowseCommand::Home: Move(0); break;
        case BrowseCommand::End: Move(static_cast<int>(rows_.size()) - 1); break;
        case BrowseCommand::Open: Enter(); break;
        case BrowseCommand::Back: Leave(); break;
        case BrowseCommand::SortSize: SortBy(BrowseSort::Size); break;
        case BrowseCommand::SortName: SortBy(BrowseSort::Name); break;
        case BrowseCommand::SortFiles: SortBy(BrowseSort::Files); break;
        case BrowseCommand::SortGrowth: SortBy(BrowseSort::Growth); break;
        case BrowseCommand::ToggleBasis: ToggleBasis(); break;
        case BrowseCommand::Follow: FollowTheGrowth(); break;
        case BrowseCommand::Trend: ShowTrend(); break;
        case BrowseCommand::Info: ShowInfo(); break;
        case BrowseCommand::Help: ShowHelp(); break;
        case BrowseCommand::Close: break;
        case BrowseCommand::Quit: return false;
    }
    return true;
}

void BrowseModel::SortBy(BrowseSort sort) {
    if (sort == BrowseSort::Growth && !GrowthKnown()) {
        message_ = HasCompare() ? CannotCompareOnDiskText(setup_.Compare)
                                : "No compare snapshot: start with --compare KEY or previous to see growth.";
        return;
    }
    reversed_ = sort == sort_ && !reversed_;
    sort_ = sort;
    const BrowseEntry* selected = selected_ >= 0 ? &rows_[selected_] : nullptr;
    const std::string dirname = selected != nullptr ? selected->Dirname : "";
    const bool files = selected != nullptr && selected->Files;
    SortRows();
    SelectDirname(dirname, files);
}

void BrowseModel::Enter() {
    if (selected_ < 0) return;
    const BrowseEntry& entry = rows_[selected_];
    if (entry.Files) {
        message_ = "(files) stands for the files directly in " + EscapeForDisplay(Directory().Dirname) +
                   ": the snapshot lists no directories below it.";
        return;
    }
    if (!entry.HasChildren) {
        message_ = EscapeForDisplay(entry.Dirname) + " is empty in this snapshot.";
        return;
    }
    chain_.push_back(entry);
    ReadRows();
}

void BrowseModel::Leave() {
    if (chain_.size() == 1) {
        message_ = "This is the snapshot's base path: there is nothing above it.";
        return;
    }
    const std::string from = Directory().Dirname;
    chain_.pop_back();
    ReadRows();
    SelectDirname(from, false);
}

StoreError BrowseModel::ReadChainTotals() {
    for (BrowseEntry& entry : chain_) {
        std::optional<double> prime, compare;
        StoreError error = FindDirectoryTotal(database_, entry.Dirname, setup_.Snapshot, setup_.Style, prime,
                                              Entrytype::Directory, basis_);
        if (error.Ok() && GrowthKnown()) {
            error = FindDirectoryTotal(database_, entry.Dirname, setup_.Compare, setup_.Style, compare,
                                       Entrytype::Directory, basis_);
        }
        if (!error.Ok()) return error;
        entry.Bytes = prime.value_or(0);
        entry.CompareBytes = compare.value_or(0);
    }
    return {};
}

// A snapshot without on-disk figures shows none: the basis stays apparent
// rather than showing sizes made up of nothing.
void BrowseModel::ToggleBasis() {
    const SizeBasis next = basis_ == SizeBasis::Apparent ? SizeBasis::Disk : SizeBasis::Apparent;
    if (next == SizeBasis::Disk && !setup_.SnapshotOnDisk) {
        message_ = "Snapshot " + FormatKey(setup_.Snapshot) +
                   " has no on-disk figures (it was taken before they were recorded): apparent sizes only.";
        return;
    }
    basis_ = next;
    if (sort_ == BrowseSort::Growth && !GrowthKnown()) {
        sort_ = BrowseSort::Size;
        reversed_ = false;
    }
    const std::string dirname = selected_ >= 0 ? rows_[selected_].Dirname : "";
    const bool files = selected_ >= 0 && rows_[selected_].Files;
    if (StoreError error = ReadChainTotals(); !error.Ok()) Failed(error);
    if (!ReadRows().Ok()) return;
    SelectDirname(dirname, files);
    if (HasCompare() && !GrowthKnown()) {
        message_ = CannotCompareOnDiskText(setup_.SnapshotOnDisk && !setup_.CompareOnDisk ? setup_.Compare
                                                                                           : setup_.Snapshot);
    } else {
        message_ = basis_ == SizeBasis::Disk ? "Sizes on disk." : "Apparent sizes.";
    }
}

// As the analysis window follows it: down from the shown directory along the
// subdirectory that grew most, while that one holds at least half of the
// growth; below a directory whose growth no one subdirectory holds half of,
// the growth is spread out (or sits in its own files), so it is the answer.
void BrowseModel::FollowTheGrowth() {
    if (!GrowthKnown()) {
        SortBy(BrowseSort::Growth);  // says why not
        return;
    }
    std::vector<BrowseEntry> path, parent;
    std::vector<BrowseEntry> listing = rows_;
    bool readBelow = false;  // listing holds the children of path.back(), parent its siblings
    for (double growth = Directory().Growth(); growth > 0;) {
        const BrowseEntry* best = nullptr;
        for (const BrowseEntry& entry : listing) {
            if (!entry.Files && (best == nullptr || entry.Growth() > best->Growth())) best = &entry;
        }
        if (best == nullptr || best->Growth() * 2 < growth) break;
        path.push_back(*best);
        readBelow = false;
        growth = best->Growth();
        if (!best->HasChildren) break;
        std::vector<DirectoryChild> read;
        const StoreError error = ListDirectoryChildren(database_, setup_.Snapshot, path.back().Dirname,
                                                       setup_.Style, read, setup_.Compare, basis_);
        if (!error.Ok()) {
            Failed(error);
            return;
        }
        parent = std::move(listing);
        listing.clear();
        for (DirectoryChild& child : read) listing.push_back(EntryOf(std::move(child)));
        readBelow = true;
    }
    if (path.empty()) {
        message_ = Directory().Growth() > 0
                       ? "The growth of " + EscapeForDisplay(Directory().Dirname) +
                             " is spread out: no one directory below it holds half of it."
                       : EscapeForDisplay(Directory().Dirname) + " did not grow since " + FormatKey(setup_.Compare) +
                             ".";
        return;
    }
    // The answer is shown among its siblings, selected: their listing was
    // read on the way down.
    chain_.insert(chain_.end(), path.begin(), path.end() - 1);
    if (path.size() > 1) ShowRows(std::move(readBelow ? parent : listing));
    SelectDirname(path.back().Dirname, false);
    message_ = "The growth leads to " + EscapeForDisplay(path.back().Dirname) + " (" +
               GrowthText(path.back().Growth()) + ").";
}

void BrowseModel::ShowInfo() {
    const BrowseEntry& entry = selected_ >= 0 ? rows_[selected_] : Directory();
    const Entrytype type = entry.Files ? Entrytype::Files : Entrytype::Directory;
    // Both bases, each where the snapshot recorded it.
    const auto sizeIn = [&](const DateTime& snapshot, bool recorded, SizeBasis basis) -> std::string {
        if (basis == SizeBasis::Disk && !recorded) return "not recorded";
        std::optional<double> total;
        const StoreError error =
            FindDirectoryTotal(database_, entry.Dirname, snapshot, setup_.Style, total, type, basis);
        if (!error.Ok()) return StoreErrorText(setup_.DatabaseName, error);
        if (!total) return "not in the snapshot";
        return SizeText(*total) + " (" + FormatNumber(*total) + " bytes)";
    };
    panelTitle_ = "Details";
    panelLines_ = {
        "Name:             " + EscapeForDisplay(entry.Shortname),
        "Path:             " + EscapeForDisplay(entry.Dirname),
        std::string("Kind:             ") +
            (entry.Files ? "the files directly in its directory" : entry.HasChildren ? "directory" : "empty directory"),
        "Files:            " + FormatNumber(entry.FileCount),
        "Apparent size:    " + sizeIn(setup_.Snapshot, true, SizeBasis::Apparent),
        "Size on disk:     " + sizeIn(setup_.Snapshot, setup_.SnapshotOnDisk, SizeBasis::Disk),
    };
    if (Directory().Bytes > 0 && &entry != &Directory()) {
        panelLines_.push_back("Share of parent:  " + fmt::format("{:.1f} %", 100.0 * entry.Bytes / Directory().Bytes));
    }
    if (HasCompare()) {
        panelLines_.push_back("Compare snapshot: " + FormatKey(setup_.Compare));
        panelLines_.push_back("  apparent size:  " + sizeIn(setup_.Compare, true, SizeBasis::Apparent));
        panelLines_.push_back("  size on disk:   " + sizeIn(setup_.Compare, setup_.CompareOnDisk, SizeBasis::Disk));
        panelLines_.push_back((basis_ == SizeBasis::Disk ? "Growth on disk:   " : "Growth:           ") +
                              (GrowthKnown() ? GrowthText(entry.Growth()) : std::string(kNoFigure)));
    }
    panel_ = BrowsePanel::Info;
}

void BrowseModel::ShowTrend() {
    const std::string& directory = Directory().Dirname;
    std::vector<TrendPoint> points;
    const StoreError error =
        ReadTrend(database_, setup_.BasePath, directory, setup_.Style, setup_.Host, points, basis_);
    if (!error.Ok()) {
        Failed(error);
        return;
    }
    const Forecast full = ForecastFull(UsageOf(points));
    panelTitle_ = "Trend of " + EscapeForDisplay(directory) + BasisSuffix(basis_);
    panelLines_.clear();
    // The newest points that fit beside the heading, its rule and the forecast.
    const std::size_t fit = static_cast<std::size_t>(std::max(2, pageRows_ - 5));
    if (points.size() > fit) {
        // A line says how many went; it takes the place of one more.
        const std::size_t hidden = points.size() - (fit - 1);
        panelLines_.push_back(std::to_string(hidden) + " earlier snapshots not shown");
        points.erase(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(hidden));
    }
    std::ostringstream table;
    PrintAlignedTable(TrendCells(points, kAutoUnit, basis_), {false, true, true, true, true}, true, table);
    std::istringstream lines(table.str());
    for (std::string line; std::getline(lines, line);) panelLines_.push_back(line);
    panelLines_.push_back("");
    panelLines_.push_back(ForecastSummary(full, kAutoUnit));
    panel_ = BrowsePanel::Trend;
}

void BrowseModel::ShowHelp() {
    panelTitle_ = "Keys";
    panelLines_ = {
        "Up, Down, j, k       move the selection",
        "PgUp, PgDn           a screen up or down",
        "Home, End            first or last row",
        "Enter, Right, l      into the selected directory",
        "Left, h, Backspace   up to the parent directory",
        "s  n  C  g           order by size, name, files, growth (again: reverse)",
        "a                    apparent sizes or sizes on disk",
        "f                    follow the growth down to where it sits",
        "t                    trend of this directory and forecast",
        "i                    details of the selected entry",
        "?                    this help",
        "q                    quit (the browser only reads: it changes nothing)",
        "",
        "Growth is since the compare snapshot; (files) is a directory's own files.",
    };
    panel_ = BrowsePanel::Help;
}

void BrowseModel::Failed(const StoreError& error) { message_ = StoreErrorText(setup_.DatabaseName, error); }

}  // namespace corvina::cli
