#include "view/expand.h"

#include "store/mod_base.h"
#include "view/browsing.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <unordered_map>
#include <utility>
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

// Writes False to every top-level item but opened, walking the chain from
// the root's first child. With a thousand items open, positioning on each and
// writing each on its own would cost most of the opening, so the next links
// of the root's children are read in one pass (a chain item that does not
// name the root as parent, in a broken file, is read on its own) and the
// writes go to the file in one statement. The chain normally ends in 0; one
// that comes back on itself is followed once round, not forever.
void closeOtherTopLevelItems(std::int32_t opened)
{
    rsTree.seek({std::int64_t{store::kRootKey}});
    const auto first = rsTree.key(Field::KeyChi);
    if (!first)
        return;
    struct Link {
        std::int32_t next;
        bool passed = false;
    };
    std::unordered_map<std::int64_t, Link> links;
    for (const auto &[key, next] : rsTree.childLinks(store::kRootKey))
        links.emplace(key, Link{store::toKey(next).value_or(0)});

    std::vector<std::int32_t> others;
    for (std::int32_t at = *first; at != 0;) {
        auto link = links.find(at);
        if (link == links.end()) {
            if (!rsTree.seek({std::int64_t{at}}))
                break; // no such record: the chain ends here
            link = links.emplace(at, Link{rsTree.key(Field::KeyNxt).value_or(0)}).first;
        }
        if (std::exchange(link->second.passed, true))
            break; // back on itself
        if (at != opened)
            others.push_back(at);
        at = link->second.next;
    }
    rsTree.updateEach(others, Field::Expand, false);
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

} // namespace modTree
