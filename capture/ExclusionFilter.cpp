#include "capture/ExclusionFilter.h"

#include <fnmatch.h>

#include "capture/FileSystem.h"

namespace corvina {

ExclusionFilter::ExclusionFilter(const std::vector<Exclusion>& exclusions, PathStyle style)
    : flags_(style == PathStyle::Windows ? FNM_CASEFOLD : 0) {
    for (const Exclusion& exclusion : exclusions) {
        if (exclusion.Kind == ExclusionKind::Caches) {
            caches_ = true;
            continue;
        }
        std::string_view pattern = exclusion.Pattern;
        if (pattern.find('/') == std::string_view::npos) {
            namePatterns_.emplace_back(pattern);
            continue;
        }
        while (!pattern.empty() && pattern.front() == '/') pattern.remove_prefix(1);
        while (!pattern.empty() && pattern.back() == '/') pattern.remove_suffix(1);
        pathPatterns_.emplace_back(pattern);
    }
}

bool ExclusionFilter::LeavesOut(std::string_view below, std::string_view name) const {
    if (namePatterns_.empty() && pathPatterns_.empty()) return false;
    // fnmatch reads terminated texts, and a listing's names are views: one
    // buffer per thread, reused, so that a name costs no allocation.
    thread_local std::string text;
    text.assign(name);
    for (const std::string& pattern : namePatterns_) {
        if (::fnmatch(pattern.c_str(), text.c_str(), flags_) == 0) return true;
    }
    if (pathPatterns_.empty()) return false;
    if (!below.empty()) text.assign(below).append(1, '/').append(name);
    for (const std::string& pattern : pathPatterns_) {
        if (::fnmatch(pattern.c_str(), text.c_str(), flags_) == 0) return true;
    }
    return false;
}

std::string ExclusionFilter::PathBelow(std::string_view parentBelow, std::string_view name) const {
    if (pathPatterns_.empty()) return {};
    std::string path;
    path.reserve(parentBelow.size() + 1 + name.size());
    if (!parentBelow.empty()) path.append(parentBelow).append(1, '/');
    path.append(name);
    return path;
}

bool ExclusionFilter::IsTaggedCache(FileSystem& fileSystem, const DirectoryHandle& directory) {
    char start[kCacheTagSignature.size()];
    std::size_t count = 0;
    if (fileSystem.ReadFileStart(directory, kCacheTagName, start, sizeof start, count) != 0) return false;
    return std::string_view(start, count) == kCacheTagSignature;
}

}  // namespace corvina
