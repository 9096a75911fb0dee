#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

class TestStore;

// Walks the tree from the root in the file and checks every rule between the
// records it reaches: the root's links, KeyPar naming the parent, the first
// child's KeyPrw 0, both directions of every sibling link, chains ending in
// 0, every link naming a record, no item reached twice. Run after every
// structural operation in tests, it catches a half-mended chain wherever it
// is, without restating what the operation should have written.
struct TreeCheck {
    std::vector<std::string> problems;
    std::set<std::int32_t> reachable; // every item linked below the root, root included
    bool ok() const { return problems.empty(); }
    std::string report() const;
};

TreeCheck checkTree(TestStore &store);

// The items reachable from the root in display order with their depth, as
// "key@depth", for comparing whole structures.
std::vector<std::string> outline(TestStore &store);

// The nodes a rebuild must show for the file, depth first, each as
// "parentKey>key": the root "1K", every item under open ancestors, and a
// placeholder "<k>S" under each closed item with children.
std::vector<std::string> expectedView(TestStore &store);

} // namespace testing_support
