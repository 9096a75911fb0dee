#include "view/expand.h"

#include "store/mod_base.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <unordered_set>

namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

void ensureKeyIndex()
{
    if (rsTree.index() != store::kIndexKeyInd)
        rsTree.setIndex(store::kIndexKeyInd);
}

// Writes False to every top-level item but opened. The chain normally ends in
// 0; one that comes back on itself is followed once round, not forever.
void closeOtherTopLevelItems(std::int32_t opened)
{
    rsTree.seek({std::int64_t{store::kRootKey}});
    const auto first = rsTree.key(Field::KeyChi);
    if (!first || !rsTree.seek({std::int64_t{*first}}))
        return;
    std::unordered_set<std::int32_t> seen;
    for (;;) {
        const auto self = rsTree.key(Field::KeyInd);
        if (!self || !seen.insert(*self).second)
            return;
        if (*self != opened)
            rsTree.update(Field::Expand, false);
        const std::int32_t next = rsTree.key(Field::KeyNxt).value_or(0);
        if (next == 0 || !rsTree.seek({std::int64_t{next}}))
            return;
    }
}

// The item of a node the user opened or closed, its record made current.
// Nothing while the program itself is changing the view.
std::optional<std::int32_t> seekUserItem(const toolkit::TreeNode &node)
{
    if (TreeBusy)
        return std::nullopt;
    ensureKeyIndex();
    const auto key = ItemOf(node.nodeKey());
    if (key)
        rsTree.seek({std::int64_t{*key}});
    return key;
}

} // namespace

void CollapseNode(const toolkit::TreeNode &node)
{
    if (seekUserItem(node))
        rsTree.update(Field::Expand, false);
}

void ExpandNode(const toolkit::TreeNode &node)
{
    const auto key = seekUserItem(node);
    if (!key)
        return;
    const std::int32_t parent = rsTree.key(Field::KeyPar).value_or(0);
    rsTree.update(Field::Expand, true);
    if (parent == store::kRootKey)
        closeOtherTopLevelItems(*key);
    // Children never loaded: the branch holds just its placeholder.
    if (IsPlaceholder(node.firstChild().nodeKey()))
        ShowTree();
}

} // namespace modTree
