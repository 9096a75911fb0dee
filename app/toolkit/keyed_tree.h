#pragma once

#include <QPointer>
#include <QString>
#include <QTreeView>

#include <cstdint>
#include <optional>

namespace toolkit {

class KeyedTree;
class KeyedTreeModel;

// A handle on one node of a KeyedTree. It goes dead when the tree removes all
// its nodes (or is destroyed); every operation on a dead handle fails
// harmlessly, so a handler that holds one across a rebuild cannot crash.
class TreeNode {
public:
    TreeNode() = default;

    bool isValid() const;
    QString key() const; // empty when dead
    QString text() const;
    bool setText(const QString &text);
    bool isExpanded() const;
    // Raises the tree's expand or collapse event, inside the call, when the
    // state changes.
    bool setExpanded(bool expanded);
    bool isSelected() const;
    // Makes this node the tree's one selected node.
    bool setSelected();
    // Colour in 0x00BBGGRR form; nullopt: the view's default colour.
    std::optional<int> foreColor() const;
    bool setForeColor(int bgr);
    TreeNode firstChild() const;
    TreeNode parent() const;
    int childCount() const;

    friend bool operator==(const TreeNode &a, const TreeNode &b)
    {
        return a.m_tree == b.m_tree && a.m_id == b.m_id && a.m_generation == b.m_generation;
    }

private:
    friend class KeyedTree;
    TreeNode(KeyedTree *tree, int id, std::uint32_t generation) : m_tree(tree), m_id(id), m_generation(generation) {}
    KeyedTreeModel *model() const;

    QPointer<KeyedTree> m_tree;
    int m_id = -1;
    std::uint32_t m_generation = 0;
};

// A tree view whose nodes carry unique string keys. Nodes are added as the
// last child of a node named by key (or at the top level), found by key, and
// all removed at once. Events (expand, collapse, click) arrive synchronously.
//
// Built on a QTreeView over a light model of its own, so that a whole tree of
// a hundred thousand nodes can be thrown away and rebuilt quickly. Between
// beginBatch() and endBatch() the screen is left alone and brought up to date
// in one step at the end; everything else (find, state, events) behaves the
// same inside a batch. Removing all nodes is safe at any time, including from
// inside the tree's own expand event.
class KeyedTree : public QTreeView {
    Q_OBJECT
public:
    explicit KeyedTree(QWidget *parent = nullptr);
    ~KeyedTree() override;

    void removeAll();
    // Adds a node with key and text as the last child of the node keyed
    // relativeKey, or at the top level when relativeKey is empty. Fails (an
    // invalid handle) when key is empty or in use, or the relative is missing.
    TreeNode add(const QString &relativeKey, const QString &key, const QString &text);
    TreeNode find(const QString &key) const;
    TreeNode selectedNode() const;
    int nodeCount() const;
    QList<TreeNode> topLevelNodes() const;

    // The model index of a node and the node at an index (for tests and for
    // finding where a node is drawn).
    QModelIndex indexOf(const TreeNode &node) const;
    TreeNode nodeAt(const QModelIndex &index) const;

    void beginBatch();
    void endBatch();
    bool inBatch() const { return m_batchDepth > 0; }

    // Scoped batch.
    class Batch {
    public:
        explicit Batch(KeyedTree *tree) : m_tree(tree) { if (m_tree) m_tree->beginBatch(); }
        ~Batch() { if (m_tree) m_tree->endBatch(); }
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;
    private:
        QPointer<KeyedTree> m_tree;
    };

signals:
    void nodeExpand(toolkit::TreeNode node);
    void nodeCollapse(toolkit::TreeNode node);
    void nodeClick(toolkit::TreeNode node);

private:
    friend class TreeNode;

    TreeNode handle(int id) const;
    bool setNodeExpanded(int id, bool expanded);
    bool setNodeSelected(int id);
    void nodeDataChanged(int id, int role);
    void viewExpanded(const QModelIndex &index);
    void viewCollapsed(const QModelIndex &index);
    void viewClicked(const QModelIndex &index);
    void viewSelectionChanged();
    void pushExpansion(int id);
    void pushSelection();
    bool ancestorsExpanded(int id) const;

    KeyedTreeModel *m_model = nullptr;
    int m_batchDepth = 0;
    bool m_pushing = false;
};

} // namespace toolkit

Q_DECLARE_METATYPE(toolkit::TreeNode)
