#include "analysis/FileListMerge.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace corvina {

namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string FoldedKey(std::string_view text, PathStyle style) {
    std::string key(text);
    if (style == PathStyle::Windows) std::transform(key.begin(), key.end(), key.begin(), Fold);
    return key;
}

// Prepares the scan and binds its parameters. A scan reads a million rows:
// its texts are read as views into the statement, never copied one by one.
StoreError PrepareScan(DatabaseState& database, const BoundQuery& scan, Statement& list) {
    if (StoreError error = list.Prepare(database, scan.Sql); !error.Ok()) return error;
    return BindParams(list, scan);
}

std::uint64_t HashName(std::string_view name, PathStyle style, std::uint64_t seed = 1469598103934665603ULL) {
    std::uint64_t hash = seed;  // FNV-1a
    for (char c : name) {
        hash ^= static_cast<unsigned char>(style == PathStyle::Windows ? Fold(c) : c);
        hash *= 1099511628211ULL;
    }
    return hash ^ (hash >> 29);
}

// Directory texts once each: a tree of a million files has some ten thousand
// directories, and a scan brings each directory's files together. Each text
// has its own number; texts that the path style counts as equal share a
// match number.
class DirIds {
public:
    explicit DirIds(PathStyle style) : style_(style) {}
    int Id(std::string_view dir) {
        if (last_ >= 0 && dir == texts_[static_cast<std::size_t>(last_)]) return last_;
        auto [it, added] = ids_.try_emplace(std::string(dir), static_cast<int>(texts_.size()));
        if (added) {
            texts_.emplace_back(dir);
            auto match = matches_.try_emplace(FoldedKey(dir, style_), it->second);
            matchOf_.push_back(match.first->second);
        }
        last_ = it->second;
        return last_;
    }
    const std::string& Text(int id) const { return texts_[static_cast<std::size_t>(id)]; }
    int Match(int id) const { return matchOf_[static_cast<std::size_t>(id)]; }

private:
    PathStyle style_;
    std::unordered_map<std::string, int> ids_;
    std::unordered_map<std::string, int> matches_;
    std::vector<std::string> texts_;
    std::vector<int> matchOf_;
    int last_ = -1;
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

StoreError BindParams(Statement& statement, const BoundQuery& query) {
    for (const auto& [name, value] : query.Params) {
        const int position = statement.ParameterIndex(name);
        if (position == 0) continue;
        if (StoreError error = statement.BindText(position, value); !error.Ok()) return error;
    }
    return {};
}

StoreError CollectChangedFiles(DatabaseState& database, const BoundQuery& scan, PathStyle style, std::size_t limit,
                               std::vector<Record>& records) {
    records.clear();
    // Every file of the tree in both snapshots, in one pass; texts go into one
    // buffer so that a million files cost a few allocations.
    struct File {
        int Dir;
        std::uint32_t Name, NameLength, Date, DateLength;
        std::int64_t Size;
    };
    std::string text;
    auto keep = [&text](std::string_view value) {
        auto offset = static_cast<std::uint32_t>(text.size());
        text.append(value);
        return offset;
    };
    auto view = [&text](std::uint32_t offset, std::uint32_t length) {
        return std::string_view(text).substr(offset, length);
    };
    DirIds dirs(style);
    std::vector<File> prime;
    std::vector<File> compare;
    Statement list;
    StoreError error = PrepareScan(database, scan, list);
    for (bool row = true; error.Ok() && (error = list.Step(row)).Ok() && row;) {
        std::string_view name = list.Text(2);
        std::string_view date = list.Text(4);
        File file{dirs.Id(list.Text(1)), 0, static_cast<std::uint32_t>(name.size()), 0,
                  static_cast<std::uint32_t>(date.size()), list.Int64(3)};
        file.Name = keep(name);
        file.Date = keep(date);
        (list.Int64(0) != 0 ? prime : compare).push_back(file);
    }
    if (!error.Ok()) return error;

    // The compare snapshot's files by directory and name.
    auto hash = [&](const File& f) {
        return HashName(view(f.Name, f.NameLength), style,
                        1469598103934665603ULL ^ static_cast<std::uint64_t>(dirs.Match(f.Dir)));
    };
    std::size_t size = 1024;
    while (size < compare.size() * 2) size *= 2;
    constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
    std::vector<std::uint32_t> slots(size, kEmpty);
    const std::size_t mask = size - 1;
    for (std::uint32_t i = 0; i < compare.size(); ++i) {
        std::size_t at = hash(compare[i]) & mask;
        while (slots[at] != kEmpty) at = (at + 1) & mask;
        slots[at] = i;
    }
    auto find = [&](const File& f) -> const File* {
        for (std::size_t at = hash(f) & mask; slots[at] != kEmpty; at = (at + 1) & mask) {
            const File& other = compare[slots[at]];
            if (dirs.Match(other.Dir) == dirs.Match(f.Dir) &&
                CompareNames(view(other.Name, other.NameLength), view(f.Name, f.NameLength), style) == 0) {
                return &other;
            }
        }
        return nullptr;
    };

    struct Change {
        const File* A;
        const File* B;
        std::int64_t Delta() const { return B->Size - A->Size; }
    };
    std::vector<Change> changes;
    for (const File& a : prime) {
        const File* b = find(a);
        if (b != nullptr && (a.Size != b->Size || view(a.Date, a.DateLength) != view(b->Date, b->DateLength))) {
            changes.push_back({&a, b});
        }
    }
    auto before = [&](const Change& x, const Change& y) {
        if (x.Delta() != y.Delta()) return x.Delta() > y.Delta();
        if (int d = CompareNames(dirs.Text(x.A->Dir), dirs.Text(y.A->Dir), style)) return d < 0;
        return CompareNames(view(x.A->Name, x.A->NameLength), view(y.A->Name, y.A->NameLength), style) < 0;
    };
    std::size_t count = std::min(limit, changes.size());
    std::partial_sort(changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(count), changes.end(), before);
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const File& a = *changes[i].A;
        const File& b = *changes[i].B;
        records.push_back({std::string(view(a.Name, a.NameLength)), dirs.Text(a.Dir), changes[i].Delta(), a.Size,
                           std::string(view(a.Date, a.DateLength)), b.Size, std::string(view(b.Date, b.DateLength))});
    }
    return {};
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

