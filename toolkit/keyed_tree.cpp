#include "toolkit/keyed_tree.h"

#include "toolkit/keyed_tree_accessible.h"

#include <QAbstractItemModel>
#include <QAccessible>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <limits>
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

// Key to slot, open addressing over packed node keys: a fraction of the
// memory and time of a hash of strings, for the hundred thousand keys of a
// large rebuild.
class KeyIndex {
public:
    void clear()
    {
        m_keys.assign(16, kEmpty);
        m_ids.assign(16, -1);
        m_size = 0;
    }
    int find(std::uint64_t key) const
    {
        if (m_keys.empty())
            return -1;
        for (std::size_t i = slot(key);; i = (i + 1) & (m_keys.size() - 1)) {
            if (m_keys[i] == key)
                return m_ids[i];
            if (m_keys[i] == kEmpty)
                return -1;
        }
    }
    void insert(std::uint64_t key, int id)
    {
        if (m_keys.empty() || (m_size + 1) * 2 > m_keys.size())
            grow();
        std::size_t i = slot(key);
        while (m_keys[i] != kEmpty)
            i = (i + 1) & (m_keys.size() - 1);
        m_keys[i] = key;
        m_ids[i] = id;
        ++m_size;
    }

private:
    // No packed key is all ones: the number has at most 47 bits.
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    std::size_t slot(std::uint64_t key) const
    {
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdULL;
        key ^= key >> 33;
        return static_cast<std::size_t>(key) & (m_keys.size() - 1);
    }
    void grow()
    {
        std::vector<std::uint64_t> keys = std::move(m_keys);
        std::vector<int> ids = std::move(m_ids);
        const std::size_t capacity = std::max<std::size_t>(16, keys.size() * 2);
        m_keys.assign(capacity, kEmpty);
        m_ids.assign(capacity, -1);
        m_size = 0;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] != kEmpty)
                insert(keys[i], ids[i]);
        }
    }
    std::vector<std::uint64_t> m_keys;
    std::vector<int> m_ids;
    std::size_t m_size = 0;
};

// All nodes, flat in a vector in the order they were added, plus the list of
// rows Qt sees: the nodes under open ancestors, depth first. Texts live in one
// UTF-8 buffer and are decoded only for the rows Qt draws. A model index
// carries the node's slot and the generation it belongs to, so an index kept
// across removeAll() is recognised as stale instead of naming another node.
class KeyedTreeModel : public QAbstractItemModel {
public:
    struct Node {
        NodeKey key;
        std::uint32_t textAt = 0;
        std::uint32_t textSize = 0;
        int parent = -1; // -1: top level
        int firstChild = -1;
        int lastChild = -1;
        int nextSibling = -1;
        int childCount = 0;
        int depth = 0;
        int row = -1;       // row on screen; -1 while hidden (or inside a batch)
        int foreColor = -1; // -1: the view's default
        bool expanded = false;
    };

    std::vector<Node> nodes;
    std::vector<int> top;
    std::vector<int> rows;
    std::string texts;
    KeyIndex byKey;
    std::uint32_t generation = 1;
    int selected = -1;
    int maxDepth = 0;
    bool resetOpen = false;
    // Each node's place among its siblings, from 1; 0 until asked for. Only
    // screen readers ask, so it is worked out then, a sibling chain at a time,
    // and adding a node costs nothing more. Children are only ever appended,
    // so a place once known stays right until removeAll().
    mutable std::vector<int> places;

    KeyedTreeModel() { byKey.clear(); }

    QString text(int id) const
    {
        const Node &n = nodes[id];
        return QString::fromUtf8(texts.data() + n.textAt, static_cast<qsizetype>(n.textSize));
    }

    // What a row shows: the text, or for a very long one its beginning. A
    // row is never wider than a few thousand characters on any screen, and
    // laying out ten megabytes of text for every paint would stall the view.
    QString shownText(int id) const
    {
        constexpr std::uint32_t kShownBytes = 4096;
        const Node &n = nodes[id];
        if (n.textSize <= kShownBytes)
            return text(id);
        std::uint32_t end = kShownBytes;
        while (end > 0 && (static_cast<unsigned char>(texts[n.textAt + end]) & 0xC0) == 0x80)
            --end; // not inside a character
        return QString::fromUtf8(texts.data() + n.textAt, static_cast<qsizetype>(end)) + QChar(0x2026);
    }

