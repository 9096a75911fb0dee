#pragma once

// The store: one SQLite file, "dbPro.mdb", beside the executable.
//
//   TbTree  one record per item: its key KeyInd, the four links KeyPar,
//           KeyChi, KeyPrw, KeyNxt, its text KeyTxt, the yes/no fields KeySel
//           and Expand, and KeyRef, RefCut. Indexes "KeyInd" (the primary
//           key), "KeySel" (KeySel) and "ParNxt" (KeyPar, KeyNxt).
//   tbCmd   one row per toolbar button, in rowid order: CmdPict, CmdAbout.
//
// The columns and indexes are listed once, in kTreeColumns, kCommandColumns
// and kTreeIndexes below; store/sql.h writes the schema and every statement
// out in full, and tests/statements_test.cpp checks them against these tables.
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
//  - At most one record has KeySel true: the selected item.
//  - A record whose KeyPar and KeyNxt are both Null, whose key is neither 0
//    nor 1 and which no other record names in a link is free: the next new
//    item takes it. An unlinked (deleted) item holds 0 there and is not free.
//  - Yes/no fields hold 0 or 1; any other non-zero value reads as True.
//
// Files come from any SQLite tool, so nothing here trusts them: a missing
// record, a Null link or an out-of-range number makes a read fail, never crash.
// store/check.h tells which of these rules a file breaks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace store {

// The fields of TbTree, in the order of kTreeColumns. Count is no field: it
// is how many there are.
enum class Field : std::uint8_t { KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, Expand, KeyRef, RefCut, Count };

// The fields of tbCmd, in the order of kCommandColumns.
enum class CommandField : std::uint8_t { CmdPict, CmdAbout, Count };

template <typename F>
struct Column {
    F field;
    std::string_view name;
    std::string_view declaration; // type and default, as the schema states them
};

inline constexpr std::string_view kTreeTable = "TbTree";
inline constexpr std::string_view kCommandTable = "tbCmd";

inline constexpr std::array kTreeColumns{
    Column<Field>{Field::KeyInd, "KeyInd", "INTEGER NOT NULL PRIMARY KEY"}, // the item's key; the rowid
    Column<Field>{Field::KeyPar, "KeyPar", "INTEGER DEFAULT 0"},            // parent, 0: none
    Column<Field>{Field::KeyChi, "KeyChi", "INTEGER DEFAULT 0"},            // first child, 0: none
    Column<Field>{Field::KeyPrw, "KeyPrw", "INTEGER DEFAULT 0"},            // previous sibling, 0: none
    Column<Field>{Field::KeyNxt, "KeyNxt", "INTEGER DEFAULT 0"},            // next sibling, 0: none
    Column<Field>{Field::KeyTxt, "KeyTxt", "TEXT"},                         // the item's text, may be Null
    Column<Field>{Field::KeySel, "KeySel", "INTEGER NOT NULL DEFAULT 0"},   // yes/no: the selected item
    Column<Field>{Field::Expand, "Expand", "INTEGER NOT NULL DEFAULT 0"},   // yes/no: shown open
    Column<Field>{Field::KeyRef, "KeyRef", "INTEGER DEFAULT 0"},            // reset when a free record is taken
    Column<Field>{Field::RefCut, "RefCut", "INTEGER NOT NULL DEFAULT 0"},   // reset when a free record is taken
};

inline constexpr std::array kCommandColumns{
    Column<CommandField>{CommandField::CmdPict, "CmdPict", "TEXT"},  // picture file name in pic1/ and pic2/
    Column<CommandField>{CommandField::CmdAbout, "CmdAbout", "TEXT"}, // the button's tool tip
};

// The indexes of TbTree by name, as the program makes them current. "KeyInd"
// is the primary key; the others are made by the schema.
struct TreeIndex {
    std::string_view name;
    std::array<Field, 2> fields;
    std::size_t fieldCount;
    bool created; // by a CREATE INDEX of its own
};

inline constexpr std::array kTreeIndexes{
    TreeIndex{"KeyInd", {Field::KeyInd}, 1, false},
    TreeIndex{"KeySel", {Field::KeySel}, 1, true},
    TreeIndex{"ParNxt", {Field::KeyPar, Field::KeyNxt}, 2, true},
};

inline constexpr std::string_view kIndexKeyInd = kTreeIndexes[0].name;
inline constexpr std::string_view kIndexKeySel = kTreeIndexes[1].name;
inline constexpr std::string_view kIndexParNxt = kTreeIndexes[2].name;

inline constexpr std::size_t kFieldCount = kTreeColumns.size();
inline constexpr std::size_t kCommandFieldCount = kCommandColumns.size();

constexpr std::size_t fieldIndex(Field f) { return static_cast<std::size_t>(f); }
constexpr std::size_t fieldIndex(CommandField f) { return static_cast<std::size_t>(f); }
constexpr std::string_view fieldName(Field f) { return kTreeColumns[fieldIndex(f)].name; }
constexpr std::string_view fieldName(CommandField f) { return kCommandColumns[fieldIndex(f)].name; }

namespace format_check {

// Row i describes field i, every field has a row, and no name is taken twice:
// a field added to the enum or a column added to a table without the other
// stops the build here instead of shifting every column after it.
template <typename F, std::size_t N>
constexpr bool rowsMatchFields(const std::array<Column<F>, N> &columns)
{
    if (N != static_cast<std::size_t>(F::Count))
        return false;
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<std::size_t>(columns[i].field) != i || columns[i].name.empty()
            || columns[i].declaration.empty())
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (columns[j].name == columns[i].name)
                return false;
        }
    }
    return true;
}

constexpr bool indexesAreSound()
{
    for (std::size_t i = 0; i < kTreeIndexes.size(); ++i) {
        const TreeIndex &index = kTreeIndexes[i];
        if (index.fieldCount < 1 || index.fieldCount > index.fields.size())
            return false;
        for (std::size_t j = 0; j < index.fieldCount; ++j) {
            if (fieldIndex(index.fields[j]) >= kFieldCount)
                return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (kTreeIndexes[j].name == index.name)
                return false;
        }
    }
    // The primary key is the one index that needs no CREATE INDEX.
    return !kTreeIndexes[0].created && kTreeIndexes[0].fields[0] == Field::KeyInd;
}

} // namespace format_check

static_assert(format_check::rowsMatchFields(kTreeColumns), "kTreeColumns must list every Field once, in order");
static_assert(format_check::rowsMatchFields(kCommandColumns),
              "kCommandColumns must list every CommandField once, in order");
static_assert(format_check::indexesAreSound(), "kTreeIndexes: bad field list or a name taken twice");

// The store's file name, beside the executable.
inline constexpr std::string_view kStoreFileName = "dbPro.mdb";

// Item key of the root; key 0 is "none".
inline constexpr std::int32_t kRootKey = 1;

// The root's text as the tree shows it, whatever its record holds.
inline constexpr std::string_view kRootText = "корень";
// What a text the user empties is stored as: an empty text is never stored.
inline constexpr std::string_view kEmptiedText = "~";

} // namespace store
