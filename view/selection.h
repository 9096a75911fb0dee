#pragma once

#include "toolkit/keyed_tree.h"

#include <QString>

#include <cstdint>

// The selection mark and the text of the item clicked last.
namespace modTree {

// Moves the mark: clears the first record marked in the table and colours its
// node black, then marks the record of key and makes its node red and the
// view's one selected node. An item without a node (inside a closed branch)
// is marked in the table only; a key no record has marks nothing. Leaves
// "KeyInd" current and the cursor on the marked record. While browsing a
// store that cannot be written, the mark moves in the view only.
void SelectItem(std::int32_t key);

// Whether the root reaches the item through first-child and next-sibling
// links, as the rebuild walks them. A shown item was reached by the last
// rebuild; inside a closed branch each level up to a shown item is looked for
// in its parent's chain of children. A command on a record the tree does not
// hold (a file another tool wrote may mark one selected) could link it, and
// whatever it names, into the tree.
bool HeldByTheTree(std::int32_t item);

// A click on a node: the text box takes the node's text and, through its tag,
// the node; then the item is selected. Writes no text.
void NodeClick(const toolkit::TreeNode &node);

// Gives the node of a just-made item, while it has no text, the name "new
// item" for screen readers, which would otherwise hear nothing of it.
void NameNewItem(std::int32_t item);

// Whether the text box is bound to top or to an item under it.
bool TextBoxEditsBranch(std::int32_t top);

// Empties the text box and binds it to no item: typing then writes nothing
// until the next click or F2.
void UnbindTextBox();

// What the text box's description tells a screen reader: the item it edits
// now, or that it edits none.
QString TextBoxDescription();

// The text box changed: store its text in the item it is bound to ("~" for
// an empty text) and show it on that item's node. Does nothing while the
// program itself is changing things, or before any node was clicked.
void TextChange();

} // namespace modTree
