#pragma once

#include "store/error.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;

namespace store {

// An open store file. Cursors share it; it closes when the last one lets go.
class Connection {
public:
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // ReadOnly: for reading; its statements may do only so much work for the
    // file's size, so a file made to keep a reader busy cannot hang it.
    // Inspect: the same, and it also opens a store that has what a store
    // must not (triggers on its tables), for the checker to name it.
    enum class Access { ReadWrite, ReadOnly, Inspect };

    // Opens an existing file, for reading and writing unless access says
    // otherwise. Never creates the file: a missing file is an error (the
    // reason in store::lastError()). Opening succeeds even for a file that is
    // not a database; the first statement finds that out.
    //
    // Every connection is defensive: the file cannot run code in it (its
    // triggers and views do not run, its schema is not trusted with functions,
    // no extension loads), and a store whose TbTree or tbCmd has a trigger is
    // refused, but for Inspect. A journal a crash left beside the file is
    // rolled back first, as SQLite does for a writer; where that cannot be
    // done, a reader is refused with the reason and what to do.
    static std::shared_ptr<Connection> open(const std::string &path, Access access = Access::ReadWrite);

    // Durability: rollback journal (the main file alone always holds every
    // finished change, so it can be copied on its own) and a full sync on
    // every commit. Writes the file only when it was in another journal mode.
    bool setDurable();

    sqlite3 *handle() const { return m_db; }
    // The file's path as SQLite opened it; empty for none.
    std::string path() const;
    // Opened for reading only: asked so, or SQLite fell back to it because
    // the file may not be written. Only a new connection can write it then.
    bool isReadOnly() const;

    enum class Writability { Writable, ReadOnly, Unknown };
    // Whether the file can be written now: a write to its header (and so to
    // its journal) in a transaction of its own, rolled back at once, so the
    // file stays byte for byte as it was. ReadOnly when the file or the
    // journal's folder refuses it; Unknown when something else stops the try
    // (another program holds the lock, a full disk), or inside a
    // transaction. Waits for no lock. lastError() says why it cannot write.
    Writability probeWrite();
    bool inTransaction() const;
    // Rows inserted, changed or deleted through this connection so far.
    std::int64_t changeCount() const;
    // Whether a transaction a scope began is gone while the scope is still
    // open: an error of the file (a full disk, an I/O error) made SQLite roll
    // it back on its own. The cursors then refuse to write until the scope
    // ends, so the rest of an action cannot reach the file statement by
    // statement, outside any transaction.
    bool transactionLost() const { return m_openScopes > 0 && !inTransaction(); }
    // A statement the file refused (a full disk, a read-only file, an I/O
    // error, a lost transaction): the scope open around it then ends in a
    // rollback, never a commit of what did go through.
    void noteFailure(const std::string &reason);
    // A number that changes whenever another connection, in this program or
    // another, commits a change to the file; this connection's own commits
    // leave it alone. nullopt when the file cannot be read.
    std::optional<std::int64_t> outsideVersion();
    // Runs SQL that takes no values (BEGIN, COMMIT, PRAGMA ... from
    // store/sql.h).
    bool exec(const char *sql);
    const std::string &lastError() const { return m_error; }

    // Counts one of SQLite's progress calls against a reading connection's
    // budget; false (the statement is interrupted) once it is spent.
    bool spendWork();

private:
    friend class TransactionScope;
    explicit Connection(sqlite3 *db);

    // How much work a reading connection's statements may do in all, in
    // units of SQLite's progress calls; 0: no limit.
    void limitWork(std::int64_t calls);

    sqlite3 *m_db = nullptr;
    std::string m_error;
    std::int64_t m_workLeft = 0;
    int m_openScopes = 0; // scopes that began a transaction and have not ended it
    std::int64_t m_failures = 0;
    std::string m_failure;
};

// Groups the statements of one scope into one transaction, so they reach the
// file together or not at all. Nested scopes join the outer one. A scope
// commits when it ends, unless the file refused one of its statements
// (noteFailure): then it rolls back. A step that finds nothing (no such
// record) is no failure: it is skipped and the rest still commits.
class TransactionScope {
public:
    enum class Kind { Read, Write };
    TransactionScope(Connection *connection, Kind kind);
    ~TransactionScope();
    TransactionScope(const TransactionScope &) = delete;
    TransactionScope &operator=(const TransactionScope &) = delete;

    // Whether the statements of the scope run in a transaction: one this
    // scope began, or an outer one it joined. False when the file was busy.
    bool active() const { return m_owner || m_joined; }
    // Commits now; false when the commit failed or a write inside the scope
    // failed (the changes are then rolled back and gone: an action is in the
    // file whole or not at all). A scope that changed nothing cannot lose
    // anything: when its commit is refused (another program reads the file)
    // it ends with a rollback and true. A joined scope leaves committing to
    // the outer one.
    bool commit();
    // Undoes everything the scope wrote, now; it then commits nothing. A
    // joined scope cannot: the outer one owns the transaction.
    void rollback();

private:
    Connection *m_connection = nullptr;
    std::int64_t m_changesAtBegin = 0;
    std::int64_t m_failuresAtBegin = 0;
    bool m_owner = false;
    bool m_joined = false;
};

} // namespace store