    std::uint64_t Hash(std::string_view name) const { return HashName(name, style_); }

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

StoreError CollectDuplicateFiles(DatabaseState& database, const BoundQuery& scan, PathStyle style, std::size_t limit,
                                 std::vector<Record>& records) {
    records.clear();
    struct FileRef {
        std::uint32_t Name;
        int Dir;
        std::int64_t Rowid;
    };
    DirIds dirs(style);
    NameTable names(style, 1024);
    std::vector<FileRef> files;

    Statement list;
    StoreError error = PrepareScan(database, scan, list);
    for (bool row = true; error.Ok() && (error = list.Step(row)).Ok() && row;) {
        int dir = dirs.Id(list.Text(1));
        files.push_back({names.Add(list.Text(0), dirs.Match(dir)), dir, list.Int64(2)});
    }
    if (!error.Ok()) return error;

    std::vector<FileRef> duplicates;
    std::copy_if(files.begin(), files.end(), std::back_inserter(duplicates),
                 [&](const FileRef& f) { return names.Duplicate(f.Name); });
    auto before = [&](const FileRef& x, const FileRef& y) {
        if (x.Name != y.Name) {
            if (int n = CompareNames(names.Text(x.Name), names.Text(y.Name), style)) return n < 0;
        }
        return CompareNames(dirs.Text(x.Dir), dirs.Text(y.Dir), style) < 0;
    };
    std::size_t keep = std::min(limit, duplicates.size());
    std::partial_sort(duplicates.begin(), duplicates.begin() + static_cast<std::ptrdiff_t>(keep), duplicates.end(),
                      before);

    Statement fetch;
    error = fetch.Prepare(database, "SELECT Filename, Filedir, Filesize, Filedate FROM files WHERE rowid = ?");
    records.reserve(keep);
    for (std::size_t i = 0; i < keep && error.Ok(); ++i) {
        bool row = false;
        fetch.Reset();
        error = fetch.BindInt64(1, duplicates[i].Rowid);
        if (error.Ok()) error = fetch.Step(row);
        // A row gone since the scan (another program deleted its snapshot) is left out.
        if (error.Ok() && row) {
            records.push_back({std::string(fetch.Text(0)), std::string(fetch.Text(1)), fetch.Int64(2),
                               std::string(fetch.Text(3))});
        }
    }
    if (!error.Ok()) records.clear();
    return error;
}

}  // namespace corvina
