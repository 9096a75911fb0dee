#pragma once

#include <cstdint>

namespace store {
class TreeCursor;
}

// The four operations that change the links between records. Each field is
// written by its own update, in the order listed, except where one update
// resets several fields of one record. They read and write TbTree only,
// through the cursor given (the program's is modBase::rsTree), in whatever
// index is current. An item keeps its KeyChi, so its whole subtree moves
// with it. A step that fails is skipped; the cursor's lastError() says so.
//
// A key of 0 (which names no item) or an item given as its own anchor makes
// the call write nothing: both would tie the tree into a knot. A neighbour
// (parent, previous or next sibling) is written only where it names the item
// (or the anchor): a record out of the tree that still names records in it
// must not cut them off.
namespace modTree {

// Takes item out of its sibling chain and mends the chain around it:
//   item         KeyPar, KeyPrw, KeyNxt = 0 and KeySel = False (one update)
//   parent       KeyChi = next sibling        (when item was the first child)
//   prev sibling KeyNxt = next sibling        (when there is a parent)
//   next sibling KeyPrw = previous sibling
// Leaves the cursor on the last record it visited.
void UnlinkItem(store::TreeCursor &tree, std::int32_t item);

// Puts item (in no chain) into anchor's chain just before anchor:
//   anchor KeyPrw = item; parent KeyChi = item (anchor was first) or
//   prev sibling KeyNxt = item; item KeyPar, KeyPrw, KeyNxt (three updates).
void LinkBefore(store::TreeCursor &tree, std::int32_t item, std::int32_t anchor);

// Puts item (in no chain) into anchor's chain just after anchor:
//   anchor KeyNxt = item; next sibling KeyPrw = item;
//   item KeyPar, KeyPrw, KeyNxt (three updates). Never touches the parent.
void LinkAfter(store::TreeCursor &tree, std::int32_t item, std::int32_t anchor);

// Makes item (in no chain, KeyPrw and KeyNxt 0) the only child of parent,
// which must have none: parent KeyChi = item; item KeyPar = parent.
void LinkFirstChild(store::TreeCursor &tree, std::int32_t item, std::int32_t parent);

} // namespace modTree
