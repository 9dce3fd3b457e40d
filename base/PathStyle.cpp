#include "base/PathStyle.h"

#include <algorithm>

namespace corvina {

char Separator(PathStyle style) { return style == PathStyle::Posix ? '/' : '\\'; }

bool IsRootPath(std::string_view path, PathStyle style) {
    if (style == PathStyle::Posix) return path == "/";
    return !path.empty() && path.back() == ':';
}

int CountLevelSeparators(std::string_view path, PathStyle style) {
    if (style == PathStyle::Posix && path == "/") return 0;
    return static_cast<int>(std::count(path.begin(), path.end(), Separator(style)));
}

PathStyle PathStyleOfBasePath(std::string_view basePath) {
    return !basePath.empty() && basePath.front() == '/' ? PathStyle::Posix : PathStyle::Windows;
}

int BaseLevelOf(std::string_view basePath, PathStyle style) { return CountLevelSeparators(basePath, style) - 1; }

std::string WalkPathOf(std::string_view basePath, PathStyle style) {
    std::string walk(basePath);
    if (!(style == PathStyle::Posix && basePath == "/")) walk += Separator(style);
    return walk;
}

std::string JoinPath(std::string_view directory, std::string_view name, PathStyle style) {
    std::string path;
    path.reserve(directory.size() + 1 + name.size());
    path.append(directory);
    if (path.empty() || path.back() != Separator(style)) path += Separator(style);
    path.append(name);
    return path;
}

std::string FilesEntryName(std::string_view directory, PathStyle style) {
    return JoinPath(directory, "(files)", style);
}

std::string_view WithoutTrailingSeparators(std::string_view path, PathStyle style) {
    while (path.size() > 1 && path.back() == Separator(style)) path.remove_suffix(1);
    return path;
}

DirNames DeriveDirNames(std::string_view entryName, std::string_view snapshotBasePath, int baseLevel,
                        PathStyle style) {
    DirNames names;
    names.Dirlevel = CountLevelSeparators(entryName, style) - baseLevel;
    bool isRoot = (style == PathStyle::Windows && !entryName.empty() && entryName.back() == ':') ||
                  (style == PathStyle::Posix && entryName == "/") || entryName == snapshotBasePath;
    if (isRoot) {
        names.Shortname = ".";
        names.Parentdir = "";
        return names;
    }
    std::size_t at = entryName.rfind(Separator(style));
    if (at == std::string_view::npos) {
        // Not a name the walk hands in; keep the whole name as the short name.
        names.Shortname = entryName;
        names.Parentdir = "";
        return names;
    }
    names.Shortname = entryName.substr(at + 1);
    names.Parentdir = entryName.substr(0, at);
    // A child of the POSIX root has "/" as parent, as "C:\Data" has "C:".
    if (style == PathStyle::Posix && at == 0) names.Parentdir = entryName.substr(0, 1);
    return names;
}

std::size_t DeriveFileType(std::string_view fileName, char* out) {
    std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return 0;
    std::size_t length = fileName.size() - dot - 1;
    if (length > 3) return 0;
    for (std::size_t i = 0; i < length; ++i) {
        char c = fileName[dot + 1 + i];
        out[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return length;
}

std::string DeriveFileType(std::string_view fileName) {
    char buffer[3];
    return std::string(buffer, DeriveFileType(fileName, buffer));
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace corvina
