#include "tests/support/SnapshotRows.h"

#include "store/Statement.h"

#include <cstdio>
#include <cstdlib>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include "app/OpenDialogue.h"
#include "store/Catalogue.h"
#include "store/RowWriter.h"
#include "store/WriteTransaction.h"
#include "tests/support/RecordingPrompter.h"

namespace corvina::test {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "test snapshot not written: %s\n", what.c_str());
    std::abort();
}

}  // namespace

DateTime Key(const char* text) {
    auto key = DateTime::Parse(text);
    if (!key) Fail(std::string("bad key ") + text);
    return *key;
}

void AddSnapshot(DatabaseState& database, const SnapshotRows& snap) {
    WaitUpTo noWait(std::chrono::milliseconds(0));
    WriteTransaction transaction(database);
    if (!transaction.Begin(noWait).Ok()) Fail("begin");
    RowWriter writer(database, RowContext{Key(snap.Key), snap.BasePath, BaseLevelOf(snap.BasePath, snap.Style), snap.Style, ""});
    double fileBytes = 0;
    for (const FileRow& file : snap.Files) {
        if (!writer.WriteFileRow({file.Name, file.Size, file.Dir, 0, Key(file.Date)}).Ok()) Fail(file.Dir + " " + file.Name);
        fileBytes += static_cast<double>(file.Size);
    }
    double total = 0;
    std::int64_t totalFiles = 0;
    for (const DirRow& dir : snap.Dirs) {
        if (!writer.WriteDirRow(dir.Entrytype, dir.Name, dir.Files, dir.Bytes).Ok()) Fail(dir.Name);
        if (dir.Name == snap.BasePath) {
            total = dir.Bytes;
            totalFiles = dir.Files;
        }
    }
    ControlRow control{Key(snap.Key),
                       snap.BasePath,
                       snap.Description,
                       snap.Collect ? "Y" : "N",
                       snap.Threshold,
                       static_cast<std::int64_t>(snap.Dirs.size()),
                       totalFiles,
                       total,
                       static_cast<std::int64_t>(snap.Files.size()),
                       fileBytes,
                       snap.Instant,
                       snap.Utcoffset};
    if (StoreError e = WriteControlRow(database, control); !e.Ok()) Fail("control row " + e.Details());
    if (!transaction.Commit(noWait).Ok()) Fail("commit");
}

void WithDatabase(const std::string& path, const std::function<void(DatabaseState&)>& write) {
    DatabaseState database;
    database.DatabasePath = path;
    RecordingPrompter prompter;  // answers Yes to creating it
    RecordingEnder ender;
    const OpenOutcome outcome = OpenSnapshotDatabase(database, prompter, ender);
    if (outcome != OpenOutcome::Created && outcome != OpenOutcome::Opened) Fail("cannot open " + path);
    write(database);
    CloseSnapshotDatabase(database);
}

std::string Query(SQLite::Database& db, const std::string& sql, const std::string& separator) {
    SQLite::Statement q(db, sql);
    std::string text;
    for (int row = 0; q.executeStep(); ++row) {
        for (int i = 0; i < q.getColumnCount(); ++i) {
            text += (i ? "|" : row ? separator : "") + (q.getColumn(i).isNull() ? "NULL" : q.getColumn(i).getString());
        }
    }
    return text;
}

std::string Query(DatabaseState& database, const std::string& sql, const std::string& separator) {
    Statement q;
    std::string text;
    StoreError error = q.Prepare(database, sql);
    bool more = true;
    for (int row = 0; error.Ok() && (error = q.Step(more)).Ok() && more; ++row) {
        for (int i = 0; i < q.ColumnCount(); ++i) {
            text += (i ? "|" : row ? separator : "") + (q.IsNull(i) ? std::string("NULL") : std::string(q.Text(i)));
        }
    }
    if (!error.Ok()) Fail("query " + sql + ": " + error.Details());
    return text;
}

std::string Query(const std::string& path, const std::string& sql, const std::string& separator) {
    SQLite::Database db(path, SQLite::OPEN_READONLY);
    return Query(db, sql, separator);
}

}  // namespace corvina::test
