#pragma once

namespace toolkit {

// Lets screen readers see a KeyedTree as a tree: one item per shown node, with
// its level, its place among its siblings, its open or closed state and the
// actions a user has on it. Called by every KeyedTree; installs once.
void installKeyedTreeAccessibility();

} // namespace toolkit
