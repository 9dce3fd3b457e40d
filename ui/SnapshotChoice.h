#pragma once
// The snapshot choice between the analysis window and the selection window:
// what the selection window is asked to choose, what it answers, and which
// prime snapshot the analysis window's tree was built for. It lives as long
// as the program (the launcher owns it, beside the AnalysisSession), so that
// the analysis window can be closed by "&Take Snaphot" and opened again; the
// windows only borrow it.

#include <string>

#include "base/DateTime.h"

namespace corvina {

struct SnapshotChoice {
    // Asked of the selection window.
    int SelectionMode = 0;           // 0 choose the prime snapshot, 1 the compare snapshot
    std::string SelectionBasePath;   // "" = every base path is offered
    DateTime PrimeSnapshotDate;      // mode 1: the prime snapshot, refused as its own compare snapshot

    // Its answer, taken by the analysis window once the selection window is gone.
    bool SnapshotChosen = false;  // set by OK, cleared when the choice is taken
    DateTime ChosenSnapshot;
    int PathSnapshotCount = 0;    // snapshots of the base path last listed

    DateTime TreeSnapshotDate;  // the prime snapshot the tree was last built for
};

}  // namespace corvina
