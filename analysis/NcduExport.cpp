// The export walks the snapshot's Dir rows depth first, with a stack of its
// own rather than recursion (a snapshot may be as deep as any tree the walk
// took). Per directory it reads its children (one query by Parentdir) and,
// where files were recorded, its files rows (one query by Filedir), each
// through a statement prepared once.

#include "analysis/NcduExport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "analysis/AnalysisQuery.h"
#include "analysis/DiskFigures.h"
#include "store/Catalogue.h"
#include "store/DiskUsage.h"
#include "store/SnapshotTime.h"
#include "store/Statement.h"

namespace corvina {

namespace {

constexpr std::size_t kBlockBytes = 1 << 16;

// A Dir row as the export needs it.
struct Entry {
    std::string Shortname;
    std::string Dirname;
    bool FilesEntry = false;
    std::int64_t Files = 0;
    std::int64_t Bytes = 0;
    std::optional<std::int64_t> Disk;  // none without on-disk figures
};

// The subdirectories of one directory on the path, and how far they are written.
struct Level {
    std::vector<Entry> Subdirectories;
    std::size_t Next = 0;
};

// As ncdu writes names: controls as \u00XX, every other byte as it is.
void AppendString(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

class Exporter {
public:
    Exporter(DatabaseState& database, const DateTime& key, const ExportSink& sink)
        : database_(database), key_(FormatKey(key)), keyTime_(key), sink_(sink) {}

    StoreError Run(std::string_view program, std::string_view version) {
        SnapshotInfo info;
        StoreError error = LoadSnapshotInfo(database_, keyTime_, info);
        if (error.Ok()) error = Prepare(info);
        SnapshotTime time;
        if (error.Ok()) error = ReadSnapshotTime(database_, keyTime_, time);
        if (!error.Ok()) return error;

        out_ += "[1,2,{\"progname\":";
        AppendString(out_, program);
        out_ += ",\"progver\":";
        AppendString(out_, version);
        out_ += ",\"timestamp\":" + std::to_string(time.Instant.value_or(keyTime_.ToUnix())) + "},\n";

        std::vector<Entry> root;
        error = ReadEntries(rootRow_, info.InfoBasePath, root);
        if (error.Ok() && root.empty()) return StoreError{StoreCode::Missing, "no Dir row of the base path", info.InfoBasePath};
        if (error.Ok()) error = WriteTree(root.front());
        if (error.Ok()) out_ += "]\n";
        if (error.Ok()) Flush(true);
        return error;
    }

private:
    StoreError Prepare(const SnapshotInfo& info) {
        collected_ = info.InfoCollectFiles == FilesRecorded::Yes;
        bool tables = false;
        StoreError error = DiskTablesExist(database_, tables);
        QueryParts parts{.Style = PathStyle::Posix, .Hints = {.Dialect = &database_.Engine->SqlDialect(), .DiskTables = tables},
                         .Basis = SizeBasis::Disk};
        const std::string select = "SELECT d.Shortname, d.Dirname, d.Entrytype, d.Files, COALESCE(d.TotsizeF, 0), " +
                                   parts.DirSize("d") + " FROM Dir d WHERE d.Snapshot = ?1 AND ";
        if (error.Ok()) error = rootRow_.Prepare(database_, select + "d.Dirname = ?2 AND d.Entrytype = '2'");
        if (error.Ok()) {
            error = children_.Prepare(database_, select + "d.Parentdir = ?2 ORDER BY d.Entrytype, d.Shortname",
                                      StatementUse::Repeated);
        }
        if (error.Ok() && collected_) {
            const FilediskSql disk = FilediskTerms({.Files = "f", .Filedisk = "fd", .Diskusage = "du"}, tables);
            error = files_.Prepare(database_,
                                   "SELECT f.Filename, f.Filesize, " + disk.Diskbytes + ", f.Filedate FROM files f" +
                                       disk.Joins + " WHERE f.Snapshot = ?1 AND f.Filedir = ?2 ORDER BY f.Filename",
                                   StatementUse::Repeated);
        }
        return error;
    }

    StoreError ReadEntries(Statement& query, std::string_view name, std::vector<Entry>& entries) {
        entries.clear();
        query.Reset();
        StoreError error = query.BindText(1, key_);
        if (error.Ok()) error = query.BindText(2, name);
        for (bool row = true; error.Ok() && (error = query.Step(row)).Ok() && row;) {
            Entry entry{std::string(query.Text(0)), std::string(query.Text(1)), query.Text(2) == "1", query.Int64(3),
                        std::llround(query.Double(4)), std::nullopt};
            if (!query.IsNull(5)) entry.Disk = query.Int64(5);
            entries.push_back(std::move(entry));
        }
        return error;
    }

    // Depth first from the base: a directory is opened when reached and
    // closed once its last subdirectory is written.
    StoreError WriteTree(const Entry& base) {
        std::vector<Level> path;
        path.emplace_back();
        StoreError error = OpenDirectory(base, base.Dirname, path.back());
        while (error.Ok() && !path.empty()) {
            Level& level = path.back();
            if (level.Next == level.Subdirectories.size()) {
                out_ += ']';
                path.pop_back();
                continue;
            }
            const Entry child = std::move(level.Subdirectories[level.Next++]);
            out_ += ",\n";
            path.emplace_back();
            error = OpenDirectory(child, child.Shortname, path.back());
            if (!Flush(false)) break;
        }
        return error;
    }

    // Writes the directory's info object and its files, and reads its subdirectories into level.
    StoreError OpenDirectory(const Entry& directory, std::string_view name, Level& level) {
        std::vector<Entry> children;
        StoreError error = ReadEntries(children_, directory.Dirname, children);
        if (!error.Ok()) return error;
        std::optional<Entry> ownFiles;
        for (Entry& child : children) {
            if (child.FilesEntry) {
                ownFiles = std::move(child);
            } else {
                level.Subdirectories.push_back(std::move(child));
            }
        }
        // The directory's own blocks: its subtree's less what lies in it.
        std::int64_t own = 0;
        if (directory.Disk) {
            own = *directory.Disk - (ownFiles ? ownFiles->Disk.value_or(0) : 0);
            for (const Entry& sub : level.Subdirectories) own -= sub.Disk.value_or(0);
        }
        out_ += "[{\"name\":";
        AppendString(out_, name);
        if (own > 0) out_ += ",\"dsize\":" + std::to_string(own);
        out_ += '}';
        if (ownFiles) error = WriteFiles(directory, *ownFiles);
        return error;
    }

    StoreError WriteFiles(const Entry& directory, const Entry& ownFiles) {
        std::int64_t files = 0, bytes = 0, disk = 0;
        StoreError error;
        if (collected_) {
            files_.Reset();
            error = files_.BindText(1, key_);
            if (error.Ok()) error = files_.BindText(2, directory.Dirname);
            for (bool row = true; error.Ok() && (error = files_.Step(row)).Ok() && row;) {
                const std::int64_t size = files_.Int64(1);
                const std::int64_t onDisk = files_.IsNull(2) ? size : files_.Int64(2);
                WriteFile(files_.Text(0), size, onDisk, DateTime::Parse(files_.Text(3)));
                ++files;
                bytes += size;
                disk += onDisk;
                if (!Flush(false)) return error;
            }
        }
        if (!error.Ok() || ownFiles.Files <= files) return error;
        const std::int64_t rest = ownFiles.Files - files;
        const std::string name = "(" + std::to_string(rest) + (collected_ ? " smaller" : "") + (rest == 1 ? " file)" : " files)");
        const std::int64_t restBytes = ownFiles.Bytes - bytes;
        WriteFile(name, restBytes, ownFiles.Disk ? *ownFiles.Disk - disk : restBytes, std::nullopt);
        return error;
    }

    void WriteFile(std::string_view name, std::int64_t size, std::int64_t disk, std::optional<DateTime> modified) {
        out_ += ",\n{\"name\":";
        AppendString(out_, name);
        if (size > 0) out_ += ",\"asize\":" + std::to_string(size);
        if (disk > 0) out_ += ",\"dsize\":" + std::to_string(disk);
        if (modified) out_ += ",\"mtime\":" + std::to_string(std::max<std::int64_t>(0, modified->ToUnix()));
        out_ += '}';
    }

    // Hands the output over once a block is full (or at the end); false once the sink failed.
    bool Flush(bool end) {
        if (failed_) return false;
        if (out_.empty() || (!end && out_.size() < kBlockBytes)) return true;
        failed_ = !sink_(out_);
        out_.clear();
        return !failed_;
    }

    DatabaseState& database_;
    const std::string key_;
    const DateTime keyTime_;
    const ExportSink& sink_;
    bool collected_ = false;
    Statement rootRow_, children_, files_;
    std::string out_;
    bool failed_ = false;
};

}  // namespace

StoreError WriteNcduExport(DatabaseState& database, const DateTime& key, std::string_view program,
                           std::string_view version, const ExportSink& sink) {
    if (!database.IsUsable()) return NotOpenError("Dir");
    return Exporter(database, key, sink).Run(program, version);
}

}  // namespace corvina