    void setText(int id, std::string_view utf8)
    {
        Node &n = nodes[id];
        // A node typed into keystroke by keystroke has its text at the end of
        // the buffer: replace it there instead of piling up old copies.
        if (n.textSize > 0 && n.textAt + n.textSize == texts.size())
            texts.resize(n.textAt);
        if (texts.size() + utf8.size() > std::numeric_limits<std::uint32_t>::max())
            utf8 = {}; // beyond what an offset can address: shown empty
        n.textAt = static_cast<std::uint32_t>(texts.size());
        n.textSize = static_cast<std::uint32_t>(utf8.size());
        texts.append(utf8);
    }

    bool alive(int id, std::uint32_t gen) const
    {
        return gen == generation && id >= 0 && id < static_cast<int>(nodes.size());
    }

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
        const int row = nodes[id].row;
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
        if (role == Qt::ForegroundRole && nodes[id].foreColor > 0)
            return colorFromBgr(nodes[id].foreColor);
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
        // Room for as many nodes as last time, and no more: a tree that
        // shrank should not keep the memory of a large one.
        std::vector<Node> freshNodes;
        freshNodes.reserve(nodes.size());
        nodes.swap(freshNodes);
        std::string freshTexts;
        freshTexts.reserve(texts.size());
        texts.swap(freshTexts);
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
        const int id = static_cast<int>(nodes.size());
        Node node;
        node.key = key;
        node.parent = parent;
        node.depth = parent < 0 ? 0 : nodes[parent].depth + 1;
        maxDepth = std::max(maxDepth, node.depth);
        nodes.push_back(node);
        setText(id, utf8);
        if (parent < 0) {
            top.push_back(id);
        } else {
            Node &p = nodes[parent];
            if (p.lastChild < 0)
                p.firstChild = id;
            else
                nodes[p.lastChild].nextSibling = id;
            p.lastChild = id;
            ++p.childCount;
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
            if (const int parent = nodes[id].parent; parent < 0) {
                for (const int t : top)
                    places[t] = ++place;
            } else {
                for (int c = nodes[parent].firstChild; c >= 0; c = nodes[c].nextSibling)
                    places[c] = ++place;
            }
        }
        return places[id];
    }

    // The visible descendants of id, depth first, without recursion: a chain
    // of open items may be as deep as the tree is large.
    void appendVisibleBelow(int id, std::vector<int> &out) const
    {
        if (!nodes[id].expanded)
            return;
        std::vector<int> next{nodes[id].firstChild}; // the next node to show at each open level
        while (!next.empty()) {
            const int at = next.back();
            if (at < 0) {
                next.pop_back();
                continue;
            }
            next.back() = nodes[at].nextSibling;
            out.push_back(at);
            if (nodes[at].expanded && nodes[at].firstChild >= 0)
                next.push_back(nodes[at].firstChild);
        }
    }

    void renumber(std::size_t from)
    {
        for (std::size_t r = from; r < rows.size(); ++r)
            nodes[rows[r]].row = static_cast<int>(r);
    }

    // Lays out every row afresh (inside a reset).
    void layOutRows()
    {
        for (auto &n : nodes)
            n.row = -1;
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
        std::size_t r = static_cast<std::size_t>(nodes[id].row) + 1;
        while (r < rows.size() && nodes[rows[r]].depth > nodes[id].depth)
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
            nodes[rows[r]].row = -1;
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
        const auto &node = m->nodes[id];
        const QPalette::ColorGroup group = option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        if (option.state & QStyle::State_Selected)
            painter->fillRect(option.rect, faintHighlight(option.palette, group));
        const QRect arrow = arrowArea(option.rect, node.depth);
        if (node.childCount > 0) {
            QStyleOption branch;
            branch.rect = arrow;
            branch.palette = option.palette;
            branch.state = QStyle::State_Children | QStyle::State_Enabled;
            if (node.expanded)
                branch.state |= QStyle::State_Open;
            m_tree->style()->drawPrimitive(QStyle::PE_IndicatorBranch, &branch, painter, m_tree);
        }
        QStyleOptionViewItem text = option;
        text.rect = textArea(option.rect, node.depth);
        QStyledItemDelegate::paint(painter, text, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const int id = m_tree->m_model->decode(index);
        if (id >= 0)
            size.rwidth() += (m_tree->m_model->nodes[id].depth + 1) * indent();
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
    return m ? std::optional(m->nodes[m_id].key) : std::nullopt;
}

QString TreeNode::key() const
{
    const auto *m = model();
    return m ? m->nodes[m_id].key.toString() : QString();
}

QString TreeNode::text() const
{
    const auto *m = model();
    return m ? m->text(m_id) : QString();
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
    return m && m->nodes[m_id].expanded;
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
    if (!m || m->nodes[m_id].foreColor < 0)
        return std::nullopt;
    return m->nodes[m_id].foreColor;
}

bool TreeNode::setForeColor(int bgr) const
{
    auto *m = model();
    if (!m || bgr < 0 || bgr > 0xFFFFFF)
        return false;
    m->nodes[m_id].foreColor = bgr;
    m_tree->nodeDataChanged(m_id, Qt::ForegroundRole);
    return true;
}

TreeNode TreeNode::firstChild() const
{
    const auto *m = model();
    if (!m || m->nodes[m_id].firstChild < 0)
        return {};
    return m_tree->handle(m->nodes[m_id].firstChild);
}

TreeNode TreeNode::parent() const
{
    const auto *m = model();
    if (!m || m->nodes[m_id].parent < 0)
        return {};
    return m_tree->handle(m->nodes[m_id].parent);
}

int TreeNode::childCount() const
{
    const auto *m = model();
    return m ? m->nodes[m_id].childCount : 0;
}

QList<TreeNode> TreeNode::children() const
{
    QList<TreeNode> list;
    if (const auto *m = model()) {
        for (int id = m->nodes[m_id].firstChild; id >= 0; id = m->nodes[id].nextSibling)
            list.append(m_tree->handle(id));
    }
    return list;
}

// ---- KeyedTree --------------------------------------------------------------

KeyedTree::KeyedTree(QWidget *parent) : QTreeView(parent), m_model(new KeyedTreeModel)
{
    installKeyedTreeAccessibility();
    m_model->setParent(this);
    setModel(m_model);
    setItemDelegate(new KeyedTreeDelegate(this));
    // Qt sees flat rows; the nesting is drawn and handled here.
    setRootIsDecorated(false);
    setIndentation(0);
    setItemsExpandable(false);
    setHeaderHidden(true);
    header()->setStretchLastSection(false);
    setUniformRowHeights(true);
    setAnimated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Texts are stored only through the text box; an edit in place would be lost.
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    connect(this, &QAbstractItemView::clicked, this, &KeyedTree::viewClicked);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &KeyedTree::viewSelectionChanged);
    fitContentWidth();
}

