#pragma once
// The walk's test doubles. FakeFileSystem holds entries in a fixed listing
// order and injects failures by path (a directory that cannot be opened or
// listed, an entry whose attributes or length cannot be read): root in CI
// ignores permissions, so this is how every error path of the walk gets
// exercised. RecordingSink and RecordingObserver keep what the walk hands
// them, for tests that need no database.

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/DirectoryWalk.h"
#include "capture/FileSystem.h"

namespace corvina::test {

class FakeFileSystem final : public FileSystem {
public:
    struct Node {
        std::string Name, Path;  // Path: full path, separator-joined
        EntryStat Stat;
        std::vector<Node*> Children;  // listing order
    };

    explicit FakeFileSystem(std::string rootPath = "/base") {
        root_.Name = root_.Path = rootPath;
        root_.Stat.Attributes = kAttrDirectory;
        root_.Stat.Device = 1;
    }

    // Adds a directory or file below parentPath ("" is the root); returns its path.
    std::string AddDir(const std::string& parentPath, const std::string& name, std::uint64_t device = 0) {
        Node& node = Add(parentPath, name, kAttrDirectory, 0, 1700000000);
        if (device != 0) node.Stat.Device = device;
        return node.Path;
    }
    std::string AddFile(const std::string& parentPath, const std::string& name, std::int64_t length,
                        int attributes = 0, std::int64_t modified = 1700000000) {
        return Add(parentPath, name, attributes, length, modified).Path;
    }

    std::map<std::string, int> OpenFailures;       // path of a directory -> code
    std::map<std::string, int> ListingFailures;    // path of a directory -> code after its names
    std::map<std::string, int> AttributeFailures;  // path of an entry -> code
    std::map<std::string, int> LengthFailures;     // path of a file -> code

    int OpenHandles() const { return static_cast<int>(open_.size()); }
    int MaxOpenHandles() const { return maxOpen_; }
    bool NestedListing() const { return nested_; }

    int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) override {
        if (path != root_.Path) return ENOENT;
        if (int code = Failure(OpenFailures, path)) return code;
        stat = root_.Stat;
        out = Register(&root_);
        return 0;
    }
    int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) override {
        Node* child = ChildOf(parent, name);
        if (child == nullptr) return ENOENT;
        if (!child->Stat.IsDirectory()) return ENOTDIR;
        if (int code = Failure(OpenFailures, child->Path)) return code;
        out = Register(child);
        return 0;
    }
    int BeginListing(const DirectoryHandle& directory) override {
        if (listing_ != nullptr && position_ < listing_->Children.size()) nested_ = true;
        listing_ = open_.at(directory.Id());
        position_ = 0;
        return 0;
    }
    bool NextName(std::string_view& name, int& error) override {
        error = 0;
        if (listing_ == nullptr) return false;
        if (position_ < listing_->Children.size()) {
            name = listing_->Children[position_++]->Name;
            return true;
        }
        error = Failure(ListingFailures, listing_->Path);
        listing_ = nullptr;
        return false;
    }
    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override {
        Node* child = ChildOf(directory, name);
        if (child == nullptr) return ENOENT;
        if (int code = Failure(AttributeFailures, child->Path)) return code;
        out = child->Stat;
        return 0;
    }
    int ReadLength(const DirectoryHandle& directory, std::string_view name, const EntryStat& stat,
                   std::int64_t& length) override {
        Node* child = ChildOf(directory, name);
        if (child == nullptr) return ENOENT;
        if (int code = Failure(LengthFailures, child->Path)) return code;
        length = stat.Length;
        return 0;
    }

protected:
    void CloseDirectory(int id) override { open_.erase(id); }

