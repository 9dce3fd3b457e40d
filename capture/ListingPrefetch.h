#pragma once
// Listing directories ahead of the walk. On a network file system or a cold
// disk every read of an entry waits for the device; the walk itself must still
// hand out its rows one directory after another, in its fixed order. So
// worker threads open, list and read the entries of the directories the walk
// will reach next, and the walk replays what they read: it alone writes rows,
// errors, status and counters, in exactly the order of a walk on one thread.
//
// Ownership: a ListedDirectory owns its subdirectories (Children); the walk
// owns the base and drops each subtree once it has walked it. A directory's
// descriptor stays open until all its subdirectories have been opened from it.
//
// Memory stays bounded: workers start no further directory while
// kMaxAheadDirectories are listed ahead of the walk or kMaxBufferedEntries
// entries wait to be replayed, and a listing in progress pauses at the latter
// unless the walk is waiting for it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/FileSystem.h"

namespace corvina {

// One entry of a listing: what ReadAttributes and, for anything but a
// directory, ReadLength gave.
struct ListedEntry {
    std::string_view Name;
    int AttributesError = 0;  // nothing else was read
    EntryStat Stat;
    int LengthError = 0;
    std::int64_t Length = 0;
};

// Entries read ahead, with their names, handed to the walk as one piece.
struct ListedChunk {
    std::vector<char> Names;
    std::vector<std::size_t> Starts;
    std::vector<ListedEntry> Entries;

    void Add(const ListedEntry& entry);
    // Points the entries' names into Names, which no longer grows.
    void Seal();
};

// The subdirectory names of a directory and the order they are visited in.
struct Subdirectories {
    std::string NameBytes;                // names back to back
    std::vector<std::size_t> Starts;      // offset of each name in NameBytes
    std::vector<bool> Foreign;            // on another file system: recorded empty
    std::vector<std::int64_t> DiskBytes;  // each directory's own blocks, in bytes
    std::vector<std::string_view> Views;  // built once the listing is complete
    std::vector<std::size_t> Order;       // visit order, positions into Views

    void Add(std::string_view name, bool foreign, std::int64_t diskBytes);
    std::size_t Count() const { return Starts.size(); }
    // Builds Views and Order.
    void Prepare();
};

struct ListedDirectory {
    // Fixed when the directory is created.
    ListedDirectory* Parent = nullptr;  // non-owning: its descriptor opens this one; null for the base
    std::size_t Depth = 0;
    std::size_t Position = 0;           // in the parent's visit order
    std::string_view Name;              // into Parent->Subs
    std::string Below;                  // the path below the base, while exclusions need it (ExclusionFilter)
    std::int64_t DiskBytes = 0;         // its own blocks, as its parent's listing read them

    // Written by the one thread that lists the directory, read by the walk
    // once the prefetcher has handed it over.
    int OpenCode = 0;
    bool Opened = false;  // OpenCode and Handle are set (the base is opened by the walk)
    DirectoryHandle Handle;
    Subdirectories Subs;
    std::vector<std::shared_ptr<ListedDirectory>> Children;  // visit order; null: on another file system
    std::atomic<std::size_t> Unopened{0};                     // children not yet opened from Handle

    // Under the prefetcher's lock.
    enum class Stage { Waiting, Ahead, Walked } State = Stage::Waiting;
    // The walk has reached it (and waits for it, or replays it). A flag of
    // the directory's own rather than a pointer to the one reached: a
    // directory the walk has left is freed, and a new one may take its
    // address.
    bool Reached = false;
    std::deque<ListedChunk> Ready;
    bool Ended = false;
    int EndCode = 0;
    bool GivenBack = false;  // a worker found no descriptor free: the walk lists it itself
};

class ExclusionFilter;

struct ListingOptions {
    bool CrossFileSystems = false;
    std::uint64_t BaseDevice = 0;
    const ExclusionFilter* Exclusions = nullptr;  // null: nothing is left out
};

// Reads one directory through the file system, entry by entry.
class Lister {
public:
    Lister(FileSystem& fileSystem, ListedDirectory& directory, const ListingOptions& options)
        : fs_(fileSystem), dir_(directory), options_(options) {}

    // Opens the directory from its parent (unless open) and begins the
    // listing; sets and returns OpenCode. ahead: when no descriptor is free,
    // returns kNoDescriptor and leaves the directory as it was.
    int Open(bool ahead = false);
    static constexpr int kNoDescriptor = -1;
    // The next entry; false at the end, with the listing's error code in endCode.
    bool Next(ListedEntry& entry, int& endCode);
    // Fixes the visit order and creates the subdirectories to walk.
    void Finish(const std::shared_ptr<ListedDirectory>& self);

private:
    FileSystem& fs_;
    ListedDirectory& dir_;
    const ListingOptions& options_;
    bool leftEmpty_ = false;  // a cache directory left out: listed as empty
};

class Prefetcher {
public:
    Prefetcher(FileSystem& fileSystem, const ListingOptions& options, int workers, const std::atomic<bool>& abortFlag);
    ~Prefetcher();
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // The walk has reached directory. true when the walk is to list it
    // itself (nobody has started it and no worker is free), and call Listed
    // afterwards; otherwise Take gives its entries.
    bool Reach(ListedDirectory& directory);
    // A directory the walk listed itself: its subdirectories may be listed ahead.
    void Listed(ListedDirectory& directory);
    // Waits for the next entries of a directory listed ahead; false once all
    // have been taken (OpenCode, EndCode and Children are then final).
    bool Take(ListedDirectory& directory, std::deque<ListedChunk>& out);
    // Ends the workers; nothing is read after it returns.
    void Stop();

    static constexpr std::size_t kChunkEntries = 256;
    static constexpr std::size_t kMaxAheadDirectories = 1024;
    static constexpr std::size_t kMaxBufferedEntries = 64 * 1024;

private:
    struct EarlierInWalk {
        bool operator()(const ListedDirectory* a, const ListedDirectory* b) const;
    };

    void Work();
    void ListAhead(const std::shared_ptr<ListedDirectory>& directory);
    void Publish(ListedDirectory& directory, ListedChunk&& chunk);
    void Schedule(ListedDirectory& directory);  // under the lock
    bool CanStart() const;                      // under the lock

    FileSystem& fs_;
    const ListingOptions& options_;
    const std::atomic<bool>& abortFlag_;

    std::mutex mutex_;
    std::condition_variable work_;   // workers: a directory to start, room for entries, stop
    std::condition_variable ready_;  // the walk: entries of the directory it waits for
    std::set<ListedDirectory*, EarlierInWalk> waiting_;
    std::size_t ahead_ = 0;                     // started by workers, not yet reached by the walk
    std::size_t buffered_ = 0;                  // entries read ahead, not yet taken
    std::size_t idle_ = 0;                      // workers waiting for a directory to start
    bool stop_ = false;
    std::atomic<bool> stopping_{false};  // stop_ read without the lock, once per entry
    std::vector<std::thread> threads_;
};

}  // namespace corvina