KeyedTree::~KeyedTree() = default;

TreeNode KeyedTree::handle(int id) const
{
    return TreeNode(const_cast<KeyedTree *>(this), id, m_model->generation);
}

void KeyedTree::removeAll()
{
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
        } else if (m_model->nodes[parent].row >= 0) {
            if (m_model->nodes[parent].expanded)
                m_model->insertRows(m_model->subtreeEnd(parent), {id});
            else if (m_model->nodes[parent].childCount == 1)
                m_model->changed(parent); // it has an arrow now
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
    return delegate->arrowArea(row, m_model->nodes[node.m_id].depth);
}

QRect KeyedTree::textRect(const TreeNode &node) const
{
    const QRect row = nodeRect(node);
    if (row.isNull())
        return {};
    const auto *delegate = static_cast<const KeyedTreeDelegate *>(itemDelegate());
    return delegate->textArea(row, m_model->nodes[node.m_id].depth);
}

KeyedTree::Place KeyedTree::placeOf(const TreeNode &node) const
{
    Place place;
    if (node.m_tree.data() != this || !node.isValid())
        return place;
    const auto &n = m_model->nodes[node.m_id];
    place.row = m_model->resetOpen ? -1 : n.row; // rows are stale until the batch ends
    place.level = n.depth + 1;
    place.position = m_model->placeOf(node.m_id);
    place.siblings = n.parent < 0 ? static_cast<int>(m_model->top.size()) : m_model->nodes[n.parent].childCount;
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
    pushSelection();
    fitContentWidth();
}

