#pragma once
// The thirteen canned analyses: their codes, names and what each needs. The
// window's menus and the command-line tool both look kinds up here.

#include <optional>
#include <span>
#include <string_view>

namespace corvina {

// Codes of AnalysisKind. 5 to 9 are not used.
inline constexpr int DirectoryDetails = 0;
inline constexpr int CompareDirectories = 1;
inline constexpr int NewDirectories = 2;
inline constexpr int DeletedDirectories = 3;
inline constexpr int DirectoryHistory = 4;
inline constexpr int FilesInDirectory = 10;
inline constexpr int FilesInTree = 11;
inline constexpr int ChangedFiles = 12;
inline constexpr int NewFiles = 13;
inline constexpr int DeletedFiles = 14;
inline constexpr int FileTypeSummary = 15;
inline constexpr int DuplicateFiles = 16;
inline constexpr int RecentlyChangedFiles = 17;

struct AnalysisEntry {
    int Code = 0;
    std::string_view Name;         // DirectoryDetails
    std::string_view CommandName;  // directory-details
    std::string_view MenuCaption;  // "&Directory Details"
    bool NeedsCompare = false;     // reads the compare snapshot
    bool ReadsFiles = false;       // reads files rows (of every snapshot it uses)
};

// All thirteen, in code order.
std::span<const AnalysisEntry> AnalysisCatalogue();

// nullptr for a code that names no analysis (5 to 9, negative, above 17).
const AnalysisEntry* FindAnalysis(int code);

// By command name ("files-in-tree"), program name ("FilesInTree", any case) or
// decimal code ("11").
const AnalysisEntry* FindAnalysisByName(std::string_view text);

}  // namespace corvina
