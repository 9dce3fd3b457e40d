#pragma once
// What a snapshot takes on disk: allocated blocks (st_blocks x 512), a file
// with several names counted once, at the name first in the snapshot's row
// order. The figures live in three tables of their own (store/Schema.h:
// Diskusage, Dirdisk, Filedisk), so that files written before them, and
// programs that do not know them, read and write as they did: a run creates
// them when it first writes, inside its own transaction, never an open. A
// snapshot has on-disk figures exactly when it has its Diskusage row; one
// taken before has none, and nothing here makes one up for it.
//
// Error policy: as every function of store/ (StoreError.h): failures are
// returned, nothing is shown.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "store/DatabaseState.h"
#include "store/RowAppender.h"

namespace corvina {

// A snapshot's Diskusage row.
struct DiskTotals {
    std::int64_t Totdiskbytes = 0;   // the base directory's whole subtree, as du -sB1 -x counts it
    std::int64_t Filediskbytes = 0;  // the recorded files (its files rows)
    std::int64_t Blockunit = 0;      // the base's allocation unit; 0: every files row has its Filedisk row
};

// Whether a recorded file needs its Filedisk row: its figures cannot be told
// from its length, since it has several names or does not take its length
// rounded up to whole units on disk. Writing only these keeps a snapshot's
// on-disk rows to a few per cent of its files rows on an ordinary tree.
// A file's bytes on disk as derived when it has no Filedisk row: its length
// rounded up to whole units.
inline std::int64_t DerivedDiskbytes(std::int64_t filesize, std::int64_t blockunit) {
    return (filesize + blockunit - 1) / blockunit * blockunit;
}
inline bool FilediskRowNeeded(std::int64_t filesize, std::int64_t diskbytes, std::int64_t links,
                              std::int64_t blockunit) {
    return links > 1 || blockunit <= 0 || diskbytes != DerivedDiskbytes(filesize, blockunit);
}

// The on-disk figures of files rows in SQL, for a query over files: Joins
// goes after the files table in the FROM clause; Diskbytes and Links are
// expressions over the joined rows, the Filedisk row's figures where there is
// one, else derived as store/Schema.h says; both NULL for a snapshot without
// on-disk figures. The aliases are the query's own, so that a query over two
// snapshots joins each side under names of its own.
struct FilediskAliases {
    std::string_view Files = "f";
    std::string_view Filedisk = "fd";
    std::string_view Diskusage = "du";
};
struct FilediskSql {
    std::string Joins;  // starts with a space
    std::string Diskbytes;
    std::string Links;
};
// tablesExist: whether the database has the on-disk tables (TableExists of
// "Filedisk": a run creates all three at once); without them Joins is empty
// and both figures read NULL.
FilediskSql FilediskTerms(const FilediskAliases& aliases, bool tablesExist = true);

// Creates the three tables when missing; call inside the run's transaction.
StoreError CreateDiskTables(DatabaseState& state);

// Opens the run's Dirdisk and Filedisk rows, bound in field order:
// (Snapshot, Dirname, Entrytype, Diskbytes) and (Snapshot, Filedir, Filename, Diskbytes,
// Links). The tables must be there.
StoreError OpenDiskRows(DatabaseState& state, RowAppender& dirdisk, RowAppender& filedisk);

// Appends the snapshot's Diskusage row; call inside the run's transaction.
StoreError WriteDiskusageRow(DatabaseState& state, const DateTime& key, const DiskTotals& totals);

// nullopt for a snapshot without a row, and for a database without the table.
StoreError ReadDiskusageRow(DatabaseState& state, const DateTime& key, std::optional<DiskTotals>& totals);

}  // namespace corvina
