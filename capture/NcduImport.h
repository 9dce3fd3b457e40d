#pragma once
// A tree read by ncdu, as its JSON export holds it (format major version 1,
// as ncdu 1.9 and later write it with -o, and ncdu 2 with -o too), read into
// memory so that an ordinary snapshot run can walk it (capture/NcduFileSystem.h).
//
// The export is checked whole before anything is written: a name that could
// not be a file's name (empty, ".", "..", holding a "/" or a control
// character, not valid UTF-8), a name twice in one directory, a cut-short or
// malformed document, a format other than the JSON export of major version 1
// and a tree deeper than kMaxNcduDepth are refused with a text that says what
// and where. The reader neither recurses nor builds a JSON document: the
// nesting of any input costs no stack, and the tree is held compactly, one
// entry and one name per file.
//
// Error policy: nothing here prints or throws; ReadNcduExport returns why it
// refused, and the tree is then to be dropped.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvina {

// Deeper than any tree met in practice; a document nested deeper is damaged or
// made to exhaust the database, whose Dir rows grow with the square of the depth.
inline constexpr std::size_t kMaxNcduDepth = 10000;

// Why the scan left an entry out, as its "excluded" field says.
enum class NcduExclusion { None, Pattern, OtherFileSystem, KernelFileSystem, FirmLink, Other };

struct NcduEntry {
    std::size_t NameStart = 0;  // into NcduTree::Names
    std::size_t NameLength = 0;
    bool Directory = false;
    bool ReadError = false;    // a file that could not be read; a directory read in part or not at all
    bool NotRegular = false;   // a link, device, fifo or socket
    bool HardLinked = false;   // "hlnkc": one of several names of an inode
    NcduExclusion Excluded = NcduExclusion::None;
    std::int64_t Asize = 0;    // bytes
    std::int64_t Dsize = 0;    // bytes on disk (st_blocks x 512)
    std::uint64_t Device = 0;  // the directory's when the entry names none
    std::uint64_t Inode = 0;
    std::uint64_t Links = 0;   // "nlink"; 0 when not given
    std::optional<std::int64_t> Mtime;
    std::optional<unsigned> Mode;
    // A directory's children, sorted by name: positions into NcduTree::Children.
    std::size_t FirstChild = 0;
    std::size_t ChildCount = 0;
};

struct NcduTree {
    std::string Names;                // every name, back to back
    std::vector<NcduEntry> Entries;   // Entries[0] is the scanned directory
    std::vector<std::size_t> Children;  // each directory's children, one run per directory
    std::optional<std::int64_t> Timestamp;  // the metadata's, in seconds since 1970 UTC

    std::string_view Name(const NcduEntry& entry) const {
        return std::string_view(Names).substr(entry.NameStart, entry.NameLength);
    }
    // The root's name: the path the scan was made of.
    std::string_view BasePath() const { return Name(Entries.front()); }
};

// Reads the export from the descriptor to its end. Returns "" when the tree
// was read, else why not.
std::string ReadNcduExport(int fd, NcduTree& tree);

}  // namespace corvina
