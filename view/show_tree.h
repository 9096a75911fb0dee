#pragma once

#include <cstdint>

// Rebuilding the tree view from the table.
namespace modTree {

// Lays out the text box and the tree for the window's current size, throws
// every node away and builds the view again from TbTree: the root node "1K"
// reading "корень", then every item under an open ancestor in chain order, a
// placeholder "<k>S" under each collapsed item with children, the stored
// selected item selected and red. Reads only what is shown; writes nothing.
// Safe to call from inside the tree's own expand event.
void ShowTree();

// Rebuilds the view when another program changed the file since the view
// was last built from it, so that what the user does next does not act on a
// picture the file no longer matches. True when it rebuilt.
bool ShowTreeIfChangedOutside();

// A rebuild shows the busy cursor when the one before it took at least this
// long: the best forecast of how long this one will take.
void SetBusyCursorAfter(int milliseconds);

// Forgets the rebuilds so far (how long the last took, which version of the
// file it read) and the busy cursor's threshold; part of ResetProgramState.
void ForgetRebuilds();

// Adds the nodes of every visible descendant of start, depth first, children
// in chain order. Never loops and never shows an item twice, however broken
// the links: a link to an item already shown is not followed, and the walk
// climbs back the way it came down.
void ShowBranch(std::int32_t start);

} // namespace modTree
