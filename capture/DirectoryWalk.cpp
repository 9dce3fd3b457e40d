// The directory walk. A directory's listing is read to its end before any of
// its subdirectories is entered: listings are never nested on a thread, and
// a descriptor stays open only until its subdirectories have been opened. With
// more than one thread, workers (capture/ListingPrefetch.h) list the
// directories the walk will reach next; the walk replays each listing entry by
// entry exactly as it would have read it, so rows, errors and status do not
// depend on the number of threads.
//
// The walk keeps its own stack of per-directory frames instead of recursing,
// so that a tree deeper than the thread's stack (any user can make one with
// mkdir in a loop) cannot overflow it. A frame holds the subdirectory names of
// its directory while their subtrees are walked; frames are reused, so memory
// grows with the depth and the widest directory, never with the number of
// files. Nothing done once per directory copies the whole path: in a deep
// tree that would cost the square of the depth.
//
// A subdirectory that cannot be opened because the process has no descriptor
// left (a tree deeper than the descriptor limit) is an error entry like any
// other. Giving the ancestors' descriptors back and reopening them by name
// later would walk a directory renamed meanwhile under its old path.
//
// Bytes on disk are counted as du -x counts them: every entry's blocks (a
// directory's own, a link's, a special file's), a file with several names
// once, at the first of them. The workers only read each entry's blocks and
// inode; which name comes first is decided here, as the listing is replayed,
// because the replay is the one thing in the same order whatever the number
// of threads: the order of the rows. The set of inodes seen holds only those
// with more than one name, so it stays small on any ordinary tree. A file
// system mounted below the base, recorded empty, counts nothing on disk, as
// du -x leaves it out.

#include <algorithm>
#include <deque>
#include <memory>
#include <thread>
#include <unordered_set>

#include "capture/DirectoryWalk.h"
#include "capture/ExclusionFilter.h"
#include "capture/ListingPrefetch.h"
#include "store/DiskUsage.h"

namespace corvina {

namespace {

constexpr std::string_view kProcessing = "Processing directory ";
constexpr std::string_view kFilesEntry = "(files)";

// A file with several names, by the file system and inode it lives on.
struct InodeKey {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    bool operator==(const InodeKey&) const = default;
};
struct InodeHash {
    std::size_t operator()(const InodeKey& key) const {
        return std::hash<std::uint64_t>()(key.Inode * 0x9E3779B97F4A7C15ULL ^ key.Device);
    }
};

// One directory of the current path, as the walk sees it: the listing, the
// totals of its subtree so far and how far its subdirectories are walked.
struct Frame {
    std::shared_ptr<ListedDirectory> Dir;
    std::size_t Next = 0;          // how many subdirectories have been entered
    std::size_t ParentLength = 0;  // the path buffer's length before this directory's name
    std::int64_t Files = 0;
    double Bytes = 0;
    std::int64_t OwnDisk = 0;  // the directory's own blocks, in bytes
    std::int64_t Disk = 0;     // its files' blocks, and then its subtrees'
    std::vector<DebugEntry> DebugList;

    void Reset(std::size_t parentLength, std::shared_ptr<ListedDirectory> dir) {
        Dir = std::move(dir);
        Next = 0;
        ParentLength = parentLength;
        Files = 0;
        Bytes = 0;
        OwnDisk = Dir ? Dir->DiskBytes : 0;
        Disk = 0;
        DebugList.clear();
    }
    std::int64_t SubtreeDisk() const { return OwnDisk + Disk; }
};

class Walker {
public:
    Walker(const WalkOptions& options, FileSystem& fileSystem, RowSink& sink, RunControl& control,
           WalkObserver& observer)
        : options_(options),
          fs_(fileSystem),
          sink_(sink),
          control_(control),
          observer_(observer),
          separator_(Separator(options.Style)),
          exclusions_(options.Exclusions, options.Style) {}

    WalkResult Run(const std::string& basePath) {
        line_.assign(kProcessing).append(WalkPathOf(basePath, options_.Style));
        if (!control_.AbortFlag.load()) WalkBase(basePath);
        return std::move(result_);
    }

private:
    // P of the directory being walked. The path lives in the status line's
    // buffer, after "Processing directory ", so that the status costs no copy.
    std::string_view Path() const { return std::string_view(line_).substr(kProcessing.size()); }

    // Q: the directory's path without its trailing separator; the POSIX root stays "/".
    std::string_view DirectoryName() const {
        std::string_view p = Path();
        return p.size() > 1 ? p.substr(0, p.size() - 1) : p;
    }

