#pragma once
// The rows of one run into a database of the history layout
// (store/HistoryLayout.h): each row is compared with what held at the chain's
// latest snapshot, and only what differs is written. A changed row closes its
// span at that snapshot and opens a new one; a row that is gone closes; an
// unchanged one is not touched.
//
// Rows come as the walk makes them: a directory's files together, then its
// files entry, and its directory entry after its subdirectories. The files of
// a batch of directories are compared with what they held in one read; a
// directory whose files come in several groups (never from the walk) is
// still written exactly, only slower.
//
// Error policy: as every function of store/ (StoreError.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/DateTime.h"
#include "base/PathStyle.h"
#include "store/DatabaseState.h"
#include "store/RowAppender.h"
#include "store/Statement.h"

namespace corvina {

struct ControlRow;

class HistoryRun {
public:
    struct Context {
        std::string Key;
        std::string Basepath;
        std::string Hostname;
        int BaseLevel = 0;
        PathStyle Style = kNativePathStyle;
        // Other runs may write into the database meanwhile (a server's):
        // new paths are numbered and stored as runs that meet them alike
        // can share them (HistoryWriter.cpp).
        bool BesideOtherRuns = false;
    };

    explicit HistoryRun(DatabaseState& state, Context context);
    ~HistoryRun();

    const std::string& Key() const { return context_.Key; }

    StoreError DirRow(std::string_view entryType, std::string_view entryName, std::int64_t files, double bytes);
    // The on-disk figure of the entry DirRow was given last.
    StoreError DirDisk(std::string_view entryType, std::string_view entryName, std::int64_t diskBytes);
    StoreError FileRow(std::string_view dir, std::string_view name, std::int64_t size, std::string_view type, int attributes,
                       std::string_view date);
    // The on-disk figures of the file FileRow was given last.
    StoreError FileDisk(std::string_view dir, std::string_view name, std::int64_t diskBytes, std::int64_t links);

    // Writes what is held, closes what is gone and adds the Snap row: the end
    // of the run's rows, inside its transaction.
    StoreError Finish(const ControlRow& row, std::optional<std::int64_t> instant, std::optional<int> utcOffset);
    // The same without the Snap row, which the caller then adds with the
    // snapshot's id and chain.
    StoreError FinishRows();
    std::int64_t SnapId() const { return snap_; }
    std::int64_t ChainId() const { return chain_; }

private:
    struct DirValues {
        std::int64_t Files = 0;
        double Bytes = 0;
        std::optional<std::int64_t> Disk;
        bool operator==(const DirValues&) const = default;
    };
    // A path of the chain by its text: its row, and for each entry type
    // ("1", "2") what held at the previous snapshot and whether it came again.
    struct KnownPath {
        std::int64_t Path = 0;
        std::optional<DirValues> Held[2];
        bool Seen[2] = {false, false};
    };
    struct FileValues {
        std::int64_t Size = 0;
        std::int64_t Attributes = 0;
        std::string Date;
        bool DateNull = true;
        std::optional<std::int64_t> Disk;
        std::optional<std::int64_t> Links;
        bool operator==(const FileValues&) const = default;
    };
    struct PendingFile {
        std::string Name;
        std::string Type;
        FileValues Values;
    };
    struct HeldFile {
        std::string Name;
        FileValues Values;
    };
    // Directories whose files wait to be compared, at most kBatchPaths of
    // them or about kBatchFiles files.
    struct Group {
        std::int64_t Path = 0;
        std::vector<PendingFile> Files;
    };
    static constexpr std::size_t kBatchPaths = 128;
    static constexpr std::size_t kBatchFiles = 8192;

    StoreError Begin();
    StoreError ResolvePath(std::string_view dirname, std::int64_t& id);
    // The same for a path known not to be in known_ yet.
    StoreError ResolveNewPath(std::string_view dirname, std::int64_t& id);
    StoreError FlushDir();
    StoreError FlushFiles();
    StoreError Enqueue(std::int64_t path, std::vector<PendingFile> files);
    StoreError FlushBatch();
    StoreError MergeGroup(std::int64_t path, std::vector<PendingFile>& files, std::vector<HeldFile>& held);
    StoreError WriteFileSpan(std::int64_t path, const PendingFile& file);
    StoreError CloseFile(std::int64_t path, std::string_view name);
    StoreError RewriteAgain(std::int64_t path, std::vector<PendingFile>& files);
    StoreError CloseGone();
    // A new path of a run beside others, stored with the next few hundred.
    struct SharedPath {
        std::int64_t Id = 0, Parent = 0;
        std::string Name, Shortname;
        int Level = 0;
    };
    StoreError AddSharedPath(SharedPath path);
    StoreError FlushSharedPaths();
    static constexpr std::size_t kSharedPaths = 256;
    static constexpr int kSharedPathTries = 5;

    DatabaseState& state_;
    Context context_;
    bool begun_ = false;
    std::int64_t chain_ = 0, snap_ = 0, nextPath_ = 0;
    // The First of the spans this run opens: 0 when it is its chain's first.
    std::int64_t OpenedAt() const { return previous_ ? snap_ : 0; }
    std::optional<std::int64_t> previous_;
    bool previousFiles_ = false;  // spans of files are open in the chain
    bool pathsBefore_ = false;    // the database held paths when the run began

    // Every path met or held, by its text: one entry per directory keeps
    // the memory of a run small on a tree of a million directories.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, KnownPath, TextHash, std::equal_to<>> known_;
    std::unordered_set<std::int64_t> merged_;  // directories whose files were compared

    // The entry given last, until its on-disk figure or the next row; its
    // text is kept in one buffer for the whole run.
    bool pending_ = false;
    std::string pendingType_, pendingName_;
    DirValues pendingValues_;
    std::string filesDir_;
    std::vector<PendingFile> files_;
    std::vector<Group> batch_;
    std::size_t batchFiles_ = 0;

    RowAppender pathRows_, dirRows_, fileRows_;
    Statement findPath_, openFiles_, closeDir_, closeFile_, closeFilesOf_;
    // Beside other runs: the side connection that stores new paths at once.
    std::unique_ptr<DatabaseState> side_;
    Statement addPaths_, checkPaths_;
    std::vector<SharedPath> sharedPaths_;
};

}  // namespace corvina
