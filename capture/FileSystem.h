#pragma once
// What the directory walk reads the disk through: open a directory, list its
// names, read an entry's attributes, length and modification time. The real
// implementation works relative to open directory descriptors (no full-path
// lookups, so paths longer than the system limit are walked too); tests
// replace it with a double that injects failures.
//
// Threads: see ConcurrentCalls.
//
// Error policy: every call returns 0 or an error code of the platform (an
// errno value on Linux); ErrorText turns a code into the platform's message.
// Nothing here throws or reports.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace corvina {

// File attribute bits as stored in Fileattr.
inline constexpr int kAttrReadOnly = 1;
inline constexpr int kAttrHidden = 2;
inline constexpr int kAttrSystem = 4;
inline constexpr int kAttrDirectory = 16;
inline constexpr int kAttrArchive = 32;

// What one read of an entry gives. Symbolic links are described themselves,
// never their targets.
struct EntryStat {
    int Attributes = 0;
    std::int64_t Length = 0;
    std::int64_t ModifiedSeconds = 0;  // seconds since 1970, may be negative
    std::uint64_t Device = 0;          // the file system the entry lives on
    // Read by the same call as the rest: 512-byte blocks allocated, the inode
    // and its number of names, and the block size the file system states.
    std::int64_t Blocks = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Links = 1;
    std::int64_t BlockSize = 0;

    bool IsDirectory() const { return (Attributes & kAttrDirectory) != 0; }
    std::int64_t DiskBytes() const { return Blocks * 512; }
};

// An open directory: a handle the file system gave out, closed on destruction.
class FileSystem;
class DirectoryHandle {
public:
    DirectoryHandle() = default;
    DirectoryHandle(FileSystem* owner, int id) : owner_(owner), id_(id) {}
    DirectoryHandle(DirectoryHandle&& other) noexcept : owner_(other.owner_), id_(other.id_) { other.owner_ = nullptr; }
    DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    ~DirectoryHandle() { Close(); }

    int Id() const { return id_; }
    void Close();

private:
    FileSystem* owner_ = nullptr;
    int id_ = -1;
};

// The size of a file system and the room left on it for an unprivileged user, in bytes.
struct FileSystemSpace {
    std::int64_t Size = 0;
    std::int64_t Free = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Opens the directory at path (the base of a walk) and describes it.
    virtual int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) = 0;
    // Opens the subdirectory name of an open directory, not following a link.
    virtual int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) = 0;

    // Listing. One listing at a time per thread: BeginListing, then NextName
    // until it returns false (the end, or a failure with error set). "." and
    // ".." are not returned. The name stays valid until the thread's next call.
    virtual int BeginListing(const DirectoryHandle& directory) = 0;
    virtual bool NextName(std::string_view& name, int& error) = 0;

    // Reads an entry of an open directory (lstat semantics).
    virtual int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) = 0;
    // The length of a file already read by ReadAttributes.
    virtual int ReadLength(const DirectoryHandle& directory, std::string_view name, const EntryStat& stat,
                           std::int64_t& length) {
        (void)directory;
        (void)name;
        length = stat.Length;
        return 0;
    }

    // Reads up to size bytes from the start of the regular file name in an
    // open directory, not following a link; count says how many were read.
    // A file system that cannot, as a double that does not say, gives ENOTSUP.
    virtual int ReadFileStart(const DirectoryHandle& directory, std::string_view name, char* buffer, std::size_t size,
                              std::size_t& count);

    // The space of the file system that holds path (statvfs). A file system
    // that cannot tell, as a double that does not say, gives ENOTSUP.
    virtual int ReadSpace(const std::string& path, FileSystemSpace& out);

    // true when calls may come from several threads at once, each thread with
    // a listing of its own: NextName continues the BeginListing made on the
    // same thread, and handles may be used and closed from any thread. A
    // file system that says false (a double with one listing) is called from
    // one thread only.
    virtual bool ConcurrentCalls() const { return false; }

    // The platform's message for an error code.
    virtual std::string ErrorText(int code) const;

protected:
    friend class DirectoryHandle;
    virtual void CloseDirectory(int id) = 0;
};

// The file system of this machine (POSIX: openat, getdents64, fstatat).
std::unique_ptr<FileSystem> MakePosixFileSystem();

// The attribute bits of a POSIX entry: 1 the owner cannot write, 2 the name
// starts with ".", 4 neither file, directory nor link, 16 a directory.
int PosixAttributes(unsigned mode, std::string_view name);

}  // namespace corvina
