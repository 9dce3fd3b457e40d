#include "analysis/FileListMerge.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

#include "base/DateTime.h"
#include "store/DiskUsage.h"

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
StoreError PrepareScan(DatabaseState& database, const BoundQuery& scan, Statement& list,
                       StatementUse use = StatementUse::Once) {
    if (StoreError error = list.Prepare(database, scan.Sql, use); !error.Ok()) return error;
    return BindParams(list, scan);
}

std::uint64_t HashName(std::string_view name, PathStyle style) {
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
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
    if (style == PathStyle::Posix) {
        const int order = a.compare(b);
        return order < 0 ? -1 : order > 0 ? 1 : 0;
    }
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

CellValue ReadField(const Statement& statement, int index) {
    if (index < 0 || index >= statement.ColumnCount()) return std::monostate{};
    switch (statement.Type(index)) {
        case ColumnType::Integer: {
            // A server sums whole numbers exactly, beyond 64 bits if need be:
            // read as text, the value keeps every digit.
            CellValue text = std::string(statement.Text(index));
            std::optional<WideInteger> whole = WholeNumberOf(text);
            return whole ? WholeNumberCell(*whole) : text;
        }
        case ColumnType::Real: return statement.Double(index);
        case ColumnType::Null: return std::monostate{};
        case ColumnType::Text:
        case ColumnType::Blob: break;
    }
    return std::string(statement.Text(index));
}

namespace {

// The Filedisk rows of one snapshot's tree (BoundQuery::DiskSizes), read
// beside a scan of its files in the same byte order of their keys: a file's
// size on disk is found by moving on to its key, never by a lookup of its
// own, which a million files would pay a million times.
class DiskSizeCursor {
public:
    StoreError Open(DatabaseState& database, const BoundQuery& scan, const std::string& key) {
        // The runs that write Filedisk make Diskusage with it.
        Statement unit;
        StoreError error = unit.Prepare(database, "SELECT Blockunit FROM Diskusage WHERE Snapshot = ?");
        bool row = false;
        if (error.Ok()) error = unit.BindText(1, key);
        if (error.Ok()) error = unit.Step(row);
        unit_ = row ? unit.Int64(0) : 0;
        if (error.Ok()) error = list_.Prepare(database, scan.DiskSizes);
        if (error.Ok()) error = BindParams(list_, scan);
        if (error.Ok()) error = list_.BindText(list_.ParameterIndex(":key"), key);
        if (error.Ok()) error = Next();
        open_ = error.Ok();
        return error;
    }
    bool IsOpen() const { return open_; }
    // The size on disk of the file (dir, name) of length filesize, asked for
    // in ascending order of keys: its Filedisk row's, else its length in
    // whole units; nullopt when the snapshot has no figures.
    StoreError SizeOf(std::string_view dir, std::string_view name, std::int64_t filesize,
                      std::optional<std::int64_t>& size) {
        size.reset();
        StoreError error;
        while (error.Ok() && row_ && Before(dir, name)) error = Next();
        if (error.Ok() && row_ && dir_ == dir && name_ == name && !list_.IsNull(2)) {
            size = list_.Int64(2);
        } else if (unit_ > 0) {
            size = DerivedDiskbytes(filesize, unit_);
        }
        return error;
    }

private:
    // Byte order, as the keys of both tables are ordered.
    bool Before(std::string_view dir, std::string_view name) const {
        const int order = dir_.compare(dir);
        return order < 0 || (order == 0 && name_.compare(name) < 0);
    }
    StoreError Next() {
        StoreError error = list_.Step(row_);
        if (row_) {
            dir_ = list_.Text(0);
            name_ = list_.Text(1);
        }
        return error;
    }

    Statement list_;
    std::int64_t unit_ = 0;  // Diskusage.Blockunit: 0 when every file has its row
    bool row_ = false;
    bool open_ = false;
    std::string_view dir_;
    std::string_view name_;
};

// One snapshot's side of a merge: its scan and the current row, whose texts
// stay valid until the side moves on. With the scan's DiskSizes, a row's
// size is its size on disk.
class MergeSide {
public:
    // other: the key of the other side, for a scan that reads only what
    // differs from it.
    StoreError Open(DatabaseState& database, const BoundQuery& scan, const std::string& key, const std::string& other) {
        // The two sides are read at once where the engine can.
        StoreError error = PrepareScan(database, scan, list_, StatementUse::Scan);
        if (const int position = list_.ParameterIndex(":key"); error.Ok() && position != 0) {
            error = list_.BindText(position, key);
        }
        if (const int position = list_.ParameterIndex(":other"); error.Ok() && position != 0) {
            error = list_.BindText(position, other);
        }
        if (error.Ok() && !scan.DiskSizes.empty()) error = sizes_.Open(database, scan, key);
        return error.Ok() ? Next() : error;
    }
    // The key is read once per row: the merge compares it more than once.
    StoreError Next() {
        StoreError error = list_.Step(row_);
        if (row_) {
            dir_ = list_.Text(0);
            name_ = list_.Text(1);
            size_ = list_.Int64(2);
        }
        if (error.Ok() && row_ && sizes_.IsOpen()) {
            std::optional<std::int64_t> onDisk;
            error = sizes_.SizeOf(dir_, name_, size_, onDisk);
            size_ = onDisk.value_or(0);
        }
        return error;
    }
    bool Row() const { return row_; }
    std::string_view Dir() const { return dir_; }
    std::string_view Name() const { return name_; }
    std::int64_t Size() const { return size_; }
    std::string_view Date() const { return list_.Text(3); }

private:
    Statement list_;
    DiskSizeCursor sizes_;
    bool row_ = false;
    std::string_view dir_;
    std::string_view name_;
    std::int64_t size_ = 0;
};

int CompareKeys(const MergeSide& a, const MergeSide& b, PathStyle style) {
    if (int d = CompareNames(a.Dir(), b.Dir(), style)) return d;
    return CompareNames(a.Name(), b.Name(), style);
}

// Walks the reported side once; for each of its rows, the other side is
// moved up to the first row not before it, which is the row's match when the
// keys compare equal. A failure of onRow ends the walk. The other side stays on a match, so that a second row
// of the same key under NOCASE finds it too.
template <typename OnRow>
StoreError Merge(MergeSide& reported, MergeSide& other, PathStyle style, OnRow onRow) {
    StoreError error;
    while (error.Ok() && reported.Row()) {
        int order = 1;
        while (other.Row() && (order = CompareKeys(other, reported, style)) < 0) {
            if (error = other.Next(); !error.Ok()) return error;
        }
        error = onRow(reported, other.Row() && order == 0 ? &other : nullptr);
        if (error.Ok()) error = reported.Next();
    }
    return error;
}

// The first rows in display order, at most limit of them: the order value
// descending, then directory (field 1) and name (field 0) as style compares
// them. A heap keeps the last row kept on top, so a row that would come after
// it is dropped before its record is made.
class TopRows {
public:
    TopRows(PathStyle style, std::size_t limit) : style_(style), limit_(limit) {}

    template <typename MakeRecord>
    void Offer(WideInteger order, std::string_view dir, std::string_view name, MakeRecord make) {
        if (limit_ == 0) return;
        if (rows_.size() == limit_ && !Before(order, dir, name, rows_.front())) return;
        if (rows_.size() == limit_) {
            std::pop_heap(rows_.begin(), rows_.end(), Comparer());
            rows_.pop_back();
        }
        rows_.push_back({order, make()});
        std::push_heap(rows_.begin(), rows_.end(), Comparer());
    }

    std::vector<Record> Take() {
        std::sort_heap(rows_.begin(), rows_.end(), Comparer());
        std::vector<Record> records;
        records.reserve(rows_.size());
        for (Entry& entry : rows_) records.push_back(std::move(entry.Row));
        rows_.clear();
        return records;
    }

private:
    struct Entry {
        WideInteger Order;
        Record Row;
    };
    static std::string_view TextOf(const Record& row, std::size_t field) {
        const auto* text = std::get_if<std::string>(&row[field]);
        return text != nullptr ? std::string_view(*text) : std::string_view();
    }
    bool Before(WideInteger order, std::string_view dir, std::string_view name, const Entry& y) const {
        if (order != y.Order) return order > y.Order;
        if (int d = CompareNames(dir, TextOf(y.Row, 1), style_)) return d < 0;
        return CompareNames(name, TextOf(y.Row, 0), style_) < 0;
    }
    struct InOrder {
        const TopRows* Rows;
        bool operator()(const Entry& x, const Entry& y) const {
            return Rows->Before(x.Order, TextOf(x.Row, 1), TextOf(x.Row, 0), y);
        }
    };
    InOrder Comparer() const { return InOrder{this}; }

    PathStyle style_;
    std::size_t limit_;
    std::vector<Entry> rows_;
};

}  // namespace

StoreError CollectChangedFiles(DatabaseState& database, const BoundQuery& scan, const AnalysisState& state,
                               std::size_t limit, std::vector<Record>& records) {
    records.clear();
    MergeSide prime;
    MergeSide compare;
    const std::string primeKey = FormatKey(state.SnapshotDate), compareKey = FormatKey(state.CompareSnapshotDate);
    StoreError error = prime.Open(database, scan, primeKey, compareKey);
    if (error.Ok()) error = compare.Open(database, scan, compareKey, primeKey);
    TopRows top(state.Style, limit);
    if (error.Ok()) {
        error = Merge(prime, compare, state.Style, [&top](const MergeSide& a, const MergeSide* b) {
            if (b == nullptr || (a.Size() == b->Size() && a.Date() == b->Date())) return StoreError{};
            // Two sizes at the 64-bit limits differ by up to 65 bits.
            const WideInteger change = static_cast<WideInteger>(b->Size()) - a.Size();
            top.Offer(change, a.Dir(), a.Name(), [&] {
                return Record{std::string(a.Name()), std::string(a.Dir()), WholeNumberCell(change), a.Size(),
                              std::string(a.Date()),  b->Size(),           std::string(b->Date())};
            });
            return StoreError{};
        });
    }
    if (error.Ok()) records = top.Take();
    return error;
}

StoreError CollectMissingFiles(DatabaseState& database, const BoundQuery& scan, const AnalysisState& state,
                               bool deleted, std::size_t limit, std::vector<Record>& records) {
    records.clear();
    MergeSide reported;
    MergeSide other;
    const std::string prime = FormatKey(state.SnapshotDate);
    const std::string compare = FormatKey(state.CompareSnapshotDate);
    const std::string& key = deleted ? compare : prime;
    const std::string& otherKey = deleted ? prime : compare;
    StoreError error = reported.Open(database, scan, key, otherKey);
    if (error.Ok()) error = other.Open(database, scan, otherKey, key);
    // The scans read keys only, which a File1 index of the previous layout
    // holds by itself; the few files found missing are read by their key.
    Statement fetch;
    if (error.Ok()) error = fetch.Prepare(database, scan.Fetch);
    if (error.Ok()) error = fetch.BindText(1, key);
    // The rows come in the order of the query they stand for, whose ties
    // are broken byte for byte whatever the path style.
    TopRows top(PathStyle::Posix, limit);
    if (error.Ok()) {
        error = Merge(reported, other, state.Style, [&](const MergeSide& a, const MergeSide* match) {
            if (match != nullptr) return StoreError{};
            bool row = false;
            fetch.Reset();
            StoreError failed = fetch.BindText(2, a.Dir());
            if (failed.Ok()) failed = fetch.BindText(3, a.Name());
            if (failed.Ok()) failed = fetch.Step(row);
            if (!failed.Ok() || !row) return failed;
            top.Offer(fetch.Int64(0), a.Dir(), a.Name(), [&] {
                return Record{std::string(a.Name()),  std::string(a.Dir()),  ReadField(fetch, 0),
                              ReadField(fetch, 1), ReadField(fetch, 2), ReadField(fetch, 3)};
            });
            return StoreError{};
        });
    }
    if (error.Ok()) records = top.Take();
    return error;
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

namespace {

struct TypeSum {
    CellValue Type;
    std::int64_t Files = 0;
    std::optional<WideInteger> Bytes;  // none: no file of the type has a size
};

// Largest sum first, then the type byte for byte; a type without sizes last.
std::vector<Record> TopTypeSums(std::vector<TypeSum> sums, std::size_t limit) {
    auto before = [](const TypeSum& x, const TypeSum& y) {
        if (x.Bytes != y.Bytes) return !y.Bytes || (x.Bytes && *x.Bytes > *y.Bytes);
        const auto* a = std::get_if<std::string>(&x.Type);
        const auto* b = std::get_if<std::string>(&y.Type);
        return (a ? std::string_view(*a) : std::string_view()) < (b ? std::string_view(*b) : std::string_view());
    };
    const std::size_t keep = std::min(limit, sums.size());
    std::partial_sort(sums.begin(), sums.begin() + static_cast<std::ptrdiff_t>(keep), sums.end(), before);
    std::vector<Record> records;
    records.reserve(keep);
    for (std::size_t i = 0; i < keep; ++i) {
        TypeSum& sum = sums[i];
        records.push_back({std::move(sum.Type), sum.Files, sum.Bytes ? WholeNumberCell(*sum.Bytes) : CellValue{}});
    }
    return records;
}

}  // namespace

StoreError CollectFileTypeSums(DatabaseState& database, const BoundQuery& scan, std::size_t limit,
                               std::vector<Record>& records) {
    records.clear();
    std::vector<TypeSum> sums;
    Statement list;
    StoreError error = PrepareScan(database, scan, list);
    for (bool row = true; error.Ok() && (error = list.Step(row)).Ok() && row;) {
        TypeSum sum{ReadField(list, 0), list.Int64(1), std::nullopt};
        if (!list.IsNull(2)) {
            sum.Bytes = static_cast<WideInteger>(list.Int64(2)) * (WideInteger{1} << 32) + list.Int64(3);
        }
        sums.push_back(std::move(sum));
    }
    if (!error.Ok()) return error;
    records = TopTypeSums(std::move(sums), limit);
    return {};
}

StoreError CollectFileTypeDiskSums(DatabaseState& database, const BoundQuery& scan, const AnalysisState& state,
                                   std::size_t limit, std::vector<Record>& records) {
    records.clear();
    // By the type's text, a null type apart from every text.
    std::map<std::pair<bool, std::string>, TypeSum> byType;
    Statement list;
    DiskSizeCursor sizes;
    StoreError error = PrepareScan(database, scan, list);
    if (error.Ok()) error = sizes.Open(database, scan, FormatKey(state.SnapshotDate));
    for (bool row = true; error.Ok() && (error = list.Step(row)).Ok() && row;) {
        std::optional<std::int64_t> size;
        if (error = sizes.SizeOf(list.Text(1), list.Text(2), list.Int64(3), size); !error.Ok()) break;
        TypeSum& sum = byType[{list.IsNull(0), std::string(list.Text(0))}];
        if (sum.Files++ == 0) sum.Type = ReadField(list, 0);
        if (size) sum.Bytes = sum.Bytes.value_or(0) + *size;
    }
    if (!error.Ok()) return error;
    std::vector<TypeSum> sums;
    sums.reserve(byType.size());
    for (auto& [type, sum] : byType) sums.push_back(std::move(sum));
    records = TopTypeSums(std::move(sums), limit);
    return {};
}

StoreError CollectDuplicateFiles(DatabaseState& database, const BoundQuery& scan, PathStyle style, std::size_t limit,
                                 std::vector<Record>& records) {
    records.clear();
    // A file whose name the table holds in another case (NOCASE) keeps its
    // own spelling, by which its row is read back.
    constexpr std::uint32_t kSameSpelling = 0xFFFFFFFF;
    struct FileRef {
        std::uint32_t Name;
        int Dir;
        std::uint32_t Spelling;
    };
    std::vector<std::string> spellings;
    DirIds dirs(style);
    NameTable names(style, 1024);
    std::vector<FileRef> files;

    Statement list;
    StoreError error = PrepareScan(database, scan, list);
    for (bool row = true; error.Ok() && (error = list.Step(row)).Ok() && row;) {
        int dir = dirs.Id(list.Text(1));
        const std::uint32_t name = names.Add(list.Text(0), dirs.Match(dir));
        std::uint32_t spelling = kSameSpelling;
        if (names.Text(name) != list.Text(0)) {
            spelling = static_cast<std::uint32_t>(spellings.size());
            spellings.emplace_back(list.Text(0));
        }
        files.push_back({name, dir, spelling});
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

    // The rows shown are read again by their key, which both layouts of the
    // files table find through File1.
    Statement fetch;
    error = fetch.Prepare(database, scan.Fetch);
    if (error.Ok()) error = BindParams(fetch, scan);
    const int dirAt = fetch.ParameterIndex(":dir");
    const int nameAt = fetch.ParameterIndex(":name");
    records.reserve(keep);
    for (std::size_t i = 0; i < keep && error.Ok(); ++i) {
        bool row = false;
        fetch.Reset();
        error = fetch.BindText(dirAt, dirs.Text(duplicates[i].Dir));
        const FileRef& file = duplicates[i];
        if (error.Ok()) {
            error = fetch.BindText(nameAt, file.Spelling == kSameSpelling ? names.Text(file.Name)
                                                                           : std::string_view(spellings[file.Spelling]));
        }
        if (error.Ok()) error = fetch.Step(row);
        // A row gone since the scan (another program deleted its snapshot) is left out.
        if (error.Ok() && row) {
            records.push_back({std::string(fetch.Text(0)), std::string(fetch.Text(1)), ReadField(fetch, 2),
                               std::string(fetch.Text(3))});
        }
    }
    if (!error.Ok()) records.clear();
    return error;
}

}  // namespace corvina
