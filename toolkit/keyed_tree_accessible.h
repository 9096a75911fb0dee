#pragma once

namespace toolkit {

// Lets screen readers see a KeyedTree as a tree: one item per shown node, with
// its level, its place among its siblings, its open or closed state and the
// actions a user has on it. Called by every KeyedTree; installs once.
void installKeyedTreeAccessibility();

class KeyedTree;
class TreeNode;
// Gives the node a new accessible object from now on: screen readers take
// an event about it as one about an object they have not seen.
void renewAccessibleItem(KeyedTree *tree, const TreeNode &node);

} // namespace toolkit
