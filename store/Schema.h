#pragma once
// Our tables, in field order, and their indexes, written once for every
// engine: the engine's Dialect names the types. Keys and dates are text
// "yyyy-MM-dd HH:mm:ss" that compares as bytes; names are any bytes a file
// system holds; Integer and Long are 64-bit integers, Double a double.
//
// Error policy: texts only; store/StoreError.h states the policy of store/ and
// analysis/.

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "store/engine/Engine.h"

namespace corvina::schema {

struct Column {
    std::string_view Name;
    engine::ValueKind Kind;
};

struct Table {
    std::string_view Name;
    std::span<const Column> Columns;
    // The primary key clause of a table that is its own key, "" for none.
    std::string_view Key;
};

using engine::ValueKind;

inline constexpr Column kControlColumns[] = {
    {"Snapshot", ValueKind::Key},       {"Basepath", ValueKind::Name},     {"Description", ValueKind::Name},
    {"Collfiles", ValueKind::Key},      {"Filelimit", ValueKind::Integer}, {"Totdirs", ValueKind::Integer},
    {"Totfiles", ValueKind::Integer},   {"Totbytes", ValueKind::Integer},  {"Totbytesf", ValueKind::Real},
    {"Filetot", ValueKind::Integer},    {"Filesize", ValueKind::Integer},  {"Filesizef", ValueKind::Real},
};

// The files table is its own key: File1 orders every row by (Snapshot, Filedir,
// Filename) and holds the other fields beside the key, so that no separate
// index repeats every directory text and a file analysis reads a snapshot's
// tree in one ordered range. Files of the previous layout keep a rowid table
// with the same fields, to which an open adds File1 as a unique index
// (kCreateFile1) when it lacks one, until `corvina-cli compact` converts them.
inline constexpr Column kFilesColumns[] = {
    {"Snapshot", ValueKind::Key}, {"Filename", ValueKind::Name},    {"Filesize", ValueKind::Integer},
    {"Filetype", ValueKind::Name}, {"Filedir", ValueKind::Name},    {"Fileattr", ValueKind::Integer},
    {"Filedate", ValueKind::Key},
};

inline constexpr Column kDirColumns[] = {
    {"Snapshot", ValueKind::Key},    {"Entrytype", ValueKind::Key},  {"Dirname", ValueKind::Name},
    {"Shortname", ValueKind::Name},  {"Parentdir", ValueKind::Name}, {"Dirlevel", ValueKind::Integer},
    {"Files", ValueKind::Integer},   {"Totsize", ValueKind::Integer}, {"TotsizeF", ValueKind::Real},
};

// The tables a run adds when it first writes a row; older files lack them.
inline constexpr Column kFilesystemColumns[] = {
    {"Snapshot", ValueKind::Key}, {"Fssize", ValueKind::Integer}, {"Fsfree", ValueKind::Integer}};
inline constexpr Column kHostColumns[] = {{"Snapshot", ValueKind::Key}, {"Hostname", ValueKind::Name}};

// Bytes on disk (allocated blocks x 512), each inode counted once per
// snapshot: the name first in the snapshot's row order carries a file's
// blocks, its other names 0. A snapshot has on-disk figures exactly when it
// has its Diskusage row; older snapshots have none and no figure is made up
// for them. Diskbytes of the root (Dirdisk) equals Totdiskbytes; Filediskbytes
// is the on-disk total of all the recorded files. Blockunit is the unit in
// which the base's file system allocates, as it states it (st_blksize); 0
// when it did not, and then every files row has its Filedisk row.
inline constexpr Column kDiskusageColumns[] = {{"Snapshot", ValueKind::Key},
                                               {"Totdiskbytes", ValueKind::Integer},
                                               {"Filediskbytes", ValueKind::Integer},
                                               {"Blockunit", ValueKind::Integer}};
// One row per Dir row, by the same (Snapshot, Dirname, Entrytype): a directory
// entry's whole subtree on disk (the directories' own blocks and links
// included), a "(files)" entry's own files. Entrytype is in the key because a
// directory's files entry and a subdirectory named "(files)" share a Dirname.
inline constexpr Column kDirdiskColumns[] = {{"Snapshot", ValueKind::Key},
                                             {"Dirname", ValueKind::Name},
                                             {"Entrytype", ValueKind::Key},
                                             {"Diskbytes", ValueKind::Integer}};
// Most files take their length rounded up to whole allocation units and have
// one name, so only the files rows that do not get a row here, by the same
// (Snapshot, Filedir, Filename): a file of several names (Links, its link
// count, above 1; its later names have Diskbytes 0), and a file whose blocks
// differ from its rounded length (sparse, stored inline, compressed, extra
// extent blocks). Any other files row of a snapshot with a Diskusage row has
//   Diskbytes = (Filesize + Blockunit - 1) / Blockunit * Blockunit, Links = 1
// in integer arithmetic, which a reader gets with
//   SELECT COALESCE(fd.Diskbytes, (f.Filesize + u.Blockunit - 1) / NULLIF(u.Blockunit, 0) * u.Blockunit)
//   FROM files f JOIN Diskusage u ON u.Snapshot = f.Snapshot
//   LEFT JOIN Filedisk fd ON fd.Snapshot = f.Snapshot AND fd.Filedir = f.Filedir AND fd.Filename = f.Filename
// (store/DiskUsage.h FilediskTerms writes these terms for a query).
inline constexpr Column kFilediskColumns[] = {{"Snapshot", ValueKind::Key},       {"Filedir", ValueKind::Name},
                                              {"Filename", ValueKind::Name},       {"Diskbytes", ValueKind::Integer},
                                              {"Links", ValueKind::Integer}};
// What a run left out, in the order given: Kind "pattern" with a shell
// pattern, or "caches" (directories tagged as caches) with an empty pattern.
inline constexpr Column kExclusionColumns[] = {{"Snapshot", ValueKind::Key},
                                               {"Position", ValueKind::Integer},
                                               {"Kind", ValueKind::Key},
                                               {"Pattern", ValueKind::Name}};

inline constexpr Table kControl{"Control", kControlColumns, ""};
inline constexpr Table kFiles{"files", kFilesColumns, "CONSTRAINT File1 PRIMARY KEY (Snapshot, Filedir, Filename)"};
inline constexpr Table kDir{"Dir", kDirColumns, ""};
inline constexpr Table kFilesystem{"Filesystem", kFilesystemColumns, ""};
inline constexpr Table kHost{"Host", kHostColumns, ""};
inline constexpr Table kDiskusage{"Diskusage", kDiskusageColumns, "CONSTRAINT Diskusage1 PRIMARY KEY (Snapshot)"};
inline constexpr Table kDirdisk{"Dirdisk", kDirdiskColumns,
                                "CONSTRAINT Dirdisk1 PRIMARY KEY (Snapshot, Dirname, Entrytype)"};
inline constexpr Table kFiledisk{"Filedisk", kFilediskColumns,
                                 "CONSTRAINT Filedisk1 PRIMARY KEY (Snapshot, Filedir, Filename)"};
inline constexpr Table kExclusion{"Exclusion", kExclusionColumns,
                                  "CONSTRAINT Exclusion1 PRIMARY KEY (Snapshot, Position)"};

inline constexpr std::string_view kCreateIndex1 = "CREATE UNIQUE INDEX Index1 ON Control (Snapshot)";
inline constexpr std::string_view kCreateFile1 = "CREATE UNIQUE INDEX File1 ON files (Snapshot, Filedir, Filename)";
// Lookup indexes for the tree (children of a directory) and the directory analyses.
inline constexpr std::string_view kCreateDirParentIndex =
    "CREATE INDEX IF NOT EXISTS DirParent ON Dir (Snapshot, Parentdir)";
inline constexpr std::string_view kCreateDirNameIndex =
    "CREATE INDEX IF NOT EXISTS DirName ON Dir (Snapshot, Dirname)";
inline constexpr std::string_view kCreateHost1 = "CREATE UNIQUE INDEX IF NOT EXISTS Host1 ON Host (Snapshot)";

// The fields each row of a run fills, in the order the row writers bind them.
inline constexpr std::array<std::string_view, 10> kControlRowFields{
    "Snapshot", "Basepath", "Description", "Collfiles", "Filelimit",
    "Totdirs",  "Totfiles", "Totbytesf",   "Filetot",   "Filesizef"};
inline constexpr std::array<std::string_view, 8> kDirRowFields{"Snapshot",  "Entrytype", "Dirname", "Shortname",
                                                               "Parentdir", "Dirlevel",  "Files",   "TotsizeF"};
inline constexpr std::array<std::string_view, 7> kFilesRowFields{"Snapshot", "Filename", "Filesize", "Filetype",
                                                                 "Filedir",  "Fileattr", "Filedate"};

// The fields a table of ours has in the older format too. A table of one of
// our names that lacks any of them belongs to another program.
inline constexpr std::array<std::string_view, 10> kControlFields{
    "Snapshot", "Basepath", "Description", "Collfiles", "Filelimit",
    "Totdirs",  "Totfiles", "Totbytes",    "Filetot",   "Filesize"};
inline constexpr std::array<std::string_view, 8> kDirFields{"Snapshot", "Entrytype", "Dirname", "Shortname",
                                                            "Parentdir", "Dirlevel", "Files",   "Totsize"};
inline constexpr std::array<std::string_view, 7> kFilesFields{"Snapshot", "Filename", "Filesize", "Filetype",
                                                              "Filedir",  "Fileattr", "Filedate"};

enum class Create { Table, TemporaryTable, TableIfMissing };

// "CREATE TABLE Control (Snapshot TEXT, ...)" in the engine's types.
std::string CreateTableSql(const engine::Dialect& dialect, const Table& table, Create how = Create::Table);

}  // namespace corvina::schema
