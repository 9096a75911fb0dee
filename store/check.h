#pragma once

#include "store/error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace store {

class Connection;

// What the link checker found: one line per broken rule, each naming the item
// it is about ("item 5: KeyPrw 3 but the previous sibling is 4"), and the
// items it reached from the root.
struct LinkCheck {
    std::vector<std::string> problems;
    // What the file has besides a store that does no harm (a table or an
    // index of another program's): said, not counted as broken.
    std::vector<std::string> notes;
    std::vector<std::int32_t> reachable; // the root first, then depth first in display order
    bool clean() const { return problems.empty(); }
};

// Checks the rules of store/format.h among the records reachable from the
// root, by walking every sibling chain from the root's KeyChi down (without
// recursion, so any depth will do):
//  - the root exists, and its KeyPar, KeyPrw and KeyNxt are 0; record 0 exists;
//  - every link followed is a number (not Null, not text) naming an existing
//    record, or 0;
//  - a parent's KeyChi names an item whose KeyPrw is 0 and whose KeyPar is
//    that parent; every later item of the chain has that KeyPar too;
//  - for A.KeyNxt = B, B.KeyPrw is A;
//  - no chain, and no descent, leads back to an item on the way to it (a
//    cycle), and no item is reached twice;
// and, over the whole table, that at most one record has KeySel true (any
// non-zero value) and that every key is a 32-bit key held by one record.
//
// Reads TbTree once, in one statement, and writes nothing. nullopt (with the
// reason in lastError()) when the table cannot be read; broken links are not
// errors but the result.
std::optional<LinkCheck> checkLinks(Connection &connection);

// The same on the store at path, opened read-only: the file is never created
// or written. Also names what the file holds that a store has not: a trigger
// or a view is a broken rule (a store runs no code, and the program does not
// open a store whose tables have triggers); another table or index is a note.
std::optional<LinkCheck> checkLinks(const std::string &path);

} // namespace store
