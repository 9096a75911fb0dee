#pragma once

#include "toolkit/node_key.h"
#include "toolkit/tree_storage.h"

#include <QAbstractItemModel>

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace toolkit {

// All nodes, flat in blocks in the order they were added, plus the list of
// rows Qt sees: the nodes under open ancestors, depth first. Texts stay in
// UTF-8 as the store hands them over and are decoded only for the rows Qt
// draws. A model index carries the node's slot and the generation it belongs
// to, so an index kept across removeAll() is recognised as stale instead of
// naming another node. A node is 32 bytes besides its text: a million of
// them fit in less memory than Qt's own item model needs for a tenth.
class KeyedTreeModel : public QAbstractItemModel {
public:
    struct Node {
        std::uint32_t keyLow = 0; // NodeKey::packed(), in two halves: no
        std::uint32_t keyHigh = 0; // eight-byte alignment to pad the node
        storage::Texts::Place text = storage::Texts::kEmpty;
        int parent = -1; // -1: top level
        // Children are a ring: the last child's next sibling is the first.
        int lastChild = -1;
        int nextSibling = -1; // -1 for a top-level node
        int row = -1; // row on screen; -1 while hidden (or inside a batch)
        std::uint32_t depth : 31 = 0;
        std::uint32_t expanded : 1 = 0;

        std::uint64_t key() const { return (std::uint64_t{keyHigh} << 32) | keyLow; }
        bool hasChildren() const { return lastChild >= 0; }
    };
    static_assert(sizeof(Node) == 32);
    struct KeyOfNode {
        const storage::Blocks<Node> *nodes;
        std::uint64_t operator()(int id) const { return (*nodes)[static_cast<std::size_t>(id)].key(); }
    };

    storage::Blocks<Node> nodes;
    std::vector<int> top;
    std::vector<int> rows;
    storage::Texts texts;
    storage::KeyIndex<KeyOfNode> byKey{KeyOfNode{&nodes}};
    // Colours set by the program (the marked item): few, so kept aside.
    std::unordered_map<int, int> foreColors;
    // Accessible names of nodes without text (few).
    std::unordered_map<int, QString> emptyNames;
    std::uint32_t generation = 1;
    int selected = -1;
    int maxDepth = 0;
    bool resetOpen = false;
    // Each node's place among its siblings, from 1; 0 until asked for. Only
    // screen readers ask, so it is worked out then, a sibling chain at a time,
    // and adding a node costs nothing more. Children are only ever appended,
    // so a place once known stays right until removeAll().
    mutable std::vector<int> places;

    Node &node(int id) { return nodes[static_cast<std::size_t>(id)]; }
    const Node &node(int id) const { return nodes[static_cast<std::size_t>(id)]; }
    int count() const { return static_cast<int>(nodes.size()); }
    int firstChild(int id) const { return node(id).hasChildren() ? node(node(id).lastChild).nextSibling : -1; }
    // The next child of the same parent; -1 after the last (or for a top-level node).
    int nextSibling(int id) const
    {
        const int parent = node(id).parent;
        return parent < 0 || node(parent).lastChild == id ? -1 : node(id).nextSibling;
    }

    std::string_view utf8(int id) const { return texts.view(node(id).text); }
    QString text(int id) const;
    int foreColor(int id) const;
    // What a row shows: the text, or for a very long one its beginning. A
    // row is never wider than a few thousand characters on any screen, and
    // laying out ten megabytes of text for every paint would stall the view.
    QString shownText(int id) const;
    void setText(int id, std::string_view utf8) { node(id).text = texts.replace(node(id).text, utf8); }

    bool alive(int id, std::uint32_t gen) const { return gen == generation && id >= 0 && id < count(); }

    static constexpr std::size_t kShownBytes = 4096;

    int decode(const QModelIndex &index) const;
    QModelIndex indexFor(int id) const;

    QModelIndex index(int row, int column, const QModelIndex &parent) const override;
    QModelIndex parent(const QModelIndex &) const override { return {}; }
    int rowCount(const QModelIndex &parent) const override;
    int columnCount(const QModelIndex &) const override { return 1; }
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void beginReset();
    void endReset();
    void clearAll();
    int add(int parent, NodeKey key, std::string_view utf8);
    int placeOf(int id) const;
    // How many children the parent of id has (or top-level nodes there are).
    int siblingsOf(int id) const;
    int childCount(int id) const { return node(id).hasChildren() ? placeOf(node(id).lastChild) : 0; }

    // The visible descendants of id, depth first, without recursion: a chain
    // of open items may be as deep as the tree is large.
    void appendVisibleBelow(int id, std::vector<int> &out) const;
    void renumber(std::size_t from);
    // Lays out every row afresh (inside a reset).
    void layOutRows();
    // One past the last row of id's visible subtree.
    int subtreeEnd(int id) const;
    void insertRows(int at, const std::vector<int> &ids);
    void removeRowsRange(int first, int end);
    void changed(int id);
};

} // namespace toolkit
