#include "capture/NcduFileSystem.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace corvina {

namespace {

// The codes of what the scan itself met: no errno value comes near them.
constexpr int kUnreadable = 100001;
constexpr int kLeftOut = 100002;  // plus the NcduExclusion

int CodeOf(const NcduEntry& entry) {
    if (entry.Excluded != NcduExclusion::None) return kLeftOut + static_cast<int>(entry.Excluded);
    if (entry.ReadError && !entry.Directory) return kUnreadable;
    return 0;
}

}  // namespace

int NcduFileSystem::OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) {
    if (tree_.Entries.empty() || path != tree_.BasePath()) return ENOENT;
    out = DirectoryHandle(this, 0);
    stat = StatOf(tree_.Entries.front());
    return 0;
}

int NcduFileSystem::OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) {
    const long child = Find(parent, name);
    if (child < 0) return ENOENT;
    if (!tree_.Entries[child].Directory) return ENOTDIR;
    out = DirectoryHandle(this, static_cast<int>(child));
    return 0;
}

int NcduFileSystem::BeginListing(const DirectoryHandle& directory) {
    listed_ = static_cast<std::size_t>(directory.Id());
    next_ = 0;
    last_ = -1;
    return 0;
}

bool NcduFileSystem::NextName(std::string_view& name, int& error) {
    error = 0;
    const NcduEntry& directory = tree_.Entries[listed_];
    if (next_ < directory.ChildCount) {
        last_ = static_cast<long>(tree_.Children[directory.FirstChild + next_++]);
        name = tree_.Name(tree_.Entries[last_]);
        return true;
    }
    // A directory read in part ends with what stopped its reading.
    if (directory.ReadError) error = kUnreadable;
    return false;
}

int NcduFileSystem::ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) {
    // The walk reads each entry right after listing it.
    long index = last_ >= 0 && tree_.Name(tree_.Entries[last_]) == name ? last_ : Find(directory, name);
    if (index < 0) return ENOENT;
    const NcduEntry& entry = tree_.Entries[index];
    if (int code = CodeOf(entry); code != 0) return code;
    out = StatOf(entry);
    return 0;
}

std::string NcduFileSystem::ErrorText(int code) const {
    switch (code) {
        case kUnreadable: return "could not be read by the scan";
        case kLeftOut + static_cast<int>(NcduExclusion::Pattern): return "left out by the scan: an exclude pattern";
        case kLeftOut + static_cast<int>(NcduExclusion::OtherFileSystem):
            return "left out by the scan: on another file system";
        case kLeftOut + static_cast<int>(NcduExclusion::KernelFileSystem):
            return "left out by the scan: a kernel file system";
        case kLeftOut + static_cast<int>(NcduExclusion::FirmLink): return "left out by the scan: a firmlink";
        case kLeftOut + static_cast<int>(NcduExclusion::Other): return "left out by the scan";
        default: return FileSystem::ErrorText(code);
    }
}

long NcduFileSystem::Find(const DirectoryHandle& directory, std::string_view name) const {
    const NcduEntry& parent = tree_.Entries[static_cast<std::size_t>(directory.Id())];
    const auto first = tree_.Children.begin() + static_cast<long>(parent.FirstChild);
    const auto last = first + static_cast<long>(parent.ChildCount);
    const auto found = std::lower_bound(first, last, name, [this](std::size_t child, std::string_view wanted) {
        return tree_.Name(tree_.Entries[child]) < wanted;
    });
    if (found == last || tree_.Name(tree_.Entries[*found]) != name) return -1;
    return static_cast<long>(*found);
}

EntryStat NcduFileSystem::StatOf(const NcduEntry& entry) const {
    EntryStat stat;
    // The structure says what is a directory. Of what is not a regular file
    // the scan tells the kind only with a mode; without one it is taken for a
    // link, the commonest such entry, which gets no bit from the walk either.
    const unsigned permissions = entry.Mode.value_or(0644) & 07777;
    unsigned type = entry.Directory ? S_IFDIR : S_IFREG;
    if (!entry.Directory && entry.NotRegular) {
        const unsigned given = entry.Mode.value_or(0) & S_IFMT;
        type = given != 0 && given != S_IFREG && given != S_IFDIR ? given : S_IFLNK;
    }
    stat.Attributes = PosixAttributes(type | permissions, tree_.Name(entry));
    stat.Length = entry.Asize;
    stat.ModifiedSeconds = entry.Mtime.value_or(0);
    stat.Device = entry.Device;
    stat.Blocks = (entry.Dsize + 511) / 512;
    stat.Inode = entry.Inode;
    // Without an inode, names cannot be matched: each counts on its own.
    stat.Links = entry.HardLinked && entry.Inode != 0 ? std::max<std::uint64_t>(entry.Links, 2) : 1;
    return stat;
}

}  // namespace corvina
