#pragma once

// Every SQL text of the store, beside the tables of store/format.h. The schema
// and every statement that lists columns are made at compile time from those
// tables; the few written out by hand are checked at compile time to use no
// name the tables do not have. Every statement names its columns, so a file
// whose table has extra or reordered columns still works. Values are always
// bound (?1, ?2, ...), never part of a text; the only text made at run time
// is an update's SET list, from field names.

#include "store/format.h"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace store::sql {

// A text made at compile time, NUL-terminated for the C API.
template <std::size_t N>
struct Text {
    std::array<char, N + 1> chars{};
    constexpr const char *c_str() const { return chars.data(); }
    constexpr operator std::string_view() const { return {chars.data(), N}; }
};

// Runs make at compile time and keeps what it returns in a Text of its size.
template <std::string (*make)()>
consteval auto fixed()
{
    constexpr std::size_t size = make().size();
    Text<size> text;
    const std::string made = make();
    for (std::size_t i = 0; i < size; ++i)
        text.chars[i] = made[i];
    return text;
}

// The fields a whole item is written with when a tree is made in one go (an
// import); the table's defaults fill the rest.
inline constexpr std::array kWholeItemFields{Field::KeyInd, Field::KeyPar, Field::KeyChi, Field::KeyPrw,
                                             Field::KeyNxt, Field::KeyTxt, Field::KeySel, Field::Expand};

// The fields the link checker reads, in this column order.
inline constexpr std::array kCheckFields{Field::KeyInd, Field::KeyPar, Field::KeyChi,
                                         Field::KeyPrw, Field::KeyNxt, Field::KeySel};

namespace make {

// std::to_string is no constexpr.
constexpr std::string number(std::size_t n)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + n % 10));
        n /= 10;
    } while (n != 0);
    return digits;
}

template <typename F, std::size_t N>
constexpr std::string names(const std::array<Column<F>, N> &columns)
{
    std::string out;
    for (const auto &column : columns) {
        if (!out.empty())
            out += ", ";
        out += column.name;
    }
    return out;
}

constexpr std::string names(std::span<const Field> fields, std::string_view suffix = {})
{
    std::string out;
    for (const Field f : fields) {
        if (!out.empty())
            out += ", ";
        out += fieldName(f);
        out += suffix;
    }
    return out;
}

constexpr std::string parameters(std::size_t count)
{
    std::string out;
    for (std::size_t i = 1; i <= count; ++i) {
        if (i > 1)
            out += ", ";
        out += "?" + number(i);
    }
    return out;
}

constexpr std::string schema()
{
    std::string out = "CREATE TABLE " + std::string(kTreeTable) + " (\n";
    for (std::size_t i = 0; i < kTreeColumns.size(); ++i) {
        out += "  " + std::string(kTreeColumns[i].name) + " " + std::string(kTreeColumns[i].declaration);
        out += i + 1 < kTreeColumns.size() ? ",\n" : ");\n";
    }
    for (const TreeIndex &index : kTreeIndexes) {
        if (index.created)
            out += "CREATE INDEX " + std::string(index.name) + " ON " + std::string(kTreeTable) + " ("
                + names(std::span(index.fields.data(), index.fieldCount)) + ");\n";
    }
    out += "CREATE TABLE " + std::string(kCommandTable) + " (";
    for (std::size_t i = 0; i < kCommandColumns.size(); ++i) {
        out += std::string(kCommandColumns[i].name) + " " + std::string(kCommandColumns[i].declaration);
        out += i + 1 < kCommandColumns.size() ? ", " : ");\n";
    }
    return out;
}

constexpr std::string selectRow()
{
    return "SELECT " + names(kTreeColumns) + " FROM " + std::string(kTreeTable) + " WHERE "
        + std::string(fieldName(Field::KeyInd)) + " = ?1";
}

constexpr std::string selectChildren()
{
    return "SELECT " + names(kTreeColumns) + " FROM " + std::string(kTreeTable) + " WHERE "
        + std::string(fieldName(Field::KeyPar)) + " = ?1";
}

// The first (or last) record in an index's order; equal index values are
// ordered by key.
template <std::size_t I, bool Last>
constexpr std::string inOrder()
{
    const TreeIndex &index = kTreeIndexes[I];
    const std::string_view direction = Last ? " DESC" : "";
    std::string order = names(std::span(index.fields.data(), index.fieldCount), direction);
    if (index.fields[index.fieldCount - 1] != Field::KeyInd)
        order += ", " + names(std::array{Field::KeyInd}, direction);
    return "SELECT " + std::string(fieldName(Field::KeyInd)) + " FROM " + std::string(kTreeTable) + " ORDER BY "
        + order + " LIMIT 1";
}

