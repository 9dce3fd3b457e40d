// The directory walk. A directory's listing is read to its end before any of
// its subdirectories is entered: listings are never nested, and only the
// descriptors of the directories on the current path stay open.
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

#include <deque>

#include "capture/DirectoryWalk.h"

namespace corvina {

namespace {

constexpr std::string_view kTooManyErrors = "Snapshot aborted due to excessive number of errors";
constexpr std::string_view kProcessing = "Processing directory ";
constexpr std::string_view kFilesEntry = "(files)";

// One directory of the current path: its subdirectory names, kept while
// their subtrees are walked, and the totals of its subtree so far.
struct Frame {
    std::string NameBytes;                // names back to back
    std::vector<std::size_t> Starts;      // offset of each name in NameBytes
    std::vector<bool> Foreign;            // on another file system: recorded empty
    std::vector<std::string_view> Views;  // built once the listing is complete
    std::vector<std::size_t> Order;       // visit order, positions into Views
    std::size_t Next = 0;                 // how many of Order have been entered
    std::size_t ParentLength = 0;         // the path buffer's length before this directory's name
    std::int64_t Files = 0;
    double Bytes = 0;
    std::vector<DebugEntry> DebugList;
    DirectoryHandle Handle;

    void Reset(std::size_t parentLength) {
        Handle.Close();
        NameBytes.clear();
        Starts.clear();
        Foreign.clear();
        Views.clear();
        Order.clear();
        Next = 0;
        ParentLength = parentLength;
        Files = 0;
        Bytes = 0;
        DebugList.clear();
    }
    void Add(std::string_view name, bool foreign) {
        Starts.push_back(NameBytes.size());
        NameBytes.append(name);
        Foreign.push_back(foreign);
    }
    std::size_t Count() const { return Starts.size(); }
    void BuildViews() {
        Views.clear();
        for (std::size_t i = 0; i < Starts.size(); ++i) {
            std::size_t end = i + 1 < Starts.size() ? Starts[i + 1] : NameBytes.size();
            Views.emplace_back(NameBytes.data() + Starts[i], end - Starts[i]);
        }
    }
};

class Walker {
public:
    Walker(const WalkOptions& options, FileSystem& fileSystem, RowSink& sink, RunControl& control,
           WalkObserver& observer, Prompter& prompter)
        : options_(options),
          fs_(fileSystem),
          sink_(sink),
          control_(control),
          observer_(observer),
          prompter_(prompter),
          separator_(Separator(options.Style)) {}

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

    bool ErrorLimitReached() const { return result_.ErrorCount() > kMaxErrors; }

    // The error routine: records the entry; true when the walk must end.
    bool Error(std::string_view name, int code) {
        ErrorEntry entry;
        std::string_view path = Path();
        entry.File.reserve(path.size() + name.size());
        entry.File.append(path).append(name);
        entry.Error = fs_.ErrorText(code);
        result_.ErrorList.push_back(std::move(entry));
        if (ErrorLimitReached()) {
            ShowMessage(prompter_, std::string(kTooManyErrors));
            return true;
        }
        return false;
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
        Frame& base = FrameAt(0);
        base.Reset(line_.size());
        EntryStat stat;
        int code = fs_.OpenDirectory(basePath, base.Handle, stat);
        baseDevice_ = stat.Device;
        if (EnterOpened(base, code)) WalkSubtrees();
        result_.Files = base.Files;
        result_.Bytes = base.Bytes;
    }

