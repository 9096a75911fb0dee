#pragma once

#include <cstdint>

// Moving the selected item, with its whole subtree. A move that is not
// possible writes nothing and leaves the view alone; one that is unlinks the
// item, links it at its new place, rebuilds the view and selects it again.
namespace modTree {

// In front of its previous sibling.
void MoveUp(std::int32_t selected);
// Behind its next sibling.
void MoveDown(std::int32_t selected);
// One level out: just behind its parent. Not for a top-level item (its
// parent is the root) nor for the root itself.
void MoveOut(std::int32_t selected);
// One level in: the last child of its previous sibling.
void MoveIn(std::int32_t selected);

} // namespace modTree
