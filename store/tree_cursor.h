#pragma once

#include "store/format.h"
#include "store/statement.h"
#include "store/value.h"

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace store {

class Connection;

// The cursor on TbTree: one current record (or none), one current index.
//
// Every operation reports success as bool or optional and never throws.
// "Not found" leaves the cursor at end (no current record); reads then fail
// and writes are refused, so a caller that skips a failed step cannot touch
// the wrong record. Reads that fail leave the caller's variable alone: they
// return nullopt instead of a value.
class TreeCursor {
public:
    TreeCursor() = default;
    TreeCursor(const TreeCursor &) = delete;
    TreeCursor &operator=(const TreeCursor &) = delete;

    // Prepares the cursor's statements on TbTree; false when the table or one
    // of its fields is missing (lastError() says which). "KeyInd" is current.
    bool open(std::shared_ptr<Connection> connection);
    void close();
    bool isOpen() const { return m_connection != nullptr; }
    Connection *connection() const { return m_connection.get(); }

    // The current index by name: "KeyInd", "KeySel" or "ParNxt". Changing it
    // keeps the current record. An unknown name is refused.
    std::string_view index() const;
    bool setIndex(std::string_view name);

    // Makes the record whose KeyInd is key current, by key (not by counting),
    // whatever the current index; with no such record there is none current.
    bool positionOn(std::int32_t key);

    // Finds the first record whose current-index fields equal values, the
    // smallest KeyInd among equals. A value may be Null: it matches Null. On
    // "KeySel" the one value sought is bool true, which matches any value that
    // reads as True; any other value is refused. Not found: at end, and false.
    // Needs one value per index field.
    bool seek(std::span<const Value> values);
    bool seek(std::initializer_list<Value> values) { return seek(std::span(values.begin(), values.size())); }

    // Finds the first free record, the smallest key among them: KeyPar and
    // KeyNxt both Null, a key other than 0 and 1, and no other record naming
    // it in KeyPar, KeyChi, KeyPrw or KeyNxt, so that no tree holds it. Reads
    // only records whose KeyPar and KeyNxt are Null. Works in whatever index
    // is current, and keeps it. Not found: at end, and false (lastError()
    // set only when the file could not be read).
    bool seekFree();

    // Makes current the record marked selected: the smallest key whose KeySel
    // reads as True, whatever the current index, which it keeps. Not found:
    // at end, and false.
    bool seekSelected();

    bool atEnd() const { return !m_current.has_value(); }

    // A whole record as the cursor reads it, fields in kTreeColumns order.
    using Record = std::array<Value, kFieldCount>;

    // The first and the last record in the current index's order.
    bool moveFirst();
    bool moveLast();
    // Re-reads the table from the file and stands on the first record.
    bool requery();

    // Field reads of the current record; nullopt when there is none or the
    // value cannot be converted.
    std::optional<Value> field(Field f) const;
    std::optional<std::int32_t> key(Field f) const;
    std::optional<bool> flag(Field f) const;
    std::optional<std::string> text(Field f) const; // nullopt also for Null
    // The text of a text field without a copy, valid until the cursor moves
    // or writes; nullopt for Null or a field that holds no text.
    std::optional<std::string_view> textView(Field f) const;

    // Writes into the current record at once (its own transaction unless a
    // TransactionScope is open). KeyInd is never written.
    bool update(Field f, const Value &value);
    // One update of several fields of the current record.
    bool update(std::span<const std::pair<Field, Value>> values);
    bool update(std::initializer_list<std::pair<Field, Value>> values)
    {
        return update(std::span(values.begin(), values.size()));
    }
    // Writes f = value into every record whose key is listed, in one
    // statement: for a walk that writes each record it passes, where one
    // update a record would cost more than the walk. Keys no record has are
    // skipped. The current record stays current, read again if it was
    // written. False when the file refused the write (nothing is written).
    bool updateEach(std::span<const std::int32_t> keys, Field f, const Value &value);

    // Appends a record with only KeyInd given (the table's defaults fill the
    // rest), in its own transaction unless a TransactionScope is open; the
    // new record becomes current.
    bool addNew(std::int32_t key);

    const std::string &lastError() const { return m_error; }

    // Called with the key of every record the cursor reads from the file, so
    // tests can tell what was read and what was left alone.
    void setLoadObserver(std::function<void(std::int64_t key)> observer) { m_observer = std::move(observer); }

private:
    // The chain reader reads a parent's children through the three below.
    friend class ChildChain;

    // Every record whose KeyPar is parent, each key with its KeyNxt as the
    // file holds it, in one pass over "ParNxt". The cursor does not move.
    // Empty when there are none or the file could not be read.
    std::vector<std::pair<std::int64_t, Value>> childLinks(std::int32_t parent);
    // The records whose KeyPar is parent, whole, each with its key, in one
    // pass over "ParNxt": at most `limit` records and, past the first, no
    // more than textBudget bytes of text in all. The cursor does not move.
    std::vector<std::pair<std::int64_t, Record>> childRecords(std::int32_t parent, std::size_t limit,
                                                              std::size_t textBudget);
    // Makes current a record childRecords read: only inside the read
    // transaction that read it, with nothing written since.
    void positionOnRecord(std::int64_t key, Record record);

    // Positions in kTreeIndexes.
    enum Index { ByKeyInd, ByKeySel, ByParNxt, IndexCount };
    static_assert(IndexCount == kTreeIndexes.size() && kTreeIndexes[ByKeySel].name == "KeySel"
                  && kTreeIndexes[ByParNxt].name == "ParNxt");

    bool load(std::int64_t rowid);
    bool loadFrom(Statement &stmt);
    const Value *current(Field f) const;
    bool fail(std::string message);
    bool failFrom(const Statement &stmt);
    // A statement the file refused: noted on the connection, so the action
    // it belongs to is rolled back whole.
    bool failWrite(std::string message);
    Statement *updateStatement(std::span<const std::pair<Field, Value>> values);

    std::shared_ptr<Connection> m_connection;
    Index m_index = ByKeyInd;
    std::optional<std::int64_t> m_current;
    Record m_row{};

    Statement m_byKey;
    Statement m_seekSelected;
    Statement m_seekParNxt;
    Statement m_seekFree;
    std::array<Statement, IndexCount> m_first;
    std::array<Statement, IndexCount> m_last;
    Statement m_insert;
    Statement m_childLinks;
    Statement m_children;
    std::map<std::string, Statement> m_updates; // by the list of fields, one letter each
    std::array<Statement, kFieldCount> m_updateEach; // by field, prepared on first use
    std::string m_error;
    std::function<void(std::int64_t)> m_observer;
};

} // namespace store
