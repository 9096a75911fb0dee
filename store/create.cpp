#include "store/create.h"

#include "store/format.h"
#include "store/sql.h"
#include "store/statement.h"

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace store {

namespace {

bool exec(sqlite3 *db, const char *sql, std::string *error)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    if (error)
        *error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

bool prepare(sqlite3 *db, Statement &stmt, std::string_view sql, std::string *error)
{
    if (stmt.prepare(db, sql))
        return true;
    if (error)
        *error = stmt.error();
    return false;
}

bool run(Statement &stmt, std::string *error)
{
    if (stmt.run())
        return true;
    if (error)
        *error = stmt.error();
    return false;
}

bool fill(sqlite3 *db, std::span<const CommandRowText> commands, std::string *error)
{
    if (!exec(db, sql::kJournalDelete, error) || !exec(db, sql::kBegin, error) || !exec(db, kSchemaSql, error))
        return false;
    // Record 0 (no item) and the root, without children.
    Statement insertKey;
    if (!prepare(db, insertKey, sql::kInsertKey, error))
        return false;
    for (const std::int64_t key : {std::int64_t{0}, std::int64_t{kRootKey}}) {
        insertKey.bind(1, Value(key));
        if (!run(insertKey, error))
            return false;
    }
    Statement insertCommand;
    if (!prepare(db, insertCommand, sql::kInsertCommand, error))
        return false;
    for (const auto &row : commands) {
        insertCommand.bind(1, Value(row.picture));
        insertCommand.bind(2, Value(row.about));
        if (!run(insertCommand, error))
            return false;
    }
    return exec(db, sql::kCommit, error);
}

} // namespace

bool createStore(const std::string &path, std::span<const CommandRowText> commands, std::string *error)
{
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        if (error)
            *error = "a file named " + path + " is already there";
        return false;
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE,
                        nullptr)
        != SQLITE_OK) {
        if (error)
            *error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        return false;
    }
    const bool ok = fill(db, commands, error);
    sqlite3_close_v2(db);
    if (!ok)
        std::filesystem::remove(path, ec);
    return ok;
}

} // namespace store
