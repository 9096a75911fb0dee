// The link operations and record allocation, record by record: exactly the
// writes each one makes, in order, and the tree they leave behind.

#include "store/allocation.h"
#include "store/links.h"
#include "store/connection.h"
#include "store/mod_base.h"
#include "store/sql.h"
#include "tests/support/test_store.h"
#include "tests/support/tree_check.h"
#include "tests/support/write_log.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <limits>

using testing_support::appended;
using testing_support::Item;
using testing_support::one;
using testing_support::reset;
using testing_support::TestStore;
using testing_support::Write;
using testing_support::WriteLog;
using testing_support::Writes;

namespace {

// Root 1: 2 (5, 6, 10), 3 (7), 4. Items 8 and 9 are in no chain (as if just
// allocated or deleted).
const std::vector<Item> kTree = {
    {1, 0}, {2, 1}, {5, 2}, {6, 2}, {10, 2}, {3, 1}, {7, 3}, {4, 1}, {8, 0}, {9, 0},
};

Write w(std::int64_t key, std::map<std::string, std::string> fields) { return {key, std::move(fields)}; }

class LinksTest : public testing_support::StoreTest {
protected:
    void start(const std::vector<Item> &items = kTree, const std::string &extraSql = {})
    {
        ts.create(items);
        if (!extraSql.empty())
            ts.exec(extraSql);
        log.install();
        ASSERT_TRUE(modBase::OpenBase(ts.directory()).ok());
        log.attach(modBase::rsTree.connection()->handle());
    }
    WriteLog log{ts};
};

struct LinkCase {
    const char *name;
    std::function<void()> op;
    Writes expected;
    bool consistentAfter = true; // false where the operation itself breaks the root's links
    friend void PrintTo(const LinkCase &c, std::ostream *os) { *os << c.name; }
};

class LinkWrites : public LinksTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkWrites, WritesExactlyTheListedFieldsInOrder)
{
    start();
    GetParam().op();
    EXPECT_EQ(log.read(), GetParam().expected);
    const auto check = testing_support::checkTree(ts);
    if (GetParam().consistentAfter) {
        EXPECT_TRUE(check.ok()) << check.report();
    }
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd");
}

using namespace modTree;

INSTANTIATE_TEST_SUITE_P(
    Links, LinkWrites,
    ::testing::Values(
        LinkCase{"UnlinkOnlyChild", [] { UnlinkItem(modBase::rsTree, 7); }, {reset(7), one(3, "KeyChi", 0)}},
        LinkCase{"UnlinkFirstOfSeveral", [] { UnlinkItem(modBase::rsTree, 5); }, {reset(5), one(2, "KeyChi", 6), one(6, "KeyPrw", 0)}},
        LinkCase{"UnlinkMiddle", [] { UnlinkItem(modBase::rsTree, 6); }, {reset(6), one(5, "KeyNxt", 10), one(10, "KeyPrw", 5)}},
        LinkCase{"UnlinkLast", [] { UnlinkItem(modBase::rsTree, 10); }, {reset(10), one(6, "KeyNxt", 0)}},
        LinkCase{"UnlinkWithChildren", [] { UnlinkItem(modBase::rsTree, 2); }, {reset(2), one(1, "KeyChi", 3), one(3, "KeyPrw", 0)}},
        LinkCase{"UnlinkRoot", [] { UnlinkItem(modBase::rsTree, 1); }, {reset(1)}},
        LinkCase{"LinkBeforeFirstChild", [] { LinkBefore(modBase::rsTree, 8, 5); },
                 {one(5, "KeyPrw", 8), one(2, "KeyChi", 8), one(8, "KeyPar", 2), one(8, "KeyPrw", 0),
                  one(8, "KeyNxt", 5)}},
        LinkCase{"LinkBeforeMiddle", [] { LinkBefore(modBase::rsTree, 8, 6); },
                 {one(6, "KeyPrw", 8), one(5, "KeyNxt", 8), one(8, "KeyPar", 2), one(8, "KeyPrw", 5),
                  one(8, "KeyNxt", 6)}},
        LinkCase{"LinkBeforeRoot", [] { LinkBefore(modBase::rsTree, 8, 1); },
                 {one(1, "KeyPrw", 8), one(8, "KeyPar", 0), one(8, "KeyPrw", 0), one(8, "KeyNxt", 1)},
                 false},
        LinkCase{"LinkAfterLast", [] { LinkAfter(modBase::rsTree, 8, 10); },
                 {one(10, "KeyNxt", 8), one(8, "KeyPar", 2), one(8, "KeyPrw", 10), one(8, "KeyNxt", 0)}},
        LinkCase{"LinkAfterMiddle", [] { LinkAfter(modBase::rsTree, 8, 5); },
                 {one(5, "KeyNxt", 8), one(6, "KeyPrw", 8), one(8, "KeyPar", 2), one(8, "KeyPrw", 5),
                  one(8, "KeyNxt", 6)}},
        LinkCase{"LinkFirstChild", [] { LinkFirstChild(modBase::rsTree, 8, 7); }, {one(7, "KeyChi", 8), one(8, "KeyPar", 7)}},
        LinkCase{"KeyZeroWritesNothing", [] {
                     UnlinkItem(modBase::rsTree, 0);
                     LinkBefore(modBase::rsTree, 0, 5);
                     LinkBefore(modBase::rsTree, 8, 0);
                     LinkAfter(modBase::rsTree, 0, 5);
                     LinkAfter(modBase::rsTree, 8, 0);
                     LinkFirstChild(modBase::rsTree, 0, 7);
                     LinkFirstChild(modBase::rsTree, 8, 0);
                 }, {}},
        LinkCase{"OwnAnchorWritesNothing", [] {
                     LinkBefore(modBase::rsTree, 5, 5);
                     LinkAfter(modBase::rsTree, 5, 5);
                     LinkFirstChild(modBase::rsTree, 7, 7);
                 }, {}}),
    [](const auto &info) { return std::string(info.param.name); });

