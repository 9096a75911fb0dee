#include "view/expand.h"

#include "store/child_chain.h"
#include "store/mod_base.h"
#include "view/browsing.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <vector>

namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

void ensureKeyIndex()
{
    if (rsTree.index() != store::kIndexKeyInd)
        rsTree.setIndex(store::kIndexKeyInd);
}

// Every top-level item but opened, along the chain from the root's first child.
std::vector<std::int32_t> otherTopLevelItems(std::int32_t opened)
{
    std::vector<std::int32_t> others;
    rsTree.seek({std::int64_t{store::kRootKey}});
    const auto first = rsTree.key(Field::KeyChi);
    if (!first)
        return others;
    store::ChildChain topLevel(rsTree, store::kRootKey, *first, store::ChildChain::Read::Links);
    while (const auto item = topLevel.next()) {
        if (*item != opened)
            others.push_back(*item);
    }
    return others;
}

// Writes False to every top-level item but opened, in one statement: with a
// thousand items open, writing each on its own would cost most of the
// opening.
void closeOtherTopLevelItems(std::int32_t opened)
{
    rsTree.updateEach(otherTopLevelItems(opened), Field::Expand, false);
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

// ExpandNode while browsing: the opening and the closing of the other
// top-level items are kept for the rebuilds instead of the file.
void browseOpen(const toolkit::TreeNode &node)
{
    const auto key = TreeBusy ? std::nullopt : ItemOf(node.nodeKey());
    if (!key)
        return;
    BrowseOpen(*key, true);
    const toolkit::TreeNode parent = node.parent();
    if (ItemOf(parent.nodeKey()) == store::kRootKey) {
        for (const toolkit::TreeNode &other : parent.children())
            if (!(other == node))
                BrowseOpen(ItemOf(other.nodeKey()).value_or(0), false);
    }
    if (IsPlaceholder(node.firstChild().nodeKey()))
        ShowTree();
}

} // namespace

void CollapseNode(const toolkit::TreeNode &node)
{
    if (Browsing()) {
        if (const auto key = TreeBusy ? std::nullopt : ItemOf(node.nodeKey()))
            BrowseOpen(*key, false);
        return;
    }
    if (seekUserItem(node))
        rsTree.update(Field::Expand, false);
}

void ExpandNode(const toolkit::TreeNode &node)
{
    if (Browsing()) {
        browseOpen(node);
        return;
    }
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

bool OpenItem(std::int32_t item)
{
    ensureKeyIndex();
    if (!rsTree.seek({std::int64_t{item}}))
        return false;
    const auto browsed = Browsing() ? BrowsedOpen(item) : std::nullopt;
    // Open unless stored closed, as a rebuild shows it.
    if (browsed ? *browsed : rsTree.flag(Field::Expand) != std::optional<bool>(false))
        return false;
    const bool topLevel = rsTree.key(Field::KeyPar) == store::kRootKey;
    if (Browsing()) {
        BrowseOpen(item, true);
        if (topLevel) {
            for (const std::int32_t other : otherTopLevelItems(item))
                BrowseOpen(other, false);
        }
        return true;
    }
    rsTree.update(Field::Expand, true);
    if (topLevel)
        closeOtherTopLevelItems(item);
    return true;
}

} // namespace modTree
