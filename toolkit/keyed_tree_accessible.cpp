#include "toolkit/keyed_tree_accessible.h"

#include "toolkit/keyed_tree.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QHash>
#include <QPointer>

#include <cstdint>
#include <utility>

namespace toolkit {

namespace {

const QString &activateAction()
{
    static const QString name = QStringLiteral("activate");
    return name;
}

const QString &expandAction()
{
    static const QString name = QStringLiteral("expand");
    return name;
}

const QString &collapseAction()
{
    static const QString name = QStringLiteral("collapse");
    return name;
}

QString trTree(const char *text)
{
    return QCoreApplication::translate("toolkit::KeyedTree", text);
}

} // namespace

// One node on screen. It holds a handle, not the node, so it can never reach
// a freed node: after a rebuild it is invalid for good, and while its node is
// hidden under a closed ancestor it is invalid until the node shows again.
class KeyedTreeItemAccessible : public QAccessibleInterface,
                                public QAccessibleTableCellInterface,
                                public QAccessibleActionInterface {
public:
    KeyedTreeItemAccessible(KeyedTree *tree, const TreeNode &node) : m_tree(tree), m_node(node) {}

    KeyedTree *tree() const { return m_tree; }

    bool isValid() const override { return place().row >= 0; }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_tree ? m_tree->window()->windowHandle() : nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return m_tree ? QAccessible::queryAccessibleInterface(m_tree) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    void setText(QAccessible::Text, const QString &) override {} // texts change through the text box only
    QAccessible::Role role() const override { return QAccessible::TreeItem; }

    QString text(QAccessible::Text t) const override
    {
        const KeyedTree::Place p = place();
        if (p.row < 0)
            return {};
        if (t == QAccessible::Name)
            return m_tree->accessibleNameOf(m_node);
        // Rows are flat to Qt, and Qt 6.4's AT-SPI bridge passes on no level
        // or set attributes: the description is what reaches a screen reader.
        if (t == QAccessible::Description)
            return trTree("level %1, %2 of %3").arg(p.level).arg(p.position).arg(p.siblings);
        return {};
    }

    QRect rect() const override
    {
        const QRect text = isValid() ? m_tree->textRect(m_node) : QRect();
        return text.isNull() ? QRect() : QRect(m_tree->viewport()->mapToGlobal(text.topLeft()), text.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        const KeyedTree::Place p = place();
        if (p.row < 0) {
            s.invalid = true;
            return s;
        }
        s.focusable = true;
        s.selectable = true;
        s.selected = m_node.isSelected();
        s.focused = m_tree->hasFocus() && m_tree->currentIndex().row() == p.row;
        s.disabled = !m_tree->isEnabled();
        s.offscreen = !m_tree->textRect(m_node).intersects(m_tree->viewport()->rect());
        if (m_node.hasChildren()) {
            s.expandable = true;
            s.expanded = m_node.isExpanded();
            s.collapsed = !m_node.isExpanded();
        }
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface *>(this);
        if (t == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    // A cell of the one-column table of rows.
    bool isSelected() const override { return isValid() && m_node.isSelected(); }
    QList<QAccessibleInterface *> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return isValid() ? 0 : -1; }
    int rowIndex() const override { return place().row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

    // Only the actions that apply now: activate, and expand or collapse.
    QStringList actionNames() const override
    {
        if (!isValid())
            return {};
        QStringList names{activateAction()};
        if (m_node.hasChildren())
            names << (m_node.isExpanded() ? collapseAction() : expandAction());
        return names;
    }

    QString localizedActionName(const QString &name) const override
    {
        if (name == activateAction())
            return trTree("activate");
        if (name == expandAction())
            return trTree("expand");
        if (name == collapseAction())
            return trTree("collapse");
        return QAccessibleActionInterface::localizedActionName(name);
    }

    QString localizedActionDescription(const QString &name) const override
    {
        if (name == activateAction())
            return trTree("Selects the item and shows its text for editing");
        if (name == expandAction())
            return trTree("Shows the item's children");
        if (name == collapseAction())
            return trTree("Hides the item's children");
        return QAccessibleActionInterface::localizedActionDescription(name);
    }

    QStringList keyBindingsForAction(const QString &) const override { return {}; }

    void doAction(const QString &name) override
    {
        if (!actionNames().contains(name))
            return;
        // The same calls as the user's click and opening, so the window's
        // handlers run as for the user. They may rebuild the tree, which
        // deletes this interface: only copies are used from here on.
        const QPointer<KeyedTree> tree = m_tree;
        const TreeNode node = m_node;
        if (name == activateAction())
            tree->clickNode(node);
        else
            node.setExpanded(name == expandAction());
    }

private:
    KeyedTree::Place place() const { return m_tree ? m_tree->placeOf(m_node) : KeyedTree::Place{}; }

    QPointer<KeyedTree> m_tree;
    TreeNode m_node;
};

// The tree. Its children are the rows on screen, row r being child r; like
// Qt's own tree views it is also a one-column table of them, which makes Qt's
// AT-SPI bridge tell screen readers that the rows come and go and must not be
// cached, and brings Qt's reports of the view's resets to modelChange().
class KeyedTreeAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit KeyedTreeAccessible(KeyedTree *tree) : QAccessibleWidget(tree, QAccessible::Tree) {}
    ~KeyedTreeAccessible() override
    {
        dropItems();
        if (m_noCell)
            QAccessible::deleteAccessibleInterface(m_noCell);
    }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    int childCount() const override { return rowCount(); }
    QAccessibleInterface *child(int index) const override { return rowItem(index); }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *item = dynamic_cast<const KeyedTreeItemAccessible *>(child);
        return item && item->tree() == tree() ? item->rowIndex() : -1;
    }

    // The item whose text is at the point (screen coordinates); none on the
    // indentation or an arrow, which are not part of any item.
    QAccessibleInterface *childAt(int x, int y) const override
    {
        KeyedTree *t = tree();
        if (!t)
            return nullptr;
        const QPoint at = t->viewport()->mapFromGlobal(QPoint(x, y));
        if (!t->viewport()->rect().contains(at))
            return nullptr;
        QAccessibleInterface *item = itemFor(t->nodeAt(t->indexAt(at)));
        return item && item->rect().contains(x, y) ? item : nullptr;
    }

    QAccessibleInterface *focusChild() const override
    {
        KeyedTree *t = tree();
        return t ? itemFor(t->nodeAt(t->currentIndex())) : nullptr;
    }

    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }

    // Qt 6.4's AT-SPI bridge uses the cell it asks for without checking it,
    // and a screen reader may well ask for a row that a rebuild has just
    // removed: it gets an empty, invalid cell rather than none.
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        if (QAccessibleInterface *item = column == 0 ? rowItem(row) : nullptr)
            return item;
        if (!m_noCell)
            m_noCell = QAccessible::registerAccessibleInterface(new KeyedTreeItemAccessible(tree(), TreeNode()));
        return QAccessible::accessibleInterface(m_noCell);
    }

    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface *> selectedCells() const override
    {
        QList<QAccessibleInterface *> cells;
        if (QAccessibleInterface *cell = rowItem(selectedRow()))
            cells.append(cell);
        return cells;
    }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return selectedRow() < 0 ? 0 : 1; }
    int columnCount() const override { return 1; }
    int rowCount() const override { return tree() ? tree()->visibleCount() : 0; }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override
    {
        const int row = selectedRow();
        return row < 0 ? QList<int>() : QList<int>{row};
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return row >= 0 && row == selectedRow(); }
    // Selecting an item is a click, which the program stores: screen readers
    // select through the item's activate action.
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }

    void renew(const TreeNode &node)
    {
        const auto key = node.nodeKey();
        if (!key)
            return;
        if (const auto found = m_items.constFind(key->packed()); found != m_items.cend()) {
            const QAccessible::Id id = *found;
            m_items.erase(found);
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    void modelChange(QAccessibleTableModelChangeEvent *event) override
    {
        // Rows inserted or removed need nothing: items find their row from
        // their node each time.
        if (event->modelChangeType() == QAccessibleTableModelChangeEvent::ModelReset)
            dropItems();
    }

private:
    KeyedTree *tree() const { return static_cast<KeyedTree *>(widget()); }

    QAccessibleInterface *rowItem(int row) const
    {
        KeyedTree *t = tree();
        return t ? itemFor(t->nodeAt(t->model()->index(row, 0))) : nullptr;
    }

    int selectedRow() const
    {
        KeyedTree *t = tree();
        return t ? t->indexOf(t->selectedNode()).row() : -1;
    }

    // The one interface of a node, made when first asked for, so a screen
    // reader sees the same object for a node as long as the node lives. A
    // rebuild makes new nodes under the old keys: the cache is emptied when
    // Qt reports the reset, or else at the first look-up after it.
    QAccessibleInterface *itemFor(const TreeNode &node) const
    {
        KeyedTree *t = tree();
        const auto key = node.nodeKey();
        if (!t || !key)
            return nullptr;
        if (m_generation != t->generation()) {
            dropItems();
            m_generation = t->generation();
        }
        if (const auto found = m_items.constFind(key->packed()); found != m_items.cend()) {
            if (QAccessibleInterface *iface = QAccessible::accessibleInterface(*found))
                return iface;
        }
        auto *iface = new KeyedTreeItemAccessible(t, node);
        m_items.insert(key->packed(), QAccessible::registerAccessibleInterface(iface));
        return iface;
    }

    void dropItems() const
    {
        const auto ids = std::exchange(m_items, {});
        for (const QAccessible::Id id : ids)
            QAccessible::deleteAccessibleInterface(id);
    }

    mutable QHash<std::uint64_t, QAccessible::Id> m_items;
    mutable std::uint32_t m_generation = 0;
    mutable QAccessible::Id m_noCell = 0;
};

namespace {

QAccessibleInterface *keyedTreeFactory(const QString &className, QObject *object)
{
    // Only for the class itself: Qt asks again with each base class name, and
    // its own factories answer for everything else.
    if (className != QLatin1StringView(KeyedTree::staticMetaObject.className()))
        return nullptr;
    auto *tree = qobject_cast<KeyedTree *>(object);
    return tree ? new KeyedTreeAccessible(tree) : nullptr;
}

} // namespace

void renewAccessibleItem(KeyedTree *tree, const TreeNode &node)
{
    if (auto *view = dynamic_cast<KeyedTreeAccessible *>(QAccessible::queryAccessibleInterface(tree)))
        view->renew(node);
}

void installKeyedTreeAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(keyedTreeFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace toolkit
