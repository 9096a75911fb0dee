#include "store/tree_cursor.h"

#include "store/connection.h"

#include <sqlite3.h>

namespace store {

namespace {

// Every statement names its columns, so a file whose table has extra or
// reordered columns still works.
constexpr std::string_view kSelectByKey =
    "SELECT KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, Expand, KeyRef, RefCut "
    "FROM TbTree WHERE KeyInd = ?1";
// True is any non-zero value; both ranges come straight off the KeySel index.
constexpr std::string_view kSeekSelectedTrue =
    "SELECT min(k) FROM (SELECT KeyInd AS k FROM TbTree WHERE KeySel > 0 "
    "UNION ALL SELECT KeyInd FROM TbTree WHERE KeySel < 0)";
constexpr std::string_view kSeekSelected = "SELECT KeyInd FROM TbTree WHERE KeySel IS ?1 ORDER BY KeyInd LIMIT 1";
constexpr std::string_view kSeekParNxt =
    "SELECT KeyInd FROM TbTree WHERE KeyPar IS ?1 AND KeyNxt IS ?2 ORDER BY KeyInd LIMIT 1";
constexpr std::array<std::string_view, 3> kFirst{
    "SELECT KeyInd FROM TbTree ORDER BY KeyInd LIMIT 1",
    "SELECT KeyInd FROM TbTree ORDER BY KeySel, KeyInd LIMIT 1",
    "SELECT KeyInd FROM TbTree ORDER BY KeyPar, KeyNxt, KeyInd LIMIT 1",
};
constexpr std::array<std::string_view, 3> kLast{
    "SELECT KeyInd FROM TbTree ORDER BY KeyInd DESC LIMIT 1",
    "SELECT KeyInd FROM TbTree ORDER BY KeySel DESC, KeyInd DESC LIMIT 1",
    "SELECT KeyInd FROM TbTree ORDER BY KeyPar DESC, KeyNxt DESC, KeyInd DESC LIMIT 1",
};
constexpr std::string_view kInsert = "INSERT INTO TbTree (KeyInd) VALUES (?1)";

constexpr std::array<std::string_view, 3> kIndexNames{kIndexKeyInd, kIndexKeySel, kIndexParNxt};
constexpr std::array<std::size_t, 3> kIndexFieldCount{1, 1, 2};

} // namespace

bool TreeCursor::open(std::shared_ptr<Connection> connection)
{
    close();
    if (!connection)
        return fail("no connection");
    sqlite3 *db = connection->handle();
    auto prepare = [&](Statement &s, std::string_view sql) {
        if (s.prepare(db, sql))
            return true;
        m_error = s.error();
        return false;
    };
    bool ok = prepare(m_byKey, kSelectByKey) && prepare(m_seekSelTrue, kSeekSelectedTrue)
        && prepare(m_seekSel, kSeekSelected) && prepare(m_seekParNxt, kSeekParNxt) && prepare(m_insert, kInsert);
    for (int i = 0; ok && i < IndexCount; ++i)
        ok = prepare(m_first[i], kFirst[i]) && prepare(m_last[i], kLast[i]);
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
    m_seekSelTrue = {};
    m_seekSel = {};
    m_seekParNxt = {};
    m_first = {};
    m_last = {};
    m_insert = {};
    m_updates.clear();
    m_connection.reset();
    m_current.reset();
    m_index = ByKeyInd;
}

std::string_view TreeCursor::index() const
{
    return kIndexNames[m_index];
}

bool TreeCursor::setIndex(std::string_view name)
{
    for (int i = 0; i < IndexCount; ++i) {
        if (kIndexNames[i] == name) {
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
    if (values.size() != kIndexFieldCount[m_index]) {
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
        if (const auto *b = std::get_if<bool>(&values[0]); b && *b) {
            stmt = &m_seekSelTrue;
            stmt->reset();
        } else {
            stmt = &m_seekSel;
            stmt->reset();
            stmt->bind(1, values[0]);
        }
        break;
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

std::optional<Value> TreeCursor::field(Field f) const
{
    if (!m_current)
        return std::nullopt;
    return m_row[fieldIndex(f)];
}

std::optional<std::int32_t> TreeCursor::key(Field f) const
{
    if (!m_current)
        return std::nullopt;
    return toKey(m_row[fieldIndex(f)]);
}

std::optional<bool> TreeCursor::flag(Field f) const
{
    if (!m_current)
        return std::nullopt;
    return toFlag(m_row[fieldIndex(f)]);
}

std::optional<std::string> TreeCursor::text(Field f) const
{
    if (!m_current)
        return std::nullopt;
    return toText(m_row[fieldIndex(f)]);
}

std::optional<std::string_view> TreeCursor::textView(Field f) const
{
    if (!m_current)
        return std::nullopt;
    if (const auto *s = std::get_if<std::string>(&m_row[fieldIndex(f)]))
        return std::string_view(*s);
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
        return failFrom(*stmt);
    if (sqlite3_changes(m_connection->handle()) == 0) {
        m_current.reset();
        return fail("the record no longer exists");
    }
    // Read back what the file holds now (column affinity may have converted it).
    return load(*m_current);
}

bool TreeCursor::addNew(std::int32_t key)
{
    if (!isOpen())
        return fail("the store is not open");
    m_insert.reset();
    m_insert.bind(1, std::int64_t{key});
    if (!m_insert.run())
        return failFrom(m_insert);
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
        const Value v = stmt.column(0);
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
        if (f == Field::KeyInd) {
            fail("KeyInd is never written");
            return nullptr;
        }
        id += static_cast<char>('a' + fieldIndex(f));
    }
    if (auto it = m_updates.find(id); it != m_updates.end())
        return &it->second;

    // Field names come from the fixed list in format.h, never from data.
    std::string sql = "UPDATE TbTree SET ";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i)
            sql += ", ";
        sql += fieldName(values[i].first);
        sql += " = ?" + std::to_string(i + 1);
    }
    sql += " WHERE KeyInd = ?" + std::to_string(values.size() + 1);
    Statement stmt;
    if (!stmt.prepare(m_connection->handle(), sql)) {
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

bool TreeCursor::failFrom(const Statement &stmt)
{
    return fail(stmt.error());
}

} // namespace store
