#pragma once
// A tree read from an ncdu export, served to the directory walk as a file
// system, so that an import is an ordinary snapshot run: the same key, rows,
// on-disk counts (each inode once, at its first name in row order), error
// list, layouts and engines as a walk of the disk. Each entry reads as the
// scan saw it: its length, its blocks (dsize / 512), its inode and number of
// names where the scan marked it as one of several, its device, its
// modification time and mode where the scan kept them. An entry the scan
// left out, or could not read, is an error of its own for the walk to list; a
// directory the scan read in part lists what it held and then that error.
//
// Ownership: the tree is the caller's and must outlive the file system.
// Threads: one listing for all callers (ConcurrentCalls is false).

#include "capture/FileSystem.h"
#include "capture/NcduImport.h"

namespace corvina {

class NcduFileSystem final : public FileSystem {
public:
    explicit NcduFileSystem(const NcduTree& tree) : tree_(tree) {}

    int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) override;
    int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) override;
    int BeginListing(const DirectoryHandle& directory) override;
    bool NextName(std::string_view& name, int& error) override;
    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override;
    std::string ErrorText(int code) const override;

protected:
    void CloseDirectory(int) override {}

private:
    // The child of a directory by name; -1 when there is none.
    long Find(const DirectoryHandle& directory, std::string_view name) const;
    EntryStat StatOf(const NcduEntry& entry) const;

    const NcduTree& tree_;
    std::size_t listed_ = 0;    // the directory being listed
    std::size_t next_ = 0;      // its next child, by position
    long last_ = -1;            // the entry NextName gave last
};

}  // namespace corvina