    // Walks below the base, depth first, one subdirectory per turn. frames_
    // is a deque: a frame stays where it is while deeper frames are added.
    void WalkSubtrees() {
        std::size_t depth = 0;  // the innermost directory whose subdirectories are being walked
        for (;;) {
            Frame& frame = frames_[depth];
            // After an abort no further subdirectory is entered; the
            // directories on the path still finish.
            if (frame.Next < frame.Order.size() && !control_.AbortFlag.load()) {
                if (EnterNext(depth)) {
                    ++depth;
                    continue;
                }
                if (ErrorLimitReached()) return;
                Leave(frame, frames_[depth + 1]);
                continue;
            }
            frame.Handle.Close();
            FinishDirectory(frame.Files, frame.Bytes);
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
        const std::size_t position = parent.Order[parent.Next++];
        std::string_view name = parent.Views[position];
        Frame& child = FrameAt(depth + 1);
        child.Reset(line_.size());
        line_.append(name).push_back(separator_);
        if (parent.Foreign[position]) {
            // A file system mounted below the base: recorded as an empty directory.
            Status();
            result_.Counters.TotalDirs += 1;
            FinishDirectory(0, 0);
            return false;
        }
        return EnterOpened(child, fs_.OpenSubdirectory(parent.Handle, name, child.Handle));
    }

    // Back from a finished subdirectory: its totals join its parent's.
    void Leave(Frame& parent, const Frame& child) {
        line_.resize(child.ParentLength);
        parent.Files += child.Files;
        parent.Bytes += child.Bytes;
    }

    // Lists a directory just opened and writes its files entry. true when its
    // subdirectories are to be walked next; false when it is done, or when
    // the walk must end.
    bool EnterOpened(Frame& frame, int openCode) {
        if (openCode == 0) openCode = fs_.BeginListing(frame.Handle);
        Status();
        if (openCode != 0) {
            frame.Handle.Close();
            if (Error({}, openCode)) return false;
        } else if (!ListDirectory(frame)) {
            return false;
        }

        result_.Counters.TotalDirs += 1;
        result_.Counters.TotalFiles += frame.Files;
        result_.Counters.TotalBytes += frame.Bytes;

        if (frame.Files > 0 && !WriteFilesEntry(frame)) return false;
        if (frame.Count() > 0) {
            PrepareSubdirectories(frame);
            return true;
        }
        frame.Handle.Close();
        FinishDirectory(frame.Files, frame.Bytes);
        return false;
    }

    bool WriteFilesEntry(const Frame& frame) {
        const std::size_t length = line_.size();
        line_.append(kFilesEntry);
        bool written = Written(sink_.DirRow("1", Path(), frame.Files, frame.Bytes));
        line_.resize(length);
        return written;
    }

    // Writes the directory entry and shows the counters.
    void FinishDirectory(std::int64_t files, double bytes) {
        // Once a row was refused nothing more is written: the run is rolled
        // back anyway, and the same failure would be reported once per level.
        if (!rowFailed_ && !Written(sink_.DirRow("2", DirectoryName(), files, bytes))) return;
        observer_.OnCounters(result_.Counters);
    }

    // Reads the listing to its end. false when the walk must end here.
    bool ListDirectory(Frame& frame) {
        const bool collect = options_.CollectFiles;
        int displayCounter = 0;
        std::string_view name;
        int code = 0;
        EntryStat stat;
        while (fs_.NextName(name, code)) {
            if (int error = fs_.ReadAttributes(frame.Handle, name, stat); error != 0) {
                if (Error(name, error)) return false;
                continue;
            }
            if (control_.DebugMode.load()) {
                DebugEntry entry;
                entry.Path.append(Path()).append(name);
                entry.Attributes = AttributeText(stat.Attributes);
                frame.DebugList.push_back(std::move(entry));
            }
            if (stat.IsDirectory()) {
                frame.Add(name, !options_.CrossFileSystems && stat.Device != baseDevice_);
                continue;
            }
            std::int64_t length = 0;
            if (int error = fs_.ReadLength(frame.Handle, name, stat, length); error != 0) {
                if (Error(name, error)) return false;
                continue;
            }
            frame.Files += 1;
            frame.Bytes += static_cast<double>(length);
            if (collect && length >= options_.SizeThreshold) {
                FileRowInput row;
                row.Filename = name;
                row.Filesize = length;
                row.Filedir = DirectoryName();
                row.Fileattr = stat.Attributes;
                row.Filedate = DateOf(stat.ModifiedSeconds);
                if (!Written(sink_.FileRow(row))) return false;
                result_.Counters.CollectedFiles += 1;
                result_.Counters.CollectedBytes += static_cast<double>(length);
            }
            if (++displayCounter >= kStatusEveryFiles) {
                displayCounter = 0;
                Status();
            }
        }
        if (code != 0 && Error({}, code)) return false;
        return true;
    }

    // Fixes the visit order and makes the debug stop, before the first
    // subdirectory is entered.
    void PrepareSubdirectories(Frame& frame) {
        frame.BuildViews();
        frame.Order = SortNames(frame.Views);
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
    Prompter& prompter_;
    const char separator_;

    WalkResult result_;
    std::deque<Frame> frames_;  // frames_[d]: the directory at depth d of the current path
    std::string line_;          // "Processing directory " + P of the directory being walked
    std::uint64_t baseDevice_ = 0;
    bool rowFailed_ = false;
    std::int64_t cachedMinute_ = 0;
    bool haveCachedMinute_ = false;
    DateTime cachedMinuteStart_;
};

}  // namespace

WalkResult WalkDirectory(const std::string& basePath, const WalkOptions& options, FileSystem& fileSystem,
                         RowSink& sink, RunControl& control, WalkObserver& observer, Prompter& prompter) {
    Walker walker(options, fileSystem, sink, control, observer, prompter);
    return walker.Run(basePath);
}

}  // namespace corvina
