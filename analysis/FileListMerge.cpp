#include "analysis/FileListMerge.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>

#include <SQLiteCpp/Statement.h>

namespace corvina {

namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string FoldedKey(std::string_view text, PathStyle style) {
    std::string key(text);
    if (style == PathStyle::Windows) std::transform(key.begin(), key.end(), key.begin(), Fold);
    return key;
}

std::string_view Text(const SQLite::Statement& statement, int column) {
    SQLite::Column value = statement.getColumn(column);
    return {static_cast<const char*>(value.getBlob()), static_cast<std::size_t>(value.getBytes())};
}

std::string ParamValue(const BoundQuery& query, std::string_view name) {
    for (const auto& [key, value] : query.Params)
        if (key == name) return value;
    return {};
}

// One side of the merge: the current file of one snapshot's ordered list.
struct FileCursor {
    FileCursor(SQLite::Database& db, const BoundQuery& scan, std::string_view keyParam) : statement(db, scan.Sql) {
        BindParams(statement, scan);
        statement.bind(":k", ParamValue(scan, keyParam));
        Advance();
    }
    void Advance() {
        valid = statement.executeStep();
        if (!valid) return;
        dir.assign(Text(statement, 0));
        name.assign(Text(statement, 1));
        size = statement.getColumn(2).getInt64();
        date.assign(Text(statement, 3));
    }
    SQLite::Statement statement;
    bool valid = false;
    std::string dir, name, date;
    std::int64_t size = 0;
};

struct ChangedRow {
    std::string Name, Dir, DateA, DateB;
    std::int64_t SizeA = 0, SizeB = 0;
};

}  // namespace

int CompareNames(std::string_view a, std::string_view b, PathStyle style) {
    if (style == PathStyle::Posix) return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(Fold(a[i]));
        auto y = static_cast<unsigned char>(Fold(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

void BindParams(SQLite::Statement& statement, const BoundQuery& query) {
    for (const auto& [name, value] : query.Params) {
        if (statement.getIndex(name.c_str()) > 0) statement.bind(name, value);
    }
}

std::vector<Record> CollectChangedFiles(SQLite::Database& db, const BoundQuery& scan, PathStyle style,
                                        std::size_t limit) {
    FileCursor a(db, scan, ":d1");
    FileCursor b(db, scan, ":d2");
    std::vector<ChangedRow> rows;
    while (a.valid && b.valid) {
        int order = CompareNames(a.dir, b.dir, style);
        if (order == 0) order = CompareNames(a.name, b.name, style);
        if (order < 0) {
            a.Advance();
        } else if (order > 0) {
            b.Advance();
        } else {
            if (a.size != b.size || a.date != b.date) rows.push_back({a.name, a.dir, a.date, b.date, a.size, b.size});
            a.Advance();
            b.Advance();
        }
    }
    auto before = [style](const ChangedRow& x, const ChangedRow& y) {
        std::int64_t cx = x.SizeB - x.SizeA;
        std::int64_t cy = y.SizeB - y.SizeA;
        if (cx != cy) return cx > cy;
        if (int d = CompareNames(x.Dir, y.Dir, style)) return d < 0;
        return CompareNames(x.Name, y.Name, style) < 0;
    };
    std::size_t keep = std::min(limit, rows.size());
    std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(keep), rows.end(), before);
    std::vector<Record> records;
    records.reserve(keep);
    for (std::size_t i = 0; i < keep; ++i) {
        ChangedRow& row = rows[i];
        records.push_back({std::move(row.Name), std::move(row.Dir), row.SizeB - row.SizeA, row.SizeA,
                           std::move(row.DateA), row.SizeB, std::move(row.DateB)});
    }
    return records;
}

namespace {

// The names of a tree's files, each kept once in one buffer, with the first
// directory it was seen in and whether another directory has it too. An
// open-addressing table keeps a million lookups within the cache's reach,
// which a table of separately allocated nodes does not.
class NameTable {
public:
    NameTable(PathStyle style, std::size_t expected) : style_(style) {
        std::size_t size = 1024;
        while (size < expected * 2) size *= 2;
        slots_.assign(size, Slot{});
    }

    // Returns the name's number; marks it duplicated when dir differs from
    // the first directory it was seen in.
    std::uint32_t Add(std::string_view name, int dir) {
        std::uint64_t hash = Hash(name);
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.Name == kEmpty) {
                if (names_.size() * 2 >= slots_.size()) {
                    Grow();
                    return Add(name, dir);
                }
                slot.Hash = hash;
                slot.Name = static_cast<std::uint32_t>(names_.size());
                names_.push_back({static_cast<std::uint32_t>(text_.size()), static_cast<std::uint32_t>(name.size()), dir,
                                  false});
                text_.append(name);
                return slot.Name;
            }
            if (slot.Hash == hash && CompareNames(Text(slot.Name), name, style_) == 0) {
                Entry& entry = names_[slot.Name];
                if (entry.FirstDir != dir) entry.Duplicate = true;
                return slot.Name;
            }
        }
    }

    bool Duplicate(std::uint32_t name) const { return names_[name].Duplicate; }
    std::string_view Text(std::uint32_t name) const {
        const Entry& entry = names_[name];
        return std::string_view(text_).substr(entry.Offset, entry.Length);
    }

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
    struct Slot {
        std::uint64_t Hash = 0;
        std::uint32_t Name = kEmpty;
    };
    struct Entry {
        std::uint32_t Offset;
        std::uint32_t Length;
        int FirstDir;
        bool Duplicate;
    };

    std::uint64_t Hash(std::string_view name) const {
        std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
        for (char c : name) {
            hash ^= static_cast<unsigned char>(style_ == PathStyle::Windows ? Fold(c) : c);
            hash *= 1099511628211ULL;
        }
        return hash ^ (hash >> 29);
    }

    void Grow() {
        std::vector<Slot> old;
        old.swap(slots_);
        slots_.assign(old.size() * 2, Slot{});
        std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.Name == kEmpty) continue;
            std::size_t i = slot.Hash & mask;
            while (slots_[i].Name != kEmpty) i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    PathStyle style_;
    std::vector<Slot> slots_;
    std::vector<Entry> names_;
    std::string text_;
};

}  // namespace

