#pragma once

#include "toolkit/node_key.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QListView>

#include <QKeySequence>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace toolkit {

class KeyedTree;
class KeyedTreeModel;

// A handle on one node of a KeyedTree, copied like a pointer: the setters
// change the node, not the handle. It goes dead when the tree removes all
// its nodes (or is destroyed); every operation on a dead handle fails
// harmlessly, so a handler that holds one across a rebuild cannot crash.
class TreeNode {
public:
    TreeNode() = default;

    bool isValid() const;
    std::optional<NodeKey> nodeKey() const; // nullopt when dead
    QString key() const;                     // its text form; empty when dead
    QString text() const;
    // What its row shows: the text, or the beginning of a very long one and
    // an ellipsis. Cheap for a text of any length.
    QString shownText() const;
    bool setText(const QString &text) const;
    bool isExpanded() const;
    // Raises the tree's expand or collapse event, inside the call, when the
    // state changes.
    bool setExpanded(bool expanded) const;
    bool isSelected() const;
    // Makes this node the tree's one selected node.
    bool setSelected() const;
    // Colour in 0x00BBGGRR form; nullopt: the view's default colour.
    std::optional<int> foreColor() const;
    bool setForeColor(int bgr) const;
    TreeNode firstChild() const;
    TreeNode parent() const;
    int childCount() const; // counts them: hasChildren() is the cheap test
    bool hasChildren() const;
    QList<TreeNode> children() const;

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

// A tree view whose nodes carry unique keys: a NodeKey, held and compared as
// its packed number and letter, so "012K" and "12K" name the same node and a
// text that is no node key names none. Nodes are added as the last child of a
// node named by key (or at the top level), found by key, and all removed at
// once. Events (expand, collapse, click) arrive synchronously, for the user's
// actions and for the program's own changes alike. A click is a click with the
// mouse or a key that moves the highlight to another node (arrows, Home, End,
// Page Up and Down, typing a node's first letters); the program's own
// highlighting raises none.
//
// Qt sees a flat list (a QListView of rows of one size): the rows currently
// visible, each drawn indented by its depth with its own expand arrow. So no
// part of Qt walks the tree recursively (a chain of a hundred thousand open
// items would overflow QTreeView's recursive layout), Qt keeps a few bytes a
// row instead of QTreeView's forty, the whole view can be thrown away and
// rebuilt quickly, and the events are raised by this class after Qt has
// finished with the mouse or key press, so a handler may remove every node
// (even the one being opened) without Qt touching a freed row afterwards.
//
// Between beginBatch() and endBatch() the screen is left alone and brought up
// to date in one step at the end; find, state and events behave the same
// inside a batch.
class KeyedTree : public QListView {
    Q_OBJECT
public:
    explicit KeyedTree(QWidget *parent = nullptr);
    ~KeyedTree() override;

    void removeAll();
    // Adds a node with key and text as the last child of the node keyed
    // relativeKey, or at the top level when relativeKey is empty. Fails (an
    // invalid handle) when key is not a node key or is in use, or the
    // relative is missing.
    TreeNode add(const QString &relativeKey, const QString &key, const QString &text);
    // The same with keys already parsed and the text in UTF-8, as a store
    // holds it: the way a rebuild adds a hundred thousand nodes.
    TreeNode add(std::optional<NodeKey> relative, NodeKey key, std::string_view utf8Text);
    TreeNode find(const QString &key) const;
    TreeNode find(NodeKey key) const;
    TreeNode selectedNode() const;
    int nodeCount() const;
    QList<TreeNode> topLevelNodes() const;

    // The row index of a node (invalid while the node is hidden under a closed
    // ancestor), the node at an index, and where a node and its expand arrow
    // are drawn.
    QModelIndex indexOf(const TreeNode &node) const;
    TreeNode nodeAt(const QModelIndex &index) const;
    QRect nodeRect(const TreeNode &node) const;
    QRect arrowRect(const TreeNode &node) const;
    // The number of rows shown (nodes under open ancestors).
    int visibleCount() const;

    // Moves the highlight to a shown node without selecting or clicking it.
    void highlight(const TreeNode &node);

    // A key the tree hands to run instead of handling it itself. It comes as
    // an ordinary key press, which reaches the tree only after a screen reader
    // has had it: a shortcut would take the key first, even one the screen
    // reader keeps for itself (Orca's Insert).
    void addCommandKey(const QKeySequence &key, std::function<void()> run);

    // A node's accessible name while its text is empty ("new item", say);
    // forgotten with the node.
    void setNameWhenEmpty(const TreeNode &node, const QString &name);

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
    // Local files dropped on node (an invalid handle below every row).
    void filesDropped(toolkit::TreeNode node, const QStringList &paths);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // The announcements to screen readers are this view's own: a row's
    // focus only while the view has the focus.
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void focusInEvent(QFocusEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    // Every row is one size whatever its data: a change repaints the row and
    // never lays the list out again, as QListView's version would.
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override;

private:
    friend class TreeNode;
    friend class KeyedTreeDelegate;
    friend class KeyedTreeAccessible;
    friend class KeyedTreeItemAccessible;

    // Where a shown node stands, for screen readers.
    struct Place {
        int row = -1;      // -1: hidden, or not a live node of this tree
        int level = 0;     // 1 for a top-level node
        int position = 0;  // among its siblings, from 1
        int siblings = 0;  // itself included
    };
    Place placeOf(const TreeNode &node) const;
    // What a screen reader calls the node: what its row shows; without a
    // text the name it was given for then, or "blank".
    QString accessibleNameOf(const TreeNode &node) const;
    // Where the node's text is drawn, right of its arrow, in viewport coordinates.
    QRect textRect(const TreeNode &node) const;
    // What a click on a shown node does: it becomes current, then nodeClick.
    void clickNode(const TreeNode &node);
    // Changes whenever removeAll() throws every node away.
    std::uint32_t generation() const;

    TreeNode handle(int id) const;
    TreeNode addNode(int parent, NodeKey key, std::string_view utf8Text);
    bool setNodeExpanded(int id, bool expanded);
    bool setNodeSelected(int id);
    void nodeDataChanged(int id, int role);
    void viewClicked(const QModelIndex &index);
    // Names the highlighted row id to screen readers again, as a new object.
    void announceAgain(int id);
    // Shows the selected node selected, and highlights it, or else the node
    // keyed highlight (its nearest shown ancestor when it is hidden).
    void pushSelection(std::optional<std::uint64_t> highlight = std::nullopt);
    void repaintArrow(int id);
    void fitContentWidth();
    int nodeAtArrow(const QPoint &pos) const;

    KeyedTreeModel *m_model = nullptr;
    int m_batchDepth = 0;
    bool m_pushing = false;
    bool m_arrowPressed = false;
    int m_rowWidth = 0;
    std::vector<std::pair<QKeyCombination, std::function<void()>>> m_commandKeys;
    std::optional<std::uint64_t> m_keptCurrent; // the highlighted node's key, across a rebuild
};

} // namespace toolkit

Q_DECLARE_METATYPE(toolkit::TreeNode)
