#pragma once
// AnalysisSession: the analyses of one snapshot database as the user drives
// them, without a window. It answers every "what happens when the user picks
// X": which snapshot is the prime one and which the compare one, the directory
// the analyses look at, the kind and the unit; it runs the current analysis
// and sorts its grid. The analysis window and "corvina-cli analyse" both drive
// one; the window only shows what the session holds.
//
// The session owns the analysis state, the grid settings, the result grid and
// the catalogue rows of the two snapshots; the database and the observer are
// borrowed and must outlive it. A window program keeps one session for as
// long as it runs, so that a reopened analysis window finds its snapshot again.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h).
// The session tells its observer of each failure of the database, of a result
// cut at the row limit and of a sort of such a result (SessionObserver.h), and
// returns the failure; the state then holds what each function says, so that
// a window can go on. Refusals that are not failures (a snapshot of another
// base path, a directory the snapshot does not hold) are returned as data.
// The session shows nothing: the wording of all of it is the caller's.

#include <optional>
#include <string>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisRun.h"
#include "analysis/AnalysisState.h"
#include "analysis/ChartData.h"
#include "analysis/DiskFigures.h"
#include "analysis/ResultGrid.h"
#include "analysis/SessionObserver.h"
#include "store/Catalogue.h"
#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

// What a kind needs that the chosen snapshots lack, first lack first.
enum class Shortfall {
    None,
    CompareSnapshot,  // it compares, and no compare snapshot is chosen
    CompareFiles,     // it compares files, and the compare snapshot recorded none
    PrimeFiles,       // it reads files, and the prime snapshot recorded none
    CompareOnDisk,    // it compares on disk, and a snapshot has no on-disk figures
};

// What ChooseCompare did. A snapshot of another base path is refused: its
// directories do not line up with the prime snapshot's.
struct CompareChoice {
    bool Chosen = false;
    std::string BasePath;  // of the snapshot offered, as its catalogue row says
    StoreError Error;      // a failure to read the snapshots, told already
};

class AnalysisSession {
public:
    AnalysisSession(DatabaseState& database, SessionObserver& observer);
    AnalysisSession(const AnalysisSession&) = delete;
    AnalysisSession& operator=(const AnalysisSession&) = delete;

    const AnalysisState& State() const { return state_; }
    const GridSettings& Settings() const { return settings_; }
    const ResultGrid& Grid() const { return grid_; }
    // Catalogue rows of the two snapshots as last read.
    const SnapshotInfo& PrimeInfo() const { return prime_; }
    const SnapshotInfo& CompareInfo() const { return compare_; }
    // What the two snapshots left out, as last read (none without a compare snapshot).
    const std::vector<Exclusion>& PrimeExclusions() const { return primeExclusions_; }
    const std::vector<Exclusion>& CompareExclusions() const { return compareExclusions_; }
    // Whether a compare snapshot is chosen and the two left out different entries.
    bool ExclusionsDiffer() const;
    // The chosen snapshot, the prime one first, that has no on-disk figures,
    // so that the two cannot be compared on disk; nullopt when both have
    // them or no compare snapshot is chosen.
    std::optional<DateTime> WithoutDiskFigures() const;
    // Whether the prime and the compare snapshot have on-disk figures (the
    // compare's false while none is chosen).
    bool PrimeHasDiskFigures() const { return primeDiskFigures_; }
    bool CompareHasDiskFigures() const { return compareDiskFigures_; }

    // Whether the open database has a snapshot with this key (false when no
    // database is open).
    StoreError HasSnapshot(const DateTime& key, bool& exists);

    // The snapshot the next Restart opens, when the database has it (a
    // snapshot just taken, say). After a failure to look, it is not.
    void PreferPrime(const DateTime& key);
    // A fresh start on the same prime snapshot: DirectoryDetails in
    // megabytes, a vertical 2D bar chart of the size column, no compare
    // snapshot, the grid laid out; the size basis stays as it was set. The
    // prime snapshot is read again at its base path; one the database no
    // longer has, or that could not be looked up, is forgotten.
    StoreError Restart();