// The smallest key whose index fields equal the bound values; IS, so that a
// Null value finds Null.
template <std::size_t I>
constexpr std::string seekOn()
{
    const TreeIndex &index = kTreeIndexes[I];
    std::string where;
    for (std::size_t i = 0; i < index.fieldCount; ++i) {
        if (i)
            where += " AND ";
        where += std::string(fieldName(index.fields[i])) + " IS ?" + number(i + 1);
    }
    const std::string key(fieldName(Field::KeyInd));
    return "SELECT " + key + " FROM " + std::string(kTreeTable) + " WHERE " + where + " ORDER BY " + key + " LIMIT 1";
}

constexpr std::string selectCommands()
{
    return "SELECT " + names(kCommandColumns) + " FROM " + std::string(kCommandTable) + " ORDER BY rowid";
}

constexpr std::string insertCommand()
{
    return "INSERT INTO " + std::string(kCommandTable) + " (" + names(kCommandColumns) + ") VALUES ("
        + parameters(kCommandColumns.size()) + ")";
}

constexpr std::string insertWholeItem()
{
    return "INSERT INTO " + std::string(kTreeTable) + " (" + names(kWholeItemFields) + ") VALUES ("
        + parameters(kWholeItemFields.size()) + ")";
}

// Every record whole: what a dump or a search for deleted branches reads.
constexpr std::string readAll()
{
    return "SELECT " + names(kTreeColumns) + " FROM " + std::string(kTreeTable);
}

constexpr std::string checkRead()
{
    return "SELECT " + names(kCheckFields) + " FROM " + std::string(kTreeTable);
}

constexpr std::size_t indexNamed(std::string_view name)
{
    std::size_t i = 0;
    while (i < kTreeIndexes.size() && kTreeIndexes[i].name != name)
        ++i;
    return i; // past the end, which no caller can index, when there is none
}

} // namespace make

// ---------------------------------------------------------------- the schema

// The tables and indexes of a new store, as one script.
inline constexpr auto kSchema = fixed<&make::schema>();

// ---------------------------------------------------------------- TbTree

// Every field of one record, in kTreeColumns order.
inline constexpr auto kSelectRow = fixed<&make::selectRow>();
// Every field of every record naming ?1 as its parent (through "ParNxt").
inline constexpr auto kSelectChildren = fixed<&make::selectChildren>();

template <std::size_t I, bool Last>
inline constexpr auto kInOrderText = fixed<&make::inOrder<I, Last>>();

namespace make {
template <bool Last, std::size_t... I>
constexpr std::array<std::string_view, sizeof...(I)> inOrderTexts(std::index_sequence<I...>)
{
    return {std::string_view(kInOrderText<I, Last>)...};
}
} // namespace make

// By position in kTreeIndexes: the first and the last record in that order.
inline constexpr auto kFirst = make::inOrderTexts<false>(std::make_index_sequence<kTreeIndexes.size()>{});
inline constexpr auto kLast = make::inOrderTexts<true>(std::make_index_sequence<kTreeIndexes.size()>{});

inline constexpr auto kSeekParNxt = fixed<&make::seekOn<make::indexNamed("ParNxt")>>();

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

// A record with only its key given; the table's defaults fill the rest.
inline constexpr std::string_view kInsertKey = "INSERT INTO TbTree (KeyInd) VALUES (?1)";

// One update of the listed fields of the record with the key bound last.
constexpr std::string update(std::span<const Field> fields)
{
    std::string out = "UPDATE " + std::string(kTreeTable) + " SET ";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            out += ", ";
        out += std::string(fieldName(fields[i])) + " = ?" + make::number(i + 1);
    }
    return out + " WHERE " + std::string(fieldName(Field::KeyInd)) + " = ?" + make::number(fields.size() + 1);
}

// The key and next link of every child of the parent bound as ?1, straight
// off the "ParNxt" index.
inline constexpr std::string_view kChildLinks = "SELECT KeyInd, KeyNxt FROM TbTree WHERE KeyPar = ?1";