    // The error routine: records the entry; true when the walk must end.
    bool Error(std::string_view name, int code) {
        ErrorEntry entry;
        std::string_view path = Path();
        entry.File.reserve(path.size() + name.size());
        entry.File.append(path).append(name);
        entry.Error = fs_.ErrorText(code);
        result_.ErrorList.push_back(std::move(entry));
        return result_.ErrorLimitReached();
    }

    // "Processing directory " + Q is the line buffer with its last separator
    // held back for the call.
    void Status() {
        const bool trim = Path().size() > 1;
        const char last = line_.back();
        if (trim) line_.pop_back();
        observer_.OnStatus(line_);
        if (trim) line_.push_back(last);
    }

    Frame& FrameAt(std::size_t depth) {
        while (frames_.size() <= depth) frames_.emplace_back();
        return frames_[depth];
    }

    void WalkBase(const std::string& basePath) {
        auto base = std::make_shared<ListedDirectory>();
        EntryStat stat;
        base->OpenCode = fs_.OpenDirectory(basePath, base->Handle, stat);
        base->Opened = true;
        base->DiskBytes = stat.DiskBytes();
        result_.BlockUnit = base->OpenCode == 0 ? stat.BlockSize : 0;
        baseDevice_ = stat.Device;
        listing_.CrossFileSystems = options_.CrossFileSystems;
        listing_.BaseDevice = baseDevice_;
        if (!exclusions_.Empty()) listing_.Exclusions = &exclusions_;
        // A double that keeps one listing for all callers is read on one thread.
        const int threads = options_.Threads > 0 ? options_.Threads : DefaultWalkThreads();
        if (threads > 1 && fs_.ConcurrentCalls()) {
            prefetcher_ = std::make_unique<Prefetcher>(fs_, listing_, threads, control_.AbortFlag);
        }
        Frame& frame = FrameAt(0);
        frame.Reset(line_.size(), std::move(base));
        if (EnterDirectory(frame)) WalkSubtrees();
        result_.Files = frame.Files;
        result_.Bytes = frame.Bytes;
        result_.DiskBytes = frame.SubtreeDisk();
        if (prefetcher_) prefetcher_->Stop();
        ReleaseFrames();
    }

    // Drops the directories still held, deepest first: a directory owns its
    // subdirectories, and freeing a deep path from its top would recurse once
    // per level.
    void ReleaseFrames() {
        for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
            if (frame->Dir) frame->Dir->Children.clear();
            frame->Dir.reset();
        }
    }

    // Walks below the base, depth first, one subdirectory per turn. frames_
    // is a deque: a frame stays where it is while deeper frames are added.
    void WalkSubtrees() {
        std::size_t depth = 0;  // the innermost directory whose subdirectories are being walked
        for (;;) {
            Frame& frame = frames_[depth];
            // After an abort no further subdirectory is entered; the
            // directories on the path still finish.
            if (frame.Next < frame.Dir->Subs.Order.size() && !control_.AbortFlag.load()) {
                if (EnterNext(depth)) {
                    ++depth;
                    continue;
                }
                if (result_.ErrorLimitReached()) return;
                Leave(frame, frames_[depth + 1]);
                continue;
            }
            // Cut short, the directory still has subdirectories a worker may
            // be opening from its descriptor: the workers stop before it is
            // closed, or one would open from a closed (or reused) descriptor.
            if (prefetcher_ && control_.AbortFlag.load()) prefetcher_->Stop();
            frame.Dir->Handle.Close();
            FinishDirectory(frame.Files, frame.Bytes, frame.SubtreeDisk());
            if (depth == 0) return;
            --depth;
            Leave(frames_[depth], frame);
        }
    }

    // Enters the next subdirectory of the directory at depth. true when it
    // has subdirectories of its own to walk; false when it is done, or when
    // the walk must end.
    bool EnterNext(std::size_t depth) {
        Frame& parent = frames_[depth];
        const std::size_t k = parent.Next++;
        const Subdirectories& subs = parent.Dir->Subs;
        std::string_view name = subs.Views[subs.Order[k]];
        Frame& child = FrameAt(depth + 1);
        child.Reset(line_.size(), parent.Dir->Children[k]);
        line_.append(name).push_back(separator_);
        if (!child.Dir) {
            // A file system mounted below the base: recorded as an empty directory.
            Status();
            result_.Counters.TotalDirs += 1;
            FinishDirectory(0, 0, 0);
            return false;
        }
        return EnterDirectory(child);
    }

