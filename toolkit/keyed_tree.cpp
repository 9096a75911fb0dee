#include "toolkit/keyed_tree.h"

#include "toolkit/keyed_tree_accessible.h"
#include "toolkit/tree_storage.h"

#include <QAbstractItemModel>
#include <QAccessible>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace toolkit {

namespace {

QColor colorFromBgr(int bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

// A faint highlight behind selected rows, a quarter of the way from the
// view's background to its highlight colour, so that a node's own colour (the
// red of the marked item) and the ordinary text colour stay readable on it, on
// a light desktop and a dark one alike; Qt's default would paint the text in
// the highlighted-text colour instead. Read from the palette at every paint,
// so a change of desktop colours takes effect at once.
QColor faintHighlight(const QPalette &palette, QPalette::ColorGroup group)
{
    const QColor hl = palette.color(group, QPalette::Highlight);
    const QColor base = palette.color(group, QPalette::Base);
    return QColor((hl.red() + 3 * base.red()) / 4, (hl.green() + 3 * base.green()) / 4,
                  (hl.blue() + 3 * base.blue()) / 4);
}

// Tells screen readers about one row; the row is the item's index in the tree.
void announceRow(KeyedTree *tree, QAccessible::Event type, int row)
{
    QAccessibleEvent event(tree, type);
    event.setChild(row);
    QAccessible::updateAccessibility(&event);
}

} // namespace

std::optional<NodeKey> NodeKey::parse(QStringView text)
{
    if (text.size() < 2)
        return std::nullopt;
    const QChar suffix = text.back();
    if (suffix.isDigit())
        return std::nullopt;
    bool ok = false;
    const qlonglong number = text.left(text.size() - 1).toLongLong(&ok);
    constexpr qlonglong kLimit = qlonglong{1} << 46;
    if (!ok || number <= -kLimit || number >= kLimit)
        return std::nullopt;
    return NodeKey{number, suffix.unicode()};
}

QString NodeKey::toString() const
{
    return QString::number(number) + QChar(suffix);
}

// All nodes, flat in blocks in the order they were added, plus the list of
// rows Qt sees: the nodes under open ancestors, depth first. Texts stay in
// UTF-8 as the store hands them over and are decoded only for the rows Qt
// draws. A model index carries the node's slot and the generation it belongs
// to, so an index kept across removeAll() is recognised as stale instead of
// naming another node. A node is 40 bytes besides its text: a million of
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

    QString text(int id) const
    {
        const std::string_view t = utf8(id);
        return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
    }

    int foreColor(int id) const
    {
        const auto it = foreColors.find(id);
        return it == foreColors.end() ? -1 : it->second;
    }

    // What a row shows: the text, or for a very long one its beginning. A
    // row is never wider than a few thousand characters on any screen, and
    // laying out ten megabytes of text for every paint would stall the view.
    QString shownText(int id) const
    {
        const std::string_view t = utf8(id);
        if (t.size() <= kShownBytes)
            return text(id);
        std::size_t end = kShownBytes;
        while (end > 0 && (static_cast<unsigned char>(t[end]) & 0xC0) == 0x80)
            --end; // not inside a character
        return QString::fromUtf8(t.data(), static_cast<qsizetype>(end)) + QChar(0x2026);
    }

    void setText(int id, std::string_view utf8) { node(id).text = texts.replace(node(id).text, utf8); }

    bool alive(int id, std::uint32_t gen) const { return gen == generation && id >= 0 && id < count(); }

    static constexpr std::size_t kShownBytes = 4096;

    int decode(const QModelIndex &index) const
    {
        if (!index.isValid() || index.model() != this)
            return -1;
        const quintptr v = index.internalId();
        const int id = static_cast<int>(v & 0xFFFFFFFFu);
        return alive(id, static_cast<std::uint32_t>(v >> 32)) ? id : -1;
    }

    QModelIndex indexFor(int id) const
    {
        const int row = node(id).row;
        if (resetOpen || row < 0)
            return {};
        return createIndex(row, 0, (quintptr(generation) << 32) | quint32(id));
    }

