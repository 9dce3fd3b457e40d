#pragma once
// The three tables, in field order, and their indexes. Types map Date/Time to
// TEXT "yyyy-MM-dd HH:mm:ss", Text(n) to TEXT (widths not enforced), Integer and
// Long to 64-bit INTEGER, Double to REAL.
//
// Error policy: texts only; store/StoreError.h states the policy of store/ and
// analysis/.

#include <array>
#include <string_view>

namespace corvina::schema {

inline constexpr std::string_view kCreateControl =
    "CREATE TABLE Control (Snapshot TEXT, Basepath TEXT, Description TEXT, Collfiles TEXT, "
    "Filelimit INTEGER, Totdirs INTEGER, Totfiles INTEGER, Totbytes INTEGER, Totbytesf REAL, "
    "Filetot INTEGER, Filesize INTEGER, Filesizef REAL)";
inline constexpr std::string_view kCreateIndex1 = "CREATE UNIQUE INDEX Index1 ON Control (Snapshot)";

// The files table is its own key: File1 orders every row by (Snapshot, Filedir,
// Filename) and holds the other fields beside the key, so that no separate
// index repeats every directory text and a file analysis reads a snapshot's
// tree in one ordered range. Files of the previous layout keep a rowid table
// with the same fields, to which an open adds File1 as a unique index
// (kCreateFile1) when it lacks one, until `corvina-cli compact` converts them.
inline constexpr std::string_view kCreateFiles =
    "CREATE TABLE files (Snapshot TEXT, Filename TEXT, Filesize INTEGER, Filetype TEXT, Filedir TEXT, "
    "Fileattr INTEGER, Filedate TEXT, CONSTRAINT File1 PRIMARY KEY (Snapshot, Filedir, Filename)) WITHOUT ROWID";
inline constexpr std::string_view kCreateFile1 =
    "CREATE UNIQUE INDEX File1 ON files (Snapshot, Filedir, Filename)";

inline constexpr std::string_view kCreateDir =
    "CREATE TABLE Dir (Snapshot TEXT, Entrytype TEXT, Dirname TEXT, Shortname TEXT, Parentdir TEXT, "
    "Dirlevel INTEGER, Files INTEGER, Totsize INTEGER, TotsizeF REAL)";
// Lookup indexes for the tree (children of a directory) and the directory analyses.
inline constexpr std::string_view kCreateDirParentIndex =
    "CREATE INDEX IF NOT EXISTS DirParent ON Dir (Snapshot, Parentdir)";
inline constexpr std::string_view kCreateDirNameIndex =
    "CREATE INDEX IF NOT EXISTS DirName ON Dir (Snapshot, Dirname)";

inline constexpr std::string_view kInsertControl =
    "INSERT INTO Control (Snapshot, Basepath, Description, Collfiles, Filelimit, Totdirs, Totfiles, "
    "Totbytesf, Filetot, Filesizef) VALUES (?,?,?,?,?,?,?,?,?,?)";
inline constexpr std::string_view kInsertDir =
    "INSERT INTO Dir (Snapshot, Entrytype, Dirname, Shortname, Parentdir, Dirlevel, Files, TotsizeF) "
    "VALUES (?,?,?,?,?,?,?,?)";
inline constexpr std::string_view kInsertFiles =
    "INSERT INTO files (Snapshot, Filename, Filesize, Filetype, Filedir, Fileattr, Filedate) "
    "VALUES (?,?,?,?,?,?,?)";

// The fields a table of ours has in the older format too. A table of one of
// our names that lacks any of them belongs to another program.
inline constexpr std::array<std::string_view, 10> kControlFields{
    "Snapshot", "Basepath", "Description", "Collfiles", "Filelimit",
    "Totdirs",  "Totfiles", "Totbytes",    "Filetot",   "Filesize"};
inline constexpr std::array<std::string_view, 8> kDirFields{"Snapshot", "Entrytype", "Dirname", "Shortname",
                                                            "Parentdir", "Dirlevel", "Files",   "Totsize"};
inline constexpr std::array<std::string_view, 7> kFilesFields{"Snapshot", "Filename", "Filesize", "Filetype",
                                                              "Filedir",  "Fileattr", "Filedate"};

}  // namespace corvina::schema
