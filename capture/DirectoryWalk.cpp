// The directory walk. One invocation per directory, recursing into the
// subdirectories after the directory's own listing has been read to its end:
// listings are never nested, and only the open descriptors of the directories
// on the current path stay open. Subdirectory names wait in a per-depth
// buffer that is reused, so memory grows with the depth and the widest
// directory, never with the number of files.

#include <deque>

#include "capture/DirectoryWalk.h"

namespace corvina {

namespace {

constexpr std::string_view kTooManyErrors = "Snapshot aborted due to excessive number of errors";
constexpr std::string_view kProcessing = "Processing directory ";

// The subdirectory names of one directory, kept while its subtree is walked.
struct Level {
    std::string NameBytes;                       // names back to back
    std::vector<std::size_t> Starts;             // offset of each name in NameBytes
    std::vector<bool> Foreign;                   // on another file system: recorded empty
    std::vector<std::string_view> Views;         // built once the listing is complete
    std::vector<DebugEntry> DebugList;
    DirectoryHandle Handle;

    void Clear() {
        Handle.Close();
        NameBytes.clear();
        Starts.clear();
        Foreign.clear();
        Views.clear();
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
        path_ = WalkPathOf(basePath, options_.Style);
        std::int64_t files = 0;
        double bytes = 0;
        WalkBase(basePath, files, bytes);
        result_.Files = files;
        result_.Bytes = bytes;
        return std::move(result_);
    }

private:
    // Q: the directory's path without its trailing separator; the POSIX root stays "/".
    std::string_view DirectoryName() const {
        std::string_view p(path_);
        return p.size() > 1 ? p.substr(0, p.size() - 1) : p;
    }

    bool ErrorLimitReached() const { return result_.ErrorCount() > kMaxErrors; }

    // The error routine: records the entry; true when the walk must end.
    bool Error(std::string_view name, int code) {
        ErrorEntry entry;
        entry.File.reserve(path_.size() + name.size());
        entry.File.append(path_).append(name);
        entry.Error = fs_.ErrorText(code);
        result_.ErrorList.push_back(std::move(entry));
        if (ErrorLimitReached()) {
            ShowMessage(prompter_, std::string(kTooManyErrors));
            return true;
        }
        return false;
    }

    void Status() {
        std::string text;
        std::string_view q = DirectoryName();
        text.reserve(kProcessing.size() + q.size());
        text.append(kProcessing).append(q);
        observer_.OnStatus(text);
    }

    Level& LevelAt(std::size_t depth) {
        while (levels_.size() <= depth) levels_.emplace_back();
        return levels_[depth];
    }

    void WalkBase(const std::string& basePath, std::int64_t& files, double& bytes) {
        if (control_.AbortFlag.load()) return;
        Level& level = LevelAt(0);
        level.Clear();
        EntryStat stat;
        int code = fs_.OpenDirectory(basePath, level.Handle, stat);
        baseDevice_ = stat.Device;
        WalkOpened(0, code, files, bytes);
    }

    void WalkChild(std::size_t depth, std::string_view name, bool foreign, std::int64_t& files, double& bytes) {
        if (control_.AbortFlag.load()) return;
        Level& level = LevelAt(depth);
        level.Clear();
        if (foreign) {
            // A file system mounted below the base: recorded as an empty directory.
            WalkEmpty(files, bytes);
            return;
        }
        int code = fs_.OpenSubdirectory(levels_[depth - 1].Handle, name, level.Handle);
        WalkOpened(depth, code, files, bytes);
    }

    void WalkEmpty(std::int64_t& files, double& bytes) {
        Status();
        result_.Counters.TotalDirs += 1;
        FinishDirectory(files, bytes);
    }

    void WalkOpened(std::size_t depth, int openCode, std::int64_t& files, double& bytes) {
        Level& level = levels_[depth];
        if (openCode == 0) openCode = fs_.BeginListing(level.Handle);
        Status();
        if (openCode != 0) {
            level.Handle.Close();
            if (Error({}, openCode)) return;
        } else if (!ListDirectory(depth, files, bytes)) {
            return;
        }

        result_.Counters.TotalDirs += 1;
        result_.Counters.TotalFiles += files;
        result_.Counters.TotalBytes += bytes;

        if (files > 0) {
            entryName_.assign(path_).append("(files)");
            if (!Written(sink_.DirRow("1", entryName_, files, bytes))) return;
        }

        if (level.Count() > 0 && !WalkSubdirectories(depth, files, bytes)) return;
        level.Handle.Close();
        FinishDirectory(files, bytes);
    }

    // Writes the directory entry and shows the counters.
    void FinishDirectory(std::int64_t files, double bytes) {
        // Once a row was refused nothing more is written: the run is rolled
        // back anyway, and the same failure would be reported once per level.
        if (!rowFailed_ && !Written(sink_.DirRow("2", DirectoryName(), files, bytes))) return;
        observer_.OnCounters(result_.Counters);
    }

    // Reads the listing to its end. false when the walk must end here.
    bool ListDirectory(std::size_t depth, std::int64_t& files, double& bytes) {
        Level& level = levels_[depth];
        const bool collect = options_.CollectFiles;
        int displayCounter = 0;
        std::string_view name;
        int code = 0;
        EntryStat stat;
        while (fs_.NextName(name, code)) {
            if (int error = fs_.ReadAttributes(level.Handle, name, stat); error != 0) {
                if (Error(name, error)) return false;
                continue;
            }
            if (control_.DebugMode.load()) {
                DebugEntry entry;
                entry.Path.append(path_).append(name);
                entry.Attributes = AttributeText(stat.Attributes);
                level.DebugList.push_back(std::move(entry));
            }
            if (stat.IsDirectory()) {
                level.Add(name, !options_.CrossFileSystems && stat.Device != baseDevice_);
                continue;
            }
            std::int64_t length = 0;
            if (int error = fs_.ReadLength(level.Handle, name, stat, length); error != 0) {
                if (Error(name, error)) return false;
                continue;
            }
            files += 1;
            bytes += static_cast<double>(length);
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

    // Walks the subdirectories in visit order. false when the walk must end here.
    bool WalkSubdirectories(std::size_t depth, std::int64_t& files, double& bytes) {
        Level& level = levels_[depth];
        level.BuildViews();
        std::vector<std::size_t> order = SortNames(level.Views);
        if (control_.DebugMode.load()) {
            std::string title = "Files within " + path_;
            switch (observer_.OnDebugStop(title, level.DebugList)) {
                case DebugAnswer::Continue: break;
                case DebugAnswer::SwitchOff: control_.DebugMode.store(false); break;
                case DebugAnswer::Abort: control_.AbortFlag.store(true); break;
            }
        }
        level.DebugList.clear();
        level.DebugList.shrink_to_fit();
        const std::size_t pathLength = path_.size();
        for (std::size_t position : order) {
            // levels_ is a deque: references to this level survive the recursion.
            std::string_view name = level.Views[position];
            path_.append(name).push_back(separator_);
            std::int64_t childFiles = 0;
            double childBytes = 0;
            WalkChild(depth + 1, name, level.Foreign[position], childFiles, childBytes);
            path_.resize(pathLength);
            if (ErrorLimitReached()) return false;
            files += childFiles;
            bytes += childBytes;
        }
        return true;
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
    std::deque<Level> levels_;
    std::string path_;       // P of the directory being walked
    std::string entryName_;  // reused for files entry names
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
