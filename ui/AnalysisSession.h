#pragma once
// The state of the analysis side of the window program: which snapshots are
// chosen, what the selection window is asked to choose, the analysis inputs
// and the result grid. It lives as long as the program (the program's start-up
// owns it), so that the analysis window can be closed by "&Take Snaphot" and
// opened again on the same choices; the analysis and selection windows only
// borrow it.

#include <string>

#include "analysis/AnalysisState.h"
#include "analysis/ResultGrid.h"
#include "store/DateTime.h"

namespace corvina {

struct AnalysisSession {
    // The analysis inputs: AnalysisKind, SnapshotDate (null = none chosen),
    // CompareSnapshotDate (null = none), directories, totals, unit, labels and
    // chart preferences.
    AnalysisState State;
    GridSettings Grid;
    ResultGrid Result;

    DateTime TreeSnapshotDate;   // the prime snapshot the tree was last built for
    bool SnapshotChosen = false;  // set by a choice, cleared by the activation
    int SelectionMode = 0;       // 0 choose the prime snapshot, 1 the compare snapshot
    std::string SelectionBasePath;  // "" = every base path is offered
    int PathSnapshotCount = 0;      // snapshots of the base path last listed

    std::string SnapshotBasePath;
    std::string SnapshotDescription;
    std::string CollectFiles;         // "Y" when the prime snapshot recorded files rows
    std::string CompareCollectFiles;  // the same for the compare snapshot
};

}  // namespace corvina
