#include "store/create.h"

#include "store/statement.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace store {

const char *const kSchemaSql = R"sql(
CREATE TABLE TbTree (
  KeyInd INTEGER NOT NULL PRIMARY KEY,
  KeyPar INTEGER DEFAULT 0, KeyChi INTEGER DEFAULT 0,
  KeyPrw INTEGER DEFAULT 0, KeyNxt INTEGER DEFAULT 0,
  KeyTxt TEXT,
  KeySel INTEGER NOT NULL DEFAULT 0, Expand INTEGER NOT NULL DEFAULT 0,
  KeyRef INTEGER DEFAULT 0, RefCut INTEGER NOT NULL DEFAULT 0);
CREATE INDEX KeySel ON TbTree (KeySel);
CREATE INDEX ParNxt ON TbTree (KeyPar, KeyNxt);
CREATE TABLE tbCmd (CmdPict TEXT, CmdAbout TEXT);
)sql";

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

bool fill(sqlite3 *db, std::span<const CommandRowText> commands, std::string *error)
{
    if (!exec(db, "PRAGMA journal_mode=DELETE; BEGIN", error) || !exec(db, kSchemaSql, error)
        || !exec(db, "INSERT INTO TbTree (KeyInd) VALUES (0), (1)", error))
        return false;
    Statement insert;
    if (!insert.prepare(db, "INSERT INTO tbCmd (CmdPict, CmdAbout) VALUES (?1, ?2)")) {
        if (error)
            *error = insert.error();
        return false;
    }
    for (const auto &row : commands) {
        insert.reset();
        insert.bind(1, Value(row.picture));
        insert.bind(2, Value(row.about));
        if (!insert.run()) {
            if (error)
                *error = insert.error();
            return false;
        }
    }
    return exec(db, "COMMIT", error);
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
