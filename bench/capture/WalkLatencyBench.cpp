// walk_latency_bench TREE [--delay-us 200] [--threads 1,2,4,8,16] [--runs 3] [--files]
//
// Wall time of the directory walk over TREE through the real file system
// with a fixed delay added to every open, listing start and entry read: a
// stand-in for a network file system or a cold disk, where each call waits
// for the device. The rows go to a sink that only counts them, so the figure
// is the walk's alone. Thread counts alternate within each run so that drift
// on a shared machine hits all alike; the medians are printed, one line per
// thread count, with the speed-up over the first count:
//   threads 1 delay 200 us: 12.345 s (1.00 x)  dirs 2000 files 20000 rows 2000

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/DirectoryWalk.h"
#include "capture/FileSystem.h"

namespace corvina {
namespace {

class DelayedFileSystem final : public FileSystem {
public:
    explicit DelayedFileSystem(std::chrono::microseconds delay) : delay_(delay) {}

    bool ConcurrentCalls() const override { return true; }
    int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) override {
        Wait();
        return real_->OpenDirectory(path, out, stat);
    }
    int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) override {
        Wait();
        return real_->OpenSubdirectory(parent, name, out);
    }
    int BeginListing(const DirectoryHandle& directory) override {
        Wait();
        return real_->BeginListing(directory);
    }
    bool NextName(std::string_view& name, int& error) override { return real_->NextName(name, error); }
    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override {
        Wait();
        return real_->ReadAttributes(directory, name, out);
    }

protected:
    void CloseDirectory(int) override {}  // handles come from the real one and close there

private:
    void Wait() const {
        if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
    }

    std::chrono::microseconds delay_;
    std::unique_ptr<FileSystem> real_ = MakePosixFileSystem();
};

class CountingSink final : public RowSink, public WalkObserver {
public:
    long Rows = 0;
    bool FileRow(const CollectedFile&) override { return ++Rows > 0; }
    bool DirRow(std::string_view, std::string_view, std::int64_t, double, std::int64_t) override { return ++Rows > 0; }
    void OnStatus(const std::string&) override {}
    void OnCounters(const RunCounters&) override {}
    DebugAnswer OnDebugStop(const std::string&, const std::vector<DebugEntry>&) override {
        return DebugAnswer::Continue;
    }
};

std::vector<int> ParseCounts(const std::string& text) {
    std::vector<int> counts;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) counts.push_back(std::atoi(item.c_str()));
    return counts;
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: walk_latency_bench TREE [--delay-us N] [--threads 1,2,4] [--runs N] [--files]\n");
        return 2;
    }
    std::string tree = argv[1];
    long delayUs = 200;
    int runs = 3;
    bool files = false;
    std::vector<int> counts = {1, 2, 4, 8, 16};
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--delay-us" && i + 1 < argc) {
            delayUs = std::atol(argv[++i]);
        } else if (arg == "--threads" && i + 1 < argc) {
            counts = ParseCounts(argv[++i]);
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--files") {
            files = true;
        }
    }
    std::vector<std::vector<double>> walls(counts.size());
    WalkResult last;
    long rows = 0;
    for (int run = 0; run < runs; ++run) {
        for (std::size_t i = 0; i < counts.size(); ++i) {
            DelayedFileSystem disk{std::chrono::microseconds(delayUs)};
            CountingSink sink;
            RunControl control;
            WalkOptions options;
            options.CollectFiles = files;
            options.Threads = counts[i];
            auto start = std::chrono::steady_clock::now();
            last = WalkDirectory(tree, options, disk, sink, control, sink);
            walls[i].push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            rows = sink.Rows;
        }
    }
    double first = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        std::sort(walls[i].begin(), walls[i].end());
        const double median = walls[i][walls[i].size() / 2];
        if (i == 0) first = median;
        std::printf("threads %d delay %ld us: %8.3f s (%5.2f x)  dirs %lld files %lld rows %ld errors %d\n", counts[i],
                    delayUs, median, first / median, static_cast<long long>(last.Counters.TotalDirs),
                    static_cast<long long>(last.Counters.TotalFiles), rows, last.ErrorCount());
    }
    return 0;
}

}  // namespace
}  // namespace corvina

int main(int argc, char** argv) { return corvina::Run(argc, argv); }
