#include "store/connection.h"

#include "store/error.h"
#include "store/sql.h"
#include "store/statement.h"

#include "store/format.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace store {

namespace {
constexpr int kBusyTimeoutMs = 2000;
} // namespace


Connection::Connection(sqlite3 *db) : m_db(db) {}

Connection::~Connection()
{
    sqlite3_close_v2(m_db);
}

namespace {

// SQLite's progress calls come every this many virtual machine steps.
constexpr int kStepsPerCall = 1000;
// A reader's whole work: this many progress calls a page of the file, and
// this many more. Reading a page's rows takes a few hundred steps; a million
// items (22,000 pages) are read in well under a tenth of the budget.
constexpr std::int64_t kCallsPerPage = 2000;
constexpr std::int64_t kCallsAtLeast = 200000;

bool configure(sqlite3 *db)
{
    int done = 0;
    // The file runs nothing: no triggers and no views of its own (TEMP ones,
    // which only the program itself can make, still work), no functions with
    // side effects from its schema, no writes to the schema, no extensions.
    return sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, &done) == SQLITE_OK
        && sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &done) == SQLITE_OK
        && sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, &done) == SQLITE_OK
        && sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, &done) == SQLITE_OK
        && sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, &done) == SQLITE_OK;
}

// A journal beside the file: what a crash in the middle of a change leaves.
bool hasJournal(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::file_size(path + "-journal", ec) > 0 && !ec;
}

// Rolls back a journal a crash left, the way SQLite does for any connection
// that may write: a read/write connection's first read. False, with the
// reason, when the folder or the file refuses it.
bool recoverJournal(const std::string &path)
{
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        rc = sqlite3_exec(db, sql::kFirstRead, nullptr, nullptr, nullptr);
    }
    sqlite3_close_v2(db);
    if (rc == SQLITE_OK || (rc & 0xFF) == SQLITE_NOTADB)
        return true; // rolled back, or no journal of a database after all
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return failWith("the store needs recovery: a program ended in the middle of a change and left \"" + path
                    + "-journal\", which only a program that may write the folder \"" + folder
                    + "\" can undo; open the store once with BranchKeeper, or run this command, as a user who may "
                      "write there (keep the journal beside the store until then)");
}

// The triggers on TbTree or tbCmd, as "trigger X on T"; empty for none or
// when the file cannot tell (not a database: the first real statement says so).
std::vector<std::string> triggersOnTables(sqlite3 *db)
{
    std::vector<std::string> found;
    Statement stmt;
    if (!stmt.prepare(db, sql::kTriggersOnTables) || !stmt.bind(1, std::string("trigger"))
        || !stmt.bind(2, std::string(kTreeTable)) || !stmt.bind(3, std::string(kCommandTable)))
        return found;
    Value name, table;
    while (stmt.step() == Statement::Step::Row) {
        stmt.columnInto(0, name);
        stmt.columnInto(1, table);
        const auto *n = std::get_if<std::string>(&name);
        const auto *t = std::get_if<std::string>(&table);
        found.push_back("trigger \"" + (n ? *n : std::string()) + "\" on " + (t ? *t : std::string()));
    }
    return found;
}

int onProgress(void *connection)
{
    return static_cast<Connection *>(connection)->spendWork() ? 0 : 1;
}

} // namespace

std::shared_ptr<Connection> Connection::open(const std::string &path, Access access)
{
    if (path.empty()) {
        // SQLite would open a private scratch database for it.
        failWith("an empty path names no file");
        return nullptr;
    }
    if (access != Access::ReadWrite && hasJournal(path) && !recoverJournal(path))
        return nullptr;
    sqlite3 *db = nullptr;
    // No SQLITE_OPEN_CREATE: the program works on an existing store only.
    const int mode = access == Access::ReadWrite ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    const int rc = sqlite3_open_v2(path.c_str(), &db, mode | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK || !configure(db)) {
        failWith(rc == SQLITE_CANTOPEN ? "the file does not exist or cannot be opened"
                 : db                  ? sqlite3_errmsg(db)
                                       : sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    // Another program may hold the file briefly; wait a little rather than
    // drop a keystroke.
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (access != Access::Inspect) {
        if (const auto planted = triggersOnTables(db); !planted.empty()) {
            failWith("it has " + planted.front()
                     + ", and a store runs no code of its own (\"branchkeeper-store check\" lists what it has "
                       "that a store does not)");
            sqlite3_close_v2(db);
            return nullptr;
        }
    }
    auto connection = std::shared_ptr<Connection>(new Connection(db));
    if (access != Access::ReadWrite) {
        Statement pages;
        Value count;
        if (pages.prepare(db, sql::kPageCount) && pages.step() == Statement::Step::Row)
            pages.columnInto(0, count);
        const auto *n = std::get_if<std::int64_t>(&count);
        connection->limitWork(kCallsAtLeast + (n ? *n : 0) * kCallsPerPage);
    }
    return connection;
}

void Connection::limitWork(std::int64_t calls)
{
    m_workLeft = calls;
    sqlite3_progress_handler(m_db, calls > 0 ? kStepsPerCall : 0, calls > 0 ? onProgress : nullptr, this);
}

bool Connection::spendWork()
{
    return --m_workLeft > 0;
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

Connection::Writability Connection::probeWrite()
{
    if (!m_db || inTransaction())
        return Writability::Unknown;
    if (isReadOnly()) {
        m_error = "read-only for this user or on this disk";
        return Writability::ReadOnly;
    }
    sqlite3_busy_timeout(m_db, 0);
    int rc = sqlite3_exec(m_db, sql::kBeginImmediate, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(m_db, sql::kProbeWrite, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            m_error = sqlite3_errmsg(m_db);
        sqlite3_exec(m_db, sql::kRollback, nullptr, nullptr, nullptr);
    } else {
        m_error = sqlite3_errmsg(m_db);
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
        m_error = "the journal cannot be created in the store's folder";
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
