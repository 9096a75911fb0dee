#include "store/statement.h"

#include <sqlite3.h>

#include <utility>

namespace store {

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement::Statement(Statement &&other) noexcept
    : m_stmt(std::exchange(other.m_stmt, nullptr)), m_db(std::exchange(other.m_db, nullptr)),
      m_error(std::move(other.m_error))
{
}

Statement &Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_stmt = std::exchange(other.m_stmt, nullptr);
        m_db = std::exchange(other.m_db, nullptr);
        m_error = std::move(other.m_error);
    }
    return *this;
}

bool Statement::prepare(sqlite3 *db, std::string_view sql)
{
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_db = db;
    if (!db) {
        m_error = "no connection";
        return false;
    }
    if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &m_stmt,
                           nullptr)
        != SQLITE_OK) {
        noteError();
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        return false;
    }
    m_error.clear();
    return true;
}

void Statement::reset()
{
    if (m_stmt)
        sqlite3_reset(m_stmt);
}

bool Statement::bind(int position, const Value &value)
{
    if (!m_stmt)
        return false;
    int rc = SQLITE_OK;
    if (std::holds_alternative<Null>(value))
        rc = sqlite3_bind_null(m_stmt, position);
    else if (const auto *n = std::get_if<std::int64_t>(&value))
        rc = sqlite3_bind_int64(m_stmt, position, *n);
    else if (const auto *d = std::get_if<double>(&value))
        rc = sqlite3_bind_double(m_stmt, position, *d);
    else if (const auto *b = std::get_if<bool>(&value))
        rc = sqlite3_bind_int64(m_stmt, position, *b ? 1 : 0);
    else if (const auto *s = std::get_if<std::string>(&value))
        rc = sqlite3_bind_text64(m_stmt, position, s->data(), s->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK) {
        noteError();
        return false;
    }
    return true;
}

Statement::Step Statement::step()
{
    if (!m_stmt)
        return Step::Error;
    switch (sqlite3_step(m_stmt)) {
    case SQLITE_ROW:
        return Step::Row;
    case SQLITE_DONE:
        return Step::Done;
    default:
        noteError();
        sqlite3_reset(m_stmt);
        return Step::Error;
    }
}

bool Statement::run()
{
    const Step s = step();
    reset();
    return s == Step::Done;
}

void Statement::columnInto(int i, Value &v) const
{
    switch (sqlite3_column_type(m_stmt, i)) {
    case SQLITE_INTEGER:
        v = static_cast<std::int64_t>(sqlite3_column_int64(m_stmt, i));
        return;
    case SQLITE_FLOAT:
        v = sqlite3_column_double(m_stmt, i);
        return;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, i));
        const auto n = static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, i));
        if (auto *s = std::get_if<std::string>(&v))
            s->assign(p ? p : "", p ? n : 0);
        else
            v = std::string(p ? p : "", p ? n : 0);
        return;
    }
    default:
        v = Null{};
        return;
    }
}

std::vector<std::string> Statement::columnNames() const
{
    std::vector<std::string> names;
    for (int i = 0; m_stmt && i < sqlite3_column_count(m_stmt); ++i) {
        const char *name = sqlite3_column_name(m_stmt, i);
        names.emplace_back(name ? name : "");
    }
    return names;
}

void Statement::noteError()
{
    m_error = m_db ? sqlite3_errmsg(m_db) : "no connection";
    // Only a reading connection's work budget interrupts a statement.
    if (m_db && sqlite3_errcode(m_db) == SQLITE_INTERRUPT)
        m_error = "reading it took more work than a store of its size can need (a file made to keep its reader "
                  "busy?)";
}

} // namespace store
