// Listing ahead of the walk. Workers always start the waiting directory the
// walk will reach first (depth-first, in visit order), so the work done ahead
// is the work needed next. A directory nobody has started when the walk gets
// there is listed by the walk itself: the walk never waits for a directory
// that no worker is listing, whatever the limits hold back.
//
// One lock guards the scheduling and the hand-over of entries; a worker takes
// it once per directory and once per kChunkEntries entries, never around a
// call to the file system.

#include "capture/ListingPrefetch.h"

#include <algorithm>
#include <cerrno>

#include "capture/ExclusionFilter.h"
#include "capture/SortNames.h"

namespace corvina {

void ListedChunk::Add(const ListedEntry& entry) {
    Starts.push_back(Names.size());
    Names.insert(Names.end(), entry.Name.begin(), entry.Name.end());
    Entries.push_back(entry);
}

void ListedChunk::Seal() {
    for (std::size_t i = 0; i < Entries.size(); ++i) {
        Entries[i].Name = std::string_view(Names.data() + Starts[i], Entries[i].Name.size());
    }
}

void Subdirectories::Add(std::string_view name, bool foreign, std::int64_t diskBytes) {
    Starts.push_back(NameBytes.size());
    NameBytes.append(name);
    Foreign.push_back(foreign);
    DiskBytes.push_back(diskBytes);
}

void Subdirectories::Prepare() {
    Views.clear();
    for (std::size_t i = 0; i < Starts.size(); ++i) {
        std::size_t end = i + 1 < Starts.size() ? Starts[i + 1] : NameBytes.size();
        Views.emplace_back(NameBytes.data() + Starts[i], end - Starts[i]);
    }
    Order = SortNames(Views);
}

int Lister::Open(bool ahead) {
    if (!dir_.Opened) {
        dir_.OpenCode = fs_.OpenSubdirectory(dir_.Parent->Handle, dir_.Name, dir_.Handle);
        // The descriptors held ahead must not turn into errors a walk on one
        // thread would not meet.
        if (ahead && (dir_.OpenCode == EMFILE || dir_.OpenCode == ENFILE)) return kNoDescriptor;
        dir_.Opened = true;
        // The last subdirectory opened gives the parent's descriptor back.
        if (dir_.Parent->Unopened.fetch_sub(1) == 1) dir_.Parent->Handle.Close();
    }
    const ExclusionFilter* exclusions = options_.Exclusions;
    leftEmpty_ = dir_.OpenCode == 0 && dir_.Parent != nullptr && exclusions != nullptr &&
                 exclusions->LeavesOutCaches() && ExclusionFilter::IsTaggedCache(fs_, dir_.Handle);
    if (dir_.OpenCode == 0 && !leftEmpty_) dir_.OpenCode = fs_.BeginListing(dir_.Handle);
    if (dir_.OpenCode != 0) dir_.Handle.Close();
    return dir_.OpenCode;
}

bool Lister::Next(ListedEntry& entry, int& endCode) {
    endCode = 0;
    if (leftEmpty_) return false;
    const ExclusionFilter* exclusions = options_.Exclusions;
    do {
        if (!fs_.NextName(entry.Name, endCode)) return false;
    } while (exclusions != nullptr && exclusions->LeavesOut(dir_.Below, entry.Name));
    entry.AttributesError = fs_.ReadAttributes(dir_.Handle, entry.Name, entry.Stat);
    entry.LengthError = 0;
    entry.Length = 0;
    if (entry.AttributesError != 0) return true;
    if (entry.Stat.IsDirectory()) {
        dir_.Subs.Add(entry.Name, !options_.CrossFileSystems && entry.Stat.Device != options_.BaseDevice,
                      entry.Stat.DiskBytes());
    } else {
        entry.LengthError = fs_.ReadLength(dir_.Handle, entry.Name, entry.Stat, entry.Length);
    }
    return true;
}

void Lister::Finish(const std::shared_ptr<ListedDirectory>& self) {
    Subdirectories& subs = dir_.Subs;
    subs.Prepare();
    std::size_t toOpen = 0;
    dir_.Children.reserve(subs.Order.size());
    for (std::size_t k = 0; k < subs.Order.size(); ++k) {
        const std::size_t position = subs.Order[k];
        if (subs.Foreign[position]) {
            dir_.Children.emplace_back();
            continue;
        }
        auto child = std::make_shared<ListedDirectory>();
        child->Parent = self.get();
        child->Depth = dir_.Depth + 1;
        child->Position = k;
        child->Name = subs.Views[position];
        if (options_.Exclusions != nullptr) child->Below = options_.Exclusions->PathBelow(dir_.Below, child->Name);
        child->DiskBytes = subs.DiskBytes[position];
        dir_.Children.push_back(std::move(child));
        ++toOpen;
    }
    dir_.Unopened.store(toOpen);
    if (toOpen == 0) dir_.Handle.Close();
}

bool Prefetcher::EarlierInWalk::operator()(const ListedDirectory* a, const ListedDirectory* b) const {
    if (a == b) return false;
    // An ancestor comes first; otherwise the subtrees below the nearest
    // common ancestor decide.
    while (a->Depth > b->Depth) {
        a = a->Parent;
        if (a == b) return false;
    }
    while (b->Depth > a->Depth) {
        b = b->Parent;
        if (b == a) return true;
    }
    while (a->Parent != b->Parent) {
        a = a->Parent;
        b = b->Parent;
    }
    return a->Position < b->Position;
}

Prefetcher::Prefetcher(FileSystem& fileSystem, const ListingOptions& options, int workers,
                       const std::atomic<bool>& abortFlag)
    : fs_(fileSystem), options_(options), abortFlag_(abortFlag) {
    threads_.reserve(static_cast<std::size_t>(workers));
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

Prefetcher::~Prefetcher() { Stop(); }

void Prefetcher::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        stopping_.store(true);
        waiting_.clear();
    }
    work_.notify_all();
    ready_.notify_all();
    for (std::thread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
}

bool Prefetcher::Reach(ListedDirectory& directory) {
    bool mine = false;
    {
        std::lock_guard lock(mutex_);
        directory.Reached = true;
        if (directory.State == ListedDirectory::Stage::Ahead) {
            --ahead_;
            directory.State = ListedDirectory::Stage::Walked;
        } else if (idle_ == 0 || waiting_.count(&directory) == 0) {
            // Every worker is busy (listing it here is the quickest), or it
            // is the base, which no worker is offered.
            waiting_.erase(&directory);
            directory.State = ListedDirectory::Stage::Walked;
            mine = true;
        }
        // Otherwise an idle worker starts it, whatever the limits, and the
        // walk waits: the walk listing on its own while the workers fill the
        // limits would leave them standing.
    }
    // A listing paused for room may be the one the walk now waits for.
    work_.notify_all();
    return mine;
}

void Prefetcher::Listed(ListedDirectory& directory) {
    {
        std::lock_guard lock(mutex_);
        Schedule(directory);
    }
    work_.notify_all();
}

bool Prefetcher::Take(ListedDirectory& directory, std::deque<ListedChunk>& out) {
    out.clear();
    {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !directory.Ready.empty() || directory.Ended || stop_; });
        if (directory.Ready.empty()) return false;
        out.swap(directory.Ready);
        for (const ListedChunk& chunk : out) buffered_ -= chunk.Entries.size();
    }
    work_.notify_all();
    return true;
}