    QModelIndex index(int row, int column, const QModelIndex &parent) const override
    {
        if (parent.isValid() || column != 0 || row < 0 || row >= static_cast<int>(rows.size()))
            return {};
        return createIndex(row, 0, (quintptr(generation) << 32) | quint32(rows[row]));
    }

    QModelIndex parent(const QModelIndex &) const override { return {}; }

    int rowCount(const QModelIndex &parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(rows.size());
    }

    int columnCount(const QModelIndex &) const override { return 1; }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const int id = decode(index);
        if (id < 0)
            return {};
        if (role == Qt::DisplayRole)
            return shownText(id);
        // Black, the colour of every unmarked node, is the desktop's own text
        // colour: black on a dark desktop would not be read.
        if (role == Qt::ForegroundRole) {
            if (const int bgr = foreColor(id); bgr > 0)
                return colorFromBgr(bgr);
        }
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return decode(index) < 0 ? Qt::NoItemFlags
                                 : Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    }

    void beginReset()
    {
        if (!resetOpen) {
            beginResetModel();
            resetOpen = true;
        }
    }

    void endReset()
    {
        if (resetOpen) {
            resetOpen = false;
            endResetModel();
        }
    }

    void clearAll()
    {
        nodes.clear();
        texts.clear();
        foreColors.clear();
        emptyNames.clear();
        std::vector<int>().swap(top);
        std::vector<int>().swap(rows);
        std::vector<int>().swap(places);
        byKey.clear();
        selected = -1;
        maxDepth = 0;
        if (++generation == 0)
            generation = 1;
    }

    int add(int parent, NodeKey key, std::string_view utf8)
    {
        const int id = count();
        Node n;
        n.keyLow = static_cast<std::uint32_t>(key.packed());
        n.keyHigh = static_cast<std::uint32_t>(key.packed() >> 32);
        n.parent = parent;
        n.depth = parent < 0 ? 0 : node(parent).depth + 1;
        n.text = texts.append(utf8);
        maxDepth = std::max(maxDepth, static_cast<int>(n.depth));
        nodes.push_back(n);
        if (parent < 0) {
            top.push_back(id);
        } else {
            Node &p = node(parent);
            Node &added = node(id);
            if (p.lastChild < 0) {
                added.nextSibling = id;
            } else {
                added.nextSibling = node(p.lastChild).nextSibling;
                node(p.lastChild).nextSibling = id;
            }
            p.lastChild = id;
        }
        byKey.insert(key.packed(), id);
        return id;
    }

    int placeOf(int id) const
    {
        if (places.size() < nodes.size())
            places.resize(nodes.size(), 0);
        if (places[id] == 0) {
            int place = 0;
            if (const int parent = node(id).parent; parent < 0) {
                for (const int t : top)
                    places[t] = ++place;
            } else {
                for (int c = firstChild(parent); c >= 0; c = nextSibling(c))
                    places[c] = ++place;
            }
        }
        return places[id];
    }

    // How many children the parent of id has (or top-level nodes there are).
    int siblingsOf(int id) const
    {
        const int parent = node(id).parent;
        return parent < 0 ? static_cast<int>(top.size()) : placeOf(node(parent).lastChild);
    }

    int childCount(int id) const { return node(id).hasChildren() ? placeOf(node(id).lastChild) : 0; }

    // The visible descendants of id, depth first, without recursion: a chain
    // of open items may be as deep as the tree is large.
    void appendVisibleBelow(int id, std::vector<int> &out) const
    {
        if (!node(id).expanded)
            return;
        std::vector<int> next{firstChild(id)}; // the next node to show at each open level
        while (!next.empty()) {
            const int at = next.back();
            if (at < 0) {
                next.pop_back();
                continue;
            }
            next.back() = nextSibling(at);
            out.push_back(at);
            if (node(at).expanded && node(at).hasChildren())
                next.push_back(firstChild(at));
        }
    }

    void renumber(std::size_t from)
    {
        for (std::size_t r = from; r < rows.size(); ++r)
            node(rows[r]).row = static_cast<int>(r);
    }

    // Lays out every row afresh (inside a reset).
    void layOutRows()
    {
        for (std::size_t i = 0; i < nodes.size(); ++i)
            nodes[i].row = -1;
        rows.clear();
        rows.reserve(nodes.size());
        for (const int t : top) {
            rows.push_back(t);
            appendVisibleBelow(t, rows);
        }
        renumber(0);
    }

    // One past the last row of id's visible subtree.
    int subtreeEnd(int id) const
    {
        std::size_t r = static_cast<std::size_t>(node(id).row) + 1;
        while (r < rows.size() && node(rows[r]).depth > node(id).depth)
            ++r;
        return static_cast<int>(r);
    }

    void insertRows(int at, const std::vector<int> &ids)
    {
        if (ids.empty())
            return;
        beginInsertRows({}, at, at + static_cast<int>(ids.size()) - 1);
        rows.insert(rows.begin() + at, ids.begin(), ids.end());
        renumber(static_cast<std::size_t>(at));
        endInsertRows();
    }

    void removeRowsRange(int first, int end)
    {
        if (end <= first)
            return;
        beginRemoveRows({}, first, end - 1);
        for (int r = first; r < end; ++r)
            node(rows[r]).row = -1;
        rows.erase(rows.begin() + first, rows.begin() + end);
        renumber(static_cast<std::size_t>(first));
        endRemoveRows();
    }

    void changed(int id)
    {
        const QModelIndex i = indexFor(id);
        if (i.isValid())
            emit dataChanged(i, i);
    }
};