    // Makes key the prime snapshot and drops the compare snapshot. A
    // snapshot other than the one open is read at its base path; choosing
    // the open one again keeps the directory. A catalogue row that could not
    // be read or is missing (StoreCode::Missing) leaves the base path "".
    StoreError ChoosePrime(const DateTime& key);
    // Makes key the compare snapshot when it is of the prime snapshot's base
    // path. Nothing is run: the grid keeps the current result.
    CompareChoice ChooseCompare(const DateTime& key);
    // The newest snapshot of the prime snapshot's base path taken before it;
    // nullopt when there is none.
    StoreError PreviousSnapshot(std::optional<DateTime>& previous);
    // The compare snapshot becomes the prime one and the other way round;
    // both are read again, at the base path.
    StoreError Swap();
    // Points the analyses at a directory of the prime snapshot, or at a
    // "(files)" entry of its tree (Entrytype::Files), and takes its totals.
    // found is false when the prime snapshot has no such entry. A total that
    // is missing or could not be read counts 0; the entry is selected all
    // the same.
    StoreError SelectDirectory(const std::string& directory, bool& found,
                               Entrytype entrytype = Entrytype::Directory);

    // Each lays the grid out again for the next run.
    void SetKind(AnalysisKind kind);
    void SetUnit(char unit);
    // The totals of the selected directory are read again in the basis.
    void SetSizeBasis(SizeBasis basis);
    // Rows the grid holds below its headings; 0: every row (AnalysisState).
    void SetRowLimit(int rows) { state_.RowLimit = rows; }
    void SetChartType(ChartType type) { state_.ChartType = type; }
    void SetChartOrientation(int orientation) { state_.ChartOrientation = orientation; }

    // The observer hears of a failure and of a cut result before this returns.
    // A comparison's outcome says whether its snapshots' exclusions differ.
    AnalysisOutcome Run();
    // A click on a column heading or cell (SortOnColumn in AnalysisRun.h); a
    // cut result is told to the observer before it is sorted.
    void SortOnColumn(int column);
    ChartData Chart() const;
    // Only the heading row stays. A comparison without its compare snapshot
    // loses its headings as well: they would name the dates of snapshots no
    // longer chosen, or a blank one.
    void ClearResult();

    // After the snapshot choice (which may have deleted snapshots or switched
    // the database): drops keys the database no longer has, or that could not
    // be looked up (told to the observer). After a switch,
    // the snapshots are read again when next chosen; unless a choice was made
    // meanwhile, the old keys name nothing here and go. true when the prime
    // snapshot went (the compare snapshot with it).
    bool ForgetMissingSnapshots(bool databaseChanged, bool choiceMade);

    Shortfall ShortfallOf(AnalysisKind kind) const;

private:
    StoreError Reported(StoreError error);
    StoreError ReadRow(const DateTime& key, SnapshotInfo& row);
    StoreError ReadKeptHost(const DateTime& key, std::optional<std::string>& host);
    StoreError DirectoryTotalIn(const DateTime& snapshot, const std::string& directory, Entrytype entrytype,
                                std::optional<double>& total);
    // The totals of QueryDirectory in both snapshots, in the basis.
    StoreError ReadTotals();
    // Whether it has on-disk figures and what it left out.
    StoreError ReadRecorded(const DateTime& key, bool& diskFigures, std::vector<Exclusion>& exclusions);
    // Whether the snapshot is there; a failure to look is told, and counts as no.
    bool StillStored(const DateTime& key);
    StoreError OpenPrime();
    StoreError OpenCompare(const SnapshotInfo& row);
    void Layout();

    DatabaseState& database_;
    SessionObserver& observer_;
    AnalysisState state_;
    GridSettings settings_;
    ResultGrid grid_;
    SnapshotInfo prime_;
    SnapshotInfo compare_;
    bool primeDiskFigures_ = false;
    bool compareDiskFigures_ = false;
    std::vector<Exclusion> primeExclusions_;
    std::vector<Exclusion> compareExclusions_;
    bool primeOpen_ = false;  // prime_ and the directory belong to state_.SnapshotDate
};

}  // namespace corvina
