#pragma once
// A snapshot's on-disk figures and exclusions, written into their tables as a
// run writes them (each table made when missing, as a run makes it), for the
// tests of the views that read them. A snapshot given none has no on-disk
// figures, as one taken before they were recorded; a database never given
// any lacks the tables, as an older one does.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "store/SnapshotDatabase.h"

namespace corvina::test {

struct DirDisk {
    std::string Name;  // the Dirname of its Dir row: a files entry's ends in "(files)"
    std::int64_t Bytes = 0;
};
struct FileDisk {
    std::string Dir;
    std::string Name;
    std::int64_t Bytes = 0;
    std::int64_t Links = 1;
    bool Derived = false;  // no row: its length rounded up to Blockunit gives Bytes
};
struct DiskRows {
    const char* Key = "";
    std::int64_t Total = 0;  // the base path's subtree (Totdiskbytes)
    std::int64_t Blockunit = 0;  // 0: every file has its Filedisk row
    std::vector<DirDisk> Dirs;
    std::vector<FileDisk> Files;  // their sum is Filediskbytes
};

// Aborts the test binary on failure.
void AddDiskRows(DatabaseState& database, const DiskRows& rows);

// Kind "pattern" with its pattern, or "caches" with "", in the order given.
void AddExclusions(DatabaseState& database, const char* key,
                   const std::vector<std::pair<std::string, std::string>>& exclusions);

}  // namespace corvina::test
