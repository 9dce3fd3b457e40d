#pragma once
// Small snapshot databases written through the store, for the analysis tests:
// a temporary file, snapshots added row by row, and a runner that gives the
// grid's texts as the window would show them. With CORVINA_TEST_SERVER set
// (tests/server/with_server.sh sets it), each test's database is a schema of
// its own on that server instead of a file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/AnalysisRun.h"
#include "analysis/GridLayout.h"
#include "report/SessionMessages.h"
#include "store/Catalogue.h"
#include "store/SnapshotDatabase.h"
#include "tests/support/DiskRows.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/ServerSchema.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"

namespace corvina::test {

using Rows = std::vector<std::vector<std::string>>;
// The tests name kinds as the table does.
using enum AnalysisKind;

class SnapshotDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // One complete snapshot: its rows and its Control row, in one transaction.
    void AddSnapshot(const char* key, const std::string& basePath, PathStyle style, const std::vector<DirRow>& dirs,
                     const std::vector<FileRow>& files) {
        test::AddSnapshot(db_, {.Key = key, .BasePath = basePath, .Dirs = dirs, .Files = files, .Style = style});
    }

    // State for analysing a snapshot at a directory, as the window sets it
    // after a tree click: the totals come from the Dir rows, in the basis.
    AnalysisState StateFor(AnalysisKind kind, const char* key, const char* compareKey, const std::string& directory,
                           PathStyle style = PathStyle::Posix, char unit = 'B', SizeBasis basis = SizeBasis::Apparent);
    double DirBytes(const char* key, const std::string& dirname);
    // A server holds the snapshots of this program, whose paths are POSIX:
    // it compares every name as bytes.
    static bool OnServer();

    // The pair most tests use, base path /data: the prime snapshot kPrime
    // (7 Mar) and the compare snapshot kCompare (1 Mar).
    void AddDataPair();
    // Their on-disk figures (tests/support/DiskRows.h): blocks of 4096, a
    // sparse a.txt, a preallocated b.doc and x%_*.c, directories' own blocks,
    // and docs/old/a.txt in kPrime a second name of a file counted elsewhere.
    void AddDataPairOnDisk();

    // Lays out and runs; returns every grid row (headings first).
    Rows Run(const AnalysisState& state);
    // Detail rows only (below the fixed rows).
    Rows Details(const AnalysisState& state);

    TempDir dir_;
    ServerSchema schema_;
    DatabaseState db_;
    RecordingPrompter prompter_;
    SessionMessages messages_{prompter_, db_};  // a session's, worded as the window and the tool word them
    RecordingEnder ender_;
    GridSettings settings_;
    ResultGrid grid_;
    AnalysisOutcome outcome_;
};

inline constexpr const char* kPrime = "2024-03-07 14:05:09";
inline constexpr const char* kCompare = "2024-03-01 09:00:00";

}  // namespace corvina::test
