#include "store/command_cursor.h"

#include "store/connection.h"
#include "store/sql.h"
#include "store/statement.h"

namespace store {

bool CommandCursor::open(const std::shared_ptr<Connection> &connection)
{
    close();
    if (!connection) {
        m_error = "no connection";
        return false;
    }
    Statement stmt;
    if (!stmt.prepare(connection->handle(), sql::kSelectCommands)) {
        m_error = stmt.error();
        return false;
    }
    for (;;) {
        const auto step = stmt.step();
        if (step == Statement::Step::Done)
            break;
        if (step == Statement::Step::Error) {
            m_error = stmt.error();
            m_rows.clear();
            return false;
        }
        Row &row = m_rows.emplace_back();
        for (std::size_t i = 0; i < row.size(); ++i)
            stmt.columnInto(static_cast<int>(i), row[i]);
    }
    m_open = true;
    m_row = 0;
    return true;
}

void CommandCursor::close()
{
    m_rows.clear();
    m_row = 0;
    m_open = false;
}

bool CommandCursor::moveFirst()
{
    m_row = 0;
    return m_open && !m_rows.empty();
}

bool CommandCursor::moveNext()
{
    if (m_row < m_rows.size())
        ++m_row;
    return m_row < m_rows.size();
}

std::optional<int> CommandCursor::recordCount() const
{
    if (!m_open)
        return std::nullopt;
    return static_cast<int>(m_rows.size());
}

std::optional<Value> CommandCursor::field(Field f) const
{
    if (m_row >= m_rows.size() || fieldIndex(f) >= kCommandFieldCount)
        return std::nullopt;
    return m_rows[m_row][fieldIndex(f)];
}

} // namespace store
