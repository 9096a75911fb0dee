#include "commands/insert.h"

#include "store/allocation.h"
#include "store/links.h"
#include "store/mod_base.h"
#include "view/selection.h"
#include "view/show_tree.h"

namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

// Whether the item has a parent to share: the root (and anything else with
// KeyPar 0) has none, so nothing can stand beside it in the shown tree.
bool hasParent(std::int32_t item)
{
    rsTree.positionOn(item);
    return rsTree.key(Field::KeyPar).value_or(0) != 0;
}

template <typename Link>
void addBeside(std::int32_t selected, Link link)
{
    if (!hasParent(selected))
        return;
    const std::int32_t item = NewItem(rsTree);
    if (item == 0)
        return; // no record to be had: nothing to link or show
    link(rsTree, item, selected);
    ShowTree();
    NameNewItem(item);
    SelectItem(item);
}

} // namespace

void AddBefore(std::int32_t selected)
{
    addBeside(selected, LinkBefore);
}

void AddAfter(std::int32_t selected)
{
    addBeside(selected, LinkAfter);
}

void AddChild(std::int32_t selected)
{
    const std::int32_t item = NewItem(rsTree);
    if (item == 0)
        return;
    rsTree.positionOn(selected);
    rsTree.update(Field::Expand, true);
    const std::int32_t first = rsTree.key(Field::KeyChi).value_or(0);
    if (first == 0)
        LinkFirstChild(rsTree, item, selected);
    else
        LinkBefore(rsTree, item, first); // the parent's KeyChi moves to the new item
    ShowTree();
    NameNewItem(item);
    SelectItem(item);
}

} // namespace modTree