    // Back from a finished subdirectory: its totals join its parent's, and
    // its listing is dropped.
    void Leave(Frame& parent, Frame& child) {
        // Once the walk is ending, the workers stop before a directory is
        // let go: one left half-walked may still be read by a worker (its
        // subdirectories opened, or waiting to be read ahead).
        if (prefetcher_ && control_.AbortFlag.load()) prefetcher_->Stop();
        line_.resize(child.ParentLength);
        parent.Files += child.Files;
        parent.Bytes += child.Bytes;
        parent.Disk += child.SubtreeDisk();
        parent.Dir->Children[parent.Next - 1].reset();
        child.Dir.reset();
    }

    // Lists a directory reached (or replays the listing read ahead) and
    // writes its files entry. true when its subdirectories are to be walked
    // next; false when it is done, or when the walk must end.
    bool EnterDirectory(Frame& frame) {
        const bool listHere = !prefetcher_ || prefetcher_->Reach(*frame.Dir);
        if (!(listHere ? ListHere(frame) : ReplayListed(frame))) return false;

        result_.Counters.TotalDirs += 1;
        result_.Counters.TotalFiles += frame.Files;
        result_.Counters.TotalBytes += frame.Bytes;

        if (frame.Files > 0 && !WriteFilesEntry(frame)) return false;
        if (frame.Dir->Subs.Count() > 0) {
            PrepareSubdirectories(frame);
            return true;
        }
        frame.Dir->Handle.Close();
        FinishDirectory(frame.Files, frame.Bytes, frame.SubtreeDisk());
        return false;
    }

    bool WriteFilesEntry(const Frame& frame) {
        const std::size_t length = line_.size();
        line_.append(kFilesEntry);
        bool written = Written(sink_.DirRow("1", Path(), frame.Files, frame.Bytes, frame.Disk));
        line_.resize(length);
        return written;
    }

    // Writes the directory entry and shows the counters.
    void FinishDirectory(std::int64_t files, double bytes, std::int64_t diskBytes) {
        // Once a row was refused nothing more is written: the run is rolled
        // back anyway, and the same failure would be reported once per level.
        if (!rowFailed_ && !Written(sink_.DirRow("2", DirectoryName(), files, bytes, diskBytes))) return;
        observer_.OnCounters(result_.Counters);
    }

    // A file's blocks count at its first name in the walk's order, 0 at the others.
    std::int64_t DiskBytesOnce(const EntryStat& stat) {
        if (stat.Links <= 1) return stat.DiskBytes();
        return linked_.insert(InodeKey{stat.Device, stat.Inode}).second ? stat.DiskBytes() : 0;
    }

    // Reads the listing to its end on this thread, each entry replayed as
    // soon as it is read. false when the walk must end here.
    bool ListHere(Frame& frame) {
        Lister lister(fs_, *frame.Dir, listing_);
        const int openCode = lister.Open();
        Status();
        if (openCode != 0) return !Error({}, openCode);
        int displayCounter = 0;
        int endCode = 0;
        ListedEntry entry;
        while (lister.Next(entry, endCode)) {
            if (!Replay(frame, entry, displayCounter)) return false;
        }
        lister.Finish(frame.Dir);
        if (prefetcher_) prefetcher_->Listed(*frame.Dir);
        return endCode == 0 || !Error({}, endCode);
    }

    // Replays a listing read ahead by the workers. false when the walk must end here.
    bool ReplayListed(Frame& frame) {
        ListedDirectory& dir = *frame.Dir;
        std::deque<ListedChunk> chunks;
        bool more = prefetcher_->Take(dir, chunks);
        if (dir.GivenBack) return ListHere(frame);
        Status();
        if (dir.OpenCode != 0) return !Error({}, dir.OpenCode);
        int displayCounter = 0;
        while (more) {
            for (const ListedChunk& chunk : chunks) {
                for (const ListedEntry& entry : chunk.Entries) {
                    if (!Replay(frame, entry, displayCounter)) return false;
                }
            }
            more = prefetcher_->Take(dir, chunks);
        }
        return dir.EndCode == 0 || !Error({}, dir.EndCode);
    }

