#pragma once

#include <cstdint>

// Adding a new, empty item beside or below the selected item. Each ends by
// rebuilding the view and selecting the new item; the text box is left bound
// to the item clicked last.
namespace modTree {

// The new item goes just before the selected one. Does nothing for an item
// without a parent (the root): an item beside the root is never shown.
void AddBefore(std::int32_t selected);
// The new item goes just after the selected one; nothing for the root.
void AddAfter(std::int32_t selected);
// The new item becomes the first child of the selected one, which is marked
// open so the new child shows at once. Works on the root too.
void AddChild(std::int32_t selected);

} // namespace modTree
