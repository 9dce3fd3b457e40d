#include "ui/DirectoryTreeModel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <unordered_map>

#include <QApplication>
#include <QStyle>
#include <QTimer>

#include "analysis/AnalysisQuery.h"
#include "analysis/DirectoryChildren.h"
#include "analysis/DirectoryTotal.h"
#include "base/SizeFormat.h"

namespace corvina {

namespace {

constexpr int kGrowthColumn = 1;

// Signed as a reader without colour needs it: "+6 MB", "−1 MB", in the
// grid's unit. The magnitude is rounded down and then signed, as "Where did
// it grow" rounds its changes towards zero: swapping the snapshots turns the
// sign and nothing else (a shrink of less than a unit reads "−0 MB").
QString GrowthText(double growth, char unit) {
    const std::string number = FormatSizeCell(CellValue(std::fabs(growth)), unit);
    return (growth < 0 ? QChar(0x2212) : QChar('+')) +
           QString::fromStdString(number + " " + std::string(SizeUnitName(unit)));
}

}  // namespace

DirectoryTreeModel::DirectoryTreeModel(DatabaseState& database, Prompter& prompter, QObject* parent)
    : QAbstractItemModel(parent), database_(database), prompter_(prompter) {
    folder_ = QApplication::style()->standardIcon(QStyle::SP_DirClosedIcon);
    top_.Loaded = true;
}

DirectoryTreeModel::~DirectoryTreeModel() = default;

// The root row goes and a new one comes: no index into the old tree survives.
void DirectoryTreeModel::Clear() {
    if (top_.Children.empty()) return;
    beginRemoveRows(QModelIndex(), 0, 0);
    top_.Children.clear();
    endRemoveRows();
}

void DirectoryTreeModel::BuildDirectoryTree(const DateTime& snapshot, const std::string& rootKey, PathStyle style) {
    Clear();
    snapshot_ = snapshot;
    style_ = style;
    auto root = std::make_unique<Node>();
    root->Key = rootKey;
    root->Text = QString::fromStdString(rootKey);
    root->Parent = &top_;
    root->MayHaveChildren = true;
    const bool ok = ReadChildren(*root) && ReadRootGrowth(*root);
    // Rows whose parent is missing would never show: a damaged tree is told
    // as a failed read is.
    std::int64_t orphans = 0;
    const bool whole = CountOrphanDirectories(database_, snapshot, rootKey, style, orphans).Ok() && orphans == 0;
    beginInsertRows(QModelIndex(), 0, 0);
    top_.Children.push_back(std::move(root));
    endInsertRows();
    if (!ok || !whole) ShowMessage(prompter_, std::string(kTreeErrorsMessage));
}

bool DirectoryTreeModel::ReadChildren(Node& node) const {
    node.Loaded = true;
    std::vector<DirectoryChild> children;
    const StoreError error = ListDirectoryChildren(database_, snapshot_, node.Key, style_, children, compare_, basis_);
    for (DirectoryChild& read : children) {
        auto child = std::make_unique<Node>();
        child->Files = read.Files;
        child->Growth = compare_.IsNull() ? 0 : read.Bytes - read.CompareBytes;
        child->Key = std::move(read.Dirname);
        child->Text = QString::fromStdString(read.Shortname);
        child->MayHaveChildren = read.HasChildren;
        child->Loaded = !child->MayHaveChildren;
        child->Parent = &node;
        child->Row = static_cast<int>(node.Children.size());
        node.Children.push_back(std::move(child));
    }
    return error.Ok();
}

void DirectoryTreeModel::EnsureRead(Node& node) const {
    if (node.Loaded) return;
    if (!ReadChildren(node)) {
        // A message box inside a view's layout pass would let it repaint
        // half-way: the message waits for the event loop.
        auto* self = const_cast<DirectoryTreeModel*>(this);
        QTimer::singleShot(0, self, [self]() { ShowMessage(self->prompter_, std::string(kTreeErrorsMessage)); });
    }
}

// The root is no one's child: its own two totals. A side without the
// directory counts 0.
bool DirectoryTreeModel::ReadRootGrowth(Node& root) {
    root.Growth = 0;
    bool ok = true;
    if (!compare_.IsNull()) {
        std::optional<double> prime, compare;
        ok = FindDirectoryTotal(database_, root.Key, snapshot_, style_, prime, Entrytype::Directory, basis_).Ok() &&
             FindDirectoryTotal(database_, root.Key, compare_, style_, compare, Entrytype::Directory, basis_).Ok();
        root.Growth = prime.value_or(0) - compare.value_or(0);
    }
    return ok;
}

// The listing is read again as an expansion reads it, with the compare side;
// the nodes stay, so the view keeps what is expanded and selected.
bool DirectoryTreeModel::ReadGrowthBelow(Node& node) {
    if (!node.Loaded || node.Children.empty()) return true;
    std::vector<DirectoryChild> children;
    bool ok = ListDirectoryChildren(database_, snapshot_, node.Key, style_, children, compare_, basis_).Ok();
    std::unordered_map<std::string, double> growth;
    for (const DirectoryChild& read : children) growth[read.Dirname] = read.Bytes - read.CompareBytes;
    for (auto& child : node.Children) {
        const auto found = growth.find(child->Key);
        child->Growth = compare_.IsNull() || found == growth.end() ? 0 : found->second;
        ok = ReadGrowthBelow(*child) && ok;
    }
    return ok;
}

void DirectoryTreeModel::ShowGrowth(const DateTime& compare, char unit, SizeBasis basis) {
    const bool reread = compare != compare_ || (basis != basis_ && !compare.IsNull());
    compare_ = compare;
    unit_ = unit;
    basis_ = basis;
    if (top_.Children.empty()) return;
    Node& root = *top_.Children.front();
    if (reread && !(ReadRootGrowth(root) && ReadGrowthBelow(root))) ShowMessage(prompter_, std::string(kTreeErrorsMessage));
    std::function<void(const Node&)> changed = [&](const Node& node) {
        if (!node.Loaded || node.Children.empty()) return;
        const QModelIndex parent = IndexOf(&node);
        emit dataChanged(index(0, kGrowthColumn, parent),
                         index(static_cast<int>(node.Children.size()) - 1, kGrowthColumn, parent));
        for (const auto& child : node.Children) changed(*child);
    };
    changed(top_);
}

double DirectoryTreeModel::Growth(const QModelIndex& index) const { return index.isValid() ? NodeOf(index)->Growth : 0; }

QModelIndex DirectoryTreeModel::LargestGrowthChild(const QModelIndex& index) {
    Node* node = NodeOf(index);
    EnsureRead(*node);
    const Node* best = nullptr;
    for (const auto& child : node->Children) {
        if (!child->Files && (best == nullptr || child->Growth > best->Growth)) best = child.get();
    }
    return IndexOf(best);
}

QVariant DirectoryTreeModel::GrowthData(const Node& node, int role) const {
    if (compare_.IsNull() || node.Growth == 0) return {};
    switch (role) {
        case Qt::DisplayRole: return GrowthText(node.Growth, unit_);
        case Qt::ForegroundRole: return node.Growth > 0 ? QColor(0xb0, 0x10, 0x10) : QColor(0x10, 0x80, 0x20);
        case Qt::TextAlignmentRole: return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        default: return {};
    }
}

DirectoryTreeModel::Node* DirectoryTreeModel::NodeOf(const QModelIndex& index) const {
    if (!index.isValid()) return const_cast<Node*>(&top_);
    return static_cast<Node*>(index.internalPointer());
}

QModelIndex DirectoryTreeModel::IndexOf(const Node* node, int column) const {
    if (node == nullptr || node == &top_) return {};
    return createIndex(node->Row, column, const_cast<Node*>(node));
}

QModelIndex DirectoryTreeModel::RootIndex() const {
    return top_.Children.empty() ? QModelIndex() : IndexOf(top_.Children.front().get());
}

std::string DirectoryTreeModel::Key(const QModelIndex& index) const {
    return index.isValid() ? NodeOf(index)->Key : std::string();
}

bool DirectoryTreeModel::IsFilesEntry(const QModelIndex& index) const {
    return index.isValid() && NodeOf(index)->Files;
}

QModelIndex DirectoryTreeModel::FindLoaded(const std::string& key) const {
    std::function<const Node*(const Node&)> find = [&](const Node& node) -> const Node* {
        for (const auto& child : node.Children) {
            if (child->Key == key) return child.get();
            if (const Node* found = find(*child)) return found;
        }
        return nullptr;
    };
    return IndexOf(find(top_));
}

QModelIndex DirectoryTreeModel::Reveal(const std::string& key) {
    auto same = [this](std::string_view a, std::string_view b) {
        if (style_ == PathStyle::Posix) return a == b;
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    // The child on the way is the one whose tree bounds hold the key.
    auto holds = [&](const Node& node) {
        if (same(node.Key, key)) return true;
        const std::string lo = TreeBoundsOf(node.Key, style_).Lo;
        return key.size() > lo.size() && same(std::string_view(key).substr(0, lo.size()), lo);
    };
    Node* node = top_.Children.empty() ? nullptr : top_.Children.front().get();
    if (node == nullptr || !holds(*node)) return {};
    while (!same(node->Key, key)) {
        EnsureRead(*node);
        // A files entry bears the key of a directory called "(files)" beside it.
        auto next = std::find_if(node->Children.begin(), node->Children.end(),
                                 [&](const auto& c) { return !c->Files && holds(*c); });
        if (next == node->Children.end()) return {};
        node = next->get();
    }
    return IndexOf(node);
}

QModelIndex DirectoryTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column < 0 || column > kGrowthColumn || row < 0 || parent.column() > 0) return {};
    Node* node = NodeOf(parent);
    EnsureRead(*node);
    if (row >= static_cast<int>(node->Children.size())) return {};
    return IndexOf(node->Children[static_cast<std::size_t>(row)].get(), column);
}

QModelIndex DirectoryTreeModel::parent(const QModelIndex& index) const {
    if (!index.isValid()) return {};
    return IndexOf(NodeOf(index)->Parent);
}

int DirectoryTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    Node* node = NodeOf(parent);
    EnsureRead(*node);
    return static_cast<int>(node->Children.size());
}

// The growth column is always there; the view hides it without a compare snapshot.
int DirectoryTreeModel::columnCount(const QModelIndex&) const { return 2; }

QVariant DirectoryTreeModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
    const Node* node = NodeOf(index);
    if (index.column() == kGrowthColumn) return GrowthData(*node, role);
    switch (role) {
        case Qt::DisplayRole: return node->Text;
        case Qt::ToolTipRole: return QString::fromStdString(node->Key);
        case Qt::DecorationRole: return folder_;
        default: return {};
    }
}

bool DirectoryTreeModel::hasChildren(const QModelIndex& parent) const {
    if (parent.column() > 0) return false;
    const Node* node = NodeOf(parent);
    return node->Loaded ? !node->Children.empty() : node->MayHaveChildren;
}

bool DirectoryTreeModel::ChildrenRead(const QModelIndex& index) const { return NodeOf(index)->Loaded; }

}  // namespace corvina
