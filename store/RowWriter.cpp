// The row writers run once per directory entry and per collected file, so they
// bind straight onto the prepared inserts, texts as views: no text is built
// per row and nothing is allocated on the way.

#include "store/RowWriter.h"

#include "base/SizeFormat.h"
#include "store/DiskUsage.h"
#include "store/HistoryWriter.h"

namespace corvina {
namespace {

StoreError NotOpen(std::string_view table) {
    return StoreError{StoreCode::Other, "The " + std::string(table) + " table is not open for writing", std::string(table)};
}

// Binds a row's values in field order and runs the insert. The first failure,
// of a bind or of the insert, is the row's error and names its entry; the
// values after it are bound in vain, and the insert does not run.
class RowInsert {
public:
    explicit RowInsert(RowAppender& insert) : insert_(insert) {}
    RowInsert& Text(std::string_view text) { return Keep(insert_.BindTextView(next_++, text)); }
    RowInsert& Int64(std::int64_t value) { return Keep(insert_.BindInt64(next_++, value)); }
    RowInsert& Double(double value) { return Keep(insert_.BindDouble(next_++, value)); }
    RowInsert& Null() { return Keep(insert_.BindNull(next_++)); }
    StoreError Run(std::string_view entry) {
        if (error_.Ok()) error_ = insert_.Run();
        if (!error_.Ok()) error_.Datum = entry;
        return std::move(error_);
    }

private:
    RowInsert& Keep(StoreError error) {
        if (error_.Ok()) error_ = std::move(error);
        return *this;
    }

    RowAppender& insert_;
    StoreError error_;
    int next_ = 1;
};

}  // namespace

std::string DirRowFailureText(const StoreError& error) {
    return "Error writing to Dir table. \n" + error.Details() + "\n. Snapshot aborted";
}

std::string FileRowFailureText(std::string_view fullPath, std::int64_t size, const StoreError& error) {
    return "Error processing file " + std::string(fullPath) + " size=" + FormatNumber(size) + "\n" + error.Details() +
           "\n. Snapshot aborted";
}

RowWriter::RowWriter(DatabaseState& state, RowContext context) : state_(state), context_(std::move(context)) {
    keyLength_ = FormatKeyInto(context_.SnapshotDate, keyText_);
    if (state_.History) {
        state_.Run = std::make_unique<HistoryRun>(
            state_, HistoryRun::Context{std::string(keyText_, keyLength_), context_.SnapshotBasePath, context_.Hostname,
                                        context_.BaseLevel, context_.Style, state_.Engine->RunsOverlap()});
    }
}

HistoryRun* RowWriter::History() const { return state_.History ? state_.Run.get() : nullptr; }

StoreError RowWriter::WriteDirRow(std::string_view entryType, std::string_view entryName, std::int64_t files,
                                  double bytes) {
    if (HistoryRun* run = History()) return run->DirRow(entryType, entryName, files, bytes);
    StoreError error;
    if (!state_.DirTable.IsPrepared()) {
        error = NotOpen("Dir");
    } else {
        DirNames names = DeriveDirNames(entryName, context_.SnapshotBasePath, context_.BaseLevel, context_.Style);
        error = RowInsert(state_.DirTable)
                    .Text(std::string_view(keyText_, keyLength_))
                    .Text(entryType)
                    .Text(entryName)
                    .Text(names.Shortname)
                    .Text(names.Parentdir)
                    .Int64(names.Dirlevel)
                    .Int64(files)
                    .Double(bytes)
                    .Run(entryName);
    }
    return error;
}

StoreError RowWriter::WriteFileRow(const FileRowInput& row) {
    StoreError error;
    char type[3];
    std::size_t typeLength = DeriveFileType(row.Filename, type);
    char date[19];
    std::size_t dateLength = row.Filedate.IsNull() ? 0 : FormatKeyInto(row.Filedate, date);
    if (HistoryRun* run = History()) {
        return run->FileRow(row.Filedir, row.Filename, row.Filesize, std::string_view(type, typeLength), row.Fileattr,
                            std::string_view(date, dateLength));
    }
    if (!state_.FilesTable.IsPrepared()) {
        error = NotOpen("files");
    } else {
        RowInsert insert(state_.FilesTable);
        insert.Text(std::string_view(keyText_, keyLength_))
            .Text(row.Filename)
            .Int64(row.Filesize)
            .Text(std::string_view(type, typeLength))
            .Text(row.Filedir)
            .Int64(row.Fileattr);
        if (dateLength == 0) {
            insert.Null();
        } else {
            insert.Text(std::string_view(date, dateLength));
        }
        error = insert.Run(row.Filename);
    }
    return error;
}

StoreError RowWriter::OpenDiskRows() {
    if (History()) return {};
    StoreError error = CreateDiskTables(state_);
    if (error.Ok()) error = corvina::OpenDiskRows(state_, dirdisk_, filedisk_);
    return error;
}

StoreError RowWriter::WriteDirdiskRow(std::string_view entryType, std::string_view entryName,
                                      std::int64_t diskBytes) {
    if (HistoryRun* run = History()) return run->DirDisk(entryType, entryName, diskBytes);
    if (!dirdisk_.IsPrepared()) return NotOpen("Dirdisk");
    return RowInsert(dirdisk_)
        .Text(std::string_view(keyText_, keyLength_))
        .Text(entryName)
        .Text(entryType)
        .Int64(diskBytes)
        .Run(entryName);
}

StoreError RowWriter::WriteFilediskRow(const FileRowInput& row) {
    if (HistoryRun* run = History()) return run->FileDisk(row.Filedir, row.Filename, row.Diskbytes, row.Links);
    if (!filedisk_.IsPrepared()) return NotOpen("Filedisk");
    return RowInsert(filedisk_)
        .Text(std::string_view(keyText_, keyLength_))
        .Text(row.Filedir)
        .Text(row.Filename)
        .Int64(row.Diskbytes)
        .Int64(row.Links)
        .Run(row.Filename);
}

StoreError RowWriter::FlushDiskRows() {
    StoreError error = dirdisk_.Flush();
    if (error.Ok()) error = filedisk_.Flush();
    return error;
}

}  // namespace corvina
