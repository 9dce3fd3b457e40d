#include "analysis/AnalysisCatalogue.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace corvina {

namespace {

constexpr std::array<AnalysisEntry, 13> kCatalogue{{
    {DirectoryDetails, "DirectoryDetails", "directory-details", "&Directory Details", false, false},
    {CompareDirectories, "CompareDirectories", "compare-directories", "Compare Directory Info", true, false},
    {NewDirectories, "NewDirectories", "new-directories", "New Directories", true, false},
    {DeletedDirectories, "DeletedDirectories", "deleted-directories", "Deleted Directories", true, false},
    {DirectoryHistory, "DirectoryHistory", "directory-history", "Directory History", false, false},
    {FilesInDirectory, "FilesInDirectory", "files-in-directory", "Files within &Directory", false, true},
    {FilesInTree, "FilesInTree", "files-in-tree", "Files within directory &Tree", false, true},
    {ChangedFiles, "ChangedFiles", "changed-files", "&Changed files", true, true},
    {NewFiles, "NewFiles", "new-files", "&New files", true, true},
    {DeletedFiles, "DeletedFiles", "deleted-files", "&Deleted files", true, true},
    {FileTypeSummary, "FileTypeSummary", "file-type-summary", "Summarise by By File &Type", false, true},
    {DuplicateFiles, "DuplicateFiles", "duplicate-files", "Duplicate files", false, true},
    {RecentlyChangedFiles, "RecentlyChangedFiles", "recently-changed-files", "&Recently changed", false, true},
}};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::span<const AnalysisEntry> AnalysisCatalogue() { return kCatalogue; }

const AnalysisEntry* FindAnalysis(int code) {
    auto it = std::find_if(kCatalogue.begin(), kCatalogue.end(), [code](const auto& e) { return e.Code == code; });
    return it == kCatalogue.end() ? nullptr : &*it;
}

const AnalysisEntry* FindAnalysisByName(std::string_view text) {
    int code = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (!text.empty() && ec == std::errc{} && end == text.data() + text.size()) return FindAnalysis(code);
    for (const auto& entry : kCatalogue) {
        if (text == entry.CommandName || EqualsIgnoringCase(text, entry.Name)) return &entry;
    }
    return nullptr;
}

}  // namespace corvina