private:
    static int Failure(const std::map<std::string, int>& failures, const std::string& path) {
        auto it = failures.find(path);
        return it == failures.end() ? 0 : it->second;
    }
    std::string Join(const std::string& directory, std::string_view name) const {
        std::string path = directory;
        if (path.empty() || path.back() != '/') path += '/';
        return path.append(name);
    }
    Node& Add(const std::string& parentPath, const std::string& name, int attributes, std::int64_t length,
              std::int64_t modified) {
        Node* parent = parentPath.empty() ? &root_ : nodes_.at(parentPath);
        auto node = std::make_unique<Node>();
        node->Name = name;
        node->Path = Join(parent->Path, name);
        node->Stat = {attributes, length, modified, parent->Stat.Device};
        parent->Children.push_back(node.get());
        children_[{parent, name}] = node.get();  // a second entry of the same name shadows the first
        nodes_[node->Path] = node.get();
        all_.push_back(std::move(node));
        return *all_.back();
    }
    Node* ChildOf(const DirectoryHandle& directory, std::string_view name) {
        auto it = children_.find({open_.at(directory.Id()), std::string(name)});
        return it == children_.end() ? nullptr : it->second;
    }
    DirectoryHandle Register(Node* node) {
        open_[nextId_] = node;
        maxOpen_ = std::max(maxOpen_, static_cast<int>(open_.size()));
        return DirectoryHandle(this, nextId_++);
    }

    Node root_;
    std::vector<std::unique_ptr<Node>> all_;
    std::map<std::string, Node*> nodes_;  // by path, for adding below a path
    std::map<std::pair<const Node*, std::string>, Node*> children_;
    std::map<int, Node*> open_;
    int nextId_ = 1;
    int maxOpen_ = 0;
    Node* listing_ = nullptr;
    std::size_t position_ = 0;
    bool nested_ = false;
};

class RecordingSink final : public RowSink {
public:
    // Rows as text: "F name size dir attr" and "D type name files bytes".
    std::vector<std::string> Rows;
    int FailAtRow = -1;  // the row with this index is refused

    bool FileRow(const FileRowInput& row) override {
        if (Refuse()) return false;
        Rows.push_back("F " + std::string(row.Filename) + " " + std::to_string(row.Filesize) + " " +
                       std::string(row.Filedir) + " " + std::to_string(row.Fileattr));
        Dates.push_back(FormatKey(row.Filedate));
        return true;
    }
    bool DirRow(std::string_view type, std::string_view name, std::int64_t files, double bytes) override {
        if (Refuse()) return false;
        Rows.push_back("D" + std::string(type) + " " + std::string(name) + " " + std::to_string(files) + " " +
                       std::to_string(static_cast<std::int64_t>(bytes)));
        return true;
    }
    std::vector<std::string> Dates;  // Filedate of each file row

private:
    bool Refuse() { return FailAtRow >= 0 && static_cast<int>(Rows.size()) == FailAtRow; }
};

class RecordingObserver final : public WalkObserver {
public:
    std::vector<std::string> Statuses;
    std::vector<RunCounters> Counters;
    std::vector<std::string> DebugTitles;
    std::vector<std::vector<DebugEntry>> DebugLists;
    DebugAnswer Answer = DebugAnswer::Continue;
    std::function<void(const RunCounters&)> AfterCounters;

    void OnStatus(const std::string& text) override { Statuses.push_back(text); }
    void OnCounters(const RunCounters& counters) override {
        Counters.push_back(counters);
        if (AfterCounters) AfterCounters(counters);
    }
    DebugAnswer OnDebugStop(const std::string& title, const std::vector<DebugEntry>& entries) override {
        DebugTitles.push_back(title);
        DebugLists.push_back(entries);
        return Answer;
    }
};

// The classic exchange sort on upper-cased names, quadratic: the reference
// that SortNames must agree with, ties included.
inline std::vector<std::size_t> ExchangeSortNames(const std::vector<std::string_view>& names) {
    auto upper = [](std::string_view name) {
        std::string text(name);
        for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        return text;
    };
    std::vector<std::size_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        for (std::size_t j = i + 1; j < order.size(); ++j) {
            if (upper(names[order[i]]) > upper(names[order[j]])) std::swap(order[i], order[j]);
        }
    }
    return order;
}

}  // namespace corvina::test