std::vector<Record> CollectDuplicateFiles(SQLite::Database& db, const BoundQuery& scan, PathStyle style,
                                          std::size_t limit) {
    struct FileRef {
        std::uint32_t Name;
        int Dir;
        std::int64_t Rowid;
    };
    // Directory texts once each: a tree of a million files has some ten
    // thousand directories, and the scan brings each directory's files together.
    std::vector<std::string> dirs;
    std::unordered_map<std::string, int> dirIds;
    NameTable names(style, 1024);
    std::vector<FileRef> files;

    SQLite::Statement list(db, scan.Sql);
    BindParams(list, scan);
    std::string lastDir;
    int dir = -1;
    while (list.executeStep()) {
        std::string_view dirText = Text(list, 1);
        if (dir < 0 || dirText != lastDir) {
            lastDir.assign(dirText);
            auto [it, added] = dirIds.try_emplace(FoldedKey(dirText, style), static_cast<int>(dirs.size()));
            if (added) dirs.push_back(lastDir);
            dir = it->second;
        }
        files.push_back({names.Add(Text(list, 0), dir), dir, list.getColumn(2).getInt64()});
    }

    std::vector<FileRef> duplicates;
    std::copy_if(files.begin(), files.end(), std::back_inserter(duplicates),
                 [&](const FileRef& f) { return names.Duplicate(f.Name); });
    auto before = [&](const FileRef& x, const FileRef& y) {
        if (x.Name != y.Name) {
            if (int n = CompareNames(names.Text(x.Name), names.Text(y.Name), style)) return n < 0;
        }
        return CompareNames(dirs[static_cast<std::size_t>(x.Dir)], dirs[static_cast<std::size_t>(y.Dir)], style) < 0;
    };
    std::size_t keep = std::min(limit, duplicates.size());
    std::partial_sort(duplicates.begin(), duplicates.begin() + static_cast<std::ptrdiff_t>(keep), duplicates.end(),
                      before);

    SQLite::Statement fetch(db, "SELECT Filename, Filedir, Filesize, Filedate FROM files WHERE rowid = ?");
    std::vector<Record> records;
    records.reserve(keep);
    for (std::size_t i = 0; i < keep; ++i) {
        fetch.reset();
        fetch.bind(1, duplicates[i].Rowid);
        if (!fetch.executeStep()) continue;
        records.push_back({std::string(Text(fetch, 0)), std::string(Text(fetch, 1)), fetch.getColumn(2).getInt64(),
                           std::string(Text(fetch, 3))});
    }
    return records;
}

}  // namespace corvina
