#include "analysis/AnalysisSession.h"

#include <utility>

#include "analysis/DirectoryTotal.h"
#include "analysis/GridLayout.h"

namespace corvina {

AnalysisSession::AnalysisSession(DatabaseState& database, Prompter& prompter)
    : database_(database), prompter_(prompter) {}

// The store is asked in these four helpers only.

bool AnalysisSession::HasSnapshot(const DateTime& key) {
    return database_.IsUsable() && SnapshotExists(database_, key);
}

SnapshotInfo AnalysisSession::ReadRow(const DateTime& key) {
    // A fresh row each time: a failed load leaves nothing of an earlier one.
    SnapshotInfo row;
    LoadSnapshotInfo(database_, prompter_, key, row);
    return row;
}

std::optional<double> AnalysisSession::DirectoryTotalIn(const DateTime& snapshot, const std::string& directory) {
    return FindDirectoryTotal(database_, directory, snapshot, state_.Style);
}

std::optional<DateTime> AnalysisSession::PreviousSnapshot() {
    return corvina::PreviousSnapshot(database_, state_.SnapshotDate);
}

void AnalysisSession::PreferPrime(const DateTime& key) {
    if (HasSnapshot(key)) state_.SnapshotDate = key;
}

void AnalysisSession::Restart() {
    state_.AnalysisKind = AnalysisKind::DirectoryDetails;
    state_.SizeUnit = 'M';
    state_.CompareSnapshotDate = DateTime{};
    Layout();
    state_.ChartType = kChart2DBar;
    state_.ChartOrientation = 0;
    settings_.ChartColumn = 2;
    primeOpen_ = false;
    if (!state_.SnapshotDate.IsNull() && !HasSnapshot(state_.SnapshotDate)) state_.SnapshotDate = DateTime{};
    if (!state_.SnapshotDate.IsNull()) OpenPrime();
}

bool AnalysisSession::ChoosePrime(const DateTime& key) {
    const bool reopen = !primeOpen_ || key != state_.SnapshotDate;
    state_.SnapshotDate = key;
    state_.CompareSnapshotDate = DateTime{};
    return reopen ? OpenPrime() : true;
}

bool AnalysisSession::OpenPrime() {
    prime_ = ReadRow(state_.SnapshotDate);
    const std::string& base = prime_.InfoBasePath;
    state_.Style = PathStyleOfBasePath(base);
    // BasePath is the Control row's text, which DirectoryHistory matches; the
    // directory loses a trailing separator, except the file-system root "/",
    // as the walk wrote the Dir rows.
    state_.BasePath = base;
    state_.QueryDirectory = WithoutTrailingSeparators(base, state_.Style);
    state_.SelectedDirectory = base;
    state_.SizeThreshold = prime_.InfoFileLimit;
    state_.DirTotal = prime_.InfoTotalBytes;
    FormSnapshotLabels(state_);
    primeOpen_ = true;
    return !base.empty();
}

CompareChoice AnalysisSession::ChooseCompare(const DateTime& key) {
    CompareChoice choice;
    // The prime snapshot went with the choice (deleted, or of the database
    // switched from): nothing to compare with.
    if (state_.SnapshotDate.IsNull()) return choice;
    // After a database switch the prime snapshot is read from the new one.
    if (!primeOpen_) OpenPrime();
    SnapshotInfo row = ReadRow(key);
    choice.BasePath = row.InfoBasePath;
    if (row.InfoBasePath != prime_.InfoBasePath) return choice;
    state_.CompareSnapshotDate = key;
    OpenCompare(row);
    choice.Chosen = true;
    return choice;
}

void AnalysisSession::OpenCompare(const SnapshotInfo& row) {
    compare_ = row;
    // The total of the directory the analyses look at, which after a
    // directory choice is not the base path.
    state_.CompareDirTotal = DirectoryTotalIn(state_.CompareSnapshotDate, state_.QueryDirectory).value_or(0);
    FormSnapshotLabels(state_);
}

void AnalysisSession::Swap() {
    if (state_.CompareSnapshotDate.IsNull()) return;
    std::swap(state_.SnapshotDate, state_.CompareSnapshotDate);
    OpenPrime();
    OpenCompare(ReadRow(state_.CompareSnapshotDate));
}

bool AnalysisSession::SelectDirectory(const std::string& directory) {
    const std::optional<double> total = DirectoryTotalIn(state_.SnapshotDate, directory);
    state_.SelectedDirectory = directory;
    state_.QueryDirectory = directory;
    state_.DirTotal = total.value_or(0);
    if (!state_.CompareSnapshotDate.IsNull()) {
        state_.CompareDirTotal = DirectoryTotalIn(state_.CompareSnapshotDate, directory).value_or(0);
    }
    return total.has_value();
}

void AnalysisSession::SetKind(AnalysisKind kind) {
    state_.AnalysisKind = kind;
    Layout();
}

void AnalysisSession::SetUnit(char unit) {
    state_.SizeUnit = unit;
    Layout();
}

void AnalysisSession::Layout() { LayoutResultGrid(state_, settings_, grid_); }

AnalysisOutcome AnalysisSession::Run() { return RunAnalysis(database_, prompter_, state_, settings_, grid_); }

void AnalysisSession::SortOnColumn(int column) { corvina::SortOnColumn(prompter_, state_, settings_, grid_, column); }

ChartData AnalysisSession::Chart() const { return DrawChart(state_, settings_, grid_); }

void AnalysisSession::ClearResult() {
    grid_.SetRowCount(1);
    grid_.SetFixedRows(1);
}

bool AnalysisSession::ForgetMissingSnapshots(bool databaseChanged, bool choiceMade) {
    auto missing = [this](const DateTime& key) { return !key.IsNull() && !HasSnapshot(key); };
    if (databaseChanged) primeOpen_ = false;
    if (missing(state_.CompareSnapshotDate)) state_.CompareSnapshotDate = DateTime{};
    if (!missing(state_.SnapshotDate) && !(databaseChanged && !choiceMade)) return false;
    state_.SnapshotDate = DateTime{};
    state_.CompareSnapshotDate = DateTime{};
    primeOpen_ = false;
    return true;
}

Shortfall AnalysisSession::ShortfallOf(AnalysisKind kind) const {
    const AnalysisEntry& entry = EntryOf(kind);
    if (entry.NeedsCompare && state_.CompareSnapshotDate.IsNull()) return Shortfall::CompareSnapshot;
    if (entry.NeedsCompare && entry.ReadsFiles && compare_.InfoCollectFiles != "Y") return Shortfall::CompareFiles;
    if (entry.ReadsFiles && prime_.InfoCollectFiles != "Y") return Shortfall::PrimeFiles;
    return Shortfall::None;
}

}  // namespace corvina
