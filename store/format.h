#pragma once

// The store: one SQLite file, "dbPro.mdb", beside the executable.
//
//   CREATE TABLE TbTree (
//     KeyInd INTEGER NOT NULL PRIMARY KEY,   -- the item's key; index "KeyInd"
//     KeyPar INTEGER DEFAULT 0,              -- parent
//     KeyChi INTEGER DEFAULT 0,              -- first child
//     KeyPrw INTEGER DEFAULT 0,              -- previous sibling
//     KeyNxt INTEGER DEFAULT 0,              -- next sibling
//     KeyTxt TEXT,                           -- the item's text, may be Null
//     KeySel INTEGER NOT NULL DEFAULT 0,     -- yes/no: the one selected item
//     Expand INTEGER NOT NULL DEFAULT 0,     -- yes/no: shown open
//     KeyRef INTEGER DEFAULT 0, RefCut INTEGER NOT NULL DEFAULT 0);
//   CREATE INDEX KeySel ON TbTree (KeySel);
//   CREATE INDEX ParNxt ON TbTree (KeyPar, KeyNxt);
//   CREATE TABLE tbCmd (CmdPict TEXT, CmdAbout TEXT);  -- one row per button, rowid order
//
// Rules between the records of TbTree:
//  - 0 means "none" in every link field. The record with key 0 exists but is
//    never part of the tree.
//  - The root is key 1; its KeyPar, KeyPrw and KeyNxt are 0, its KeyChi names
//    the first top-level item (0: the tree is empty).
//  - For every linked item X but the root: KeyPar names the parent, the
//    parent's KeyChi names the first child, and siblings are a doubly linked
//    chain ending in 0 at both ends:
//
//        parent P  (KeyChi = A)
//          |
//          A  <->  B  <->  C          A.KeyPrw = 0, A.KeyNxt = B
//                                     B.KeyPrw = A, B.KeyNxt = C
//                                     C.KeyPrw = B, C.KeyNxt = 0
//                                     A, B, C: KeyPar = P
//
//  - A record whose KeyPar and KeyNxt are both Null is free: the next new item
//    takes it. An unlinked (deleted) item holds 0 there and is not free.
//  - Yes/no fields hold 0 or 1; any other non-zero value reads as True.
//
// Files come from any SQLite tool, so nothing here trusts them: a missing
// record, a Null link or an out-of-range number makes a read fail, never crash.

#include <array>
#include <cstdint>
#include <string_view>

namespace store {

enum class Field : std::uint8_t { KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, Expand, KeyRef, RefCut };
inline constexpr std::size_t kFieldCount = 10;

inline constexpr std::array<std::string_view, kFieldCount> kFieldNames{
    "KeyInd", "KeyPar", "KeyChi", "KeyPrw", "KeyNxt", "KeyTxt", "KeySel", "Expand", "KeyRef", "RefCut"};

constexpr std::string_view fieldName(Field f) { return kFieldNames[static_cast<std::size_t>(f)]; }
constexpr std::size_t fieldIndex(Field f) { return static_cast<std::size_t>(f); }

// Index names of TbTree, as the program makes them current.
inline constexpr std::string_view kIndexKeyInd = "KeyInd";
inline constexpr std::string_view kIndexKeySel = "KeySel";
inline constexpr std::string_view kIndexParNxt = "ParNxt";

// The store's file name, beside the executable.
inline constexpr std::string_view kStoreFileName = "dbPro.mdb";

// Item key of the root; key 0 is "none".
inline constexpr std::int32_t kRootKey = 1;

} // namespace store