// Draws a row the way a tree draws it: indented by depth, an expand arrow for
// a node with children, the text in the node's own colour even when selected.
class KeyedTreeDelegate : public QStyledItemDelegate {
public:
    explicit KeyedTreeDelegate(KeyedTree *tree) : QStyledItemDelegate(tree), m_tree(tree) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const KeyedTreeModel *m = m_tree->m_model;
        const int id = m->decode(index);
        if (id < 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const auto &node = m->node(id);
        const QPalette::ColorGroup group = option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        if (option.state & QStyle::State_Selected)
            painter->fillRect(option.rect, faintHighlight(option.palette, group));
        const QRect arrow = arrowArea(option.rect, static_cast<int>(node.depth));
        if (node.hasChildren()) {
            QStyleOption branch;
            branch.rect = arrow;
            branch.palette = option.palette;
            branch.state = QStyle::State_Children | QStyle::State_Enabled;
            if (node.expanded)
                branch.state |= QStyle::State_Open;
            m_tree->style()->drawPrimitive(QStyle::PE_IndicatorBranch, &branch, painter, m_tree);
        }
        QStyleOptionViewItem text = option;
        text.rect = textArea(option.rect, static_cast<int>(node.depth));
        QStyledItemDelegate::paint(painter, text, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(m_tree->m_rowWidth);
        return size;
    }

    int indent() const { return m_tree->style()->pixelMetric(QStyle::PM_TreeViewIndentation, nullptr, m_tree); }

    QRect arrowArea(const QRect &row, int depth) const
    {
        return QRect(row.left() + depth * indent(), row.top(), indent(), row.height());
    }

    QRect textArea(const QRect &row, int depth) const
    {
        QRect text = row;
        text.setLeft(arrowArea(row, depth).right() + 1);
        return text;
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!(option->state & QStyle::State_Selected))
            return;
        const QVariant fg = index.data(Qt::ForegroundRole);
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            option->palette.setColor(group, QPalette::Highlight, faintHighlight(option->palette, group));
            option->palette.setColor(group, QPalette::HighlightedText, fg.canConvert<QColor>()
                                                                           ? fg.value<QColor>()
                                                                           : option->palette.color(group, QPalette::Text));
        }
    }

private:
    KeyedTree *m_tree;
};

// ---- TreeNode ---------------------------------------------------------------

KeyedTreeModel *TreeNode::model() const
{
    if (!m_tree)
        return nullptr;
    KeyedTreeModel *m = m_tree->m_model;
    return m->alive(m_id, m_generation) ? m : nullptr;
}

