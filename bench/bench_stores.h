#pragma once

#include <functional>
#include <string>

// Stores of known shape and size for the benchmarks, written once and kept
// under the system's temporary folder between runs.
namespace bench {

enum class Shape {
    Broad,  // groups of 100 under the root: each top-level item open with 99 children
    Deep,   // one chain, every item open: item k is the only child of item k-1
    Hidden, // 1,000 closed top-level items sharing the rest as hidden children
    OpenTops, // `items` open top-level items with a child each, then one closed with a child
    Groups, // 1,000 open top-level items sharing the rest as their children: all shown
    LongText, // as Broad, the selected item's text ten megabytes long
};

// One item of a store as the view shows it, in display order.
struct ShownItem {
    int parent; // 0 for the root
    int key;
    bool open;
};

// Calls shown with every item a store of the shape shows, in display order,
// root first, working it out as it goes (no list of a million rows to hold);
// for Hidden the closed top-level items (not their placeholders), for
// OpenTops nothing. And the text of item key.
void forEachShown(Shape shape, int items, const std::function<void(const ShownItem &)> &shown);
std::string textOf(Shape shape, int items, int key);

const char *shapeName(Shape shape);

// The folder holding a store of the shape with `items` items besides the
// root (all shown, except for Hidden, which shows 1,000 and their
// placeholders). One item in the middle of what is shown is selected.
std::string storeFolder(Shape shape, int items);

// The key of the selected item in that store, and of a middle item with a
// previous sibling (for a move); for OpenTops the closed top-level item.
int middleKey(Shape shape, int items);

} // namespace bench
