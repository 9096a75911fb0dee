#include "tests/support/write_log.h"

#include "tests/support/test_store.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

namespace testing_support {

namespace {
const char *const kLoggedFields[] = {"KeyPar", "KeyChi", "KeyPrw", "KeyNxt", "KeyTxt",
                                     "KeySel", "Expand", "KeyRef", "RefCut"};
}

Write one(std::int64_t key, const char *field, std::int64_t value) { return {key, {{field, std::to_string(value)}}}; }

Write reset(std::int64_t key)
{
    return {key, {{"KeyPar", "0"}, {"KeyPrw", "0"}, {"KeyNxt", "0"}, {"KeySel", "0"}}};
}

Write appended(std::int64_t key) { return {key, {{"+", ""}}}; }

WriteLog::WriteLog(TestStore &store) : m_store(store) {}

void WriteLog::install()
{
    m_store.exec("CREATE TABLE WriteSeq (n INTEGER); INSERT INTO WriteSeq VALUES (0);"
                 "CREATE TABLE WriteLog (n INTEGER, key INTEGER, field TEXT, value TEXT);");
    m_installed = true;
}

void WriteLog::attach(sqlite3 *db)
{
    // A BEFORE trigger numbers each row change; the per-field AFTER triggers
    // (which fire only for the fields a statement names) file under it.
    std::string sql = "CREATE TEMP TRIGGER WriteSeqUpdate BEFORE UPDATE ON main.TbTree BEGIN "
                      "UPDATE WriteSeq SET n = n + 1; END;"
                      "CREATE TEMP TRIGGER WriteSeqInsert BEFORE INSERT ON main.TbTree BEGIN "
                      "UPDATE WriteSeq SET n = n + 1; END;"
                      "CREATE TEMP TRIGGER WriteLogInsert AFTER INSERT ON main.TbTree BEGIN "
                      "INSERT INTO WriteLog SELECT n, NEW.KeyInd, '+', '' FROM WriteSeq; END;"
                      "CREATE TEMP TRIGGER WriteLogDelete AFTER DELETE ON main.TbTree BEGIN "
                      "INSERT INTO WriteLog SELECT n + 1, OLD.KeyInd, '-', '' FROM WriteSeq; "
                      "UPDATE WriteSeq SET n = n + 1; END;";
    for (const char *f : kLoggedFields) {
        sql += std::string("CREATE TEMP TRIGGER WriteLog") + f + " AFTER UPDATE OF " + f + " ON main.TbTree BEGIN "
            + "INSERT INTO WriteLog SELECT n, NEW.KeyInd, '" + f + "', quote(NEW." + f + ") FROM WriteSeq; END;";
    }
    char *message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK)
        ADD_FAILURE() << "cannot attach the write log: " << (message ? message : "?");
    sqlite3_free(message);
}

Writes WriteLog::read()
{
    Writes writes;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(m_store.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT n, key, field, value FROM WriteLog ORDER BY n, rowid", -1, &stmt, nullptr)
        != SQLITE_OK) {
        ADD_FAILURE() << "no write log: " << sqlite3_errmsg(db);
    } else {
        std::int64_t last = -1;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const std::int64_t n = sqlite3_column_int64(stmt, 0);
            if (n != last)
                writes.push_back({sqlite3_column_int64(stmt, 1), {}});
            last = n;
            writes.back().fields[reinterpret_cast<const char *>(sqlite3_column_text(stmt, 2))] =
                reinterpret_cast<const char *>(sqlite3_column_text(stmt, 3));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    return writes;
}

void WriteLog::clear()
{
    m_store.exec("DELETE FROM WriteLog");
}

} // namespace testing_support
