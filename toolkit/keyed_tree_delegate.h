#pragma once

#include "toolkit/keyed_tree.h"

#include <QStyle>
#include <QStyledItemDelegate>

namespace toolkit {

// Draws a row the way a tree draws it: indented by depth, an expand arrow for
// a node with children, the text in the node's own colour even when selected.
class KeyedTreeDelegate : public QStyledItemDelegate {
public:
    explicit KeyedTreeDelegate(KeyedTree *tree) : QStyledItemDelegate(tree), m_tree(tree) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

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
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

private:
    KeyedTree *m_tree;
};

} // namespace toolkit
