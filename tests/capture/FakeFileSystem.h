#pragma once
// An in-memory file system for walk tests: entries in a fixed listing order,
// and failures injected by path (a directory that cannot be opened or listed,
// an entry whose attributes or length cannot be read). Root in CI ignores
// permissions, so this is how every error path of the walk gets exercised.

#include <cerrno>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "capture/FileSystem.h"

namespace corvina::test {

class FakeFileSystem final : public FileSystem {
public:
    struct Node {
        std::string Name;
        int Attributes = 0;
        std::int64_t Length = 0;
        std::int64_t Modified = 1700000000;
        std::uint64_t Device = 1;
        std::vector<std::unique_ptr<Node>> Children;  // listing order
        std::string Path;                              // full path, separator-joined
    };

    explicit FakeFileSystem(std::string rootPath = "/base", char separator = '/') : separator_(separator) {
        root_.Name = rootPath;
        root_.Path = rootPath;
        root_.Attributes = kAttrDirectory;
    }

    // Adds a directory or file below parentPath ("" is the root); returns its path.
    std::string AddDir(const std::string& parentPath, const std::string& name, std::uint64_t device = 0) {
        Node& node = Add(parentPath, name);
        node.Attributes = kAttrDirectory;
        node.Device = device != 0 ? device : Find(parentPath)->Device;
        return node.Path;
    }
    std::string AddFile(const std::string& parentPath, const std::string& name, std::int64_t length,
                        int attributes = 0, std::int64_t modified = 1700000000) {
        Node& node = Add(parentPath, name);
        node.Attributes = attributes;
        node.Length = length;
        node.Modified = modified;
        node.Device = Find(parentPath)->Device;
        return node.Path;
    }

    std::map<std::string, int> OpenFailures;       // path of a directory -> code
    std::map<std::string, int> ListingFailures;    // path of a directory -> code after its names
    std::map<std::string, int> AttributeFailures;  // path of an entry -> code
    std::map<std::string, int> LengthFailures;     // path of a file -> code

    int OpenHandles() const { return static_cast<int>(open_.size()); }
    int MaxOpenHandles() const { return maxOpen_; }
    bool NestedListing() const { return nested_; }

    int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) override {
        Node* node = path == root_.Path ? &root_ : nullptr;
        if (node == nullptr) return ENOENT;
        if (auto f = OpenFailures.find(path); f != OpenFailures.end()) return f->second;
        stat = StatOf(*node);
        out = Register(node);
        return 0;
    }

    int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) override {
        Node* dir = open_.at(parent.Id());
        Node* child = ChildOf(*dir, name);
        if (child == nullptr) return ENOENT;
        if (!(child->Attributes & kAttrDirectory)) return ENOTDIR;
        if (auto f = OpenFailures.find(child->Path); f != OpenFailures.end()) return f->second;
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
        if (auto f = ListingFailures.find(listing_->Path); f != ListingFailures.end()) error = f->second;
        listing_ = nullptr;
        return false;
    }

    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override {
        Node* child = ChildOf(*open_.at(directory.Id()), name);
        if (child == nullptr) return ENOENT;
        if (auto f = AttributeFailures.find(child->Path); f != AttributeFailures.end()) return f->second;
        out = StatOf(*child);
        return 0;
    }

    int ReadLength(const DirectoryHandle& directory, std::string_view name, const EntryStat& stat,
                   std::int64_t& length) override {
        Node* child = ChildOf(*open_.at(directory.Id()), name);
        if (child == nullptr) return ENOENT;
        if (auto f = LengthFailures.find(child->Path); f != LengthFailures.end()) return f->second;
        length = stat.Length;
        return 0;
    }

protected:
    void CloseDirectory(int id) override { open_.erase(id); }

private:
    Node* Find(const std::string& path) {
        if (path.empty() || path == root_.Path) return &root_;
        auto it = index_.find(path);
        return it == index_.end() ? nullptr : it->second;
    }
    Node& Add(const std::string& parentPath, const std::string& name) {
        Node* parent = Find(parentPath);
        auto node = std::make_unique<Node>();
        node->Name = name;
        node->Path = parent->Path;
        if (node->Path.empty() || node->Path.back() != separator_) node->Path += separator_;
        node->Path += name;
        Node& ref = *node;
        index_[ref.Path] = &ref;
        parent->Children.push_back(std::move(node));
        return ref;
    }
    Node* ChildOf(Node& dir, std::string_view name) {
        std::string path = dir.Path;
        if (path.empty() || path.back() != separator_) path += separator_;
        path.append(name);
        auto it = index_.find(path);
        return it == index_.end() ? nullptr : it->second;
    }
    static EntryStat StatOf(const Node& node) {
        EntryStat stat;
        stat.Attributes = node.Attributes;
        stat.Length = node.Length;
        stat.ModifiedSeconds = node.Modified;
        stat.Device = node.Device;
        return stat;
    }
    DirectoryHandle Register(Node* node) {
        int id = nextId_++;
        open_[id] = node;
        if (static_cast<int>(open_.size()) > maxOpen_) maxOpen_ = static_cast<int>(open_.size());
        return DirectoryHandle(this, id);
    }

    char separator_;
    Node root_;
    std::map<std::string, Node*> index_;
    std::map<int, Node*> open_;
    int nextId_ = 1;
    int maxOpen_ = 0;
    Node* listing_ = nullptr;
    std::size_t position_ = 0;
    bool nested_ = false;
};

}  // namespace corvina::test
