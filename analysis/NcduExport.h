#pragma once
// A snapshot written as an ncdu JSON export (format 1.2, as ncdu 1.16 and
// later read it with -f), so that ncdu browses it with the snapshot's sizes.
//
// Each directory carries its own blocks on disk (its subtree's, less its
// files' and its subdirectories'); its apparent size is 0, since a snapshot
// counts the bytes of files only. Each files row becomes a file with its
// length, its blocks on disk and its modification time. What a directory's
// files entry counts beyond its files rows (all of it when the snapshot
// recorded no files, the files below the threshold otherwise) becomes one
// more file, "(N files)" or "(N smaller files)", holding their bytes: ncdu then
// opens a directories-only snapshot with its real sizes. A snapshot without
// on-disk figures gives every file its length on disk as well, since ncdu
// shows disk usage unless asked otherwise, and directories none.
//
// Names are written as the snapshot holds them: bytes that are not UTF-8
// unchanged (ncdu reads them back as the same bytes), controls, quotes and
// backslashes escaped as JSON escapes them.
//
// The snapshot is streamed: one directory's children are held at a time for
// each level of the path being written, never the tree, and the output goes
// out in blocks as it is made.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h);
// a failure of the database ends the export, whose output is then incomplete.

#include <functional>
#include <string_view>

#include "base/DateTime.h"
#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

// Receives the export block by block; false stops it (the output failed).
using ExportSink = std::function<bool(std::string_view bytes)>;

// Writes snapshot key. program and version go into the metadata, as the
// writer's name.
StoreError WriteNcduExport(DatabaseState& database, const DateTime& key, std::string_view program,
                           std::string_view version, const ExportSink& sink);

}  // namespace corvina