    // One entry of a listing: its error, debug entry, totals and files row.
    // false when the walk must end here.
    bool Replay(Frame& frame, const ListedEntry& entry, int& displayCounter) {
        if (entry.AttributesError != 0) return !Error(entry.Name, entry.AttributesError);
        const EntryStat& stat = entry.Stat;
        if (control_.DebugMode.load()) {
            DebugEntry debug;
            debug.Path.append(Path()).append(entry.Name);
            debug.Attributes = AttributeText(stat.Attributes);
            frame.DebugList.push_back(std::move(debug));
        }
        if (stat.IsDirectory()) return true;
        if (entry.LengthError != 0) return !Error(entry.Name, entry.LengthError);
        const std::int64_t length = entry.Length;
        const std::int64_t disk = DiskBytesOnce(stat);
        frame.Files += 1;
        frame.Bytes += static_cast<double>(length);
        frame.Disk += disk;
        if (options_.CollectFiles && length >= options_.SizeThreshold) {
            CollectedFile row;
            row.Filename = entry.Name;
            row.Filesize = length;
            row.Filedir = DirectoryName();
            row.Fileattr = stat.Attributes;
            row.Filedate = DateOf(stat.ModifiedSeconds);
            row.Diskbytes = disk;
            row.Links = static_cast<std::int64_t>(stat.Links);
            row.DiskRow = FilediskRowNeeded(length, disk, row.Links, result_.BlockUnit);
            if (!Written(sink_.FileRow(row))) return false;
            result_.Counters.CollectedFiles += 1;
            result_.Counters.CollectedBytes += static_cast<double>(length);
            result_.CollectedDiskBytes += disk;
        }
        if (++displayCounter >= kStatusEveryFiles) {
            displayCounter = 0;
            Status();
        }
        return true;
    }

    // Makes the debug stop before the first subdirectory is entered.
    void PrepareSubdirectories(Frame& frame) {
        frame.Next = 0;
        if (control_.DebugMode.load()) {
            std::string title = "Files within ";
            title.append(Path());
            switch (observer_.OnDebugStop(title, frame.DebugList)) {
                case DebugAnswer::Continue: break;
                case DebugAnswer::SwitchOff: control_.DebugMode.store(false); break;
                case DebugAnswer::Abort: control_.AbortFlag.store(true); break;
            }
        }
        frame.DebugList.clear();
        frame.DebugList.shrink_to_fit();
    }

    bool Written(bool ok) {
        if (!ok) {
            rowFailed_ = true;
            result_.RowFailed = true;
            control_.AbortFlag.store(true);
        }
        return ok;
    }

    // Local time of a modification time. Converting is the costly part of a
    // files row, and neighbouring files tend to share a minute, so the last
    // minute converted is remembered.
    DateTime DateOf(std::int64_t seconds) {
        std::int64_t minute = seconds >= 0 ? seconds / 60 : (seconds - 59) / 60;
        if (!haveCachedMinute_ || minute != cachedMinute_) {
            cachedMinuteStart_ = DateTime::FromUnix(minute * 60);
            cachedMinute_ = minute;
            haveCachedMinute_ = true;
        }
        // A zone offset with seconds (old local mean times) breaks the shortcut.
        if (cachedMinuteStart_.Second != 0) return DateTime::FromUnix(seconds);
        DateTime value = cachedMinuteStart_;
        value.Second = static_cast<int>(seconds - minute * 60);
        return value;
    }

    const WalkOptions& options_;
    FileSystem& fs_;
    RowSink& sink_;
    RunControl& control_;
    WalkObserver& observer_;
    const char separator_;
    const ExclusionFilter exclusions_;

    WalkResult result_;
    ListingOptions listing_;
    std::unique_ptr<Prefetcher> prefetcher_;  // null: every directory is listed on this thread
    std::deque<Frame> frames_;                // frames_[d]: the directory at depth d of the current path
    std::unordered_set<InodeKey, InodeHash> linked_;  // files with several names, once one was counted
    std::string line_;          // "Processing directory " + P of the directory being walked
    std::uint64_t baseDevice_ = 0;
    bool rowFailed_ = false;
    std::int64_t cachedMinute_ = 0;
    bool haveCachedMinute_ = false;
    DateTime cachedMinuteStart_;
};

}  // namespace

int DefaultWalkThreads() {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::max(4, 2 * cores);
}

WalkResult WalkDirectory(const std::string& basePath, const WalkOptions& options, FileSystem& fileSystem,
                         RowSink& sink, RunControl& control, WalkObserver& observer) {
    Walker walker(options, fileSystem, sink, control, observer);
    return walker.Run(basePath);
}

}  // namespace corvina