void Prefetcher::Schedule(ListedDirectory& directory) {
    for (const auto& child : directory.Children) {
        if (child) waiting_.insert(child.get());
    }
}

bool Prefetcher::CanStart() const {
    if (waiting_.empty()) return false;
    if ((*waiting_.begin())->Reached) return true;
    return !abortFlag_.load() && ahead_ < kMaxAheadDirectories && buffered_ < kMaxBufferedEntries;
}

void Prefetcher::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        work_.wait(lock, [&] { return stop_ || CanStart(); });
        --idle_;
        if (stop_) return;
        ListedDirectory* next = *waiting_.begin();
        waiting_.erase(waiting_.begin());
        if (next->Reached) {
            next->State = ListedDirectory::Stage::Walked;  // reached already
        } else {
            next->State = ListedDirectory::Stage::Ahead;
            ++ahead_;
        }
        // The parent owns next and outlives its listing: the walk drops a
        // directory only after walking all of it, and Stop joins first.
        std::shared_ptr<ListedDirectory> held = next->Parent->Children[next->Position];
        lock.unlock();
        ListAhead(held);
        lock.lock();
    }
}

void Prefetcher::ListAhead(const std::shared_ptr<ListedDirectory>& directory) {
    ListedDirectory& dir = *directory;
    Lister lister(fs_, dir, options_);
    ListedChunk chunk;
    int endCode = 0;
    const int openCode = lister.Open(true);
    if (openCode == Lister::kNoDescriptor) {
        {
            std::lock_guard lock(mutex_);
            dir.GivenBack = true;
            dir.Ended = true;
        }
        ready_.notify_all();
        return;
    }
    if (openCode == 0) {
        ListedEntry entry;
        while (lister.Next(entry, endCode)) {
            if (stopping_.load(std::memory_order_relaxed)) return;
            chunk.Add(entry);
            if (chunk.Entries.size() >= kChunkEntries) {
                Publish(dir, std::move(chunk));
                chunk = ListedChunk();
            }
        }
    }
    lister.Finish(directory);
    chunk.Seal();
    {
        std::lock_guard lock(mutex_);
        buffered_ += chunk.Entries.size();
        if (!chunk.Entries.empty()) dir.Ready.push_back(std::move(chunk));
        dir.EndCode = endCode;
        dir.Ended = true;
        if (!stop_) Schedule(dir);
    }
    work_.notify_all();
    ready_.notify_all();
}

void Prefetcher::Publish(ListedDirectory& dir, ListedChunk&& chunk) {
    chunk.Seal();
    {
        std::unique_lock lock(mutex_);
        work_.wait(lock, [&] { return stop_ || buffered_ < kMaxBufferedEntries || dir.Reached; });
        buffered_ += chunk.Entries.size();
        dir.Ready.push_back(std::move(chunk));
    }
    ready_.notify_all();
}

}  // namespace corvina
