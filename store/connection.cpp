#include "store/connection.h"

#include "store/sql.h"
#include "store/statement.h"

#include <sqlite3.h>

namespace store {

namespace {
constexpr int kBusyTimeoutMs = 2000;
} // namespace

Connection::Connection(sqlite3 *db) : m_db(db) {}

Connection::~Connection()
{
    sqlite3_close_v2(m_db);
}

std::shared_ptr<Connection> Connection::open(const std::string &path, std::string *error, Access access)
{
    sqlite3 *db = nullptr;
    // No SQLITE_OPEN_CREATE: the program works on an existing store only.
    const int mode = access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    const int rc = sqlite3_open_v2(path.c_str(), &db, mode | SQLITE_OPEN_NOMUTEX, nullptr);
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
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return std::shared_ptr<Connection>(new Connection(db));
}

bool Connection::setDurable()
{
    return exec(sql::kJournalDelete) && exec(sql::kSynchronousFull);
}

std::string Connection::path() const
{
    const char *name = m_db ? sqlite3_db_filename(m_db, "main") : nullptr;
    return name ? name : "";
}

bool Connection::isReadOnly() const
{
    return sqlite3_db_readonly(m_db, "main") == 1;
}

Connection::Writability Connection::probeWrite(std::string *reason)
{
    if (!m_db || inTransaction())
        return Writability::Unknown;
    if (isReadOnly()) {
        if (reason)
            *reason = "read-only for this user or on this disk";
        return Writability::ReadOnly;
    }
    sqlite3_busy_timeout(m_db, 0);
    int rc = sqlite3_exec(m_db, sql::kBeginImmediate, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(m_db, sql::kProbeWrite, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK && reason)
            *reason = sqlite3_errmsg(m_db);
        sqlite3_exec(m_db, sql::kRollback, nullptr, nullptr, nullptr);
    } else if (reason) {
        *reason = sqlite3_errmsg(m_db);
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    if (rc == SQLITE_READONLY_DIRECTORY)
        rc = SQLITE_CANTOPEN;
    switch (rc & 0xFF) {
    case SQLITE_OK:
        return Writability::Writable;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return Writability::ReadOnly;
    case SQLITE_CANTOPEN:
        // The journal beside the file could not be made.
        if (reason)
            *reason = "the journal cannot be created in the store's folder";
        return Writability::ReadOnly;
    default:
        return Writability::Unknown;
    }
}

std::int64_t Connection::changeCount() const
{
    return m_db ? sqlite3_total_changes64(m_db) : 0;
}

void Connection::noteFailure(const std::string &reason)
{
    ++m_failures;
    m_failure = reason;
}

std::optional<std::int64_t> Connection::outsideVersion()
{
    Statement stmt;
    if (!stmt.prepare(m_db, sql::kDataVersion) || stmt.step() != Statement::Step::Row) {
        m_error = stmt.error();
        return std::nullopt;
    }
    Value version;
    stmt.columnInto(0, version);
    if (const auto *n = std::get_if<std::int64_t>(&version))
        return *n;
    return std::nullopt;
}

bool Connection::inTransaction() const
{
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

bool Connection::exec(const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
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
    m_owner = m_connection->exec(kind == Kind::Write ? sql::kBeginImmediate : sql::kBegin);
    m_changesAtBegin = m_connection->changeCount();
    m_failuresAtBegin = m_connection->m_failures;
    if (m_owner)
        ++m_connection->m_openScopes;
}

void TransactionScope::rollback()
{
    if (!m_owner)
        return;
    m_owner = false;
    --m_connection->m_openScopes;
    if (m_connection->inTransaction())
        m_connection->exec(sql::kRollback);
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
    --m_connection->m_openScopes;
    if (m_connection->m_failures != m_failuresAtBegin) {
        if (m_connection->inTransaction())
            m_connection->exec(sql::kRollback);
        m_connection->m_error = m_connection->m_failure;
        return false;
    }
    if (!m_connection->inTransaction()) {
        // Rolled back already, by SQLite itself: whatever it had written is gone.
        m_connection->m_error = "the change was rolled back: " + m_connection->m_error;
        return m_connection->changeCount() == m_changesAtBegin;
    }
    if (m_connection->exec(sql::kCommit))
        return true;
    m_connection->exec(sql::kRollback);
    return m_connection->changeCount() == m_changesAtBegin;
}

} // namespace store
