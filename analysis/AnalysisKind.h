#pragma once
// The canned analyses by code. The codes are the program's own numbers: the
// command-line tool accepts them, and "--format json" prints them. 6 to 9 are
// not used. Everything else about a kind is in its row of AnalysisCatalogue.
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

namespace corvina {

enum class AnalysisKind {
    DirectoryDetails = 0,
    CompareDirectories = 1,
    NewDirectories = 2,
    DeletedDirectories = 3,
    DirectoryHistory = 4,
    WhereDidItGrow = 5,
    FilesInDirectory = 10,
    FilesInTree = 11,
    ChangedFiles = 12,
    NewFiles = 13,
    DeletedFiles = 14,
    FileTypeSummary = 15,
    DuplicateFiles = 16,
    RecentlyChangedFiles = 17,
};

}  // namespace corvina
