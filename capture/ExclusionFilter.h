#pragma once
// Which entries a walk leaves out. The listing asks once per name, before it
// reads anything of the entry, so that what is left out costs no read and
// counts nowhere: not as a file, a directory, bytes or an error, and it is
// not in the debug list either.
//
// Patterns are shell patterns as fnmatch reads them without flags, the way
// du reads its --exclude: "*", "?" and "[...]" match a "/" too, and a leading
// "." is nothing special. A pattern without a "/" is matched against the
// entry's name alone, so "*.o" leaves out object files at every depth. A
// pattern with a "/" is matched against the entry's path below the base,
// names joined by "/" whatever the path style ("src/build" for
// BASE/src/build; "*/build" for a build directory anywhere below the top);
// a "/" at its start or end only says that it is such a path. Under the
// Windows path style names match without regard to case, as they compare.
//
// Cache directories: a directory holding a regular file CACHEDIR.TAG that
// begins with the signature of the cache directory tagging convention is
// recorded as an empty directory, as a file system mounted below the base
// is. du-like tools that honour the tag show the directory, marked, and
// count nothing within it; archivers keep the tag so that a restore keeps
// the directory marked. A snapshot restores nothing, so it keeps the
// directory, which tells where the cache lies, and leaves everything in it
// out, the tag included. A link named CACHEDIR.TAG marks nothing: the walk
// never follows a link.
//
// The base itself is never left out: the user named it. Its name is not
// matched, and a tag in it does not empty it.
//
// Threads: the filter is read-only once built; listings on several threads
// ask it at once.

#include <string>
#include <string_view>
#include <vector>

#include "base/PathStyle.h"
#include "base/Exclusion.h"

namespace corvina {

class DirectoryHandle;
class FileSystem;

// The name of the tag file, and what a valid one begins with.
inline constexpr std::string_view kCacheTagName = "CACHEDIR.TAG";
inline constexpr std::string_view kCacheTagSignature = "Signature: 8a477f597d28d172789f06886806bc55";

class ExclusionFilter {
public:
    ExclusionFilter() = default;
    ExclusionFilter(const std::vector<Exclusion>& exclusions, PathStyle style);

    bool Empty() const { return namePatterns_.empty() && pathPatterns_.empty() && !caches_; }
    bool LeavesOutCaches() const { return caches_; }

    // Whether the entry name, listed in the directory whose path below the
    // base is below ("" for the base), is left out.
    bool LeavesOut(std::string_view below, std::string_view name) const;

    // The path below the base of a subdirectory, for LeavesOut: kept only
    // while a pattern needs paths ("" otherwise), so that a walk without
    // one copies no path per directory.
    std::string PathBelow(std::string_view parentBelow, std::string_view name) const;

    // Whether the open directory holds a valid tag (see above). A tag that
    // cannot be read is no tag: the directory is walked as any other.
    static bool IsTaggedCache(FileSystem& fileSystem, const DirectoryHandle& directory);

private:
    std::vector<std::string> namePatterns_;
    std::vector<std::string> pathPatterns_;
    bool caches_ = false;
    int flags_ = 0;
};

}  // namespace corvina
