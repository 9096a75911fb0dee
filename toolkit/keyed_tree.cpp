#include "toolkit/keyed_tree.h"

#include "toolkit/keyed_tree_accessible.h"
#include "toolkit/keyed_tree_delegate.h"
#include "toolkit/keyed_tree_model.h"

#include <QAccessible>
#include <QDropEvent>
#include <QMimeData>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QUrl>

#include <algorithm>
#include <utility>
#include <vector>

namespace toolkit {

namespace {

// Tells screen readers about one row; the row is the item's index in the tree.
void announceRow(KeyedTree *tree, QAccessible::Event type, int row)
{
    QAccessibleEvent event(tree, type);
    event.setChild(row);
    QAccessible::updateAccessibility(&event);
}

} // namespace

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
    // Files from a file manager; rows are never dragged.
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
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

namespace {

// The local files a drag carries; none for anything else.
QStringList localFiles(const QMimeData *data)
{
    QStringList files;
    for (const QUrl &url : data ? data->urls() : QList<QUrl>())
        if (url.isLocalFile())
            files << url.toLocalFile();
    return files;
}

void acceptFiles(QDropEvent *event)
{
    if (localFiles(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

} // namespace

void KeyedTree::dragEnterEvent(QDragEnterEvent *event)
{
    acceptFiles(event);
}

void KeyedTree::dragMoveEvent(QDragMoveEvent *event)
{
    acceptFiles(event);
}

void KeyedTree::dropEvent(QDropEvent *event)
{
    const QStringList files = localFiles(event->mimeData());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(nodeAt(indexAt(event->position().toPoint())), files);
}

} // namespace toolkit
