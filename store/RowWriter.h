#pragma once
// WriteDirRow and WriteFileRow: one Dir or files row per call, through the
// inserts prepared when the database was opened. Nothing here begins or
// commits a transaction; the snapshot run owns that.
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
};

struct FileRowInput {
    std::string_view Filename;  // without directory
    std::int64_t Filesize = 0;
    std::string_view Filedir;   // the directory, no trailing separator ("/" for the root)
    int Fileattr = 0;           // attribute bits, read by the walk when it listed the file
    DateTime Filedate;          // last modification, read by the walk
};

class RowWriter {
public:
    RowWriter(DatabaseState& state, RowContext context);

    // Entry type "1" (files entry) or "2" (directory entry). A failure is told
    // with DirRowFailureText.
    StoreError WriteDirRow(std::string_view entryType, std::string_view entryName, std::int64_t files, double bytes);
    // A failure is told with FileRowFailureText.
    StoreError WriteFileRow(const FileRowInput& row);

    const RowContext& Context() const { return context_; }

private:
    DatabaseState& state_;
    RowContext context_;
    char keyText_[20];
    std::size_t keyLength_ = 0;
};

// Message texts of the two writers' failures. A damaged file is nobody's
// row's fault: the caller says it is damaged instead (DamagedDatabaseText).
std::string DirRowFailureText(const StoreError& error);
std::string FileRowFailureText(std::string_view fullPath, std::int64_t size, const StoreError& error);

}  // namespace corvina
