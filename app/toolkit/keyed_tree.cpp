#include "app/toolkit/keyed_tree.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QItemSelectionModel>
#include <QStyledItemDelegate>

#include <vector>

namespace toolkit {

namespace {

QColor colorFromBgr(int bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

// A light highlight behind selected rows, so that a node's own colour (the
// red of the marked item) stays readable while the node is selected; Qt's
// default would paint its text in the highlighted-text colour instead.
QPalette paleSelection(QPalette palette)
{
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        const QColor hl = palette.color(group, QPalette::Highlight);
        const QColor pale((hl.red() + 3 * 255) / 4, (hl.green() + 3 * 255) / 4, (hl.blue() + 3 * 255) / 4);
        palette.setColor(group, QPalette::Highlight, pale);
        palette.setColor(group, QPalette::HighlightedText, palette.color(group, QPalette::Text));
    }
    return palette;
}

class OwnColourDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!(option->state & QStyle::State_Selected))
            return;
        const QVariant fg = index.data(Qt::ForegroundRole);
        if (!fg.canConvert<QColor>())
            return;
        for (const auto group : {QPalette::Active, QPalette::Inactive})
            option->palette.setColor(group, QPalette::HighlightedText, fg.value<QColor>());
    }
};

} // namespace

// The nodes, flat in a vector; a model index carries the node's slot and the
// generation it belongs to, so an index kept across removeAll() is recognised
// as stale instead of naming some other node.
class KeyedTreeModel : public QAbstractItemModel {
public:
    struct Node {
        QString key;
        QString text;
        int parent = -1; // -1: top level
        int row = 0;     // position among its siblings
        std::vector<int> children;
        int foreColor = -1; // -1: the view's default
        bool expanded = false;
    };

    std::vector<Node> nodes;
    std::vector<int> top;
    QHash<QString, int> byKey;
    std::uint32_t generation = 1;
    int selected = -1;
    bool resetOpen = false;

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
        return createIndex(nodes[id].row, 0, (quintptr(generation) << 32) | quint32(id));
    }

    const std::vector<int> *childList(const QModelIndex &parent) const
    {
        if (!parent.isValid())
            return &top;
        const int id = decode(parent);
        return id < 0 || parent.column() != 0 ? nullptr : &nodes[id].children;
    }

    QModelIndex index(int row, int column, const QModelIndex &parent) const override
    {
        const auto *list = childList(parent);
        if (!list || column != 0 || row < 0 || row >= static_cast<int>(list->size()))
            return {};
        return indexFor((*list)[row]);
    }

    QModelIndex parent(const QModelIndex &child) const override
    {
        const int id = decode(child);
        if (id < 0 || nodes[id].parent < 0)
            return {};
        return indexFor(nodes[id].parent);
    }

    int rowCount(const QModelIndex &parent) const override
    {
        const auto *list = childList(parent);
        return list ? static_cast<int>(list->size()) : 0;
    }

    int columnCount(const QModelIndex &) const override { return 1; }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const int id = decode(index);
        if (id < 0)
            return {};
        const Node &n = nodes[id];
        if (role == Qt::DisplayRole)
            return n.text;
        if (role == Qt::ForegroundRole && n.foreColor >= 0)
            return colorFromBgr(n.foreColor);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return decode(index) < 0 ? Qt::NoItemFlags : Qt::ItemIsEnabled | Qt::ItemIsSelectable;
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
        top.clear();
        byKey.clear();
        selected = -1;
        if (++generation == 0)
            generation = 1;
    }

    void beginInsert(int parent, int row)
    {
        beginInsertRows(parent < 0 ? QModelIndex() : indexFor(parent), row, row);
    }
    void endInsert() { endInsertRows(); }
    void changed(int id, int role) { emit dataChanged(indexFor(id), indexFor(id), {role}); }
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

QString TreeNode::key() const
{
    const auto *m = model();
    return m ? m->nodes[m_id].key : QString();
}

QString TreeNode::text() const
{
    const auto *m = model();
    return m ? m->nodes[m_id].text : QString();
}

bool TreeNode::setText(const QString &text)
{
    auto *m = model();
    if (!m)
        return false;
    m->nodes[m_id].text = text;
    m_tree->nodeDataChanged(m_id, Qt::DisplayRole);
    return true;
}

bool TreeNode::isExpanded() const
{
    const auto *m = model();
    return m && m->nodes[m_id].expanded;
}

bool TreeNode::setExpanded(bool expanded)
{
    return model() && m_tree->setNodeExpanded(m_id, expanded);
}

bool TreeNode::isSelected() const
{
    const auto *m = model();
    return m && m->selected == m_id;
}

bool TreeNode::setSelected()
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

bool TreeNode::setForeColor(int bgr)
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
    if (!m || m->nodes[m_id].children.empty())
        return {};
    return m_tree->handle(m->nodes[m_id].children.front());
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
    return m ? static_cast<int>(m->nodes[m_id].children.size()) : 0;
}

// ---- KeyedTree --------------------------------------------------------------

KeyedTree::KeyedTree(QWidget *parent) : QTreeView(parent), m_model(new KeyedTreeModel)
{
    m_model->setParent(this);
    setModel(m_model);
    setItemDelegate(new OwnColourDelegate(this));
    setPalette(paleSelection(palette()));
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setAnimated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Texts are stored only through the text box; an edit in place would be lost.
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    connect(this, &QTreeView::expanded, this, &KeyedTree::viewExpanded);
    connect(this, &QTreeView::collapsed, this, &KeyedTree::viewCollapsed);
    connect(this, &QAbstractItemView::clicked, this, &KeyedTree::viewClicked);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &KeyedTree::viewSelectionChanged);
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
    if (!inBatch())
        m_model->endReset();
}

