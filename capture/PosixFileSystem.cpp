// The real file system. Every lookup is relative to the descriptor of an open
// directory (openat, fstatat), so the kernel never resolves a full path again
// and paths beyond PATH_MAX are walked. Names are read with getdents64 into
// one buffer that the single listing reuses; nothing is allocated per entry.

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include "capture/FileSystem.h"
#include "store/PathStyle.h"

namespace corvina {

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
    if (this != &other) {
        Close();
        owner_ = other.owner_;
        id_ = other.id_;
        other.owner_ = nullptr;
    }
    return *this;
}

void DirectoryHandle::Close() {
    if (owner_ != nullptr) {
        owner_->CloseDirectory(id_);
        owner_ = nullptr;
    }
}

std::string FileSystem::ErrorText(int code) const {
    char buffer[256];
    // The GNU strerror_r returns the message, which may or may not be in buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string("Error ") + std::to_string(code);
}

int FileSystem::ReadSpace(const std::string& path, FileSystemSpace& out) {
    (void)path;
    out = {};
    return ENOTSUP;
}

int PosixAttributes(unsigned mode, std::string_view name) {
    int attributes = 0;
    if ((mode & S_IWUSR) == 0) attributes += kAttrReadOnly;
    if (!name.empty() && name.front() == '.') attributes += kAttrHidden;
    if (S_ISDIR(mode)) {
        attributes += kAttrDirectory;
    } else if (!S_ISREG(mode) && !S_ISLNK(mode)) {
        attributes += kAttrSystem;
    }
    return attributes;
}

namespace {

void FillStat(const struct stat& st, std::string_view name, EntryStat& out) {
    out.Attributes = PosixAttributes(st.st_mode, name);
    out.Length = static_cast<std::int64_t>(st.st_size);
    out.ModifiedSeconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    out.Device = static_cast<std::uint64_t>(st.st_dev);
}

// The last component of a path, for the hidden bit of the base directory.
std::string_view LastComponent(std::string_view path) {
    path = WithoutTrailingSeparators(path, PathStyle::Posix);
    auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

class PosixFileSystem final : public FileSystem {
public:
    PosixFileSystem() : buffer_(64 * 1024) {}

    int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) override {
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return errno;
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            int error = errno;
            ::close(fd);
            return error;
        }
        FillStat(st, LastComponent(path), stat);
        out = DirectoryHandle(this, fd);
        return 0;
    }

    int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) override {
        if (!MakeName(name)) return ENAMETOOLONG;
        // O_NOFOLLOW: a directory swapped for a link after it was read is not entered.
        int fd = ::openat(parent.Id(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return errno;
        out = DirectoryHandle(this, fd);
        return 0;
    }

    int BeginListing(const DirectoryHandle& directory) override {
        listingFd_ = directory.Id();
        filled_ = 0;
        position_ = 0;
        atEnd_ = false;
        return 0;
    }

    bool NextName(std::string_view& name, int& error) override {
        error = 0;
        for (;;) {
            if (position_ >= filled_) {
                if (atEnd_) return false;
                ssize_t n = ::getdents64(listingFd_, buffer_.data(), buffer_.size());
                if (n < 0) {
                    if (errno == EINTR) continue;
                    error = errno;
                    atEnd_ = true;
                    return false;
                }
                if (n == 0) {
                    atEnd_ = true;
                    return false;
                }
                filled_ = static_cast<std::size_t>(n);
                position_ = 0;
            }
            auto* entry = reinterpret_cast<struct dirent64*>(buffer_.data() + position_);
            position_ += entry->d_reclen;
            const char* text = entry->d_name;
            if (text[0] == '.' && (text[1] == '\0' || (text[1] == '.' && text[2] == '\0'))) continue;
            name = std::string_view(text, std::strlen(text));
            return true;
        }
    }

    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override {
        // A name straight from the listing is terminated in the buffer already.
        const char* text = FromListing(name) ? name.data() : nullptr;
        if (text == nullptr) {
            if (!MakeName(name)) return ENAMETOOLONG;
            text = name_.c_str();
        }
        struct stat st;
        if (::fstatat(directory.Id(), text, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
        FillStat(st, name, out);
        return 0;
    }

protected:
    int ReadSpace(const std::string& path, FileSystemSpace& out) override {
        struct statvfs space {};
        if (::statvfs(path.c_str(), &space) != 0) return errno;
        out.Size = static_cast<std::int64_t>(space.f_blocks * space.f_frsize);
        out.Free = static_cast<std::int64_t>(space.f_bavail * space.f_frsize);
        return 0;
    }

    void CloseDirectory(int id) override { ::close(id); }

private:
    bool FromListing(std::string_view name) const {
        // std::less gives a total order even for pointers into other arrays.
        const char* begin = buffer_.data();
        std::less<const char*> before;
        return !before(name.data(), begin) && before(name.data() + name.size(), begin + filled_);
    }
    // A name from elsewhere (a view into a caller's buffer) is copied into a
    // reused string to terminate it.
    bool MakeName(std::string_view name) {
        if (name.find('\0') != std::string_view::npos) return false;
        name_.assign(name.data(), name.size());
        return true;
    }

    std::vector<char> buffer_;
    std::size_t filled_ = 0;
    std::size_t position_ = 0;
    int listingFd_ = -1;
    bool atEnd_ = true;
    std::string name_;
};

// The walk keeps one descriptor open per level of the current path: a deep
// tree should not run out of them at the common soft limit of 1024. Raising
// the soft limit to the hard one takes nothing from anyone.
void RaiseDescriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);  // a failure leaves the old limit
    }
}

}  // namespace

std::unique_ptr<FileSystem> MakePosixFileSystem() {
    RaiseDescriptorLimit();
    return std::make_unique<PosixFileSystem>();
}

}  // namespace corvina
