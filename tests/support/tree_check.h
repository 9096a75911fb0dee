#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

class TestStore;

// The store's link checker (store/check.h) on a test's file: every rule
// between the records reachable from the root, and the one selected item. Run
// after every structural operation in tests, it catches a half-mended chain
// wherever it is, without restating what the operation should have written.
// A file that cannot be read is one problem.
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