bool TreeNode::isValid() const
{
    return model() != nullptr;
}

std::optional<NodeKey> TreeNode::nodeKey() const
{
    const auto *m = model();
    return m ? std::optional(NodeKey::unpacked(m->node(m_id).key())) : std::nullopt;
}

QString TreeNode::key() const
{
    const auto *m = model();
    return m ? NodeKey::unpacked(m->node(m_id).key()).toString() : QString();
}

QString TreeNode::text() const
{
    const auto *m = model();
    return m ? m->text(m_id) : QString();
}

QString TreeNode::shownText() const
{
    const auto *m = model();
    return m ? m->shownText(m_id) : QString();
}

bool TreeNode::setText(const QString &text) const
{
    auto *m = model();
    if (!m)
        return false;
    m->setText(m_id, text.toStdString());
    m_tree->nodeDataChanged(m_id, Qt::DisplayRole);
    return true;
}

bool TreeNode::isExpanded() const
{
    const auto *m = model();
    return m && m->node(m_id).expanded;
}

bool TreeNode::setExpanded(bool expanded) const
{
    return model() && m_tree->setNodeExpanded(m_id, expanded);
}

bool TreeNode::isSelected() const
{
    const auto *m = model();
    return m && m->selected == m_id;
}

bool TreeNode::setSelected() const
{
    return model() && m_tree->setNodeSelected(m_id);
}

std::optional<int> TreeNode::foreColor() const
{
    const auto *m = model();
    if (!m || m->foreColor(m_id) < 0)
        return std::nullopt;
    return m->foreColor(m_id);
}

bool TreeNode::setForeColor(int bgr) const
{
    auto *m = model();
    if (!m || bgr < 0 || bgr > 0xFFFFFF)
        return false;
    m->foreColors[m_id] = bgr;
    m_tree->nodeDataChanged(m_id, Qt::ForegroundRole);
    return true;
}

TreeNode TreeNode::firstChild() const
{
    const auto *m = model();
    if (!m || !m->node(m_id).hasChildren())
        return {};
    return m_tree->handle(m->firstChild(m_id));
}

TreeNode TreeNode::parent() const
{
    const auto *m = model();
    if (!m || m->node(m_id).parent < 0)
        return {};
    return m_tree->handle(m->node(m_id).parent);
}

int TreeNode::childCount() const
{
    const auto *m = model();
    return m ? m->childCount(m_id) : 0;
}

bool TreeNode::hasChildren() const
{
    const auto *m = model();
    return m && m->node(m_id).hasChildren();
}

QList<TreeNode> TreeNode::children() const
{
    QList<TreeNode> list;
    if (const auto *m = model()) {
        for (int id = m->firstChild(m_id); id >= 0; id = m->nextSibling(id))
            list.append(m_tree->handle(id));
    }
    return list;
}

// ---- KeyedTree --------------------------------------------------------------

KeyedTree::KeyedTree(QWidget *parent) : QListView(parent), m_model(new KeyedTreeModel)
{
    installKeyedTreeAccessibility();
    m_model->setParent(this);
    setModel(m_model);
    setItemDelegate(new KeyedTreeDelegate(this));
    // Qt sees flat rows of one size; the nesting is drawn and handled here.
    // A list keeps a few bytes a row where Qt's tree view keeps forty.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Texts are stored only through the text box; an edit in place would be lost.
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    connect(this, &QAbstractItemView::clicked, this, &KeyedTree::viewClicked);
    fitContentWidth();
}

KeyedTree::~KeyedTree() = default;

TreeNode KeyedTree::handle(int id) const
{
    return TreeNode(const_cast<KeyedTree *>(this), id, m_model->generation);
}

void KeyedTree::removeAll()
{
    // A rebuild highlights the same node again, when it shows it: the user
    // stays where they were, whatever the rebuild was for.
    if (const int id = m_model->decode(currentIndex()); inBatch() && !m_model->resetOpen && id >= 0)
        m_keptCurrent = m_model->node(id).key();
    // A reset tells the view to drop every index, persistent ones included,
    // so nothing in Qt still points at a removed node.
    m_model->beginReset();
    m_model->clearAll();
    if (!inBatch()) {
        m_model->endReset();
        fitContentWidth();
    }
}

