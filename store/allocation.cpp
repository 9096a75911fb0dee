#include "store/allocation.h"

#include "store/tree_cursor.h"

#include <limits>

namespace modTree {

using store::Field;

std::int32_t NewItem(store::TreeCursor &tree)
{
    std::int32_t result = 0;
    if (tree.index() != store::kIndexParNxt)
        tree.setIndex(store::kIndexParNxt);
    // Not a plain seek of (Null, Null): a record another tool left with those
    // links empty may still be in the tree (the root, say), and taking it
    // would cut everything below it off.
    if (tree.seekFree()) {
        result = tree.key(Field::KeyInd).value_or(0);
        tree.update({{Field::KeyPar, std::int64_t{0}},
                     {Field::KeyPrw, std::int64_t{0}},
                     {Field::KeyNxt, std::int64_t{0}},
                     {Field::KeyRef, std::int64_t{0}},
                     {Field::KeyChi, std::int64_t{0}},
                     {Field::RefCut, false}});
        tree.setIndex(store::kIndexKeyInd);
    } else {
        tree.requery();
        tree.setIndex(store::kIndexKeyInd);
        tree.moveLast();
        // The next key must still be a key: past the largest one there is none.
        if (const auto last = tree.key(Field::KeyInd); last && *last < std::numeric_limits<std::int32_t>::max())
            result = *last + 1;
        if (result == 0 || !tree.addNew(result))
            result = 0;
    }
    if (const auto current = tree.key(Field::KeyInd))
        tree.positionOn(*current);
    return result;
}

} // namespace modTree
