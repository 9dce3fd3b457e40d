#include "analysis/AnalysisSession.h"

#include <utility>

#include "analysis/DirectoryTotal.h"
#include "analysis/GridLayout.h"
#include "store/HostLabel.h"

namespace corvina {

AnalysisSession::AnalysisSession(DatabaseState& database, SessionObserver& observer)
    : database_(database), observer_(observer) {}

// The store is asked in these helpers only, and each tells its own failures.

StoreError AnalysisSession::Reported(StoreError error) {
    if (!error.Ok()) observer_.ReadFailed(error);
    return error;
}

StoreError AnalysisSession::HasSnapshot(const DateTime& key, bool& exists) {
    exists = false;
    // Without a database there is no snapshot to find, and nothing failed.
    if (!database_.IsUsable()) return {};
    return Reported(SnapshotExists(database_, key, exists));
}

StoreError AnalysisSession::ReadRow(const DateTime& key, SnapshotInfo& row) {
    // A fresh row each time: a failed load leaves nothing of an earlier one.
    row = SnapshotInfo{};
    return Reported(LoadSnapshotInfo(database_, key, row));
}

StoreError AnalysisSession::ReadKeptHost(const DateTime& key, std::optional<std::string>& host) {
    return Reported(HostToKeepTo(database_, key, host));
}

StoreError AnalysisSession::DirectoryTotalIn(const DateTime& snapshot, const std::string& directory,
                                             Entrytype entrytype, std::optional<double>& total) {
    StoreError error =
        FindDirectoryTotal(database_, directory, snapshot, state_.Style, total, entrytype, state_.SizeBasis);
    if (!error.Ok()) observer_.DirectoryTotalFailed(error, directory);
    return error;
}

StoreError AnalysisSession::ReadRecorded(const DateTime& key, bool& diskFigures, std::vector<Exclusion>& exclusions) {
    StoreError error = HasDiskFigures(database_, key, diskFigures);
    if (error.Ok()) error = ReadExclusions(database_, key, exclusions);
    return Reported(error);
}

StoreError AnalysisSession::PreviousSnapshot(std::optional<DateTime>& previous) {
    return Reported(corvina::PreviousSnapshot(database_, state_.SnapshotDate, previous));
}

bool AnalysisSession::StillStored(const DateTime& key) {
    bool exists = false;
    HasSnapshot(key, exists);
    return exists;
}

void AnalysisSession::PreferPrime(const DateTime& key) {
    if (StillStored(key)) state_.SnapshotDate = key;
}

StoreError AnalysisSession::Restart() {
    state_.AnalysisKind = AnalysisKind::DirectoryDetails;
    state_.SizeUnit = 'M';
    state_.CompareSnapshotDate = DateTime{};
    Layout();
    state_.ChartType = ChartType::Bar2D;
    state_.ChartOrientation = 0;
    settings_.ChartColumn = 2;
    primeOpen_ = false;
    if (!state_.SnapshotDate.IsNull() && !StillStored(state_.SnapshotDate)) state_.SnapshotDate = DateTime{};
    if (!state_.SnapshotDate.IsNull()) return OpenPrime();
    return {};
}

StoreError AnalysisSession::ChoosePrime(const DateTime& key) {
    const bool reopen = !primeOpen_ || key != state_.SnapshotDate;
    state_.SnapshotDate = key;
    state_.CompareSnapshotDate = DateTime{};
    return reopen ? OpenPrime() : StoreError{};
}

StoreError AnalysisSession::OpenPrime() {
    StoreError error = ReadRow(state_.SnapshotDate, prime_);
    state_.Host.reset();
    if (error.Ok()) error = ReadKeptHost(state_.SnapshotDate, state_.Host);
    compareDiskFigures_ = false;
    compareExclusions_.clear();
    if (error.Ok()) error = ReadRecorded(state_.SnapshotDate, primeDiskFigures_, primeExclusions_);
    const std::string& base = prime_.InfoBasePath;
    state_.Style = PathStyleOfBasePath(base);
    // BasePath is the Control row's text, which DirectoryHistory matches; the
    // directory loses a trailing separator, except the file-system root "/",
    // as the walk wrote the Dir rows.
    state_.BasePath = base;
    state_.QueryDirectory = WithoutTrailingSeparators(base, state_.Style);
    state_.QueryEntrytype = Entrytype::Directory;
    state_.SelectedDirectory = base;
    state_.SizeThreshold = prime_.InfoFileLimit;
    state_.DirTotal = prime_.InfoTotalBytes;
    if (error.Ok() && state_.SizeBasis == SizeBasis::Disk) {
        std::optional<double> total;
        error = DirectoryTotalIn(state_.SnapshotDate, state_.QueryDirectory, state_.QueryEntrytype, total);
        state_.DirTotal = total.value_or(0);
    }
    FormSnapshotLabels(state_);
    primeOpen_ = true;
    return error;
}

CompareChoice AnalysisSession::ChooseCompare(const DateTime& key) {
    CompareChoice choice;
    // The prime snapshot went with the choice (deleted, or of the database
    // switched from): nothing to compare with.
    if (state_.SnapshotDate.IsNull()) return choice;
    // After a database switch the prime snapshot is read from the new one.
    if (!primeOpen_) {
        if (choice.Error = OpenPrime(); !choice.Error.Ok()) return choice;
    }
    SnapshotInfo row;
    choice.Error = ReadRow(key, row);
    choice.BasePath = row.InfoBasePath;
    if (!choice.Error.Ok() || row.InfoBasePath != prime_.InfoBasePath) return choice;
    state_.CompareSnapshotDate = key;
    choice.Error = OpenCompare(row);
    choice.Chosen = true;
    return choice;
}

StoreError AnalysisSession::OpenCompare(const SnapshotInfo& row) {
    compare_ = row;
    StoreError error = ReadRecorded(state_.CompareSnapshotDate, compareDiskFigures_, compareExclusions_);
    // The total of the directory the analyses look at, which after a
    // directory choice is not the base path.
    std::optional<double> total;
    if (error.Ok()) {
        error = DirectoryTotalIn(state_.CompareSnapshotDate, state_.QueryDirectory, state_.QueryEntrytype, total);
    }
    state_.CompareDirTotal = total.value_or(0);
    FormSnapshotLabels(state_);
    return error;
}

StoreError AnalysisSession::Swap() {
    if (state_.CompareSnapshotDate.IsNull()) return {};
    std::swap(state_.SnapshotDate, state_.CompareSnapshotDate);
    StoreError error = OpenPrime();
    SnapshotInfo row;
    if (StoreError read = ReadRow(state_.CompareSnapshotDate, row); error.Ok()) error = read;
    if (StoreError total = OpenCompare(row); error.Ok()) error = total;
    return error;
}

StoreError AnalysisSession::SelectDirectory(const std::string& directory, bool& found, Entrytype entrytype) {
    std::optional<double> total;
    StoreError error = DirectoryTotalIn(state_.SnapshotDate, directory, entrytype, total);
    state_.SelectedDirectory = directory;
    state_.QueryDirectory = directory;
    state_.QueryEntrytype = entrytype;
    state_.DirTotal = total.value_or(0);
    if (!state_.CompareSnapshotDate.IsNull()) {
        std::optional<double> compareTotal;
        // After a failure the compare total is not tried: the failure is said once.
        if (error.Ok()) error = DirectoryTotalIn(state_.CompareSnapshotDate, directory, entrytype, compareTotal);
        state_.CompareDirTotal = compareTotal.value_or(0);
    }
    found = total.has_value();
    return error;
}

void AnalysisSession::SetKind(AnalysisKind kind) {
    state_.AnalysisKind = kind;
    Layout();
}

void AnalysisSession::SetUnit(char unit) {
    state_.SizeUnit = unit;
    Layout();
}

void AnalysisSession::SetSizeBasis(SizeBasis basis) {
    state_.SizeBasis = basis;
    Layout();
    if (primeOpen_ && !state_.SnapshotDate.IsNull()) ReadTotals();
}

StoreError AnalysisSession::ReadTotals() {
    std::optional<double> total;
    StoreError error = DirectoryTotalIn(state_.SnapshotDate, state_.QueryDirectory, state_.QueryEntrytype, total);
    state_.DirTotal = total.value_or(0);
    if (!state_.CompareSnapshotDate.IsNull()) {
        std::optional<double> compareTotal;
        // After a failure the compare total is not tried: the failure is said once.
        if (error.Ok()) {
            error = DirectoryTotalIn(state_.CompareSnapshotDate, state_.QueryDirectory, state_.QueryEntrytype,
                                     compareTotal);
        }
        state_.CompareDirTotal = compareTotal.value_or(0);
    }
    return error;
}

void AnalysisSession::Layout() { LayoutResultGrid(state_, settings_, grid_); }

bool AnalysisSession::ExclusionsDiffer() const {
    return !state_.CompareSnapshotDate.IsNull() && primeExclusions_ != compareExclusions_;
}

std::optional<DateTime> AnalysisSession::WithoutDiskFigures() const {
    if (state_.CompareSnapshotDate.IsNull()) return std::nullopt;
    if (!primeDiskFigures_) return state_.SnapshotDate;
    if (!compareDiskFigures_) return state_.CompareSnapshotDate;
    return std::nullopt;
}

AnalysisOutcome AnalysisSession::Run() {
    AnalysisOutcome outcome = RunAnalysis(database_, state_, settings_, grid_);
    outcome.ExclusionsDiffer = EntryOf(state_.AnalysisKind).NeedsCompare && ExclusionsDiffer();
    if (outcome.Truncated == Truncation::AtRowLimit) observer_.ResultCut(state_.RowLimit);
    if (!outcome.Error.Ok()) observer_.AnalysisFailed(outcome.Title, outcome.Error);
    return outcome;
}

void AnalysisSession::SortOnColumn(int column) {
    if (settings_.ResultTruncated == Truncation::AtRowLimit) observer_.CutResultSorted();
    corvina::SortOnColumn(state_, settings_, grid_, column);
}

ChartData AnalysisSession::Chart() const { return DrawChart(state_, settings_, grid_); }

void AnalysisSession::ClearResult() {
    grid_.SetRowCount(1);
    grid_.SetFixedRows(1);
    if (ShortfallOf(state_.AnalysisKind) == Shortfall::CompareSnapshot) grid_.SetColumnCount(0);
}

bool AnalysisSession::ForgetMissingSnapshots(bool databaseChanged, bool choiceMade) {
    auto missing = [this](const DateTime& key) { return !key.IsNull() && !StillStored(key); };
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
    if (entry.NeedsCompare && entry.ReadsFiles && compare_.InfoCollectFiles != FilesRecorded::Yes) {
        return Shortfall::CompareFiles;
    }
    if (entry.ReadsFiles && prime_.InfoCollectFiles != FilesRecorded::Yes) return Shortfall::PrimeFiles;
    if (entry.NeedsCompare && state_.SizeBasis == SizeBasis::Disk && WithoutDiskFigures()) {
        return Shortfall::CompareOnDisk;
    }
    return Shortfall::None;
}

}  // namespace corvina
