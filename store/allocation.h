#pragma once

#include <cstdint>

namespace store {
class TreeCursor;
}

namespace modTree {

// A record for a new item, in no chain, and its key. The first free record
// (KeyPar and KeyNxt both Null, put there by another tool; never key 0 or the
// root, nor a record another record still names in a link) is reused, with
// KeyPar, KeyPrw, KeyNxt, KeyRef, KeyChi reset to 0 and RefCut to False in one
// update, its KeyTxt, KeySel and Expand kept; otherwise a record with the
// largest key plus one is appended, its other fields the table's defaults.
// Works through the cursor given (the program's is modBase::rsTree); on
// return "KeyInd" is current and the cursor is on the new record. 0 when no
// record could be had (the largest key is already the largest a key can be,
// or the file refused the write).
std::int32_t NewItem(store::TreeCursor &tree);

} // namespace modTree
