#include "toolkit/keyed_tree.h"

#include "toolkit/keyed_tree_model.h"

namespace toolkit {

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

} // namespace toolkit
