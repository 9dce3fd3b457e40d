#pragma once
// The directory walk: lists each directory once, hands a row for every
// collected file, a files entry and, after its subdirectories, a directory
// entry to a sink, and keeps the run counters, the error list and the debug
// list. It knows nothing of the database: the sink belongs to the snapshot run.
// Directories may be read ahead on other threads (capture/ListingPrefetch.h);
// the sink and the observer are called on the walk's thread only, in the same
// order whatever the number of threads.
//
// Error policy: a failure of the file system is data. It goes into the error
// list and the walk goes on, until the 101st error ends the walk. A row the
// sink refuses ends the walk as an abort does (the sink keeps why). The walk
// says nothing itself: how it ended is in its result.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/PathStyle.h"
#include "capture/FileSystem.h"
#include "capture/SortNames.h"
#include "capture/WalkTypes.h"
#include "base/Exclusion.h"

namespace corvina {

// After this many errors the walk gives up.
inline constexpr int kMaxErrors = 100;
// What a walk that gave up so is told with, as of the moment it stopped.
inline constexpr std::string_view kTooManyErrors = "Snapshot aborted due to excessive number of errors";
// The status text is refreshed after every this many files of a directory.
inline constexpr int kStatusEveryFiles = 101;

struct WalkOptions {
    bool CollectFiles = false;
    std::int64_t SizeThreshold = 0;
    bool CrossFileSystems = false;
    PathStyle Style = kNativePathStyle;
    // Threads that list and read entries ahead of the walk; 0 is
    // DefaultWalkThreads(), 1 reads everything on the walk's own thread. A
    // file system without ConcurrentCalls() is always read on one.
    int Threads = 0;
    // What the walk leaves out (capture/ExclusionFilter.h says how).
    std::vector<Exclusion> Exclusions;
};

// A small multiple of the cores, at least 4: most of a listing's time on a
// network file system or a cold disk is spent waiting, not computing.
int DefaultWalkThreads();

// What a walk leaves behind for the run.
struct WalkResult {
    RunCounters Counters;
    std::vector<ErrorEntry> ErrorList;
    std::int64_t Files = 0;  // the base directory's subtree totals
    double Bytes = 0;
    std::int64_t DiskBytes = 0;           // its blocks in bytes, as du counts them
    std::int64_t CollectedDiskBytes = 0;  // the blocks of the files rows
    std::int64_t BlockUnit = 0;           // the base's block size, by which the files rows' blocks are derived
    bool RowFailed = false;  // the sink refused a row (AbortFlag is then set)

    int ErrorCount() const { return static_cast<int>(ErrorList.size()); }
    // The 101st error ended the walk.
    bool ErrorLimitReached() const { return ErrorCount() > kMaxErrors; }
};

// Walks basePath (as entered: no trailing separator, "/" for the root).
WalkResult WalkDirectory(const std::string& basePath, const WalkOptions& options, FileSystem& fileSystem,
                         RowSink& sink, RunControl& control, WalkObserver& observer);

}  // namespace corvina