TreeNode KeyedTree::add(const QString &relativeKey, const QString &key, const QString &text)
{
    const auto parsed = NodeKey::parse(key);
    std::optional<NodeKey> relative;
    if (!relativeKey.isEmpty()) {
        relative = NodeKey::parse(relativeKey);
        if (!relative)
            return {};
    }
    if (!parsed)
        return {};
    return add(relative, *parsed, text.toStdString());
}

TreeNode KeyedTree::add(std::optional<NodeKey> relative, NodeKey key, std::string_view utf8Text)
{
    if (m_model->byKey.find(key.packed()) >= 0)
        return {};
    int parent = -1;
    if (relative) {
        parent = m_model->byKey.find(relative->packed());
        if (parent < 0)
            return {};
    }
    return addNode(parent, key, utf8Text);
}

TreeNode KeyedTree::addNode(int parent, NodeKey key, std::string_view utf8Text)
{
    if (inBatch())
        m_model->beginReset();
    const int id = m_model->add(parent, key, utf8Text);
    if (!m_model->resetOpen) {
        if (parent < 0) {
            m_model->insertRows(static_cast<int>(m_model->rows.size()), {id});
        } else if (m_model->node(parent).row >= 0) {
            if (m_model->node(parent).expanded)
                m_model->insertRows(m_model->subtreeEnd(parent), {id});
            else if (m_model->firstChild(parent) == id)
                repaintArrow(parent); // it has an arrow now
        }
        fitContentWidth();
    }
    return handle(id);
}

TreeNode KeyedTree::find(const QString &key) const
{
    const auto parsed = NodeKey::parse(key);
    return parsed ? find(*parsed) : TreeNode();
}

TreeNode KeyedTree::find(NodeKey key) const
{
    const int id = m_model->byKey.find(key.packed());
    return id < 0 ? TreeNode() : handle(id);
}

TreeNode KeyedTree::selectedNode() const
{
    return m_model->selected < 0 ? TreeNode() : handle(m_model->selected);
}

int KeyedTree::nodeCount() const
{
    return static_cast<int>(m_model->nodes.size());
}

int KeyedTree::visibleCount() const
{
    return static_cast<int>(m_model->rows.size());
}

QList<TreeNode> KeyedTree::topLevelNodes() const
{
    QList<TreeNode> list;
    for (const int id : m_model->top)
        list.append(handle(id));
    return list;
}

QModelIndex KeyedTree::indexOf(const TreeNode &node) const
{
    if (node.m_tree != this || !node.isValid())
        return {};
    return m_model->indexFor(node.m_id);
}

TreeNode KeyedTree::nodeAt(const QModelIndex &index) const
{
    const int id = m_model->decode(index);
    return id < 0 ? TreeNode() : handle(id);
}

QRect KeyedTree::nodeRect(const TreeNode &node) const
{
    const QModelIndex index = indexOf(node);
    return index.isValid() ? visualRect(index) : QRect();
}

QRect KeyedTree::arrowRect(const TreeNode &node) const
{
    const QRect row = nodeRect(node);
    if (row.isNull())
        return {};
    const auto *delegate = static_cast<const KeyedTreeDelegate *>(itemDelegate());
    return delegate->arrowArea(row, static_cast<int>(m_model->node(node.m_id).depth));
}

QRect KeyedTree::textRect(const TreeNode &node) const
{
    const QRect row = nodeRect(node);
    if (row.isNull())
        return {};
    const auto *delegate = static_cast<const KeyedTreeDelegate *>(itemDelegate());
    return delegate->textArea(row, static_cast<int>(m_model->node(node.m_id).depth));
}

