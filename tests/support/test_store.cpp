#include "tests/support/test_store.h"

#include "store/create.h"
#include "store/mod_base.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include <QFile>

#include <map>

namespace testing_support {

void StoreTest::TearDown()
{
    modBase::rsTree.close();
    modBase::rsCmd.close();
}

TestStore::TestStore()
{
    EXPECT_TRUE(m_dir.isValid());
}

TestStore::~TestStore()
{
    closeDb();
}

std::string TestStore::directory() const
{
    return m_dir.path().toStdString();
}

std::string TestStore::path() const
{
    return directory() + "/dbPro.mdb";
}

QString TestStore::qDirectory() const
{
    return m_dir.path();
}

sqlite3 *TestStore::db()
{
    if (!m_db) {
        const int rc = sqlite3_open_v2(path().c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        EXPECT_EQ(rc, SQLITE_OK);
        sqlite3_busy_timeout(m_db, 5000);
    }
    return m_db;
}

void TestStore::closeDb()
{
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void TestStore::exec(const std::string &sql)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(db(), sql.c_str(), nullptr, nullptr, &message);
    EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "") << "\n in: " << sql;
    sqlite3_free(message);
    // Leave no connection open between steps: the program under test must
    // see the file exactly as another process would.
    closeDb();
}

void TestStore::crashWhileCommitting(const std::string &sql)
{
    const std::string journal = path() + "-journal";
    const std::string saved = path() + ".journal";
    closeDb();
    // Without syncs the journal is whole (hot) as soon as it is written.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, ("PRAGMA synchronous = OFF; BEGIN IMMEDIATE; " + sql).c_str(), nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    std::filesystem::copy_file(journal, saved, std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close_v2(db);
    std::filesystem::rename(saved, journal);
}

void TestStore::createEmpty()
{
    exec(store::kSchemaSql);
}

std::vector<Links> linksOf(const std::vector<Item> &items)
{
    std::map<std::int32_t, std::vector<std::int32_t>> children;
    for (const Item &it : items) {
        if (it.parent != 0)
            children[it.parent].push_back(it.key);
    }
    std::vector<Links> out;
    for (const Item &it : items) {
        Links l{it.key, it.parent, 0, 0, 0};
        if (auto c = children.find(it.key); c != children.end() && !c->second.empty())
            l.chi = c->second.front();
        if (it.parent != 0) {
            const auto &sibs = children[it.parent];
            for (std::size_t i = 0; i < sibs.size(); ++i) {
                if (sibs[i] != it.key)
                    continue;
                l.prw = i > 0 ? sibs[i - 1] : 0;
                l.nxt = i + 1 < sibs.size() ? sibs[i + 1] : 0;
            }
        }
        out.push_back(l);
    }
    return out;
}

void TestStore::create(const std::vector<Item> &items, const std::vector<std::pair<std::string, std::string>> &commands)
{
    exec(std::string(store::kSchemaSql) + "INSERT INTO TbTree (KeyInd) VALUES (0);");
    ASSERT_EQ(sqlite3_exec(db(), "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(m_db);
    sqlite3_stmt *insert = nullptr;
    auto run = [&] {
        EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE) << sqlite3_errmsg(m_db);
        sqlite3_reset(insert);
    };
    const auto links = linksOf(items);
    ASSERT_EQ(sqlite3_prepare_v2(db(),
                                 "INSERT INTO TbTree (KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeyTxt, KeySel, Expand) "
                                 "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
                                 -1, &insert, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(m_db);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item &it = items[i];
        const Links &l = links[i];
        const std::int32_t numbers[] = {l.key, l.par, l.chi, l.prw, l.nxt};
        for (int n = 0; n < 5; ++n)
            sqlite3_bind_int(insert, n + 1, numbers[n]);
        if (it.text)
            sqlite3_bind_text(insert, 6, it.text->c_str(), -1, SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(insert, 6);
        sqlite3_bind_int(insert, 7, it.selected ? 1 : 0);
        sqlite3_bind_int(insert, 8, it.expand ? 1 : 0);
        run();
    }
    sqlite3_finalize(insert);
    insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db(), "INSERT INTO tbCmd (CmdPict, CmdAbout) VALUES (?1, ?2)", -1, &insert, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(m_db);
    for (const auto &[pict, about] : commands) {
        sqlite3_bind_text(insert, 1, pict.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, about.c_str(), -1, SQLITE_TRANSIENT);
        run();
    }
    sqlite3_finalize(insert);
    char *message = nullptr;
    EXPECT_EQ(sqlite3_exec(db(), "COMMIT", nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    closeDb();
}

std::string TestStore::field(std::int32_t key, const std::string &name)
{
    // Field names in tests are fixed literals, never data.
    const std::string sql = "SELECT quote(" + name + ") FROM TbTree WHERE KeyInd = ?1";
    sqlite3_stmt *stmt = nullptr;
    std::string out = "<none>";
    if (sqlite3_prepare_v2(db(), sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_int(stmt, 1, key);
        if (sqlite3_step(stmt) == SQLITE_ROW)
            out = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
    } else {
        ADD_FAILURE() << sqlite3_errmsg(db());
    }
    sqlite3_finalize(stmt);
    closeDb();
    return out;
}

std::int64_t TestStore::count(const std::string &sql)
{
    sqlite3_stmt *stmt = nullptr;
    std::int64_t n = -1;
    if (sqlite3_prepare_v2(db(), sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        n = sqlite3_column_int64(stmt, 0);
    else
        ADD_FAILURE() << sqlite3_errmsg(db());
    sqlite3_finalize(stmt);
    closeDb();
    return n;
}

std::vector<std::string> TestStore::dump()
{
    std::vector<std::string> rows;
    for (const char *sql : {"SELECT quote(KeyInd)||','||quote(KeyPar)||','||quote(KeyChi)||','||quote(KeyPrw)||','||"
                            "quote(KeyNxt)||','||quote(KeyTxt)||','||quote(KeySel)||','||quote(Expand)||','||"
                            "quote(KeyRef)||','||quote(RefCut) FROM TbTree ORDER BY KeyInd",
                            "SELECT quote(CmdPict)||','||quote(CmdAbout) FROM tbCmd ORDER BY rowid"}) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db(), sql, -1, &stmt, nullptr) != SQLITE_OK) {
            rows.push_back(std::string("error: ") + sqlite3_errmsg(db()));
            continue;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW)
            rows.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
    }
    closeDb();
    return rows;
}

std::string TestStore::bytes() const
{
    QFile f(QString::fromStdString(path()));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

} // namespace testing_support
