#include "commands/move.h"

#include "store/child_chain.h"
#include "store/format.h"
#include "store/links.h"
#include "store/mod_base.h"
#include "view/selection.h"
#include "view/show_tree.h"


namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

// An anchor the file does not hold would take the item out of the tree and
// link it nowhere; a move to it is not possible.
bool exists(std::int32_t key)
{
    return key != 0 && rsTree.positionOn(key);
}

// The shape shared by MoveUp, MoveDown and MoveOut: read field of the item;
// at the stop value (or unreadable) nothing happens, otherwise it is the
// anchor for link. The root is never an anchor: it has no siblings, and only
// a record out of the tree (a file another tool wrote) names it as one.
template <typename Link>
void moveBeside(std::int32_t selected, Field field, std::int32_t stop, Link link)
{
    rsTree.positionOn(selected);
    const auto anchor = rsTree.key(field);
    if (!anchor || *anchor == stop || *anchor == 0 || *anchor == store::kRootKey || !exists(*anchor))
        return;
    UnlinkItem(rsTree, selected);
    link(rsTree, selected, *anchor);
    ShowTree();
    SelectItem(selected);
}

// The last item of parent's chain of children, walked from first. Not a seek
// for (parent, 0) on "ParNxt": a record out of the tree that still names
// parent matches that too, and an item linked after it would leave the tree.
// 0 when the chain has no end (a loop, a Null link, or a link to a record
// that does not name parent).
std::int32_t lastOfChain(std::int32_t parent, std::int32_t first)
{
    store::ChildChain chain(rsTree, parent, first, store::ChildChain::Read::Links, true);
    std::int32_t last = 0;
    while (const auto child = chain.next())
        last = *child;
    return chain.broken() ? 0 : last;
}

} // namespace

void MoveUp(std::int32_t selected)
{
    moveBeside(selected, Field::KeyPrw, 0, LinkBefore);
}

void MoveDown(std::int32_t selected)
{
    moveBeside(selected, Field::KeyNxt, 0, LinkAfter);
}

void MoveOut(std::int32_t selected)
{
    // Parent 1 is the root: a top-level item has no level to go out to. The
    // root itself (parent 0) cannot move either.
    moveBeside(selected, Field::KeyPar, store::kRootKey, LinkAfter);
}

void MoveIn(std::int32_t selected)
{
    rsTree.positionOn(selected);
    const std::int32_t parent = rsTree.key(Field::KeyPrw).value_or(0);
    if (!exists(parent))
        return;
    // Where the item will go is found before anything is written, so a
    // broken chain under the new parent cannot leave the item linked nowhere.
    std::int32_t last = 0;
    const std::int32_t first = rsTree.key(Field::KeyChi).value_or(0);
    const bool hasChildren = first != 0;
    if (hasChildren) {
        last = lastOfChain(parent, first);
        if (last == 0 || last == selected)
            return;
    }
    UnlinkItem(rsTree, selected);
    if (hasChildren)
        LinkAfter(rsTree, selected, last);
    else
        LinkFirstChild(rsTree, selected, parent);
    ShowTree();
    SelectItem(selected);
}

} // namespace modTree
