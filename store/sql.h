#pragma once

// Every SQL text of the store, written out beside the table it reads. The
// names are those of store/format.h; tests/statements_test.cpp prepares each
// statement against a new store and checks its columns against the tables of
// format.h, so a misspelt name or a column out of order fails there. Every
// statement names its columns, so a file whose table has extra or reordered
// columns still works. Values are always bound (?1, ?2, ...), never part of a
// text; the only text made at run time is an update's SET list, from field
// names.

#include "store/format.h"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace store {

// ---------------------------------------------------------------- the schema

// The tables and indexes of a new store, as one script (also for tools and
// tests that make stores of their own). SQLite keeps each CREATE text as it is
// written here, so a change shows in the schema of every new store.
inline constexpr const char *kSchemaSql = "CREATE TABLE TbTree (\n"
                                          "  KeyInd INTEGER NOT NULL PRIMARY KEY,\n"
                                          "  KeyPar INTEGER DEFAULT 0,\n"
                                          "  KeyChi INTEGER DEFAULT 0,\n"
                                          "  KeyPrw INTEGER DEFAULT 0,\n"
                                          "  KeyNxt INTEGER DEFAULT 0,\n"
                                          "  KeyTxt TEXT,\n"
                                          "  KeySel INTEGER NOT NULL DEFAULT 0,\n"
                                          "  Expand INTEGER NOT NULL DEFAULT 0,\n"
                                          "  KeyRef INTEGER DEFAULT 0,\n"
                                          "  RefCut INTEGER NOT NULL DEFAULT 0);\n"
                                          "CREATE INDEX KeySel ON TbTree (KeySel);\n"
                                          "CREATE INDEX ParNxt ON TbTree (KeyPar, KeyNxt);\n"
                                          "CREATE TABLE tbCmd (CmdPict TEXT, CmdAbout TEXT);\n";

} // namespace store

