#include "store/change_recorder.h"

#include "store/connection.h"
#include "store/sql.h"
#include "store/statement.h"

// Debian's library has the hook; its header declares it only on request.
#define SQLITE_ENABLE_PREUPDATE_HOOK 1
#include <sqlite3.h>

#include <cstring>

namespace store {

namespace {

bool isLink(Field f)
{
    return f == Field::KeyPar || f == Field::KeyChi || f == Field::KeyPrw || f == Field::KeyNxt;
}

Value valueOf(sqlite3_value *v)
{
    switch (v ? sqlite3_value_type(v) : SQLITE_NULL) {
    case SQLITE_INTEGER:
        return static_cast<std::int64_t>(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return sqlite3_value_double(v);
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        const auto *p = reinterpret_cast<const char *>(sqlite3_value_text(v));
        return std::string(p ? p : "", p ? static_cast<std::size_t>(sqlite3_value_bytes(v)) : 0);
    }
    default:
        return Null{};
    }
}

} // namespace

ChangeRecorder::ChangeRecorder(Connection *connection, std::span<const Field> fields)
{
    if (!connection || !connection->handle())
        return;
    Statement columns;
    if (!columns.prepare(connection->handle(), sql::kTreeColumnOrder))
        return;
    for (const std::string &name : columns.columnNames()) {
        std::optional<Field> field;
        for (const Field f : fields)
            if (sqlite3_stricmp(name.c_str(), std::string(fieldName(f)).c_str()) == 0)
                field = f;
        m_fieldOfColumn.push_back(field);
    }
    m_connection = connection;
    m_complete = true;
    sqlite3_preupdate_hook(connection->handle(), &ChangeRecorder::hook, this);
}

ChangeRecorder::~ChangeRecorder()
{
    if (m_connection && !m_finished)
        sqlite3_preupdate_hook(m_connection->handle(), nullptr, nullptr);
}

void ChangeRecorder::finish()
{
    if (!m_connection || m_finished)
        return;
    m_finished = true;
    sqlite3_preupdate_hook(m_connection->handle(), nullptr, nullptr);
    if (!m_complete || m_changes.empty())
        return;
    Statement read;
    if (!read.prepare(m_connection->handle(), sql::kTreeRecordByRowid)) {
        m_complete = false;
        return;
    }
    Value v;
    for (Change &change : m_changes) {
        read.reset();
        if (!read.bind(1, Value{change.key}) || read.step() != Statement::Step::Row) {
            m_complete = false;
            return;
        }
        for (std::size_t i = 0; i < m_fieldOfColumn.size(); ++i) {
            if (!m_fieldOfColumn[i])
                continue;
            read.columnInto(static_cast<int>(i), v);
            change.after[fieldIndex(*m_fieldOfColumn[i])] = v;
        }
    }
}

void ChangeRecorder::hook(void *self, sqlite3 *db, int op, const char *database, const char *table, long long oldKey,
                          long long newKey)
{
    if (std::strcmp(database, "main") == 0 && sqlite3_stricmp(table, std::string(kTreeTable).c_str()) == 0)
        static_cast<ChangeRecorder *>(self)->record(db, op, oldKey, newKey);
}

std::optional<TreeCursor::Record> ChangeRecorder::readRow(sqlite3 *db, bool newValues) const
{
    TreeCursor::Record row{};
    for (std::size_t i = 0; i < m_fieldOfColumn.size(); ++i) {
        if (!m_fieldOfColumn[i])
            continue;
        sqlite3_value *v = nullptr;
        const int rc = newValues ? sqlite3_preupdate_new(db, static_cast<int>(i), &v)
                                 : sqlite3_preupdate_old(db, static_cast<int>(i), &v);
        if (rc != SQLITE_OK)
            return std::nullopt;
        row[fieldIndex(*m_fieldOfColumn[i])] = valueOf(v);
    }
    return row;
}

void ChangeRecorder::record(sqlite3 *db, int op, long long oldKey, long long newKey)
{
    if (!m_complete)
        return;
    // A deleted record, or one given another key, cannot be put back by
    // writing its fields.
    if (op == SQLITE_DELETE || oldKey != newKey
        || sqlite3_preupdate_count(db) != static_cast<int>(m_fieldOfColumn.size())) {
        m_complete = false;
        return;
    }
    const auto known = m_indexOfKey.find(newKey);
    if (known != m_indexOfKey.end() && m_linksWritten)
        return; // its fields before are kept, its fields after are read at the end
    // Only the fields before the first write are kept, and the mark's moves
    // until the first link is written (which needs each write's fields after).
    const bool needBefore = op == SQLITE_UPDATE;
    auto before = needBefore ? readRow(db, false) : std::nullopt;
    auto after = m_linksWritten ? std::optional<TreeCursor::Record>(TreeCursor::Record{}) : readRow(db, true);
    if (!after || (needBefore && !before)) {
        m_complete = false;
        return;
    }
    if (!m_linksWritten) {
        for (std::size_t i = 0; i < kFieldCount; ++i) {
            const bool changed = !before || (*before)[i] != (*after)[i];
            if (changed && isLink(static_cast<Field>(i)))
                m_linksWritten = true;
        }
        const std::size_t sel = fieldIndex(Field::KeySel);
        const bool marked = toFlag((*after)[sel]).value_or(false);
        if (!m_linksWritten && marked != (before ? toFlag((*before)[sel]).value_or(false) : false))
            m_marks.emplace_back(newKey, marked);
    }
    if (known == m_indexOfKey.end()) {
        m_indexOfKey.emplace(newKey, m_changes.size());
        m_changes.push_back({newKey, std::move(before), std::move(*after)});
    }
}

} // namespace store
