// The row writers run once per directory entry and per collected file, so they
// bind straight onto the prepared inserts with SQLite's own calls: no text is
// built per row and nothing is allocated on the way.

#include "store/RowWriter.h"

#include <sqlite3.h>

#include "store/SizeFormat.h"

namespace corvina {
namespace {

int BindText(sqlite3_stmt* s, int index, std::string_view text) {
    return sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// Steps a bound insert and resets it for the next row.
StoreError StepInsert(sqlite3_stmt* s, std::string_view datum) {
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc == SQLITE_DONE) return {};
    sqlite3* db = sqlite3_db_handle(s);
    return StoreError{rc & 0xff, sqlite3_errmsg(db), std::string(datum)};
}

StoreError NotOpen(std::string_view table) {
    return StoreError{SQLITE_ERROR, "The " + std::string(table) + " table is not open for writing", std::string(table)};
}

}  // namespace

std::string DirRowFailureText(const StoreError& error) {
    return "Error writing to Dir table. \n" + error.Details() + "\n. Snapshot aborted";
}

std::string FileRowFailureText(std::string_view fullPath, std::int64_t size, const StoreError& error) {
    return "Error processing file " + std::string(fullPath) + " size=" + FormatNumber(size) + "\n" + error.Details() +
           "\n. Snapshot aborted";
}

RowWriter::RowWriter(DatabaseState& state, RowContext context, Prompter* prompter)
    : state_(state), context_(std::move(context)), prompter_(prompter) {
    keyLength_ = FormatKeyInto(context_.SnapshotDate, keyText_);
}

// A damaged file is nobody's row's fault: it is said to be damaged instead.
std::string RowWriter::FailureText(std::string rowText) const {
    if (!lastError_.IsDamaged()) return rowText;
    return DamagedDatabaseText(state_.DatabasePath, lastError_.Reason) + "\n. Snapshot aborted";
}

bool RowWriter::WriteDirRow(std::string_view entryType, std::string_view entryName, std::int64_t files,
                            double bytes) {
    if (!state_.DirTable) {
        lastError_ = NotOpen("Dir");
    } else {
        sqlite3_stmt* s = state_.DirTable.get();
        DirNames names = DeriveDirNames(entryName, context_.SnapshotBasePath, context_.BaseLevel, context_.Style);
        BindText(s, 1, std::string_view(keyText_, keyLength_));
        BindText(s, 2, entryType);
        BindText(s, 3, entryName);
        BindText(s, 4, names.Shortname);
        BindText(s, 5, names.Parentdir);
        sqlite3_bind_int(s, 6, names.Dirlevel);
        sqlite3_bind_int64(s, 7, files);
        sqlite3_bind_double(s, 8, bytes);
        lastError_ = StepInsert(s, entryName);
    }
    if (lastError_.Ok()) return true;
    if (prompter_ != nullptr) ShowMessage(*prompter_, FailureText(DirRowFailureText(lastError_)), Icon::Exclamation);
    return false;
}

bool RowWriter::WriteFileRow(const FileRowInput& row) {
    if (!state_.FilesTable) {
        lastError_ = NotOpen("files");
    } else {
        sqlite3_stmt* s = state_.FilesTable.get();
        char type[3];
        std::size_t typeLength = DeriveFileType(row.Filename, type);
        char date[19];
        std::size_t dateLength = row.Filedate.IsNull() ? 0 : FormatKeyInto(row.Filedate, date);
        BindText(s, 1, std::string_view(keyText_, keyLength_));
        BindText(s, 2, row.Filename);
        sqlite3_bind_int64(s, 3, row.Filesize);
        BindText(s, 4, std::string_view(type, typeLength));
        BindText(s, 5, row.Filedir);
        sqlite3_bind_int(s, 6, row.Fileattr);
        if (dateLength == 0) {
            sqlite3_bind_null(s, 7);
        } else {
            BindText(s, 7, std::string_view(date, dateLength));
        }
        lastError_ = StepInsert(s, row.Filename);
    }
    if (lastError_.Ok()) return true;
    if (prompter_ != nullptr) {
        ShowMessage(*prompter_,
                    FailureText(FileRowFailureText(JoinPath(row.Filedir, row.Filename, context_.Style), row.Filesize,
                                                   lastError_)),
                    Icon::Exclamation);
    }
    return false;
}

}  // namespace corvina