// One update of a field of every record whose key is in the JSON array bound
// as ?1 (keys made by the program, never text from a file or a user).
constexpr std::string updateEach(Field f)
{
    return "UPDATE " + std::string(kTreeTable) + " SET " + std::string(fieldName(f)) + " = ?2 WHERE "
        + std::string(fieldName(Field::KeyInd)) + " IN (SELECT value FROM json_each(?1))";
}

// Keys and links of every record, and KeySel, in kCheckFields order: the link
// checker's one read.
inline constexpr auto kCheckRead = fixed<&make::checkRead>();
inline constexpr auto kReadAll = fixed<&make::readAll>();
inline constexpr auto kInsertWholeItem = fixed<&make::insertWholeItem>();

// ---------------------------------------------------------------- tbCmd

inline constexpr auto kSelectCommands = fixed<&make::selectCommands>();
inline constexpr auto kInsertCommand = fixed<&make::insertCommand>();

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

// ---------------------------------------------------------------- checks

namespace check {

// Words a statement may use besides the names of format.h: SQL, the
// functions and settings used, and the aliases of kSeekSelected and kSeekFree.
// A name in neither list (a misspelt column, say) stops the build.
inline constexpr std::string_view kWords[] = {
    "SELECT", "FROM",   "WHERE", "AND",     "OR",      "NOT",     "IS",     "NULL",     "ORDER",     "BY",
    "LIMIT",  "DESC",   "AS",    "UNION",   "ALL",     "EXISTS",  "IN",     "INSERT",   "INTO",      "VALUES",
    "UPDATE", "SET",    "CREATE", "TABLE",  "INDEX",   "ON",      "INTEGER", "TEXT",    "DEFAULT",   "PRIMARY",
    "KEY",    "PRAGMA", "BEGIN", "IMMEDIATE", "COMMIT", "ROLLBACK", "min",   "rowid",   "journal_mode", "DELETE",
    "synchronous", "FULL", "data_version", "user_version", "count", "sqlite_schema", "name", "tbl_name", "type",
    "COLLATE", "NOCASE", "page_count", "k",  "Free",    "Other",  "json_each", "value",
};

constexpr bool isKnown(std::string_view word)
{
    for (const auto w : kWords)
        if (w == word)
            return true;
    for (const auto &c : kTreeColumns)
        if (c.name == word)
            return true;
    for (const auto &c : kCommandColumns)
        if (c.name == word)
            return true;
    for (const auto &index : kTreeIndexes)
        if (index.name == word)
            return true;
    return word == kTreeTable || word == kCommandTable;
}

constexpr bool isWordChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// True when every name in sql is known; numbers and ?N parameters are skipped.
// No statement holds a quoted string: values are bound.
constexpr bool namesAreKnown(std::string_view sql)
{
    std::size_t i = 0;
    while (i < sql.size()) {
        if (sql[i] == '\'')
            return false;
        if (!isWordChar(sql[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < sql.size() && isWordChar(sql[end]))
            ++end;
        const std::string_view word = sql.substr(i, end - i);
        const bool number = word[0] >= '0' && word[0] <= '9';
        if (!number && !isKnown(word))
            return false;
        i = end;
    }
    return true;
}

constexpr bool allNamesKnown()
{
    const std::string_view texts[] = {
        kSchema,         kSelectRow,      kSelectChildren, kSeekParNxt,  kSeekSelected,    kSeekFree, kInsertKey,
        kChildLinks,     kCheckRead,      kReadAll,        kInsertWholeItem, kSelectCommands, kInsertCommand,
        kJournalDelete,  kSynchronousFull, kDataVersion,   kBegin,       kBeginImmediate,  kCommit,   kRollback, kProbeWrite, kFirstRead, kTriggersOnTables,
        kSchemaObjects, kPageCount};
    for (const auto text : texts)
        if (!namesAreKnown(text))
            return false;
    for (const auto text : kFirst)
        if (!namesAreKnown(text))
            return false;
    for (const auto text : kLast)
        if (!namesAreKnown(text))
            return false;
    return namesAreKnown(update(std::array{Field::KeyPar, Field::RefCut})) && namesAreKnown(updateEach(Field::Expand));
}

} // namespace check

static_assert(check::allNamesKnown(), "an SQL text of the store names something format.h does not have");

} // namespace store::sql

namespace store {

// The table definitions of a store, as one SQL script (for tools and tests
// that make stores of their own).
inline constexpr const char *kSchemaSql = sql::kSchema.c_str();

} // namespace store
