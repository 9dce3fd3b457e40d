#pragma once
// The directory tree of a snapshot (tvdir): a root node for the base path and
// one node per Dir row below it, each keyed by its full path (Dirname) and
// shown by its last element (Shortname). "(files)" entries are leaves.
// Siblings come files entry first, then subdirectories, each by name.
//
// The children of a node are read (ListDirectoryChildren) the first time anyone
// asks for them (a view does so when the node is expanded), so a tree of any
// size is complete and opens at once: the build reads only the root's
// children. Until then a node says whether it has children from the same
// query that listed it. Reading happens inside rowCount() and index(), with no
// insertion signals: for a view the rows were always there.
//
// The model owns its nodes; the database and prompter are borrowed and must
// outlive it.
//
// Error policy: a query that fails while children are read is reported once
// per read ("Errors were encountered retrieving the directory information.")
// from the event loop, never from inside a view's query, and the node shows
// what was read. A build that finds Dir rows whose parent is missing says the
// same.
//
// While a compare snapshot is set, a second column shows each node's growth
// in the display unit and size basis: its bytes in the snapshot minus those
// in the compare snapshot, signed, red for growing and green for shrinking;
// blank when unchanged. The compare bytes come with the children's query.

#include <memory>
#include <string>
#include <vector>

#include <QAbstractItemModel>
#include <QColor>
#include <QIcon>

#include "base/DateTime.h"
#include "base/PathStyle.h"
#include "base/Prompter.h"
#include "base/SizeFormat.h"
#include "store/SnapshotDatabase.h"

namespace corvina {

inline constexpr std::string_view kTreeErrorsMessage =
    "Errors were encountered retrieving the directory information.\n"
    "This could indicate that the data is incomplete.";

class DirectoryTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    DirectoryTreeModel(DatabaseState& database, Prompter& prompter, QObject* parent = nullptr);
    ~DirectoryTreeModel() override;

    // Replaces the tree by the one of snapshot under a root keyed rootKey, and
    // reads the root's children.
    void BuildDirectoryTree(const DateTime& snapshot, const std::string& rootKey, PathStyle style);
    // An empty tree.
    void Clear();

    QModelIndex RootIndex() const;
    std::string Key(const QModelIndex& index) const;
    // Whether the node is a "(files)" entry; a directory may bear the same key.
    bool IsFilesEntry(const QModelIndex& index) const;
    // The node keyed key among the nodes read so far, invalid when there is none.
    QModelIndex FindLoaded(const std::string& key) const;
    // The directory keyed key (never a files entry), the children of each
    // node on the way read as an expansion would read them; invalid when the
    // tree has no such directory.
    // Names compare as the snapshot's path style compares them.
    QModelIndex Reveal(const std::string& key);
    // True once the children of the node have been read.
    bool ChildrenRead(const QModelIndex& index) const;

    // Sets the compare snapshot (null: none), the display unit ('B', 'K',
    // 'M') and the size basis of the growth column; a new compare snapshot or
    // basis reads the figures of every node read so far again.
    void ShowGrowth(const DateTime& compare, char unit, SizeBasis basis = SizeBasis::Apparent);
    bool ShowsGrowth() const { return !compare_.IsNull(); }
    // Bytes in the snapshot minus bytes in the compare snapshot; 0 without one.
    double Growth(const QModelIndex& index) const;
    // The subdirectory (not the files entry) of index that holds the most
    // growth, its children read as an expansion reads them; invalid when it
    // has none.
    QModelIndex LargestGrowthChild(const QModelIndex& index);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;

private:
    struct Node {
        std::string Key;
        QString Text;
        Node* Parent = nullptr;
        int Row = 0;
        bool MayHaveChildren = false;
        bool Loaded = false;
        bool Files = false;
        double Growth = 0;
        std::vector<std::unique_ptr<Node>> Children;
    };

    Node* NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOf(const Node* node, int column = 0) const;
    // Reads the children of node; false when the query failed (the rows read stay).
    bool ReadChildren(Node& node) const;
    // Reads them unless that was done; a failure is told later.
    void EnsureRead(Node& node) const;
    // The root's growth from its two totals; the growth of every node read
    // below node, again.
    bool ReadRootGrowth(Node& root);
    bool ReadGrowthBelow(Node& node);
    QVariant GrowthData(const Node& node, int role) const;

    DatabaseState& database_;
    Prompter& prompter_;
    DateTime snapshot_;
    PathStyle style_ = kNativePathStyle;
    DateTime compare_;  // null: no growth column
    char unit_ = 'M';
    SizeBasis basis_ = SizeBasis::Apparent;
    Node top_;  // invisible; its only child is the root
    QIcon folder_;
};

}  // namespace corvina
