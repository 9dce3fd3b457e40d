// corvina-cli snapshot of a tree far deeper than a thread's stack could
// follow by recursion, as any user can make with mkdir in a loop: whatever
// the limits of the process, the run ends with an exit code, never a signal.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "tests/cli/RunTool.h"

namespace corvina {
namespace {

// A folder holding a chain of nested directories "d", each made relative to
// the one before: the full path is far beyond PATH_MAX. It lives in the
// memory file system where there is one, because removing 20,000 directories
// from a disk mounted with discard takes over a minute.
class Chain {
public:
    explicit Chain(int levels) {
        std::string parent = ::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm")
                                                              : std::filesystem::temp_directory_path().string();
        std::string pattern = parent + "/corvina-chain-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) return;
        path_ = pattern;
        int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 0; fd >= 0 && level < levels; ++level) {
            int next = ::mkdirat(fd, "d", 0755) == 0 ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
            ::close(fd);
            fd = next;
        }
        made_ = fd >= 0;
        if (made_) ::close(fd);
    }
    ~Chain() {
        // rm descends relative to each directory; removal by full paths fails beyond PATH_MAX.
        if (!path_.empty()) {
            EXPECT_EQ(std::system(("rm -rf '" + path_ + "'").c_str()), 0);
        }
    }
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    bool Made() const { return made_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    bool made_ = false;
};

TEST(DeepTree, TwentyThousandLevelsEndWithAnExitCodeUnderASmallStackOrFewDescriptors) {
    Chain chain(20000);
    ASSERT_TRUE(chain.Made());

    test::ToolLimits smallStack, fewDescriptors;
    smallStack.StackBytes = 1 << 20;
    // Too few for one descriptor per level: the directory where they run out
    // becomes an error entry, and the database may find none left to write with.
    fewDescriptors.OpenFiles = 64;
    for (const auto& [name, limits] :
         {std::pair{"small-stack", smallStack}, std::pair{"few-descriptors", fewDescriptors}}) {
        // Beside the chain, in memory too: the whole chain's database holds
        // close to 2 GB of paths, and its log as much again before it is folded in.
        const std::string db = chain.Path() + "-" + name + ".mdb";
        test::ToolRun run = test::RunTool({"snapshot", chain.Path(), "--db", db}, false, {}, limits);
        // 1 is a run given up (too many errors, or a row the database could
        // not write); a signal shows as 128 and more.
        EXPECT_TRUE(run.ExitCode == 0 || run.ExitCode == 1)
            << name << ": exit " << run.ExitCode << "\n" << run.Err.substr(0, 300);
        for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((db + suffix).c_str());
    }
}

}  // namespace
}  // namespace corvina
