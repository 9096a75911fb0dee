#pragma once

#include "toolkit/keyed_tree.h"

#include <cstdint>

// Keeping the stored expanded state in step with what the user opens and
// closes.
namespace modTree {

// The user closed a node: store Expand = False for its item.
void CollapseNode(const toolkit::TreeNode &node);

// The user opened a node: store Expand = True for its item; for a top-level
// item also False for every other top-level item. A node that held only the
// placeholder of a closed branch is loaded by rebuilding the whole view.
void ExpandNode(const toolkit::TreeNode &node);

// Opens item, whatever the view shows of it, when it is closed: what
// ExpandNode stores for its node (the top-level rule included), without
// rebuilding the view. True when it was closed.
bool OpenItem(std::int32_t item);

} // namespace modTree