// Records out of the tree that still name items in it, as another tool may
// leave them: 11 names parent 2 and next sibling 6, 12 names 2 and the
// siblings 5 and 10. Unlinking them, or linking beside them, writes none of
// the items they name.
class LinksBesideARecordOutOfTheTree : public LinksTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinksBesideARecordOutOfTheTree, WriteNoItemOfTheTree)
{
    start(kTree, "INSERT INTO TbTree (KeyInd, KeyPar, KeyPrw, KeyNxt) VALUES (11, 2, 0, 6), (12, 2, 5, 10)");
    const auto before = testing_support::outline(ts);
    GetParam().op();
    EXPECT_EQ(log.read(), GetParam().expected);
    EXPECT_EQ(testing_support::outline(ts), before);
}

INSTANTIATE_TEST_SUITE_P(
    Links, LinksBesideARecordOutOfTheTree,
    ::testing::Values(
        LinkCase{"UnlinkAsFirstChild", [] { UnlinkItem(modBase::rsTree, 11); }, {reset(11)}},
        LinkCase{"UnlinkAsMiddleChild", [] { UnlinkItem(modBase::rsTree, 12); }, {reset(12)}},
        LinkCase{"LinkBeforeAsFirstChild", [] { LinkBefore(modBase::rsTree, 8, 11); },
                 {one(11, "KeyPrw", 8), one(8, "KeyPar", 2), one(8, "KeyPrw", 0), one(8, "KeyNxt", 11)}},
        LinkCase{"LinkBeforeAsMiddleChild", [] { LinkBefore(modBase::rsTree, 8, 12); },
                 {one(12, "KeyPrw", 8), one(8, "KeyPar", 2), one(8, "KeyPrw", 5), one(8, "KeyNxt", 12)}},
        LinkCase{"LinkAfter", [] { LinkAfter(modBase::rsTree, 8, 12); },
                 {one(12, "KeyNxt", 8), one(8, "KeyPar", 2), one(8, "KeyPrw", 12), one(8, "KeyNxt", 10)}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(LinksTest, UnlinkBesideTheRootLeavesThePreviousSiblingAlone)
{
    // 8 and 9 stand beside the root: KeyPar 0, 9 before 8.
    start(kTree, "UPDATE TbTree SET KeyNxt = 8 WHERE KeyInd = 9; UPDATE TbTree SET KeyPrw = 9 WHERE KeyInd = 8");
    UnlinkItem(modBase::rsTree, 8);
    EXPECT_EQ(log.read(), (Writes{reset(8)}));
}

TEST_F(LinksTest, UnlinkingTheSelectedItemClearsOnlyItsMark)
{
    start(kTree, "UPDATE TbTree SET KeySel = 1 WHERE KeyInd IN (6, 4)");
    UnlinkItem(modBase::rsTree, 6);
    EXPECT_EQ(ts.field(6, "KeySel"), "0");
    EXPECT_EQ(ts.field(4, "KeySel"), "1");
}

TEST_F(LinksTest, SubtreeTravelsWithItsItem)
{
    start();
    UnlinkItem(modBase::rsTree, 2);
    LinkFirstChild(modBase::rsTree, 2, 4);
    EXPECT_EQ(testing_support::outline(ts),
              (std::vector<std::string>{"3@1", "7@2", "4@1", "2@2", "5@3", "6@3", "10@3"}));
    EXPECT_EQ(ts.field(5, "KeyPar"), "2");
    EXPECT_EQ(ts.field(2, "KeyChi"), "5");
    const auto check = testing_support::checkTree(ts);
    EXPECT_TRUE(check.ok()) << check.report();
}

TEST_F(LinksTest, UnlinkAndLinkBackAtTheSamePlaceRestoresEveryLink)
{
    start(kTree, "UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 6");
    const auto before = ts.dump();
    for (auto relink : {+[] { LinkBefore(modBase::rsTree, 6, 10); }, +[] { LinkAfter(modBase::rsTree, 6, 5); }}) {
        UnlinkItem(modBase::rsTree, 6);
        relink();
        ts.exec("UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 6");
        EXPECT_EQ(ts.dump(), before);
    }
}

// ---------------------------------------------------------------- NewItem

TEST_F(LinksTest, NewItemAppendsTheNextKeyWithTableDefaults)
{
    start({{1, 0}});
    modBase::rsTree.setIndex("KeySel");
    EXPECT_EQ(NewItem(modBase::rsTree), 2);
    EXPECT_EQ(log.read(), (Writes{appended(2)}));
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd");
    EXPECT_EQ(modBase::rsTree.key(store::Field::KeyInd), 2);
    for (const char *f : {"KeyPar", "KeyChi", "KeyPrw", "KeyNxt", "KeyRef", "KeySel", "Expand", "RefCut"})
        EXPECT_EQ(ts.field(2, f), "0") << f;
    EXPECT_EQ(ts.field(2, "KeyTxt"), "NULL");
    // Only linked items count as taken: the next call appends again.
    EXPECT_EQ(NewItem(modBase::rsTree), 3);
}

TEST_F(LinksTest, NewItemReusesTheFirstFreeRecordAndKeepsItsText)
{
    start(kTree, "INSERT INTO TbTree (KeyInd, KeyPar, KeyChi, KeyNxt, KeyTxt, KeySel, Expand, KeyRef, RefCut) "
                 "VALUES (12, NULL, 5, NULL, 'kept', 1, 1, 3, 1), (11, NULL, 0, NULL, 'first', 0, 0, 0, 0)");
    modBase::rsTree.setIndex("ParNxt");
    EXPECT_EQ(NewItem(modBase::rsTree), 11);
    EXPECT_EQ(NewItem(modBase::rsTree), 12);
    const auto reused = [](std::int64_t key) {
        return w(key, {{"KeyPar", "0"}, {"KeyPrw", "0"}, {"KeyNxt", "0"}, {"KeyRef", "0"}, {"KeyChi", "0"},
                       {"RefCut", "0"}});
    };
    EXPECT_EQ(log.read(), (Writes{reused(11), reused(12)}));
    EXPECT_EQ(ts.field(12, "KeyTxt"), "'kept'");
    EXPECT_EQ(ts.field(12, "KeySel"), "1");
    EXPECT_EQ(ts.field(12, "Expand"), "1");
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd");
    EXPECT_EQ(NewItem(modBase::rsTree), 13); // no free record left
}

// Records another tool left with KeyPar and KeyNxt Null that are still in
// use: taking one for a new item would pull it out of its chain, or for the
// root cut the whole tree off. Each case starts from kTree plus records 12
// and 13 with both links Null, and makes one record a trap that comes before
// the first record that is really free (or, where 12 and 13 are given links
// too, before the append of 14).
struct FreeCase {
    const char *name;
    const char *sql;
    std::int32_t expected; // the key NewItem returns
    friend void PrintTo(const FreeCase &c, std::ostream *os) { *os << c.name; }
};

class NewItemSkips : public LinksTest, public ::testing::WithParamInterface<FreeCase> {};

TEST_P(NewItemSkips, RecordsStillInUseAndTakesTheNextFreeOne)
{
    start(kTree, std::string("INSERT INTO TbTree (KeyInd, KeyPar, KeyNxt, KeyTxt) VALUES (12, NULL, NULL, 'twelve'), "
                             "(13, NULL, NULL, 'thirteen');")
                     + GetParam().sql);
    const std::int32_t key = NewItem(modBase::rsTree);
    EXPECT_EQ(key, GetParam().expected);
    const Write reused = w(GetParam().expected, {{"KeyPar", "0"}, {"KeyPrw", "0"}, {"KeyNxt", "0"}, {"KeyRef", "0"},
                                                 {"KeyChi", "0"}, {"RefCut", "0"}});
    EXPECT_EQ(log.read(), (Writes{GetParam().expected == 14 ? appended(14) : reused}));
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd");
    EXPECT_EQ(modBase::rsTree.key(store::Field::KeyInd), key);
}

INSTANTIATE_TEST_SUITE_P(
    NewItem, NewItemSkips,
    ::testing::Values(
        FreeCase{"NamedByNobody", "", 12},
        FreeCase{"NamedOnlyByItself", "UPDATE TbTree SET KeyChi = 12, KeyPrw = 12 WHERE KeyInd = 12", 12},
        FreeCase{"NamedByAnUnlinkedRecordsKeyPar", "UPDATE TbTree SET KeyPar = 12 WHERE KeyInd = 8", 13},
        FreeCase{"NamedByKeyChi", "UPDATE TbTree SET KeyChi = 12 WHERE KeyInd = 8", 13},
        FreeCase{"NamedByKeyPrw", "UPDATE TbTree SET KeyPrw = 12 WHERE KeyInd = 8", 13},
        FreeCase{"NamedByKeyNxt", "UPDATE TbTree SET KeyNxt = 12 WHERE KeyInd = 8", 13},
        FreeCase{"NamedByAFreeRecord", "UPDATE TbTree SET KeyChi = 12 WHERE KeyInd = 13", 13},
        // Items of the tree itself with KeyPar and KeyNxt emptied.
        FreeCase{"RootWithNullLinks",
                 "UPDATE TbTree SET KeyPar = NULL, KeyNxt = NULL WHERE KeyInd = 1; "
                 "UPDATE TbTree SET KeyPar = 0, KeyNxt = 0 WHERE KeyInd IN (12, 13)",
                 14},
        FreeCase{"RecordZeroWithNullLinks",
                 "UPDATE TbTree SET KeyPar = NULL, KeyNxt = NULL WHERE KeyInd = 0; "
                 "UPDATE TbTree SET KeyPar = 0, KeyNxt = 0 WHERE KeyInd IN (12, 13)",
                 14},
        // Nothing names these two, yet they are key 0 and the root.
        FreeCase{"LoneRootWithNullLinks",
                 "DELETE FROM TbTree WHERE KeyInd BETWEEN 2 AND 10; "
                 "UPDATE TbTree SET KeyPar = NULL, KeyNxt = NULL, KeyChi = 0 WHERE KeyInd = 1; "
                 "UPDATE TbTree SET KeyPar = 0, KeyNxt = 0 WHERE KeyInd IN (12, 13)",
                 14},
        FreeCase{"RecordZeroNamedByNobody",
                 "DELETE FROM TbTree WHERE KeyInd BETWEEN 2 AND 10; "
                 "UPDATE TbTree SET KeyPar = NULL, KeyChi = NULL, KeyPrw = NULL, KeyNxt = NULL WHERE KeyInd IN (0, 1); "
                 "UPDATE TbTree SET KeyPar = 99, KeyChi = 99, KeyPrw = 99, KeyNxt = 99 WHERE KeyInd IN (12, 13)",
                 14},
        // 7 is the only child of 3: only 3's KeyChi names it.
        FreeCase{"OnlyChildNamedByItsParent",
                 "UPDATE TbTree SET KeyPar = NULL, KeyNxt = NULL WHERE KeyInd = 7; "
                 "UPDATE TbTree SET KeyPar = 0, KeyNxt = 0 WHERE KeyInd = 12",
                 13},
        // 10 is the last child of 2 and has no children: only 6's KeyNxt names it.
        FreeCase{"LastChildNamedByItsPreviousSibling",
                 "UPDATE TbTree SET KeyPar = NULL, KeyNxt = NULL WHERE KeyInd = 10; "
                 "UPDATE TbTree SET KeyPar = 0, KeyNxt = 0 WHERE KeyInd = 12",
                 13},
        // 5 is the first child of 2: its parent's KeyChi and 6's KeyPrw name it.
        FreeCase{"FirstChildNamedByItsParentAndNextSibling",
                 "UPDATE TbTree SET KeyPar = NULL, KeyNxt = NULL WHERE KeyInd = 5; "
                 "UPDATE TbTree SET KeyPar = 0, KeyNxt = 0 WHERE KeyInd = 12",
                 13},
        // 3 keeps its child 7, whose KeyPar names it; nothing else does once
        // 3 is out of the root's chain.
        FreeCase{"ParentNamedByItsChild",
                 "UPDATE TbTree SET KeyPar = NULL, KeyNxt = NULL, KeyPrw = 0 WHERE KeyInd = 3; "
                 "UPDATE TbTree SET KeyNxt = 4 WHERE KeyInd = 2; UPDATE TbTree SET KeyPrw = 2 WHERE KeyInd = 4; "
                 "UPDATE TbTree SET KeyPar = 0, KeyNxt = 0 WHERE KeyInd = 12",
                 13}),
    [](const auto &info) { return std::string(info.param.name); });

// Every insert command looks for a free record first, so on a large store
// with none the look must not read the table.
TEST(SeekFree, OnAStoreWithoutFreeRecordsReadsNoRecords)
{
    TestStore ts;
    ts.create({{1, 0}});
    ts.exec("WITH RECURSIVE n(k) AS (SELECT 2 UNION ALL SELECT k + 1 FROM n WHERE k < 20001) "
            "INSERT INTO TbTree (KeyInd, KeyPar, KeyPrw, KeyNxt) "
            "SELECT k, 1, k - 1, CASE WHEN k < 20001 THEN k + 1 ELSE 0 END FROM n; "
            "UPDATE TbTree SET KeyChi = 2 WHERE KeyInd = 1; UPDATE TbTree SET KeyPrw = 0 WHERE KeyInd = 2");
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(ts.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt *stmt = nullptr;
    const std::string_view sql = store::sql::kSeekFree;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    // A scan of 20,000 records takes tens of thousands of steps; a look-up on
    // "ParNxt" that finds nothing, a few dozen.
    EXPECT_LT(sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_VM_STEP, 0), 200);
    EXPECT_EQ(sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_FULLSCAN_STEP, 0), 0);
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
}

TEST_F(LinksTest, NewItemDoesNotReuseADeletedItem)
{
    start();
    UnlinkItem(modBase::rsTree, 10); // the largest key, now in no chain
    log.clear();
    EXPECT_EQ(NewItem(modBase::rsTree), 11);
    EXPECT_EQ(log.read(), (Writes{appended(11)}));
}

TEST_F(LinksTest, NewItemPastTheLargestKeyFailsWithoutWriting)
{
    start({{1, 0}}, "INSERT INTO TbTree (KeyInd) VALUES (2147483647)");
    EXPECT_EQ(NewItem(modBase::rsTree), 0);
    EXPECT_TRUE(log.read().empty());
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd");
}

} // namespace
