#include "toolkit/keyed_tree_delegate.h"

#include "toolkit/keyed_tree_model.h"

#include <QPainter>

namespace toolkit {

namespace {

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

} // namespace

void KeyedTreeDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
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

QSize KeyedTreeDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(m_tree->m_rowWidth);
    return size;
}

void KeyedTreeDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
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

} // namespace toolkit
