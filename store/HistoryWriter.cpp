// A run over a tree that barely changed reads what held once (the directory
// spans in one scan, each directory's files in one range) and writes almost
// nothing; every statement is prepared once per run.

#include "store/HistoryWriter.h"

#include <algorithm>
#include <initializer_list>

#include "store/Catalogue.h"
#include "store/HistoryLayout.h"
#include "store/RunClaims.h"

namespace corvina {
namespace {

using history::kOpenSpan;

const std::string kOpen = std::to_string(kOpenSpan);

constexpr std::string_view kPathFields[] = {"Id", "Dirname", "Parent", "Shortname", "Level"};
constexpr std::string_view kDirspanFields[] = {"Chain", "Path",  "Entrytype", "Last",
                                               "First", "Files", "Totsizef",  "Diskbytes"};
constexpr std::string_view kFilespanFields[] = {"Chain",    "Path",     "Filename", "Last",      "First", "Filesize",
                                                "Filetype", "Fileattr", "Filedate", "Diskbytes", "Links"};

StoreError Bind(Statement& statement, std::initializer_list<std::int64_t> values, int from = 1) {
    StoreError error;
    for (std::int64_t value : values) {
        if (error.Ok()) error = statement.BindInt64(from++, value);
    }
    return error;
}

StoreError BindOptional(RowAppender& rows, int position, const std::optional<std::int64_t>& value) {
    return value ? rows.BindInt64(position, *value) : rows.BindNull(position);
}

// The slot of an entry type: a files entry ("1") or a directory entry.
int Slot(std::string_view entryType) { return entryType == "1" ? 0 : 1; }

std::optional<std::int64_t> OptionalColumn(const Statement& row, int column) {
    if (row.IsNull(column)) return std::nullopt;
    return row.Int64(column);
}

// The number of a new path of a run beside others: runs that meet the same
// path below the same parent number it alike without asking one another.
// Numbers from 2^40 up stay clear of those a lone writer counts up from 1.
std::int64_t SharedPathId(std::int64_t parent, std::string_view name) {
    constexpr std::uint64_t kFirst = 1ull << 40, kRange = (1ull << 62) - kFirst;
    const std::uint64_t hash = StableHash(name, StableHash(std::to_string(parent) + '/'));
    return static_cast<std::int64_t>(kFirst + hash % kRange);
}

}  // namespace

HistoryRun::HistoryRun(DatabaseState& state, Context context) : state_(state), context_(std::move(context)) {}

HistoryRun::~HistoryRun() = default;

StoreError HistoryRun::Begin() {
    if (begun_) return {};
    begun_ = true;
    std::optional<std::int64_t> value;
    {
        Statement find;
        StoreError error = find.Prepare(state_, "SELECT Id FROM Chain WHERE Basepath = ? AND Hostname = ?");
        if (error.Ok()) error = find.BindText(1, context_.Basepath);
        if (error.Ok()) error = find.BindText(2, context_.Hostname);
        bool row = false;
        if (error.Ok()) error = find.Step(row);
        if (!error.Ok()) return error;
        if (row) value = find.Int64(0);
    }
    if (value) {
        chain_ = *value;
    } else {
        if (StoreError error = ClaimNextId(state_, "Chain", claim::kChain, chain_); !error.Ok()) return error;
        Statement add;
        StoreError error = add.Prepare(state_, "INSERT INTO Chain (Id, Basepath, Hostname, Baselevel) VALUES (?, ?, ?, ?)");
        if (error.Ok()) error = add.BindInt64(1, chain_);
        if (error.Ok()) error = add.BindText(2, context_.Basepath);
        if (error.Ok()) error = add.BindText(3, context_.Hostname);
        if (error.Ok()) error = add.BindInt64(4, context_.BaseLevel);
        if (error.Ok()) error = add.Run();
        if (!error.Ok()) return error;
    }
    if (StoreError error = history::ReadInteger(state_, "SELECT max(Id) FROM Snap WHERE Chain = ?", {chain_}, previous_);
        !error.Ok()) {
        return error;
    }
    if (StoreError error = ClaimNextId(state_, "Snap", claim::kSnap, snap_); !error.Ok()) return error;
    if (context_.BesideOtherRuns) {
        side_ = std::make_unique<DatabaseState>();
        side_->DatabasePath = state_.DatabasePath;
        side_->History = true;
        if (StoreError error = state_.Engine->OpenSideConnection(side_->Engine); !error.Ok()) return error;
        StoreError error = history::ReadInteger(state_, "SELECT 1 FROM Dirpath WHERE Id <> 0 LIMIT 1", {}, value);
        if (!error.Ok()) return error;
        pathsBefore_ = value.has_value();
    } else {
        if (StoreError error = history::ReadInteger(state_, "SELECT max(Id) FROM Dirpath", {}, value); !error.Ok()) {
            return error;
        }
        nextPath_ = value.value_or(0) + 1;
        pathsBefore_ = nextPath_ > 1;
    }
    // In a database of no paths yet every path is new: none is looked up.

    if (previous_) {
        Statement held;
        StoreError error = held.Prepare(state_,
                                        "SELECT d.Path, p.Dirname, d.Entrytype, d.Files, d.Totsizef, d.Diskbytes FROM "
                                        "Dirspan d JOIN Dirpath p ON p.Id = d.Path WHERE d.Chain = ? AND d.Last = " +
                                            kOpen);
        if (error.Ok()) error = held.BindInt64(1, chain_);
        bool row = false;
        while (error.Ok() && (error = held.Step(row)).Ok() && row) {
            KnownPath& known = known_[std::string(held.Text(1))];
            known.Path = held.Int64(0);
            known.Held[Slot(held.Text(2))] = DirValues{held.Int64(3), held.Double(4), OptionalColumn(held, 5)};
        }
        if (!error.Ok()) return error;
        if (error = history::ReadInteger(
                state_, "SELECT 1 FROM Filespan WHERE Chain = ? AND Last = " + kOpen + " LIMIT 1", {chain_}, value);
            !error.Ok()) {
            return error;
        }
        previousFiles_ = value.has_value();
    }

    StoreError error = pathRows_.Open(*state_.Engine, "Dirpath", kPathFields, 1);
    if (error.Ok()) error = dirRows_.Open(*state_.Engine, "Dirspan", kDirspanFields, 1);
    if (error.Ok()) error = fileRows_.Open(*state_.Engine, "Filespan", kFilespanFields, 2);
    if (error.Ok()) error = findPath_.Prepare(state_, "SELECT Id FROM Dirpath WHERE Dirname = ? AND Parent = ?",
                                               StatementUse::Repeated);
    if (error.Ok() && previous_) {
        // The open files of a batch of directories in one read: a server
        // answers each statement in a round trip of its own. A shorter batch
        // repeats its last directory. No order is asked for (each group is
        // sorted here): a server reading through a cursor would rather walk
        // the whole key in that order than look the directories up.
        std::string paths;
        for (std::size_t i = 0; i < kBatchPaths; ++i) paths += i == 0 ? "?" : ", ?";
        error = openFiles_.Prepare(state_,
                                   "SELECT Path, Filename, Filesize, Fileattr, Filedate, Diskbytes, Links FROM Filespan "
                                   "WHERE Chain = ? AND Last = " + kOpen + " AND Path IN (" + paths + ")",
                                   StatementUse::Repeated);
        if (error.Ok()) {
            error = closeDir_.Prepare(state_,
                                      "UPDATE Dirspan SET Last = ? WHERE Chain = ? AND Path = ? AND Entrytype = ? "
                                      "AND Last = " + kOpen,
                                      StatementUse::Repeated);
        }
        if (error.Ok()) {
            error = closeFile_.Prepare(state_,
                                       "UPDATE Filespan SET Last = ? WHERE Chain = ? AND Path = ? AND Filename = ? "
                                       "AND Last = " + kOpen,
                                       StatementUse::Repeated);
        }
        if (error.Ok()) {
            error = closeFilesOf_.Prepare(state_,
                                          "UPDATE Filespan SET Last = ? WHERE Chain = ? AND Path = ? AND Last = " + kOpen,
                                          StatementUse::Repeated);
        }
    }
    return error;
}

// The path's row as this chain names it: the base without a parent, every
// other path below the row of its parent. The same text may have a second
// row where another chain's base differs. Ancestors not met yet are resolved
// from the top down, without recursion: a tree may be thousands of levels deep.
StoreError HistoryRun::ResolvePath(std::string_view dirname, std::int64_t& id) {
    if (auto found = known_.find(dirname); found != known_.end()) {
        id = found->second.Path;
        return {};
    }
    return ResolveNewPath(dirname, id);
}

StoreError HistoryRun::ResolveNewPath(std::string_view dirname, std::int64_t& id) {
    struct Missing {
        std::string Name, Shortname;
        int Level = 0;
    };
    std::vector<Missing> missing;
    std::int64_t parent = 0;
    for (std::string name(dirname);;) {
        const DirNames names = DeriveDirNames(name, context_.Basepath, context_.BaseLevel, context_.Style);
        missing.push_back({name, std::string(names.Shortname), names.Dirlevel + context_.BaseLevel});
        if (names.Parentdir.empty()) break;
        if (auto found = known_.find(names.Parentdir); found != known_.end()) {
            parent = found->second.Path;
            break;
        }
        name = std::string(names.Parentdir);
    }
    for (auto at = missing.rbegin(); at != missing.rend(); ++at) {
        const std::string& name = at->Name;
        StoreError error;
        bool row = false;
        if (pathsBefore_) {
            error = findPath_.BindText(1, name);
            if (error.Ok()) error = findPath_.BindInt64(2, parent);
            if (error.Ok()) error = findPath_.Step(row);
            if (!error.Ok()) return error;
        }
        if (row) {
            id = findPath_.Int64(0);
            findPath_.Reset();
        } else if (side_) {
            findPath_.Reset();
            id = SharedPathId(parent, name);
            error = AddSharedPath(SharedPath{id, parent, name, at->Shortname, at->Level});
            if (!error.Ok()) return error;
        } else {
            findPath_.Reset();
            id = nextPath_++;
            error = pathRows_.BindInt64(1, id);
            if (error.Ok()) error = pathRows_.BindText(2, name);
            if (error.Ok()) error = pathRows_.BindInt64(3, parent);
            if (error.Ok()) error = pathRows_.BindText(4, at->Shortname);
            if (error.Ok()) error = pathRows_.BindInt64(5, at->Level);
            if (error.Ok()) error = pathRows_.Run();
            if (!error.Ok()) return error;
        }
        parent = id;
        known_.try_emplace(std::move(at->Name)).first->second.Path = id;
    }
    return {};
}

StoreError HistoryRun::AddSharedPath(SharedPath path) {
    sharedPaths_.push_back(std::move(path));
    return sharedPaths_.size() < kSharedPaths ? StoreError{} : FlushSharedPaths();
}

// One statement of a few hundred paths, committed by the server on its own:
// a run stopped or killed meanwhile holds no path up for the others. A path
// another run stored first is left as it is, with the same number.
StoreError HistoryRun::FlushSharedPaths() {
    if (sharedPaths_.empty()) return {};
    StoreError error;
    if (!addPaths_.IsPrepared()) {
        std::string rows, keys;
        for (std::size_t i = 0; i < kSharedPaths; ++i) {
            rows += i == 0 ? "(?, ?, ?, ?, ?)" : ", (?, ?, ?, ?, ?)";
            keys += i == 0 ? "(?, ?, ?)" : ", (?, ?, ?)";
        }
        error = addPaths_.Prepare(*side_,
                                  "INSERT INTO Dirpath (Id, Dirname, Parent, Shortname, Level) VALUES " + rows +
                                      " ON CONFLICT DO NOTHING",
                                  StatementUse::Repeated);
        if (error.Ok()) {
            error = checkPaths_.Prepare(*side_, "SELECT count(*) FROM Dirpath WHERE (Id, Dirname, Parent) IN (" + keys + ")",
                                        StatementUse::Repeated);
        }
    }
    // A short batch repeats its last path.
    for (std::size_t i = 0; i < kSharedPaths && error.Ok(); ++i) {
        const SharedPath& path = sharedPaths_[std::min(i, sharedPaths_.size() - 1)];
        const int row = static_cast<int>(i) * 5 + 1, key = static_cast<int>(i) * 3 + 1;
        error = Bind(addPaths_, {path.Id}, row);
        if (error.Ok()) error = addPaths_.BindText(row + 1, path.Name);
        if (error.Ok()) error = Bind(addPaths_, {path.Parent}, row + 2);
        if (error.Ok()) error = addPaths_.BindText(row + 3, path.Shortname);
        if (error.Ok()) error = Bind(addPaths_, {path.Level}, row + 4);
        if (error.Ok()) error = Bind(checkPaths_, {path.Id}, key);
        if (error.Ok()) error = checkPaths_.BindText(key + 1, path.Name);
        if (error.Ok()) error = Bind(checkPaths_, {path.Parent}, key + 2);
    }
    // Two runs storing paths they share may meet in the middle of their
    // statements; the server then ends one of them, which tries again (each
    // statement stands alone, so nothing else is undone).
    for (int tries = 1; error.Ok() && !(error = addPaths_.Run()).Ok() && error.IsBusy() && tries < kSharedPathTries;
         ++tries) {
        error = {};
    }
    // Every path is stored now, by this run or by another that met it too.
    // One whose number another path holds would read as that one: the run
    // stops rather than store rows of the wrong directory.
    bool row = false;
    if (error.Ok()) error = checkPaths_.Step(row);
    if (error.Ok() && (!row || checkPaths_.Int64(0) != static_cast<std::int64_t>(sharedPaths_.size()))) {
        error = StoreError{StoreCode::Other, "Another directory path has the number of a new one",
                           sharedPaths_.front().Name};
    }
    checkPaths_.Reset();
    sharedPaths_.clear();
    return error;
}

StoreError HistoryRun::DirRow(std::string_view entryType, std::string_view entryName, std::int64_t files,
                              double bytes) {
    StoreError error = Begin();
    if (error.Ok()) error = FlushDir();
    if (error.Ok()) error = FlushFiles();
    if (!error.Ok()) return error;
    pending_ = true;
    pendingType_.assign(entryType);
    pendingName_.assign(entryName);
    pendingValues_ = DirValues{files, bytes, std::nullopt};
    return {};
}

StoreError HistoryRun::DirDisk(std::string_view entryType, std::string_view entryName, std::int64_t diskBytes) {
    if (!pending_ || pendingType_ != entryType || pendingName_ != entryName) {
        return StoreError{StoreCode::Other, "An on-disk figure came without its directory entry",
                          std::string(entryName)};
    }
    pendingValues_.Disk = diskBytes;
    return {};
}

StoreError HistoryRun::FlushDir() {
    if (!pending_) return {};
    pending_ = false;
    const std::string_view entryType = pendingType_;
    const std::string_view dirname = pendingName_;
    const DirValues& values = pendingValues_;
    std::int64_t path = 0;
    bool write = true;
    auto known = known_.find(dirname);
    const int slot = Slot(entryType);
    if (known != known_.end() && known->second.Held[slot]) {
        known->second.Seen[slot] = true;
        path = known->second.Path;
        write = *known->second.Held[slot] != values;
        if (write) {
            StoreError error = Bind(closeDir_, {*previous_, chain_, path});
            if (error.Ok()) error = closeDir_.BindText(4, entryType);
            if (error.Ok()) error = closeDir_.Run();
            if (!error.Ok()) return error;
        }
    } else if (known != known_.end()) {
        path = known->second.Path;
    } else if (StoreError error = ResolveNewPath(dirname, path); !error.Ok()) {
        return error;
    }
    if (write) {
        StoreError error = dirRows_.BindInt64(1, chain_);
        if (error.Ok()) error = dirRows_.BindInt64(2, path);
        if (error.Ok()) error = dirRows_.BindText(3, entryType);
        if (error.Ok()) error = dirRows_.BindInt64(4, kOpenSpan);
        if (error.Ok()) error = dirRows_.BindInt64(5, OpenedAt());
        if (error.Ok()) error = dirRows_.BindInt64(6, values.Files);
        if (error.Ok()) error = dirRows_.BindDouble(7, values.Bytes);
        if (error.Ok()) error = BindOptional(dirRows_, 8, values.Disk);
        if (error.Ok()) error = dirRows_.Run();
        if (!error.Ok()) {
            error.Datum = std::string(dirname);
            return error;
        }
    }
    // A directory without files rows this time: what it held closes.
    if (entryType == "2" && previousFiles_ && !merged_.contains(path)) {
        merged_.insert(path);
        return Enqueue(path, {});
    }
    return {};
}

StoreError HistoryRun::FileRow(std::string_view dir, std::string_view name, std::int64_t size, std::string_view type,
                               int attributes, std::string_view date) {
    StoreError error = Begin();
    if (error.Ok()) error = FlushDir();
    if (error.Ok() && dir != filesDir_) error = FlushFiles();
    if (!error.Ok()) return error;
    if (files_.empty()) filesDir_.assign(dir);
    // The walk lists names in order, so a name given twice comes twice in a
    // row: refused here, it is told as this file's failure. Others are
    // caught by the table's key when the rows are sent.
    if (!files_.empty() && files_.back().Name == name) {
        return StoreError{StoreCode::Constraint, "UNIQUE constraint failed: files.Snapshot, files.Filedir, files.Filename",
                          std::string(name)};
    }
    PendingFile& file = files_.emplace_back();
    file.Name.assign(name);
    file.Type.assign(type);
    file.Values.Size = size;
    file.Values.Attributes = attributes;
    file.Values.Date.assign(date);
    file.Values.DateNull = date.empty();
    return {};
}

StoreError HistoryRun::FileDisk(std::string_view dir, std::string_view name, std::int64_t diskBytes,
                                std::int64_t links) {
    if (files_.empty() || files_.back().Name != name || filesDir_ != dir) {
        return StoreError{StoreCode::Other, "An on-disk figure came without its file", std::string(name)};
    }
    files_.back().Values.Disk = diskBytes;
    files_.back().Values.Links = links;
    return {};
}

StoreError HistoryRun::FlushFiles() {
    if (files_.empty()) return {};
    std::int64_t path = 0;
    StoreError error = ResolvePath(filesDir_, path);
    if (error.Ok()) {
        if (!merged_.insert(path).second) {
            error = FlushBatch();
            if (error.Ok()) error = RewriteAgain(path, files_);
        } else if (previousFiles_) {
            error = Enqueue(path, std::move(files_));
        } else {
            for (const PendingFile& file : files_) {
                if (error.Ok()) error = WriteFileSpan(path, file);
            }
        }
    }
    files_.clear();
    return error;
}

StoreError HistoryRun::WriteFileSpan(std::int64_t path, const PendingFile& file) {
    StoreError error = fileRows_.BindInt64(1, chain_);
    if (error.Ok()) error = fileRows_.BindInt64(2, path);
    if (error.Ok()) error = fileRows_.BindText(3, file.Name);
    if (error.Ok()) error = fileRows_.BindInt64(4, kOpenSpan);
    if (error.Ok()) error = fileRows_.BindInt64(5, OpenedAt());
    if (error.Ok()) error = fileRows_.BindInt64(6, file.Values.Size);
    if (error.Ok()) error = fileRows_.BindText(7, file.Type);
    if (error.Ok()) error = fileRows_.BindInt64(8, file.Values.Attributes);
    if (error.Ok()) error = file.Values.DateNull ? fileRows_.BindNull(9) : fileRows_.BindText(9, file.Values.Date);
    if (error.Ok()) error = BindOptional(fileRows_, 10, file.Values.Disk);
    if (error.Ok()) error = BindOptional(fileRows_, 11, file.Values.Links);
    if (error.Ok()) error = fileRows_.Run();
    if (!error.Ok()) error.Datum = file.Name;
    return error;
}

StoreError HistoryRun::CloseFile(std::int64_t path, std::string_view name) {
    StoreError error = Bind(closeFile_, {*previous_, chain_, path});
    if (error.Ok()) error = closeFile_.BindText(4, name);
    if (error.Ok()) error = closeFile_.Run();
    return error;
}

StoreError HistoryRun::Enqueue(std::int64_t path, std::vector<PendingFile> files) {
    batchFiles_ += files.size();
    batch_.push_back({path, std::move(files)});
    if (batch_.size() < kBatchPaths && batchFiles_ < kBatchFiles) return {};
    return FlushBatch();
}

// The batch's directories against what they held, each in name order.
StoreError HistoryRun::FlushBatch() {
    if (batch_.empty()) return {};
    std::unordered_map<std::int64_t, std::vector<HeldFile>> held;
    StoreError error = openFiles_.BindInt64(1, chain_);
    for (std::size_t i = 0; i < kBatchPaths && error.Ok(); ++i) {
        error = openFiles_.BindInt64(static_cast<int>(i) + 2, batch_[std::min(i, batch_.size() - 1)].Path);
    }
    bool row = false;
    while (error.Ok() && (error = openFiles_.Step(row)).Ok() && row) {
        HeldFile& h = held[openFiles_.Int64(0)].emplace_back();
        h.Name.assign(openFiles_.Text(1));
        h.Values.Size = openFiles_.Int64(2);
        h.Values.Attributes = openFiles_.Int64(3);
        h.Values.DateNull = openFiles_.IsNull(4);
        h.Values.Date.assign(openFiles_.Text(4));
        h.Values.Disk = OptionalColumn(openFiles_, 5);
        h.Values.Links = OptionalColumn(openFiles_, 6);
    }
    openFiles_.Reset();
    for (Group& group : batch_) {
        if (error.Ok()) error = MergeGroup(group.Path, group.Files, held[group.Path]);
    }
    batch_.clear();
    batchFiles_ = 0;
    return error;
}

// One directory's files against what it held, both in name order.
StoreError HistoryRun::MergeGroup(std::int64_t path, std::vector<PendingFile>& files, std::vector<HeldFile>& held) {
    const auto byName = [](const auto& a, const auto& b) { return a.Name < b.Name; };
    std::sort(files.begin(), files.end(), byName);
    std::sort(held.begin(), held.end(), byName);
    StoreError error;
    std::size_t h = 0;
    for (const PendingFile& file : files) {
        while (error.Ok() && h < held.size() && held[h].Name < file.Name) error = CloseFile(path, held[h++].Name);
        if (!error.Ok()) return error;
        if (h < held.size() && held[h].Name == file.Name) {
            const bool same = held[h].Values == file.Values;
            if (!same) error = CloseFile(path, file.Name);
            ++h;
            if (same || !error.Ok()) continue;
        }
        if (error = WriteFileSpan(path, file); !error.Ok()) return error;
    }
    while (error.Ok() && h < held.size()) error = CloseFile(path, held[h++].Name);
    return error;
}

// Files of a directory whose files were compared already in this run: each
// reopens the span this run closed when it holds the same, else starts anew.
StoreError HistoryRun::RewriteAgain(std::int64_t path, std::vector<PendingFile>& files) {
    if (!previous_) {
        for (const PendingFile& file : files) {
            if (StoreError error = WriteFileSpan(path, file); !error.Ok()) return error;
        }
        return {};
    }
    Statement closed, reopen;
    StoreError error = closed.Prepare(state_,
                                      "SELECT Filesize, Fileattr, Filedate, Diskbytes, Links FROM Filespan WHERE "
                                      "Chain = ? AND Path = ? AND Filename = ? AND Last = ?");
    if (error.Ok()) {
        error = reopen.Prepare(state_, "UPDATE Filespan SET Last = " + kOpen +
                                           " WHERE Chain = ? AND Path = ? AND Filename = ? AND Last = ?");
    }
    for (const PendingFile& file : files) {
        if (!error.Ok()) return error;
        error = Bind(closed, {chain_, path});
        if (error.Ok()) error = closed.BindText(3, file.Name);
        if (error.Ok()) error = closed.BindInt64(4, *previous_);
        bool row = false;
        if (error.Ok()) error = closed.Step(row);
        if (!error.Ok()) return error;
        bool same = false;
        if (row) {
            FileValues values{closed.Int64(0), closed.Int64(1), std::string(closed.Text(2)), closed.IsNull(2),
                              OptionalColumn(closed, 3), OptionalColumn(closed, 4)};
            same = values == file.Values;
        }
        closed.Reset();
        if (same) {
            error = Bind(reopen, {chain_, path});
            if (error.Ok()) error = reopen.BindText(3, file.Name);
            if (error.Ok()) error = reopen.BindInt64(4, *previous_);
            if (error.Ok()) error = reopen.Run();
        } else {
            error = WriteFileSpan(path, file);
        }
    }
    return error;
}

// What held at the previous snapshot and was not met again: directories gone
// (and their files), entries gone, files of directories not met.
StoreError HistoryRun::CloseGone() {
    if (!previous_) return {};
    for (const auto& [dirname, known] : known_) {
        for (int slot : {0, 1}) {
            if (!known.Held[slot] || known.Seen[slot]) continue;
            StoreError error = Bind(closeDir_, {*previous_, chain_, known.Path});
            if (error.Ok()) error = closeDir_.BindText(4, slot == 0 ? "1" : "2");
            if (error.Ok()) error = closeDir_.Run();
            if (error.Ok() && slot == 1 && previousFiles_ && merged_.insert(known.Path).second) {
                error = Bind(closeFilesOf_, {*previous_, chain_, known.Path});
                if (error.Ok()) error = closeFilesOf_.Run();
            }
            if (!error.Ok()) return error;
        }
    }
    if (!previousFiles_) return {};
    // Files rows of a directory that had no entry of its own: rare, but
    // they close too, or they would hold on into this snapshot.
    std::vector<std::int64_t> orphans;
    {
        Statement paths;
        StoreError error = paths.Prepare(state_, "SELECT DISTINCT Path FROM Filespan WHERE Chain = ? AND Last = " + kOpen +
                                                     " AND First < ?");
        if (error.Ok()) error = Bind(paths, {chain_, snap_});
        bool row = false;
        while (error.Ok() && (error = paths.Step(row)).Ok() && row) {
            if (!merged_.contains(paths.Int64(0))) orphans.push_back(paths.Int64(0));
        }
        if (!error.Ok()) return error;
    }
    for (std::int64_t path : orphans) {
        StoreError error = Bind(closeFilesOf_, {*previous_, chain_, path});
        if (error.Ok()) error = closeFilesOf_.Run();
        if (!error.Ok()) return error;
    }
    return {};
}

StoreError HistoryRun::FinishRows() {
    StoreError error = Begin();
    if (error.Ok()) error = FlushDir();
    if (error.Ok()) error = FlushFiles();
    if (error.Ok()) error = FlushBatch();
    if (error.Ok()) error = CloseGone();
    if (error.Ok()) error = FlushSharedPaths();
    if (error.Ok()) error = pathRows_.Flush();
    if (error.Ok()) error = dirRows_.Flush();
    if (error.Ok()) error = fileRows_.Flush();
    return error;
}

StoreError HistoryRun::Finish(const ControlRow& row, std::optional<std::int64_t> instant,
                              std::optional<int> utcOffset) {
    StoreError error = FinishRows();
    if (!error.Ok()) return error;
    Statement add;
    error = add.Prepare(state_,
                        "INSERT INTO Snap (Id, Snapshot, Chain, Instant, Utcoffset, Basepath, Description, Collfiles, "
                        "Filelimit, Totdirs, Totfiles, Totbytesf, Filetot, Filesizef) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (error.Ok()) error = Bind(add, {snap_});
    if (error.Ok()) error = add.BindText(2, context_.Key);
    if (error.Ok()) error = add.BindInt64(3, chain_);
    if (error.Ok()) error = instant ? add.BindInt64(4, *instant) : add.BindNull(4);
    if (error.Ok()) error = utcOffset ? add.BindInt64(5, *utcOffset) : add.BindNull(5);
    if (error.Ok()) error = add.BindText(6, row.Basepath);
    if (error.Ok()) error = add.BindText(7, row.Description);
    if (error.Ok()) error = add.BindText(8, row.Collfiles);
    if (error.Ok()) error = Bind(add, {row.Filelimit, row.Totdirs, row.Totfiles}, 9);
    if (error.Ok()) error = add.BindDouble(12, row.Totbytesf);
    if (error.Ok()) error = add.BindInt64(13, row.Filetot);
    if (error.Ok()) error = add.BindDouble(14, row.Filesizef);
    if (error.Ok()) error = add.Run();
    if (error.Ok()) error = history::RefreshStatistics(state_);
    return error;
}

}  // namespace corvina