KeyedTree::Place KeyedTree::placeOf(const TreeNode &node) const
{
    Place place;
    if (node.m_tree.data() != this || !node.isValid())
        return place;
    const auto &n = m_model->node(node.m_id);
    place.row = m_model->resetOpen ? -1 : n.row; // rows are stale until the batch ends
    place.level = static_cast<int>(n.depth) + 1;
    place.position = m_model->placeOf(node.m_id);
    place.siblings = m_model->siblingsOf(node.m_id);
    return place;
}

void KeyedTree::clickNode(const TreeNode &node)
{
    const QModelIndex index = indexOf(node);
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    emit nodeClick(node);
}

std::uint32_t KeyedTree::generation() const
{
    return m_model->generation;
}

void KeyedTree::beginBatch()
{
    ++m_batchDepth;
}

void KeyedTree::endBatch()
{
    if (m_batchDepth == 0 || --m_batchDepth > 0)
        return;
    if (!m_model->resetOpen)
        return;
    m_model->layOutRows();
    m_model->endReset();
    pushSelection(std::exchange(m_keptCurrent, std::nullopt));
    fitContentWidth();
}

bool KeyedTree::setNodeExpanded(int id, bool expanded)
{
    auto &node = m_model->node(id);
    if (static_cast<bool>(node.expanded) == expanded)
        return true;
    node.expanded = expanded;
    bool wasCurrent = false;
    if (inBatch()) {
        m_model->beginReset();
    } else if (node.row >= 0) {
        const int current = m_model->decode(currentIndex()) >= 0 ? currentIndex().row() : -1;
        wasCurrent = current == node.row;
        if (expanded) {
            std::vector<int> shown;
            m_model->appendVisibleBelow(id, shown);
            m_model->insertRows(node.row + 1, shown);
            if (m_model->selected >= 0 && m_model->node(m_model->selected).row >= 0
                && !selectionModel()->hasSelection())
                pushSelection();
        } else {
            // The highlight inside the branch goes to the node being closed,
            // as in any desktop tree, and marks nothing: the keys act on it.
            if (current > node.row && current < m_model->subtreeEnd(id))
                selectionModel()->setCurrentIndex(m_model->indexFor(id), QItemSelectionModel::NoUpdate);
            m_model->removeRowsRange(node.row + 1, m_model->subtreeEnd(id));
        }
        repaintArrow(id);
        if (QAccessible::isActive()) {
            QAccessible::State flipped;
            flipped.expanded = true;
            flipped.collapsed = true;
            QAccessibleStateChangeEvent event(this, flipped);
            event.setChild(m_model->node(id).row);
            QAccessible::updateAccessibility(&event);
        }
    }
    // Raised last: the handler may rebuild the whole tree, this node included.
    const TreeNode self = handle(id);
    if (expanded)
        emit nodeExpand(self);
    else
        emit nodeCollapse(self);
    // A rebuild names the highlighted row anew; otherwise the row the user
    // opened or closed is named again with its new state.
    if (wasCurrent && self.isValid())
        announceAgain(id);
    return true;
}

void KeyedTree::announceAgain(int id)
{
    const QModelIndex index = m_model->indexFor(id);
    if (!QAccessible::isActive() || !hasFocus() || !index.isValid() || index != currentIndex())
        return;
    // Qt's bridge to screen readers forwards no change of the open state,
    // and a screen reader ignores the focus coming again to the object it is
    // on: the row's accessible object is made anew, so the focus event names
    // a new object and the reader speaks the row with its state.
    renewAccessibleItem(this, handle(id));
    announceRow(this, QAccessible::Focus, index.row());
}

bool KeyedTree::setNodeSelected(int id)
{
    m_model->selected = id;
    if (inBatch())
        m_model->beginReset();
    else
        pushSelection();
    return true;
}

void KeyedTree::nodeDataChanged(int id, int)
{
    if (inBatch())
        m_model->beginReset();
    else
        m_model->changed(id);
}

void KeyedTree::repaintArrow(int id)
{
    // Only the drawing changes, not the row's data: no data event for screen
    // readers, which hear of an opening or closing as a change of state.
    const QModelIndex index = m_model->indexFor(id);
    if (index.isValid())
        viewport()->update(visualRect(index));
}

