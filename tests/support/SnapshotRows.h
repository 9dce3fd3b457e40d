#pragma once
// Snapshots written row by row through the store under chosen keys, for tests
// that need exact rows rather than a walk; and what a database holds, read back
// as text.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/SnapshotDatabase.h"
#include "base/DateTime.h"
#include "base/PathStyle.h"

namespace SQLite {
class Database;
}

namespace corvina::test {

struct DirRow {
    std::string Entrytype;  // "1" files entry, "2" directory entry
    std::string Name;
    std::int64_t Files = 0;
    double Bytes = 0;
};
struct FileRow {
    std::string Dir;
    std::string Name;
    std::int64_t Size = 0;
    const char* Date = "2024-01-01 10:00:00";
};
struct SnapshotRows {
    const char* Key = "";
    std::string BasePath;
    std::vector<DirRow> Dirs;
    std::vector<FileRow> Files;
    bool Collect = true;
    std::string Description = "test snapshot";
    PathStyle Style = PathStyle::Posix;
    std::int64_t Threshold = 0;
    // What a run records in the history layout beside its key.
    std::optional<std::int64_t> Instant = {};
    std::optional<int> Utcoffset = {};
};

// The tables as an older version of the program made them: no floating-point
// totals (Totbytesf, Filesizef, TotsizeF) and no indexes.
inline const std::string kOlderTables =
    "CREATE TABLE Control (Snapshot TEXT, Basepath TEXT, Description TEXT, Collfiles TEXT, Filelimit INTEGER,"
    " Totdirs INTEGER, Totfiles INTEGER, Totbytes INTEGER, Filetot INTEGER, Filesize INTEGER);"
    "CREATE TABLE Dir (Snapshot TEXT, Entrytype TEXT, Dirname TEXT, Shortname TEXT, Parentdir TEXT,"
    " Dirlevel INTEGER, Files INTEGER, Totsize INTEGER);"
    "CREATE TABLE files (Snapshot TEXT, Filename TEXT, Filesize INTEGER, Filetype TEXT, Filedir TEXT,"
    " Fileattr INTEGER, Filedate TEXT);";

// The key a text names; aborts the test binary on a bad text.
DateTime Key(const char* text);

// Writes the rows and then the Control row, whose totals are those of the
// base path's Dir row, in one transaction; aborts the test binary on failure.
void AddSnapshot(DatabaseState& database, const SnapshotRows& snap);

// Opens the snapshot database at path (a file or a server's, created when
// there is none), hands it to write and closes it; aborts the test binary
// when it cannot be opened.
void WithDatabase(const std::string& path, const std::function<void(DatabaseState&)>& write);

// Every row of a query: fields joined by "|" (NULL as "NULL"), rows by separator.
std::string Query(SQLite::Database& db, const std::string& sql, const std::string& separator = ",");
// The same through the store's own statements, on whichever engine holds it.
std::string Query(DatabaseState& database, const std::string& sql, const std::string& separator = ",");
// The same on the database file at path, opened read-only.
std::string Query(const std::string& path, const std::string& sql, const std::string& separator = ",");

}  // namespace corvina::test
