// Writes the snapshot database the analysis benchmark runs on:
//
//   analysis_bench_data TREE DATABASE
//
// TREE is a directory tree (for example one made by make_tree.py with a million
// files). The first snapshot records every file of it as the walk finds it; the
// second is the same tree after a scripted change of 1 % of its files (a third
// of them grown, a third deleted, a third renamed, so new), synthesised from
// the same listing. Each snapshot is one transaction through the store's row
// writers, as a snapshot run writes it.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>


#include "app/OpenDialogue.h"
#include "store/Catalogue.h"
#include "store/Statement.h"
#include "store/WriteTransaction.h"
#include "store/RowWriter.h"
#include "store/SnapshotDatabase.h"

namespace {

using namespace corvina;

struct FileEntry {
    std::size_t Dir;
    std::string Name;
    std::int64_t Size;
    std::int64_t Mtime;
    int Attr;
};

struct DirEntry {
    std::string Path;
    std::vector<std::size_t> Children;  // subdirectories, in listing order
    std::vector<std::size_t> Files;     // indexes into the file list
};

struct Listing {
    std::vector<DirEntry> Dirs;
    std::vector<FileEntry> Files;
};

std::size_t ListTree(const std::string& path, Listing& listing) {
    std::size_t self = listing.Dirs.size();
    listing.Dirs.push_back({path, {}, {}});
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return self;
    std::vector<std::string> subdirs;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string full = path + "/" + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            subdirs.push_back(name);
        } else {
            int attr = (st.st_mode & S_IWUSR) ? 0 : 1;
            if (name.front() == '.') attr += 2;
            if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) attr += 4;
            listing.Dirs[self].Files.push_back(listing.Files.size());
            listing.Files.push_back({self, name, static_cast<std::int64_t>(st.st_size), st.st_mtime, attr});
        }
    }
    ::closedir(dir);
    for (const auto& name : subdirs) {
        std::size_t child = ListTree(path + "/" + name, listing);
        listing.Dirs[self].Children.push_back(child);
    }
    return self;
}

struct Totals {
    std::int64_t Files = 0;
    double Bytes = 0;
};

// Writes one snapshot of the listing; change(i) says what happens to file i:
// 0 kept, 1 grown, 2 deleted, 3 renamed.
class SnapshotWriter {
public:
    SnapshotWriter(DatabaseState& db, const Listing& listing, const std::string& base, DateTime key, bool changed)
        : writer_(db, RowContext{key, base, BaseLevelOf(base, PathStyle::Posix), PathStyle::Posix, ""}),
          listing_(listing),
          changed_(changed) {}

    Totals Write(std::size_t dir) {
        Totals tree;
        for (std::size_t child : listing_.Dirs[dir].Children) {
            Totals sub = Write(child);
            tree.Files += sub.Files;
            tree.Bytes += sub.Bytes;
        }
        Totals own;
        const std::string& path = listing_.Dirs[dir].Path;
        for (std::size_t index : listing_.Dirs[dir].Files) {
            const FileEntry& file = listing_.Files[index];
            int change = changed_ && index % 100 == 0 ? 1 + static_cast<int>(index / 100 % 3) : 0;
            if (change == 2) continue;
            std::string name = change == 3 ? file.Name + ".new" : file.Name;
            std::int64_t size = change == 1 ? file.Size + 1000 : file.Size;
            FileRowInput row{name, size, path, file.Attr, DateTime::FromUnix(file.Mtime + (change == 1 ? 3600 : 0))};
            if (StoreError error = writer_.WriteFileRow(row); !error.Ok()) Die(path + "/" + name, error);
            ++own.Files;
            own.Bytes += static_cast<double>(size);
            ++FileRows;
            FileBytes += static_cast<double>(size);
        }
        if (own.Files > 0) {
            StoreError error = writer_.WriteDirRow("1", FilesEntryName(path, PathStyle::Posix), own.Files, own.Bytes);
            if (!error.Ok()) Die(path, error);
        }
        tree.Files += own.Files;
        tree.Bytes += own.Bytes;
        if (StoreError error = writer_.WriteDirRow("2", path, tree.Files, tree.Bytes); !error.Ok()) Die(path, error);
        ++DirRows;
        return tree;
    }

    std::int64_t FileRows = 0;
    std::int64_t DirRows = 0;
    double FileBytes = 0;

private:
    [[noreturn]] void Die(const std::string& what, const StoreError& error) {
        std::fprintf(stderr, "writing %s failed: %s\n", what.c_str(), error.Details().c_str());
        std::exit(1);
    }
    RowWriter writer_;
    const Listing& listing_;
    bool changed_;
};

class YesPrompter : public Prompter {
public:
    Answer Ask(const Message& message) override {
        std::fprintf(stderr, "%s\n", message.Text.c_str());
        return Answer::Yes;
    }
};
class ExitEnder : public ProgramEnder {
public:
    void EndProgram(int code) override { std::exit(code); }
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s TREE DATABASE\n", argv[0]);
        return 2;
    }
    std::string base = std::filesystem::absolute(argv[1]).lexically_normal().string();
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    auto start = std::chrono::steady_clock::now();
    Listing listing;
    ListTree(base, listing);
    std::printf("listed %zu directories, %zu files in %.1f s\n", listing.Dirs.size(), listing.Files.size(),
                Seconds(start));

    std::filesystem::remove(argv[2]);
    DatabaseState db;
    db.DatabasePath = argv[2];
    YesPrompter prompter;
    ExitEnder ender;
    if (OpenSnapshotDatabase(db, prompter, ender) != OpenOutcome::Created) return 1;
    const char* keys[2] = {"2026-12-01 10:00:00", "2026-12-06 10:00:00"};
    for (int s = 0; s < 2; ++s) {
        start = std::chrono::steady_clock::now();
        DateTime key = *DateTime::Parse(keys[s]);
        WriteTransaction transaction(db);
        WaitUpTo noWait{std::chrono::milliseconds(0)};
        if (!transaction.Begin(noWait).Ok()) return 1;
        SnapshotWriter writer(db, listing, base, key, s == 1);
        Totals total = writer.Write(0);
        ControlRow control{key, base, s == 0 ? "benchmark tree" : "benchmark tree, 1% changed", "Y", 0,
                           writer.DirRows, total.Files, total.Bytes, writer.FileRows, writer.FileBytes, std::nullopt, std::nullopt};
        if (!WriteControlRow(db, control).Ok()) return 1;
        if (!transaction.Commit(noWait).Ok()) return 1;
        std::printf("snapshot %s: %lld files rows in %.1f s\n", keys[s], static_cast<long long>(writer.FileRows),
                    Seconds(start));
    }
    auto number = [&db](const char* sql) {
        Statement query;
        bool row = false;
        return query.Prepare(db, sql).Ok() && query.Step(row).Ok() && row ? query.Int64(0) : std::int64_t{0};
    };
    const double pages = static_cast<double>(number("PRAGMA page_count") * number("PRAGMA page_size"));
    std::printf("database %.1f MB\n", pages / 1e6);
    const auto rows = number("SELECT count(*) FROM files");
    std::printf("%.0f bytes of database pages per files row (all tables and indexes)\n",
                pages / static_cast<double>(std::max<std::int64_t>(rows, 1)));
    CloseSnapshotDatabase(db);
    return 0;
}
