#include "store/connection.h"

#include <sqlite3.h>

namespace store {

Connection::Connection(sqlite3 *db, std::string path) : m_db(db), m_path(std::move(path)) {}

Connection::~Connection()
{
    sqlite3_close_v2(m_db);
}

std::shared_ptr<Connection> Connection::open(const std::string &path, std::string *error)
{
    sqlite3 *db = nullptr;
    // No SQLITE_OPEN_CREATE: the program works on an existing store only.
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        if (error) {
            *error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            if (rc == SQLITE_CANTOPEN)
                *error = "the file does not exist or cannot be opened";
        }
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    // Another program may hold the file briefly; wait a little rather than
    // drop a keystroke.
    sqlite3_busy_timeout(db, 2000);
    return std::shared_ptr<Connection>(new Connection(db, path));
}

bool Connection::setDurable()
{
    return exec("PRAGMA journal_mode=DELETE") && exec("PRAGMA synchronous=FULL");
}

bool Connection::isReadOnly() const
{
    return sqlite3_db_readonly(m_db, "main") == 1;
}

bool Connection::inTransaction() const
{
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

bool Connection::exec(std::string_view sql)
{
    const std::string text(sql);
    char *message = nullptr;
    if (sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        m_error = message ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        return false;
    }
    return true;
}

TransactionScope::TransactionScope(Connection *connection, Kind kind) : m_connection(connection)
{
    if (!m_connection)
        return;
    if (m_connection->inTransaction()) {
        m_joined = true;
        return;
    }
    // A writing scope takes the write lock at once, so it cannot fail half way
    // for want of a lock that another reader holds.
    m_owner = m_connection->exec(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

TransactionScope::~TransactionScope()
{
    commit();
}

bool TransactionScope::commit()
{
    if (!m_owner)
        return true;
    m_owner = false;
    if (m_connection->exec("COMMIT"))
        return true;
    m_connection->exec("ROLLBACK");
    return false;
}

} // namespace store
