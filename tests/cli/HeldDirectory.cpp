#include "tests/cli/HeldDirectory.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace corvina::test {

HeldDirectory::HeldDirectory(const std::string& path) {
    std::filesystem::create_directories(path);
    fd_ = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    // FAN_ONDIR: without it only files are reported.
    if (::fanotify_mark(fd_, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_ONDIR, AT_FDCWD, path.c_str()) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

HeldDirectory::~HeldDirectory() { Release(); }

bool HeldDirectory::WaitUntilOpened(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (fd_ >= 0 && held_.empty()) {
        alignas(fanotify_event_metadata) char buffer[4096];
        ssize_t length = ::read(fd_, buffer, sizeof buffer);
        if (length > 0) {
            for (auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer); FAN_EVENT_OK(event, length);
                 event = FAN_EVENT_NEXT(event, length)) {
                if (event->vers == FANOTIFY_METADATA_VERSION && event->fd >= 0) held_.push_back(event->fd);
            }
            continue;
        }
        if (length < 0 && errno != EAGAIN && errno != EINTR) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd ready{fd_, POLLIN, 0};
        ::poll(&ready, 1, static_cast<int>(left.count()));
    }
    return !held_.empty();
}

void HeldDirectory::Release() {
    for (int opening : held_) {
        const fanotify_response allow{opening, FAN_ALLOW};
        (void)::write(fd_, &allow, sizeof allow);
        ::close(opening);
    }
    held_.clear();
    // Closing the group lets any opening not read yet through and removes the mark.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace corvina::test
