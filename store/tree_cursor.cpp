#include "store/tree_cursor.h"

#include "store/connection.h"
#include "store/sql.h"

#include <sqlite3.h>

#include <vector>

namespace store {

bool TreeCursor::open(std::shared_ptr<Connection> connection)
{
    close();
    if (!connection)
        return fail("no connection");
    sqlite3 *db = connection->handle();
    auto prepare = [&](Statement &s, std::string_view text) {
        if (s.prepare(db, text))
            return true;
        m_error = s.error();
        return false;
    };
    bool ok = prepare(m_byKey, sql::kSelectRow) && prepare(m_seekSelected, sql::kSeekSelected)
        && prepare(m_seekParNxt, sql::kSeekParNxt) && prepare(m_seekFree, sql::kSeekFree)
        && prepare(m_insert, sql::kInsertKey) && prepare(m_childLinks, sql::kChildLinks)
        && prepare(m_children, sql::kSelectChildren);
    for (int i = 0; ok && i < IndexCount; ++i)
        ok = prepare(m_first[i], sql::kFirst[i]) && prepare(m_last[i], sql::kLast[i]);
    if (!ok) {
        const std::string reason = m_error;
        close();
        m_error = reason;
        return false;
    }
    m_connection = std::move(connection);
    m_index = ByKeyInd;
    m_error.clear();
    return true;
}

void TreeCursor::close()
{
    m_byKey = {};
    m_seekSelected = {};
    m_seekParNxt = {};
    m_seekFree = {};
    m_first = {};
    m_last = {};
    m_insert = {};
    m_childLinks = {};
    m_children = {};
    m_updates.clear();
    m_updateEach = {};
    m_connection.reset();
    m_current.reset();
    m_index = ByKeyInd;
}

std::string_view TreeCursor::index() const
{
    return kTreeIndexes[m_index].name;
}

bool TreeCursor::setIndex(std::string_view name)
{
    for (int i = 0; i < IndexCount; ++i) {
        if (kTreeIndexes[i].name == name) {
            if (!isOpen())
                return fail("the store is not open");
            m_index = static_cast<Index>(i);
            return true;
        }
    }
    return fail("no index named " + std::string(name));
}

bool TreeCursor::positionOn(std::int32_t key)
{
    return load(key);
}

bool TreeCursor::seek(std::span<const Value> values)
{
    if (!isOpen())
        return fail("the store is not open");
    if (values.size() != kTreeIndexes[m_index].fieldCount) {
        // Like any failed seek: no current record, so nothing can be written by mistake.
        m_current.reset();
        return fail("wrong number of seek values for index " + std::string(index()));
    }

    Statement *stmt = nullptr;
    switch (m_index) {
    case ByKeyInd: {
        const auto k = toKey(values[0]);
        if (!k) {
            m_current.reset();
            return false;
        }
        return load(*k);
    }
    case ByKeySel:
        if (const auto *b = std::get_if<bool>(&values[0]); !b || !*b) {
            m_current.reset();
            return fail("KeySel is sought for True only");
        }
        return seekSelected();
    case ByParNxt:
        stmt = &m_seekParNxt;
        stmt->reset();
        stmt->bind(1, values[0]);
        stmt->bind(2, values[1]);
        break;
    case IndexCount:
        return false;
    }
    return loadFrom(*stmt);
}

bool TreeCursor::seekFree()
{
    if (!isOpen())
        return fail("the store is not open");
    m_seekFree.reset();
    return loadFrom(m_seekFree);
}

bool TreeCursor::seekSelected()
{
    if (!isOpen())
        return fail("the store is not open");
    m_seekSelected.reset();
    return loadFrom(m_seekSelected);
}

bool TreeCursor::moveFirst()
{
    if (!isOpen())
        return fail("the store is not open");
    m_first[m_index].reset();
    return loadFrom(m_first[m_index]);
}

bool TreeCursor::moveLast()
{
    if (!isOpen())
        return fail("the store is not open");
    m_last[m_index].reset();
    return loadFrom(m_last[m_index]);
}

bool TreeCursor::requery()
{
    // Nothing but the current record is held, and it is read afresh.
    return moveFirst();
}

const Value *TreeCursor::current(Field f) const
{
    if (!m_current || fieldIndex(f) >= kFieldCount)
        return nullptr;
    return &m_row[fieldIndex(f)];
}

std::optional<Value> TreeCursor::field(Field f) const
{
    if (const Value *v = current(f))
        return *v;
    return std::nullopt;
}

std::optional<std::int32_t> TreeCursor::key(Field f) const
{
    if (const Value *v = current(f))
        return toKey(*v);
    return std::nullopt;
}

std::optional<bool> TreeCursor::flag(Field f) const
{
    if (const Value *v = current(f))
        return toFlag(*v);
    return std::nullopt;
}

std::optional<std::string> TreeCursor::text(Field f) const
{
    if (const Value *v = current(f))
        return toText(*v);
    return std::nullopt;
}

std::optional<std::string_view> TreeCursor::textView(Field f) const
{
    if (const Value *v = current(f)) {
        if (const auto *s = std::get_if<std::string>(v))
            return std::string_view(*s);
    }
    return std::nullopt;
}

bool TreeCursor::update(Field f, const Value &value)
{
    const std::pair<Field, Value> one[] = {{f, value}};
    return update(std::span<const std::pair<Field, Value>>(one));
}

bool TreeCursor::update(std::span<const std::pair<Field, Value>> values)
{
    if (!m_current)
        return fail("no current record");
    if (m_connection->transactionLost())
        return failWrite("not written: the file rolled the change back");
    if (values.empty())
        return true;
    Statement *stmt = updateStatement(values);
    if (!stmt)
        return false;
    stmt->reset();
    int position = 1;
    for (const auto &[f, v] : values)
        stmt->bind(position++, v);
    stmt->bind(position, *m_current);
    if (!stmt->run())
        return failWrite(stmt->error());
    if (sqlite3_changes(m_connection->handle()) == 0) {
        m_current.reset();
        return fail("the record no longer exists");
    }
    // Read back what the file holds now (column affinity may have converted it).
    return load(*m_current);
}

std::vector<std::pair<std::int64_t, Value>> TreeCursor::childLinks(std::int32_t parent)
{
    std::vector<std::pair<std::int64_t, Value>> links;
    if (!isOpen()) {
        fail("the store is not open");
        return links;
    }
    m_childLinks.reset();
    m_childLinks.bind(1, Value(std::int64_t{parent}));
    for (;;) {
        switch (m_childLinks.step()) {
        case Statement::Step::Row: {
            Value key = Null{};
            Value next = Null{};
            m_childLinks.columnInto(0, key);
            m_childLinks.columnInto(1, next);
            const auto *k = std::get_if<std::int64_t>(&key);
            links.emplace_back(k ? *k : 0, std::move(next));
            continue;
        }
        case Statement::Step::Done:
            m_childLinks.reset();
            return links;
        case Statement::Step::Error:
            failFrom(m_childLinks);
            return {};
        }
    }
}

std::vector<std::pair<std::int64_t, TreeCursor::Record>> TreeCursor::childRecords(std::int32_t parent,
                                                                                   std::size_t limit,
                                                                                   std::size_t textBudget)
{
    std::vector<std::pair<std::int64_t, Record>> records;
    if (!isOpen()) {
        fail("the store is not open");
        return records;
    }
    m_children.reset();
    m_children.bind(1, Value(std::int64_t{parent}));
    std::size_t textBytes = 0;
    while (records.size() < limit && (records.empty() || textBytes <= textBudget)) {
        switch (m_children.step()) {
        case Statement::Step::Row: {
            Record record;
            for (std::size_t i = 0; i < kFieldCount; ++i)
                m_children.columnInto(static_cast<int>(i), record[i]);
            const auto *key = std::get_if<std::int64_t>(&record[fieldIndex(Field::KeyInd)]);
            if (!key)
                continue; // KeyInd is the row's id: always a whole number
            if (const auto *text = std::get_if<std::string>(&record[fieldIndex(Field::KeyTxt)]))
                textBytes += text->size();
            if (m_observer)
                m_observer(*key);
            records.emplace_back(*key, std::move(record));
            continue;
        }
        case Statement::Step::Done:
            m_children.reset();
            return records;
        case Statement::Step::Error:
            failFrom(m_children);
            m_children.reset();
            return {};
        }
    }
    m_children.reset();
    return records;
}

void TreeCursor::positionOnRecord(std::int64_t key, Record record)
{
    m_row = std::move(record);
    m_current = key;
}

bool TreeCursor::updateEach(std::span<const std::int32_t> keys, Field f, const Value &value)
{
    if (!isOpen())
        return fail("the store is not open");
    if (f == Field::KeyInd || fieldIndex(f) >= kFieldCount)
        return fail(f == Field::KeyInd ? "KeyInd is never written" : "no such field");
    if (keys.empty())
        return true;
    if (m_connection->transactionLost())
        return failWrite("not written: the file rolled the change back");
    Statement &stmt = m_updateEach[fieldIndex(f)];
    if (!stmt.isPrepared() && !stmt.prepare(m_connection->handle(), sql::updateEach(f)))
        return failWrite(stmt.error());
    std::string list = "[";
    for (const std::int32_t key : keys) {
        if (list.size() > 1)
            list += ',';
        list += std::to_string(key);
    }
    list += ']';
    stmt.reset();
    stmt.bind(1, Value(std::move(list)));
    stmt.bind(2, value);
    if (!stmt.run())
        return failWrite(stmt.error());
    return !m_current || load(*m_current);
}

bool TreeCursor::addNew(std::int32_t key)
{
    if (!isOpen())
        return fail("the store is not open");
    if (m_connection->transactionLost())
        return failWrite("not written: the file rolled the change back");
    m_insert.reset();
    m_insert.bind(1, std::int64_t{key});
    if (!m_insert.run())
        return failWrite(m_insert.error());
    return load(key);
}

bool TreeCursor::load(std::int64_t rowid)
{
    if (!isOpen())
        return fail("the store is not open");
    m_byKey.reset();
    m_byKey.bind(1, rowid);
    switch (m_byKey.step()) {
    case Statement::Step::Row:
        for (std::size_t i = 0; i < kFieldCount; ++i)
            m_byKey.columnInto(static_cast<int>(i), m_row[i]);
        m_current = rowid;
        m_byKey.reset();
        if (m_observer)
            m_observer(rowid);
        return true;
    case Statement::Step::Done:
        m_current.reset();
        m_byKey.reset();
        return false;
    case Statement::Step::Error:
        break;
    }
    m_current.reset();
    return failFrom(m_byKey);
}

// Runs a statement that yields one KeyInd (or no row, or a Null from min()).
bool TreeCursor::loadFrom(Statement &stmt)
{
    const auto step = stmt.step();
    if (step == Statement::Step::Error) {
        m_current.reset();
        return failFrom(stmt);
    }
    std::optional<std::int64_t> rowid;
    if (step == Statement::Step::Row) {
        Value v;
        stmt.columnInto(0, v);
        if (const auto *n = std::get_if<std::int64_t>(&v))
            rowid = *n;
    }
    stmt.reset();
    if (!rowid) {
        m_current.reset();
        return false;
    }
    return load(*rowid);
}

Statement *TreeCursor::updateStatement(std::span<const std::pair<Field, Value>> values)
{
    std::string id;
    for (const auto &[f, v] : values) {
        if (f == Field::KeyInd || fieldIndex(f) >= kFieldCount) {
            fail(f == Field::KeyInd ? "KeyInd is never written" : "no such field");
            return nullptr;
        }
        id += static_cast<char>('a' + fieldIndex(f));
    }
    if (auto it = m_updates.find(id); it != m_updates.end())
        return &it->second;

    std::vector<Field> fields;
    for (const auto &[f, v] : values)
        fields.push_back(f);
    Statement stmt;
    if (!stmt.prepare(m_connection->handle(), sql::update(fields))) {
        fail(stmt.error());
        return nullptr;
    }
    return &m_updates.emplace(id, std::move(stmt)).first->second;
}

bool TreeCursor::fail(std::string message)
{
    m_error = std::move(message);
    return false;
}

bool TreeCursor::failWrite(std::string message)
{
    if (m_connection)
        m_connection->noteFailure(message);
    return fail(std::move(message));
}

bool TreeCursor::failFrom(const Statement &stmt)
{
    // SQLite refused a statement (not "no such record"): a read that fails
    // inside an action would feed it a wrong link, so it fails the action
    // as a refused write does.
    return failWrite(stmt.error());
}

} // namespace store