bool KeyedTree::setNodeExpanded(int id, bool expanded)
{
    auto &node = m_model->nodes[id];
    if (node.expanded == expanded)
        return true;
    node.expanded = expanded;
    if (inBatch()) {
        m_model->beginReset();
    } else if (node.row >= 0) {
        if (expanded) {
            std::vector<int> shown;
            m_model->appendVisibleBelow(id, shown);
            m_model->insertRows(node.row + 1, shown);
            if (m_model->selected >= 0 && m_model->nodes[m_model->selected].row >= 0
                && !selectionModel()->hasSelection())
                pushSelection();
        } else {
            m_model->removeRowsRange(node.row + 1, m_model->subtreeEnd(id));
        }
        m_model->changed(id);
        if (QAccessible::isActive()) {
            QAccessible::State flipped;
            flipped.expanded = true;
            flipped.collapsed = true;
            QAccessibleStateChangeEvent event(this, flipped);
            event.setChild(m_model->nodes[id].row);
            QAccessible::updateAccessibility(&event);
        }
    }
    // Raised last: the handler may rebuild the whole tree, this node included.
    const TreeNode self = handle(id);
    if (expanded)
        emit nodeExpand(self);
    else
        emit nodeCollapse(self);
    return true;
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

void KeyedTree::pushSelection()
{
    const int id = m_model->selected;
    m_pushing = true;
    const QModelIndex index = id < 0 ? QModelIndex() : m_model->indexFor(id);
    if (index.isValid())
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    else
        selectionModel()->clearSelection(); // hidden under a closed ancestor, or none
    m_pushing = false;
}

void KeyedTree::fitContentWidth()
{
    // Room for the deepest indentation plus some text, so deep rows can be
    // scrolled to; never narrower than the view.
    const auto *delegate = static_cast<const KeyedTreeDelegate *>(itemDelegate());
    const int content = (m_model->maxDepth + 1) * delegate->indent() + fontMetrics().averageCharWidth() * 40;
    header()->resizeSection(0, std::max(viewport()->width(), content));
}

int KeyedTree::nodeAtArrow(const QPoint &pos) const
{
    const QModelIndex index = indexAt(pos);
    const int id = m_model->decode(index);
    if (id < 0 || m_model->nodes[id].childCount == 0)
        return -1;
    const auto *delegate = static_cast<const KeyedTreeDelegate *>(itemDelegate());
    return delegate->arrowArea(visualRect(index), m_model->nodes[id].depth).contains(pos) ? id : -1;
}

void KeyedTree::mousePressEvent(QMouseEvent *event)
{
    const int id = event->button() == Qt::LeftButton ? nodeAtArrow(event->position().toPoint()) : -1;
    m_arrowPressed = id >= 0;
    if (!m_arrowPressed) {
        QTreeView::mousePressEvent(event);
        return;
    }
    event->accept();
    setNodeExpanded(id, !m_model->nodes[id].expanded);
}

void KeyedTree::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_arrowPressed) {
        m_arrowPressed = false;
        event->accept();
        return;
    }
    QTreeView::mouseReleaseEvent(event);
}

void KeyedTree::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && nodeAtArrow(pos) >= 0) {
        mousePressEvent(event); // a second press on the arrow toggles again
        return;
    }
    const TreeNode node = nodeAt(indexAt(pos));
    QTreeView::mouseDoubleClickEvent(event);
    // A double click on a node opens or closes it, after Qt is done with it.
    if (event->button() == Qt::LeftButton && node.isValid() && node.childCount() > 0)
        setNodeExpanded(node.m_id, !node.isExpanded());
}

void KeyedTree::keyPressEvent(QKeyEvent *event)
{
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
    const bool hasChildren = current.childCount() > 0;
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
        QTreeView::keyPressEvent(event);
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
    // Skips QTreeView's version: besides its event it only repaints for
    // allColumnsShowFocus, which this view never sets.
    QAbstractItemView::currentChanged(current, previous);
    // A highlight moved while the focus is elsewhere (a command selecting its
    // new item) must not pull a screen reader away from where the user is.
    if (QAccessible::isActive() && hasFocus() && !m_model->resetOpen && m_model->decode(current) >= 0)
        announceRow(this, QAccessible::Focus, current.row());
}

void KeyedTree::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QAbstractItemView::selectionChanged(selected, deselected); // QTreeView's adds only its events
    if (!QAccessible::isActive() || m_model->resetOpen)
        return;
    // One row at most is selected: the new one, or else the one that lost it.
    const QModelIndex now = selected.indexes().value(0);
    const QModelIndex before = deselected.indexes().value(0);
    if (m_model->decode(now) >= 0)
        announceRow(this, QAccessible::Selection, now.row());
    else if (m_model->decode(before) >= 0)
        announceRow(this, QAccessible::SelectionRemove, before.row());
}

void KeyedTree::resizeEvent(QResizeEvent *event)
{
    QTreeView::resizeEvent(event);
    fitContentWidth();
}

void KeyedTree::viewClicked(const QModelIndex &index)
{
    const int id = m_model->decode(index);
    if (id >= 0)
        emit nodeClick(handle(id));
}

void KeyedTree::viewSelectionChanged()
{
    if (m_pushing || m_model->resetOpen)
        return;
    // The user moved the highlight. An empty selection (the selected row was
    // hidden by closing an ancestor) keeps the node selected.
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (!selected.isEmpty())
        m_model->selected = m_model->decode(selected.first());
}

} // namespace toolkit
