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
#include "base/PathStyle.h"

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

int FileSystem::ReadFileStart(const DirectoryHandle& directory, std::string_view name, char* buffer, std::size_t size,
                              std::size_t& count) {
    (void)directory;
    (void)name;
    (void)buffer;
    (void)size;
    count = 0;
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
    out.Blocks = static_cast<std::int64_t>(st.st_blocks);
    out.Inode = static_cast<std::uint64_t>(st.st_ino);
    out.Links = static_cast<std::uint64_t>(st.st_nlink);
    out.BlockSize = static_cast<std::int64_t>(st.st_blksize);
}

// The last component of a path, for the hidden bit of the base directory.
std::string_view LastComponent(std::string_view path) {
    path = WithoutTrailingSeparators(path, PathStyle::Posix);
    auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The listing of the calling thread and its scratch name.
struct Listing {
    std::vector<char> Buffer = std::vector<char>(64 * 1024);
    std::size_t Filled = 0;
    std::size_t Position = 0;
    int Fd = -1;
    bool AtEnd = true;
    std::string Name;
};

Listing& ThreadListing() {
    thread_local Listing listing;
    return listing;
}

class PosixFileSystem final : public FileSystem {
public:
    bool ConcurrentCalls() const override { return true; }

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
        Listing& listing = ThreadListing();
        if (!MakeName(listing, name)) return ENAMETOOLONG;
        // O_NOFOLLOW: a directory swapped for a link after it was read is not entered.
        int fd = ::openat(parent.Id(), listing.Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return errno;
        out = DirectoryHandle(this, fd);
        return 0;
    }

    int BeginListing(const DirectoryHandle& directory) override {
        Listing& listing = ThreadListing();
        listing.Fd = directory.Id();
        listing.Filled = 0;
        listing.Position = 0;
        listing.AtEnd = false;
        return 0;
    }

    bool NextName(std::string_view& name, int& error) override {
        Listing& listing = ThreadListing();
        error = 0;
        for (;;) {
            if (listing.Position >= listing.Filled) {
                if (listing.AtEnd) return false;
                ssize_t n = ::getdents64(listing.Fd, listing.Buffer.data(), listing.Buffer.size());
                if (n < 0) {
                    if (errno == EINTR) continue;
                    error = errno;
                    listing.AtEnd = true;
                    return false;
                }
                if (n == 0) {
                    listing.AtEnd = true;
                    return false;
                }
                listing.Filled = static_cast<std::size_t>(n);
                listing.Position = 0;
            }
            auto* entry = reinterpret_cast<struct dirent64*>(listing.Buffer.data() + listing.Position);
            listing.Position += entry->d_reclen;
            const char* text = entry->d_name;
            if (text[0] == '.' && (text[1] == '\0' || (text[1] == '.' && text[2] == '\0'))) continue;
            name = std::string_view(text, std::strlen(text));
            return true;
        }
    }

    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override {
        // A name straight from the listing is terminated in the buffer already.
        Listing& listing = ThreadListing();
        const char* text = FromListing(listing, name) ? name.data() : nullptr;
        if (text == nullptr) {
            if (!MakeName(listing, name)) return ENAMETOOLONG;
            text = listing.Name.c_str();
        }
        struct stat st;
        if (::fstatat(directory.Id(), text, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
        FillStat(st, name, out);
        return 0;
    }

    int ReadFileStart(const DirectoryHandle& directory, std::string_view name, char* buffer, std::size_t size,
                      std::size_t& count) override {
        count = 0;
        Listing& listing = ThreadListing();
        if (!MakeName(listing, name)) return ENAMETOOLONG;
        // O_NONBLOCK: a fifo of that name must not hold the walk until a writer comes.
        const int fd = ::openat(directory.Id(), listing.Name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return errno;
        int error = 0;
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            error = errno;
        } else if (!S_ISREG(st.st_mode)) {
            error = EINVAL;
        }
        while (error == 0 && count < size) {
            const ssize_t n = ::read(fd, buffer + count, size - count);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) error = errno;
            if (n <= 0) break;
            count += static_cast<std::size_t>(n);
        }
        ::close(fd);
        return error;
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
    static bool FromListing(const Listing& listing, std::string_view name) {
        // std::less gives a total order even for pointers into other arrays.
        const char* begin = listing.Buffer.data();
        std::less<const char*> before;
        return !before(name.data(), begin) && before(name.data() + name.size(), begin + listing.Filled);
    }
    // A name from elsewhere (a view into a caller's buffer) is copied into a
    // reused string to terminate it.
    static bool MakeName(Listing& listing, std::string_view name) {
        if (name.find('\0') != std::string_view::npos) return false;
        listing.Name.assign(name.data(), name.size());
        return true;
    }
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
