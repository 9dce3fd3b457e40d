#pragma once
// A directory whose opening waits until the test lets it go, so that a real
// process walking a tree stands still at a known point of its work (its
// transaction open, the rows before it written) for as long as the test
// needs, on a fast machine as on a slow one. The kernel holds the opening
// (fanotify permission events), which takes CAP_SYS_ADMIN: root, as in CI.

#include <chrono>
#include <string>
#include <vector>

namespace corvina::test {

class HeldDirectory {
public:
    // Creates the directory when missing and holds every opening of it.
    explicit HeldDirectory(const std::string& path);
    ~HeldDirectory();  // lets go
    HeldDirectory(const HeldDirectory&) = delete;
    HeldDirectory& operator=(const HeldDirectory&) = delete;

    // False where this system or user cannot hold an opening; the test then skips.
    bool Holding() const { return fd_ >= 0; }
    static constexpr const char* kCannotHold = "holding a directory open needs fanotify permission events (root)";

    // Waits until a process is held opening the directory (false after the
    // timeout: only a hung run takes that long).
    bool WaitUntilOpened(std::chrono::milliseconds timeout = std::chrono::minutes(1));
    // Lets the held openings and every later one go through.
    void Release();

private:
    int fd_ = -1;
    std::vector<int> held_;  // the held openings, answered on release
};

}  // namespace corvina::test
