#include "store/allocation.h"

#include "store/mod_base.h"

#include <limits>

namespace modTree {

using modBase::rsTree;
using store::Field;

std::int32_t NewItem()
{
    std::int32_t result = 0;
    if (rsTree.index() != store::kIndexParNxt)
        rsTree.setIndex(store::kIndexParNxt);
    // Not a plain seek of (Null, Null): a record another tool left with those
    // links empty may still be in the tree (the root, say), and taking it
    // would cut everything below it off.
    if (rsTree.seekFree()) {
        result = rsTree.key(Field::KeyInd).value_or(0);
        rsTree.update({{Field::KeyPar, std::int64_t{0}},
                       {Field::KeyPrw, std::int64_t{0}},
                       {Field::KeyNxt, std::int64_t{0}},
                       {Field::KeyRef, std::int64_t{0}},
                       {Field::KeyChi, std::int64_t{0}},
                       {Field::RefCut, false}});
        rsTree.setIndex(store::kIndexKeyInd);
    } else {
        rsTree.requery();
        rsTree.setIndex(store::kIndexKeyInd);
        rsTree.moveLast();
        // The next key must still be a key: past the largest one there is none.
        if (const auto last = rsTree.key(Field::KeyInd); last && *last < std::numeric_limits<std::int32_t>::max())
            result = *last + 1;
        if (result == 0 || !rsTree.addNew(result))
            result = 0;
    }
    if (const auto current = rsTree.key(Field::KeyInd))
        rsTree.positionOn(*current);
    return result;
}

} // namespace modTree
