#pragma once
// WriteDirRow and WriteFileRow: one Dir or files row per call, through the
// inserts prepared when the database was opened; and, for a run that opened
// them, the on-disk rows beside them (store/DiskUsage.h). Nothing here begins
// or commits a transaction; the snapshot run owns that.
//
// Error policy: as every function of store/ (StoreError.h). A failed bind or
// insert is the row's error, returned; the caller tells it, with the texts below.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "base/PathStyle.h"
#include "store/DatabaseState.h"
#include "store/StoreError.h"

namespace corvina {

// What every row of one run shares.
struct RowContext {
    DateTime SnapshotDate;
    std::string SnapshotBasePath;  // the base path as entered, no trailing separator
    int BaseLevel = 0;             // BaseLevelOf(SnapshotBasePath)
    PathStyle Style = kNativePathStyle;
    // The label of the Host row, "" for none: with the base path it names the
    // chain a snapshot of the history layout follows.
    std::string Hostname;
};

struct FileRowInput {
    std::string_view Filename;  // without directory
    std::int64_t Filesize = 0;
    std::string_view Filedir;   // the directory, no trailing separator ("/" for the root)
    int Fileattr = 0;           // attribute bits, read by the walk when it listed the file
    DateTime Filedate;          // last modification, read by the walk
    std::int64_t Diskbytes = 0;  // for the Filedisk row
    std::int64_t Links = 1;
};

class RowWriter {
public:
    RowWriter(DatabaseState& state, RowContext context);

    // Entry type "1" (files entry) or "2" (directory entry). A failure is told
    // with DirRowFailureText.
    StoreError WriteDirRow(std::string_view entryType, std::string_view entryName, std::int64_t files, double bytes);
    // A failure is told with FileRowFailureText.
    StoreError WriteFileRow(const FileRowInput& row);

    // Creates the on-disk tables when missing and opens their rows; call
    // inside the run's transaction. Without it the two writers below refuse.
    StoreError OpenDiskRows();
    // The Dirdisk row of an entry written by WriteDirRow, the Filedisk row of
    // a files row that needs one (FilediskRowNeeded). Failures are told as
    // those rows' are.
    StoreError WriteDirdiskRow(std::string_view entryType, std::string_view entryName, std::int64_t diskBytes);
    StoreError WriteFilediskRow(const FileRowInput& row);
    // Sends the on-disk rows the engine holds back: call before the writer
    // goes, which drops them.
    StoreError FlushDiskRows();

    const RowContext& Context() const { return context_; }

private:
    // The run of a history database, which takes every row instead.
    HistoryRun* History() const;

    DatabaseState& state_;
    RowContext context_;
    RowAppender dirdisk_;
    RowAppender filedisk_;
    char keyText_[20];
    std::size_t keyLength_ = 0;
};

// Message texts of the two writers' failures. A damaged file is nobody's
// row's fault: the caller says it is damaged instead (DamagedDatabaseText).
std::string DirRowFailureText(const StoreError& error);
std::string FileRowFailureText(std::string_view fullPath, std::int64_t size, const StoreError& error);

}  // namespace corvina
