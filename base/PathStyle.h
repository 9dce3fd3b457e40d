#pragma once
// Path rules of the two path styles. The stored texts of a snapshot (Dirname,
// Parentdir, Filedir, Basepath) follow the style of the machine the snapshot
// was taken on; both styles are tested on Linux.
//
// POSIX style: separator "/", the file-system root "/" plays the part of a
// drive root: base path "/", walk path "/", files entry "/(files)", a child
// "/data" with Parentdir "/". Windows style: separator "\", a drive root is
// "C:", walk path "C:\", files entry "C:\(files)", a child "C:\Data".
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

#include <string>
#include <string_view>

namespace corvina {

enum class PathStyle { Posix, Windows };

// The style of the machine this program runs on.
inline constexpr PathStyle kNativePathStyle = PathStyle::Posix;

char Separator(PathStyle style);

// True for a root of the file system in this style: "/" (POSIX) or a drive
// such as "C:" (Windows: the name ends in ":").
bool IsRootPath(std::string_view path, PathStyle style);

// Number of separators that count for the level of an entry: the POSIX root
// "/" counts 0, like a drive "C:".
int CountLevelSeparators(std::string_view path, PathStyle style);

// The path style a stored base path is written in: POSIX when it begins with
// "/", else Windows.
PathStyle PathStyleOfBasePath(std::string_view basePath);

// BaseLevel of a base path: its separators minus 1 ("/" and "C:" give -1,
// "/data" and "C:\Data" give 0).
int BaseLevelOf(std::string_view basePath, PathStyle style);

// The walk path P of a base path: the base path followed by a separator,
// except the POSIX root, which is "/" already.
std::string WalkPathOf(std::string_view basePath, PathStyle style);

// The path without its trailing separators, as Dir rows and base paths are
// stored: "/data/" gives "/data", "C:\" gives the drive "C:", the POSIX root
// "/" stays "/".
std::string_view WithoutTrailingSeparators(std::string_view path, PathStyle style);

// Joins a directory (no trailing separator, or the POSIX root "/") and a name.
std::string JoinPath(std::string_view directory, std::string_view name, PathStyle style);

// The name of the files entry of a directory: "/data/(files)", "/(files)",
// "C:\Data\(files)", "C:\(files)".
std::string FilesEntryName(std::string_view directory, PathStyle style);

// Short name, parent and level of a Dir entry as WriteDirRow stores them.
struct DirNames {
    std::string_view Shortname;
    std::string_view Parentdir;
    int Dirlevel = 0;
};
// The views point into entryName (or at static texts "." and "").
DirNames DeriveDirNames(std::string_view entryName, std::string_view snapshotBasePath, int baseLevel,
                        PathStyle style);

// Upper-cased extension of 1 to 3 characters, else "": report.doc gives DOC,
// archive.tar.gz gives GZ, README, notes., .profile and page.html give "".
// Writes into out (at least 3 characters) and returns the length.
std::size_t DeriveFileType(std::string_view fileName, char* out);
std::string DeriveFileType(std::string_view fileName);

// text with its ASCII letters lower-cased, as table and field names match
// without regard to case.
std::string AsciiLower(std::string_view text);

}  // namespace corvina