void KeyedTree::pushSelection(std::optional<std::uint64_t> highlight)
{
    const int id = m_model->selected;
    const QModelIndex index = id < 0 ? QModelIndex() : m_model->indexFor(id);
    // The node highlighted before, or the nearest of its ancestors shown.
    int kept = highlight ? m_model->byKey.find(*highlight) : -1;
    while (kept >= 0 && !m_model->indexFor(kept).isValid())
        kept = m_model->node(kept).parent;
    const QModelIndex current = kept >= 0 ? m_model->indexFor(kept) : index;
    m_pushing = true;
    if (current == index && index.isValid()) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    } else {
        if (index.isValid())
            selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
        else
            selectionModel()->clearSelection(); // hidden under a closed ancestor, or none
        if (current.isValid())
            selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    }
    m_pushing = false;
}

void KeyedTree::fitContentWidth()
{
    // Room for the deepest indentation plus some text, so deep rows can be
    // scrolled to; never narrower than the view. Every row is this wide.
    const auto *delegate = static_cast<const KeyedTreeDelegate *>(itemDelegate());
    const int content = (m_model->maxDepth + 1) * delegate->indent() + fontMetrics().averageCharWidth() * 40;
    const int width = std::max(viewport()->width(), content);
    if (width != m_rowWidth) {
        m_rowWidth = width;
        scheduleDelayedItemsLayout();
    }
}

int KeyedTree::nodeAtArrow(const QPoint &pos) const
{
    const QModelIndex index = indexAt(pos);
    const int id = m_model->decode(index);
    if (id < 0 || !m_model->node(id).hasChildren())
        return -1;
    const auto *delegate = static_cast<const KeyedTreeDelegate *>(itemDelegate());
    return delegate->arrowArea(visualRect(index), static_cast<int>(m_model->node(id).depth)).contains(pos) ? id : -1;
}

void KeyedTree::mousePressEvent(QMouseEvent *event)
{
    const int id = event->button() == Qt::LeftButton ? nodeAtArrow(event->position().toPoint()) : -1;
    m_arrowPressed = id >= 0;
    if (!m_arrowPressed) {
        QListView::mousePressEvent(event);
        return;
    }
    event->accept();
    setNodeExpanded(id, !m_model->node(id).expanded);
}

void KeyedTree::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_arrowPressed) {
        m_arrowPressed = false;
        event->accept();
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void KeyedTree::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && nodeAtArrow(pos) >= 0) {
        mousePressEvent(event); // a second press on the arrow toggles again
        return;
    }
    const TreeNode node = nodeAt(indexAt(pos));
    QListView::mouseDoubleClickEvent(event);
    // A double click on a node opens or closes it, after Qt is done with it.
    if (event->button() == Qt::LeftButton && node.hasChildren())
        setNodeExpanded(node.m_id, !node.isExpanded());
}

void KeyedTree::addCommandKey(const QKeySequence &key, std::function<void()> run)
{
    if (!key.isEmpty() && run)
        m_commandKeys.emplace_back(key[0], std::move(run));
}

void KeyedTree::highlight(const TreeNode &node)
{
    const QModelIndex index = indexOf(node);
    if (!index.isValid())
        return;
    m_pushing = true;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_pushing = false;
}

void KeyedTree::setNameWhenEmpty(const TreeNode &node, const QString &name)
{
    if (node.m_tree == this && node.isValid())
        m_model->emptyNames[node.m_id] = name;
}

QString KeyedTree::accessibleNameOf(const TreeNode &node) const
{
    const QString shown = node.shownText(); // a ten-megabyte name would stall the reader
    if (!shown.isEmpty() || node.m_tree != this || !node.isValid())
        return shown;
    // Not nothing: a screen reader would say only where the row is.
    const auto it = m_model->emptyNames.find(node.m_id);
    return it == m_model->emptyNames.end() ? tr("blank") : it->second;
}

