// Every SQL text of store/sql.h against a store made by createStore: each
// prepares, reads the columns its callers expect, binds in the order its
// callers bind, and the schema holds the columns and indexes of format.h.

#include "store/create.h"
#include "store/format.h"
#include "store/sql.h"
#include "tests/support/test_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using store::Field;
namespace sql = store::sql;
using Names = std::vector<std::string>;

template <typename Columns>
Names namesOf(const Columns &columns)
{
    Names out;
    for (const auto &column : columns)
        out.emplace_back(column.name);
    return out;
}

Names fieldNames(std::span<const Field> fields)
{
    Names out;
    for (const Field f : fields)
        out.emplace_back(store::fieldName(f));
    return out;
}

class StatementsTest : public testing::Test {
protected:
    using Stmt = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

    void SetUp() override
    {
        const store::CommandRowText command{"pict.bmp", "About"};
        const std::string &error = store::lastError();
        ASSERT_TRUE(store::createStore(ts.path(), std::span(&command, 1))) << error;
        ASSERT_EQ(sqlite3_open_v2(ts.path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    }
    void TearDown() override { sqlite3_close_v2(db); }

    Stmt prepare(std::string_view text)
    {
        sqlite3_stmt *stmt = nullptr;
        const int rc = sqlite3_prepare_v2(db, text.data(), static_cast<int>(text.size()), &stmt, nullptr);
        EXPECT_EQ(rc, SQLITE_OK) << sqlite3_errmsg(db) << "\n in: " << text;
        return Stmt(stmt, &sqlite3_finalize);
    }

    // One column of every row of text.
    Names rows(std::string_view text, int column = 0)
    {
        Names out;
        const Stmt stmt = prepare(text);
        while (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW) {
            const auto *value = sqlite3_column_text(stmt.get(), column);
            out.emplace_back(value ? reinterpret_cast<const char *>(value) : "NULL");
        }
        return out;
    }

    testing_support::TestStore ts;
    sqlite3 *db = nullptr;
};

TEST_F(StatementsTest, EveryStatementPreparesAndReadsTheColumnsItsCallersRead)
{
    const Names tree = namesOf(store::kTreeColumns);
    const Names key = {"KeyInd"};
    struct Case {
        const char *name;
        std::string_view text;
        Names columns;
    };
    std::vector<Case> cases = {
        {"kSelectRow", sql::kSelectRow, tree},
        {"kSelectChildren", sql::kSelectChildren, tree},
        {"kReadAll", sql::kReadAll, tree},
        {"kTreeColumnOrder", sql::kTreeColumnOrder, tree},
        {"kReadOrderAndTexts", sql::kReadOrderAndTexts, {"KeyInd", "KeyChi", "KeyNxt", "KeyTxt"}},
        {"kSeekParNxt", sql::kSeekParNxt, key},
        {"kSeekSelected", sql::kSeekSelected, {"min(k)"}},
        {"kSeekFree", sql::kSeekFree, key},
        {"kChildLinks", sql::kChildLinks, {"KeyInd", "KeyNxt"}},
        {"kInsertKey", sql::kInsertKey, {}},
        {"kInsertWholeItem", sql::kInsertWholeItem, {}},
        {"kCheckRead", sql::kCheckRead, fieldNames(sql::kCheckFields)},
        {"kSelectCommands", sql::kSelectCommands, namesOf(store::kCommandColumns)},
        {"kInsertCommand", sql::kInsertCommand, {}},
        {"kJournalDelete", sql::kJournalDelete, {"journal_mode"}},
        {"kSynchronousFull", sql::kSynchronousFull, {}},
        {"kDataVersion", sql::kDataVersion, {"data_version"}},
        {"kBegin", sql::kBegin, {}},
        {"kBeginImmediate", sql::kBeginImmediate, {}},
        {"kCommit", sql::kCommit, {}},
        {"kRollback", sql::kRollback, {}},
        {"kProbeWrite", sql::kProbeWrite, {}},
        {"kFirstRead", sql::kFirstRead, {"count(*)"}},
        {"kTriggersOnTables", sql::kTriggersOnTables, {"name", "tbl_name"}},
        {"kSchemaObjects", sql::kSchemaObjects, {"type", "name", "tbl_name"}},
        {"kPageCount", sql::kPageCount, {"page_count"}},
    };
    for (std::size_t i = 0; i < store::kTreeIndexes.size(); ++i) {
        cases.push_back({"kFirst", sql::kFirst[i], key});
        cases.push_back({"kLast", sql::kLast[i], key});
    }
    std::vector<Field> all;
    std::deque<std::string> made; // the texts made at run time, kept while cases point into them
    for (std::size_t i = 0; i < store::kFieldCount; ++i) {
        const Field f = static_cast<Field>(i);
        all.push_back(f);
        cases.push_back({"update", made.emplace_back(sql::update(std::span(&f, 1))), {}});
        cases.push_back({"updateEach", made.emplace_back(sql::updateEach(f)), {}});
    }
    cases.push_back({"update", made.emplace_back(sql::update(all)), {}});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Stmt stmt = prepare(c.text);
        if (!stmt)
            continue;
        Names columns;
        for (int i = 0; i < sqlite3_column_count(stmt.get()); ++i)
            columns.emplace_back(sqlite3_column_name(stmt.get(), i));
        EXPECT_EQ(columns, c.columns);
    }
}

TEST_F(StatementsTest, SettingsTakeEffect)
{
    // A misspelt pragma prepares and does nothing.
    const struct {
        const char *before;
        const char *statement;
        const char *read;
        const char *expected;
    } cases[] = {
        {"PRAGMA journal_mode=MEMORY", sql::kJournalDelete, "PRAGMA journal_mode", "delete"},
        {"PRAGMA synchronous=OFF", sql::kSynchronousFull, "PRAGMA synchronous", "2"},
        {"PRAGMA user_version = 7", sql::kProbeWrite, "PRAGMA user_version", "0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.statement);
        ASSERT_EQ(sqlite3_exec(db, c.before, nullptr, nullptr, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, c.statement, nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_EQ(rows(c.read), Names{c.expected});
    }
}

TEST_F(StatementsTest, InsertsBindInTheOrderTheirCallersBind)
{
    const Stmt insert = prepare(sql::kInsertWholeItem);
    ASSERT_TRUE(insert);
    for (std::size_t i = 0; i < sql::kWholeItemFields.size(); ++i)
        sqlite3_bind_int(insert.get(), static_cast<int>(i) + 1, 100 + static_cast<int>(i));
    ASSERT_EQ(sqlite3_step(insert.get()), SQLITE_DONE);

    const Stmt row = prepare(sql::kSelectRow);
    ASSERT_TRUE(row);
    sqlite3_bind_int(row.get(), 1, 100);
    ASSERT_EQ(sqlite3_step(row.get()), SQLITE_ROW);
    for (std::size_t i = 0; i < sql::kWholeItemFields.size(); ++i) {
        const Field f = sql::kWholeItemFields[i];
        EXPECT_EQ(sqlite3_column_int(row.get(), static_cast<int>(store::fieldIndex(f))), 100 + static_cast<int>(i))
            << store::fieldName(f);
    }

    // createStore wrote one toolbar row through kInsertCommand.
    const auto column = [&](store::CommandField f) {
        return rows(sql::kSelectCommands, static_cast<int>(store::fieldIndex(f)));
    };
    EXPECT_EQ(column(store::CommandField::CmdPict), Names{"pict.bmp"});
    EXPECT_EQ(column(store::CommandField::CmdAbout), Names{"About"});
}

TEST_F(StatementsTest, SchemaHoldsTheColumnsAndIndexesOfTheFormat)
{
    // Each table's columns in the order of format.h, each declared as there.
    const auto declares = [&](std::string_view table, const auto &columns) {
        SCOPED_TRACE(std::string(table));
        const std::string name(table);
        EXPECT_EQ(rows("SELECT name FROM pragma_table_info('" + name + "') ORDER BY cid"), namesOf(columns));
        const Names sqls = rows("SELECT sql FROM sqlite_schema WHERE name = '" + name + "'");
        ASSERT_EQ(sqls.size(), 1u);
        for (const auto &column : columns) {
            const std::string declared = std::string(column.name) + " " + std::string(column.declaration);
            EXPECT_NE(sqls[0].find(declared), std::string::npos) << declared;
        }
    };
    declares(store::kTreeTable, store::kTreeColumns);
    declares(store::kCommandTable, store::kCommandColumns);

    // kFirst[i] and kLast[i] read index i in order, with no sort of their own.
    for (std::size_t i = 0; i < store::kTreeIndexes.size(); ++i) {
        const store::TreeIndex &index = store::kTreeIndexes[i];
        SCOPED_TRACE(std::string(index.name));
        if (index.created) {
            EXPECT_EQ(rows("SELECT name FROM pragma_index_info('" + std::string(index.name) + "') ORDER BY seqno"),
                      fieldNames(std::span(index.fields.data(), index.fieldCount)));
        }
        for (const std::string_view text : {sql::kFirst[i], sql::kLast[i]}) {
            const Names plans = rows("EXPLAIN QUERY PLAN " + std::string(text), 3);
            ASSERT_EQ(plans.size(), 1u);
            const std::string &plan = plans[0];
            EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
            if (index.created) {
                EXPECT_NE(plan.find("INDEX " + std::string(index.name)), std::string::npos) << plan;
            }
        }
    }
}

} // namespace
