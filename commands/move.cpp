#include "commands/move.h"

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
// anchor for link.
template <typename Link>
void moveBeside(std::int32_t selected, Field field, std::int32_t stop, Link link)
{
    rsTree.positionOn(selected);
    const auto anchor = rsTree.key(field);
    if (!anchor || *anchor == stop || *anchor == 0 || !exists(*anchor))
        return;
    UnlinkItem(selected);
    link(selected, *anchor);
    ShowTree();
    SelectItem(selected);
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
    const bool hasChildren = rsTree.key(Field::KeyChi).value_or(0) != 0;
    if (hasChildren) {
        if (rsTree.index() != store::kIndexParNxt)
            rsTree.setIndex(store::kIndexParNxt);
        if (rsTree.seek({std::int64_t{parent}, std::int64_t{0}}))
            last = rsTree.key(Field::KeyInd).value_or(0);
        rsTree.setIndex(store::kIndexKeyInd);
        if (last == 0 || last == selected)
            return;
    }
    UnlinkItem(selected);
    if (hasChildren)
        LinkAfter(selected, last);
    else
        LinkFirstChild(selected, parent);
    ShowTree();
    SelectItem(selected);
}

} // namespace modTree