void KeyedTree::keyPressEvent(QKeyEvent *event)
{
    const QKeyCombination pressed(event->modifiers() & ~Qt::KeypadModifier, static_cast<Qt::Key>(event->key()));
    for (const auto &[key, run] : m_commandKeys) {
        if (key == pressed) {
            event->accept();
            run(); // may rebuild the whole tree
            return;
        }
    }
    // A key that moves the highlight to another node clicks that node, once
    // Qt is done with the key. Opening and closing move nothing, and a
    // highlight the program sets (a rebuild, the focus coming back) is no key.
    if (event->modifiers() & Qt::AltModifier) {
        // Alt with an arrow is a command's key, or no key at all: never a move.
        event->ignore();
        return;
    }
    const TreeNode current = nodeAt(currentIndex());
    TreeNode target;
    const bool hasChildren = current.hasChildren();
    const bool open = current.isExpanded();
    const bool plain = !(event->modifiers() & Qt::ControlModifier);
    switch (plain && current.isValid() ? event->key() : Qt::Key_unknown) {
    case Qt::Key_Plus:
    case Qt::Key_Asterisk:
        if (hasChildren && !open)
            setNodeExpanded(current.m_id, true);
        break;
    case Qt::Key_Minus:
        if (hasChildren && open)
            setNodeExpanded(current.m_id, false);
        break;
    case Qt::Key_Right:
        if (hasChildren && !open)
            setNodeExpanded(current.m_id, true);
        else if (hasChildren)
            target = current.firstChild();
        break;
    case Qt::Key_Left:
        if (hasChildren && open)
            setNodeExpanded(current.m_id, false);
        else
            target = current.parent();
        break;
    default:
        QListView::keyPressEvent(event);
        if (const TreeNode now = nodeAt(currentIndex()); now.isValid() && !(now == current))
            emit nodeClick(now);
        return;
    }
    event->accept();
    if (target.isValid()) {
        setCurrentIndex(indexOf(target));
        emit nodeClick(target);
    }
}

void KeyedTree::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QAbstractItemView::currentChanged(current, previous); // QListView's adds only its events
    // A highlight moved while the focus is elsewhere (a command selecting its
    // new item) must not pull a screen reader away from where the user is.
    if (QAccessible::isActive() && hasFocus() && !m_model->resetOpen && m_model->decode(current) >= 0)
        announceRow(this, QAccessible::Focus, current.row());
}

void KeyedTree::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QAbstractItemView::selectionChanged(selected, deselected); // QListView's adds only its events
    if (m_model->resetOpen)
        return;
    const int now = m_model->decode(selected.indexes().value(0));
    const int before = m_model->decode(deselected.indexes().value(0));
    // The user moved the highlight (the program's own selection is the
    // node's already). An empty selection (the selected row was hidden by
    // closing an ancestor) keeps the node selected.
    if (!m_pushing && now >= 0)
        m_model->selected = now;
    if (!QAccessible::isActive())
        return;
    // Screen readers read a row's selected state when its event arrives, so
    // each comes after the state it tells of: the row that lost the
    // selection, then the one that has it.
    if (before >= 0 && before != m_model->selected)
        announceRow(this, QAccessible::SelectionRemove, deselected.indexes().value(0).row());
    if (now >= 0)
        announceRow(this, QAccessible::Selection, selected.indexes().value(0).row());
}

void KeyedTree::focusInEvent(QFocusEvent *event)
{
    QListView::focusInEvent(event);
    // Qt names the tree itself after this returns, and a screen reader stops
    // there. The highlighted row is named once the event is done, so the
    // user hears where the keys will act.
    if (QAccessible::isActive()) {
        QMetaObject::invokeMethod(this, [this] {
            if (hasFocus() && m_model->decode(currentIndex()) >= 0)
                announceAgain(m_model->decode(currentIndex()));
        }, Qt::QueuedConnection);
    }
}

void KeyedTree::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

void KeyedTree::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    fitContentWidth();
}

void KeyedTree::viewClicked(const QModelIndex &index)
{
    const int id = m_model->decode(index);
    if (id >= 0)
        emit nodeClick(handle(id));
}

} // namespace toolkit