TreeNode KeyedTree::add(const QString &relativeKey, const QString &key, const QString &text)
{
    if (key.isEmpty() || m_model->byKey.contains(key))
        return {};
    int parent = -1;
    if (!relativeKey.isEmpty()) {
        const auto it = m_model->byKey.constFind(relativeKey);
        if (it == m_model->byKey.constEnd())
            return {};
        parent = it.value();
    }
    auto &siblings = parent < 0 ? m_model->top : m_model->nodes[parent].children;
    const int row = static_cast<int>(siblings.size());
    const int id = static_cast<int>(m_model->nodes.size());

    const bool signalRows = !inBatch() && !m_model->resetOpen;
    if (inBatch())
        m_model->beginReset();
    if (signalRows)
        m_model->beginInsert(parent, row);
    KeyedTreeModel::Node node;
    node.key = key;
    node.text = text;
    node.parent = parent;
    node.row = row;
    m_model->nodes.push_back(std::move(node));
    (parent < 0 ? m_model->top : m_model->nodes[parent].children).push_back(id);
    m_model->byKey.insert(key, id);
    if (signalRows) {
        m_model->endInsert();
        // A node marked open before it had children opens once it has one.
        if (parent >= 0 && m_model->nodes[parent].expanded)
            pushExpansion(parent);
    }
    return handle(id);
}

TreeNode KeyedTree::find(const QString &key) const
{
    const auto it = m_model->byKey.constFind(key);
    return it == m_model->byKey.constEnd() ? TreeNode() : handle(it.value());
}

TreeNode KeyedTree::selectedNode() const
{
    return m_model->selected < 0 ? TreeNode() : handle(m_model->selected);
}

int KeyedTree::nodeCount() const
{
    return static_cast<int>(m_model->nodes.size());
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
    if (node.m_tree != this || !node.isValid() || m_model->resetOpen)
        return {};
    return m_model->indexFor(node.m_id);
}

TreeNode KeyedTree::nodeAt(const QModelIndex &index) const
{
    const int id = m_model->decode(index);
    return id < 0 ? TreeNode() : handle(id);
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
    m_model->endReset();
    // Right after a reset the view only records expanded indexes and lays
    // everything out once, later; so this stays linear in the node count.
    for (int id = 0; id < static_cast<int>(m_model->nodes.size()); ++id) {
        if (m_model->nodes[id].expanded)
            pushExpansion(id);
    }
    pushSelection();
}

bool KeyedTree::setNodeExpanded(int id, bool expanded)
{
    auto &node = m_model->nodes[id];
    if (node.expanded == expanded)
        return true;
    node.expanded = expanded;
    const TreeNode self = handle(id);
    if (expanded)
        emit nodeExpand(self);
    else
        emit nodeCollapse(self);
    // The handler may have rebuilt the whole tree; then this node is gone.
    if (!self.isValid())
        return true;
    if (inBatch())
        m_model->beginReset();
    else
        pushExpansion(id);
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

void KeyedTree::nodeDataChanged(int id, int role)
{
    if (inBatch())
        m_model->beginReset();
    if (!m_model->resetOpen)
        m_model->changed(id, role);
}

bool KeyedTree::ancestorsExpanded(int id) const
{
    for (int p = m_model->nodes[id].parent; p >= 0; p = m_model->nodes[p].parent) {
        if (!m_model->nodes[p].expanded)
            return false;
    }
    return true;
}

void KeyedTree::pushExpansion(int id)
{
    // The node's flag is already set, so the view's echo of this change is
    // recognised as ours in viewExpanded()/viewCollapsed() and not re-raised.
    const QModelIndex index = m_model->indexFor(id);
    if (m_model->nodes[id].expanded)
        expand(index);
    else
        collapse(index);
}

void KeyedTree::pushSelection()
{
    const int id = m_model->selected;
    m_pushing = true;
    if (id < 0) {
        selectionModel()->clearSelection();
    } else if (ancestorsExpanded(id)) {
        // Becoming current scrolls the node into view.
        selectionModel()->setCurrentIndex(m_model->indexFor(id), QItemSelectionModel::ClearAndSelect);
    } else {
        // Scrolling to a hidden node would open its ancestors behind the
        // program's back; select it without making it current.
        selectionModel()->select(m_model->indexFor(id), QItemSelectionModel::ClearAndSelect);
    }
    m_pushing = false;
}

void KeyedTree::viewExpanded(const QModelIndex &index)
{
    const int id = m_model->decode(index);
    if (id < 0 || m_model->nodes[id].expanded)
        return;
    m_model->nodes[id].expanded = true;
    emit nodeExpand(handle(id));
}

void KeyedTree::viewCollapsed(const QModelIndex &index)
{
    const int id = m_model->decode(index);
    if (id < 0 || !m_model->nodes[id].expanded)
        return;
    m_model->nodes[id].expanded = false;
    emit nodeCollapse(handle(id));
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
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    m_model->selected = selected.isEmpty() ? -1 : m_model->decode(selected.first());
}

} // namespace toolkit
