#pragma once
// What the directory walk, the snapshot run and the programs that show a run
// share: the counters, the error and debug lists, the observer the walk
// reports to, the flags that steer it and the sink its rows go to. Nothing
// here knows of a database: the sink that writes rows belongs to the run.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"

namespace corvina {

// The five counters the take-snapshot window shows.
struct RunCounters {
    std::int64_t TotalDirs = 0;
    std::int64_t TotalFiles = 0;
    double TotalBytes = 0;
    std::int64_t CollectedFiles = 0;
    double CollectedBytes = 0;
};

struct ErrorEntry {
    std::string File;   // P followed by the entry's name (P alone for a listing failure)
    std::string Error;  // the platform's message for the error code
};

struct DebugEntry {
    std::string Path;        // F: P followed by the entry's name
    std::string Attributes;  // the decimal attribute value, left-aligned, 8 characters
};

enum class DebugAnswer { Continue, SwitchOff, Abort };

// What the walk reports, at the moments it reports them. Called on the thread
// that runs the walk, as often as the walk gets there (once per directory and
// more): an observer that shows things limits its own rate.
class WalkObserver {
public:
    virtual ~WalkObserver() = default;
    // "Processing directory " + Q at each directory's start and after every 101st file.
    virtual void OnStatus(const std::string& text) = 0;
    // After each directory.
    virtual void OnCounters(const RunCounters& counters) = 0;
    // Debug stop before the subdirectories of a directory that has some; blocks
    // until answered. title is "Files within " + P.
    virtual DebugAnswer OnDebugStop(const std::string& title, const std::vector<DebugEntry>& entries) = 0;
};

// Flags that another thread may change while the walk runs; read at each directory.
struct RunControl {
    std::atomic<bool> AbortFlag{false};
    std::atomic<bool> DebugMode{false};
};

// A file the walk collects, with the fields of its files row. The texts are
// the walk's own buffers: valid during the call only.
struct CollectedFile {
    std::string_view Filename;  // without directory
    std::int64_t Filesize = 0;
    std::string_view Filedir;   // the directory, no trailing separator ("/" for the root)
    int Fileattr = 0;           // attribute bits, as listed
    DateTime Filedate;          // last modification, local time
    std::int64_t Diskbytes = 0;  // its blocks in bytes; 0 at every name of an inode but the first
    std::int64_t Links = 1;      // the inode's number of names
    // false when Diskbytes and Links follow from Filesize (store/DiskUsage.h):
    // the file gets no Filedisk row.
    bool DiskRow = true;
};

// Receives the rows of a walk, in the walk's order. false means the row was
// not written and the walk must stop; the sink keeps why, for its owner to tell.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual bool FileRow(const CollectedFile& file) = 0;
    // diskBytes: the entry's blocks in bytes, counted as files and bytes are.
    virtual bool DirRow(std::string_view entryType, std::string_view entryName, std::int64_t files, double bytes,
                        std::int64_t diskBytes) = 0;
};

}  // namespace corvina