namespace store::sql {

// ---------------------------------------------------------------- TbTree

// Every field of one record, in kTreeColumns order.
inline constexpr std::string_view kSelectRow = "SELECT KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, "
                                               "Expand, KeyRef, RefCut FROM TbTree WHERE KeyInd = ?1";

// Every column of TbTree, none of its rows: the order the file declares its
// columns in, which a file from another tool need not share with kTreeColumns.
inline constexpr const char *kTreeColumnOrder = "SELECT * FROM TbTree LIMIT 0";
// One record, its columns in that order, by the row id SQLite's hooks name.
inline constexpr const char *kTreeRecordByRowid = "SELECT * FROM TbTree WHERE rowid = ?1";

// Every field of every record naming ?1 as its parent (through "ParNxt").
inline constexpr std::string_view kSelectChildren = "SELECT KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, "
                                                    "Expand, KeyRef, RefCut FROM TbTree WHERE KeyPar = ?1";

// Every record whole, in kTreeColumns order: what a dump or a search for
// deleted branches reads.
inline constexpr std::string_view kReadAll =
    "SELECT KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, Expand, KeyRef, RefCut FROM TbTree";
// The same records with just what the tree's order and texts need.
inline constexpr std::string_view kReadOrderAndTexts = "SELECT KeyInd, KeyChi, KeyNxt, KeyTxt FROM TbTree";
// ... from row id ?1 to ?2 in row id order, at most ?3 of them.
inline constexpr std::string_view kReadOrderAndTextsChunk = "SELECT rowid, KeyInd, KeyChi, KeyNxt, KeyTxt FROM TbTree "
                                                            "WHERE rowid BETWEEN ?1 AND ?2 ORDER BY rowid LIMIT ?3";
// Each on its own, so each is one look into the row id order, not a scan.
inline constexpr std::string_view kTreeRowidRange
    = "SELECT (SELECT min(rowid) FROM TbTree), (SELECT max(rowid) FROM TbTree)";

// By position in kTreeIndexes: the key of the first and of the last record in
// that index's order; equal index values are ordered by key.
inline constexpr std::array<std::string_view, 3> kFirst{
    "SELECT KeyInd FROM TbTree ORDER BY KeyInd LIMIT 1",
    "SELECT KeyInd FROM TbTree ORDER BY KeySel, KeyInd LIMIT 1",
    "SELECT KeyInd FROM TbTree ORDER BY KeyPar, KeyNxt, KeyInd LIMIT 1",
};
inline constexpr std::array<std::string_view, 3> kLast{
    "SELECT KeyInd FROM TbTree ORDER BY KeyInd DESC LIMIT 1",
    "SELECT KeyInd FROM TbTree ORDER BY KeySel DESC, KeyInd DESC LIMIT 1",
    "SELECT KeyInd FROM TbTree ORDER BY KeyPar DESC, KeyNxt DESC, KeyInd DESC LIMIT 1",
};
static_assert(kFirst.size() == kTreeIndexes.size() && kLast.size() == kTreeIndexes.size());

// The smallest key whose KeyPar and KeyNxt are ?1 and ?2 ("ParNxt"); IS, so
// that a Null value finds Null.
inline constexpr std::string_view kSeekParNxt =
    "SELECT KeyInd FROM TbTree WHERE KeyPar IS ?1 AND KeyNxt IS ?2 ORDER BY KeyInd LIMIT 1";

// The smallest key whose KeySel reads as True: any non-zero value (text sorts
// above every number). Both ranges come straight off the KeySel index.
inline constexpr std::string_view kSeekSelected =
    "SELECT min(k) FROM (SELECT KeyInd AS k FROM TbTree WHERE KeySel > 0 "
    "UNION ALL SELECT KeyInd FROM TbTree WHERE KeySel < 0)";

// The first free record: KeyPar and KeyNxt Null (found on "ParNxt", in key
// order), neither key 0 nor the root, and named in no link of any other
// record. Only the few records with both links Null get the costly NOT EXISTS
// test; the unary + keeps the key test off the primary key, so the planner
// cannot choose to walk the whole table in key order instead.
inline constexpr std::string_view kSeekFree =
    "SELECT KeyInd FROM TbTree AS Free WHERE KeyPar IS NULL AND KeyNxt IS NULL AND +KeyInd NOT IN (0, 1) "
    "AND NOT EXISTS (SELECT 1 FROM TbTree AS Other WHERE Other.KeyInd <> Free.KeyInd "
    "AND (Other.KeyPar = Free.KeyInd OR Other.KeyChi = Free.KeyInd OR Other.KeyPrw = Free.KeyInd "
    "OR Other.KeyNxt = Free.KeyInd)) "
    "ORDER BY KeyInd LIMIT 1";

// The key and next link of every child of the parent bound as ?1, straight
// off the "ParNxt" index.
inline constexpr std::string_view kChildLinks = "SELECT KeyInd, KeyNxt FROM TbTree WHERE KeyPar = ?1";

// A record with only its key given; the table's defaults fill the rest.
inline constexpr std::string_view kInsertKey = "INSERT INTO TbTree (KeyInd) VALUES (?1)";

// The fields a whole item is written with when a tree is made in one go (an
// import), bound in this order to kInsertWholeItem; the table's defaults fill
// the rest.
inline constexpr std::array kWholeItemFields{Field::KeyInd, Field::KeyPar, Field::KeyChi, Field::KeyPrw,
                                             Field::KeyNxt, Field::KeyTxt, Field::KeySel, Field::Expand};
inline constexpr std::string_view kInsertWholeItem =
    "INSERT INTO TbTree (KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, Expand) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";

// Keys and links of every record, and KeySel, in kCheckFields order: the link
// checker's one read.
inline constexpr std::array kCheckFields{Field::KeyInd, Field::KeyPar, Field::KeyChi,
                                         Field::KeyPrw, Field::KeyNxt, Field::KeySel};
inline constexpr std::string_view kCheckRead = "SELECT KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeySel FROM TbTree";

// One update of the listed fields of the record with the key bound last.
inline std::string update(std::span<const Field> fields)
{
    std::string out = "UPDATE TbTree SET ";
    for (std::size_t i = 0; i < fields.size(); ++i)
        out += std::string(i ? ", " : "") + std::string(fieldName(fields[i])) + " = ?" + std::to_string(i + 1);
    return out + " WHERE KeyInd = ?" + std::to_string(fields.size() + 1);
}

// One update of a field of every record whose key is in the JSON array bound
// as ?1 (keys made by the program, never text from a file or a user).
inline std::string updateEach(Field f)
{
    return "UPDATE TbTree SET " + std::string(fieldName(f)) + " = ?2 WHERE KeyInd IN (SELECT value FROM json_each(?1))";
}

// ---------------------------------------------------------------- tbCmd

// Every toolbar row, in kCommandColumns order, in the toolbar's order.
inline constexpr std::string_view kSelectCommands = "SELECT CmdPict, CmdAbout FROM tbCmd ORDER BY rowid";
// One toolbar row, its fields bound in kCommandColumns order.
inline constexpr std::string_view kInsertCommand = "INSERT INTO tbCmd (CmdPict, CmdAbout) VALUES (?1, ?2)";

// ---------------------------------------------------------------- the connection

// Rollback journal: the main file alone holds every finished change.
inline constexpr const char *kJournalDelete = "PRAGMA journal_mode=DELETE";
inline constexpr const char *kSynchronousFull = "PRAGMA synchronous=FULL";
// A number that changes when another connection (another program) commits.
inline constexpr const char *kDataVersion = "PRAGMA data_version";
inline constexpr const char *kBegin = "BEGIN";
// Takes the write lock at once.
inline constexpr const char *kBeginImmediate = "BEGIN IMMEDIATE";
inline constexpr const char *kCommit = "COMMIT";
inline constexpr const char *kRollback = "ROLLBACK";
// A write that touches only the file's header, for finding out whether the
// file and its journal can be written; always rolled back.
inline constexpr const char *kProbeWrite = "PRAGMA user_version = 0";
// A first read, which makes SQLite roll back a journal a crash left behind.
inline constexpr const char *kFirstRead = "SELECT count(*) FROM sqlite_schema";
// The triggers on the store's two tables (?1 "trigger", ?2 and ?3 the tables):
// a store runs none of them.
inline constexpr const char *kTriggersOnTables =
    "SELECT name, tbl_name FROM sqlite_schema WHERE type = ?1 AND (tbl_name = ?2 COLLATE NOCASE OR tbl_name = ?3 "
    "COLLATE NOCASE) ORDER BY name";
// Every object of the file, for the checker to name those a store does not
// have.
inline constexpr const char *kSchemaObjects = "SELECT type, name, tbl_name FROM sqlite_schema ORDER BY rowid";
// Pages in the file: what a reading tool's work is measured against.
inline constexpr const char *kPageCount = "PRAGMA page_count";

} // namespace store::sql
