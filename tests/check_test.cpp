// The link checker: one store per broken rule, each expecting exactly the
// line that names it, and sound stores of every shape expecting none.

#include "store/check.h"
#include "store/connection.h"
#include "tests/support/test_store.h"

#include <gtest/gtest.h>

#include <QDir>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using testing_support::Item;
using testing_support::TestStore;
using Lines = std::vector<std::string>;

// Root 1: 2 (5, 6, 10), 3 (7), 4. Item 8 is in no chain.
const std::vector<Item> kTree = {
    {1, 0}, {2, 1}, {5, 2}, {6, 2}, {10, 2}, {3, 1}, {7, 3}, {4, 1}, {8, 0},
};

store::LinkCheck check(TestStore &ts)
{
    const std::string &error = store::lastError();
    const auto result = store::checkLinks(ts.path());
    EXPECT_TRUE(result) << error;
    return result.value_or(store::LinkCheck{});
}

// kTree, then sql.
std::function<void(TestStore &)> tree(std::string sql = {})
{
    return [sql](TestStore &ts) {
        ts.create(kTree);
        if (!sql.empty())
            ts.exec(sql);
    };
}

// A chain of count items below the root: each the only child of the one
// before it (deep), or all children of the root (broad).
void chain(TestStore &ts, int count, bool deep)
{
    ts.create({{1, 0}});
    const std::string last = std::to_string(count + 1);
    ts.exec("WITH RECURSIVE n(k) AS (SELECT 2 UNION ALL SELECT k + 1 FROM n WHERE k < " + last + ") "
            "INSERT INTO TbTree (KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt) SELECT k, "
            + (deep ? "k - 1, CASE WHEN k < " + last + " THEN k + 1 ELSE 0 END, 0, 0"
                    : "1, 0, k - 1, CASE WHEN k < " + last + " THEN k + 1 ELSE 0 END")
            + " FROM n; UPDATE TbTree SET KeyChi = 2 WHERE KeyInd = 1; UPDATE TbTree SET KeyPrw = 0 WHERE KeyInd = 2");
}

struct CheckCase {
    const char *name;
    std::function<void(TestStore &)> make;
    Lines lines;
    friend void PrintTo(const CheckCase &c, std::ostream *os) { *os << c.name; }
};

class LinkChecker : public ::testing::TestWithParam<CheckCase> {};

TEST_P(LinkChecker, SaysEachBrokenRuleOnceAndNothingElse)
{
    TestStore ts;
    GetParam().make(ts);
    const auto result = check(ts);
    EXPECT_EQ(result.problems, GetParam().lines);
    EXPECT_EQ(result.clean(), GetParam().lines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LinkChecker,
    ::testing::Values(
        CheckCase{"SoundTree", tree(), {}},
        CheckCase{"RootAlone", [](TestStore &ts) { ts.create({{1, 0}}); }, {}},
        CheckCase{"OneSelectedItem", tree("UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 3"), {}},
        CheckCase{"ItemsOutsideTheTreeAreNotWalked", tree("UPDATE TbTree SET KeyChi = 99, KeyNxt = NULL WHERE KeyInd = 8"),
                  {}},
        CheckCase{"PartnerDoesNotLinkBack", tree("UPDATE TbTree SET KeyPrw = 10 WHERE KeyInd = 6"),
                  {"item 6: KeyPrw 10 but the previous sibling is 5"}},
        CheckCase{"FirstChildWithAPreviousSibling", tree("UPDATE TbTree SET KeyPrw = 8 WHERE KeyInd = 5"),
                  {"item 5: KeyPrw 8 but it is the first child of 2"}},
        CheckCase{"FirstChildOfAnotherParent", tree("UPDATE TbTree SET KeyPar = 3 WHERE KeyInd = 5"),
                  {"item 5: KeyPar 3 but it is the first child of 2"}},
        CheckCase{"ChildOfAnotherParent", tree("UPDATE TbTree SET KeyPar = 3 WHERE KeyInd = 10"),
                  {"item 10: KeyPar 3 but it is a child of 2"}},
        CheckCase{"TopLevelItemWithoutParent", tree("UPDATE TbTree SET KeyPar = 0 WHERE KeyInd = 4"),
                  {"item 4: KeyPar 0 but it is a child of 1"}},
        CheckCase{"SiblingChainComesBack", tree("UPDATE TbTree SET KeyNxt = 5 WHERE KeyInd = 10"),
                  {"item 10: KeyNxt 5 makes a cycle"}},
        CheckCase{"ItemIsItsOwnNextSibling", tree("UPDATE TbTree SET KeyNxt = 4 WHERE KeyInd = 4"),
                  {"item 4: KeyNxt 4 makes a cycle"}},
        CheckCase{"DescentComesBackToItsGrandparent", tree("UPDATE TbTree SET KeyChi = 3 WHERE KeyInd = 7"),
                  {"item 7: KeyChi 3 makes a cycle"}},
        CheckCase{"DescentComesBackToTheRoot", tree("UPDATE TbTree SET KeyChi = 1 WHERE KeyInd = 7"),
                  {"item 7: KeyChi 1 makes a cycle"}},
        CheckCase{"DescentComesBackToAnEarlierSibling", tree("UPDATE TbTree SET KeyChi = 5 WHERE KeyInd = 6"),
                  {"item 6: KeyChi 5 makes a cycle"}},
        CheckCase{"ItemReachedTwice", tree("UPDATE TbTree SET KeyChi = 6 WHERE KeyInd = 4"),
                  {"item 6: reached twice, the second time by KeyChi of item 4"}},
        // 7 leads on to 4 before the root's chain gets there.
        CheckCase{"ItemInTwoChains", tree("UPDATE TbTree SET KeyNxt = 4 WHERE KeyInd = 7"),
                  {"item 4: KeyPar 1 but it is a child of 3", "item 4: KeyPrw 3 but the previous sibling is 7",
                   "item 4: reached twice, the second time by KeyNxt of item 3"}},
        CheckCase{"NextSiblingMissing", tree("UPDATE TbTree SET KeyNxt = 99 WHERE KeyInd = 4"),
                  {"item 4: KeyNxt 99 names no record"}},
        CheckCase{"FirstChildMissing", tree("UPDATE TbTree SET KeyChi = 99 WHERE KeyInd = 3"),
                  {"item 3: KeyChi 99 names no record"}},
        CheckCase{"NullNextSibling", tree("UPDATE TbTree SET KeyNxt = NULL WHERE KeyInd = 6"),
                  {"item 6: KeyNxt is Null"}},
        CheckCase{"NullFirstChild", tree("UPDATE TbTree SET KeyChi = NULL WHERE KeyInd = 7"),
                  {"item 7: KeyChi is Null"}},
        CheckCase{"NullParent", tree("UPDATE TbTree SET KeyPar = NULL WHERE KeyInd = 6"), {"item 6: KeyPar is Null"}},
        CheckCase{"NullPreviousSibling", tree("UPDATE TbTree SET KeyPrw = NULL WHERE KeyInd = 5"),
                  {"item 5: KeyPrw is Null"}},
        CheckCase{"TextLink", tree("UPDATE TbTree SET KeyNxt = 'next' WHERE KeyInd = 4"),
                  {"item 4: KeyNxt is no 32-bit item key"}},
        CheckCase{"LinkBeyond32Bits", tree("UPDATE TbTree SET KeyNxt = 5000000000 WHERE KeyInd = 4"),
                  {"item 4: KeyNxt is no 32-bit item key"}},
        CheckCase{"RootInAChain", tree("UPDATE TbTree SET KeyPar = 8, KeyPrw = 8, KeyNxt = 8 WHERE KeyInd = 1"),
                  {"item 1: KeyPar 8 but the root has no parent", "item 1: KeyPrw 8 but the root has no previous sibling",
                   "item 1: KeyNxt 8 but the root has no next sibling"}},
        CheckCase{"RootWithNullLinks", tree("UPDATE TbTree SET KeyPar = NULL, KeyNxt = NULL WHERE KeyInd = 1"),
                  {"item 1: KeyPar is Null", "item 1: KeyNxt is Null"}},
        CheckCase{"NoRoot", tree("DELETE FROM TbTree WHERE KeyInd = 1"), {"item 1: no record; the tree has no root"}},
        CheckCase{"NoRecordZero", tree("DELETE FROM TbTree WHERE KeyInd = 0"),
                  {"item 0: no record; key 0 must have one"}},
        CheckCase{"TwoSelectedItems", tree("UPDATE TbTree SET KeySel = 1 WHERE KeyInd IN (7, 3)"),
                  {"item 7: KeySel true, but item 3 is selected too"}},
        // The rule holds for the whole table, not just the tree.
        CheckCase{"SelectedOutsideTheTree", tree("UPDATE TbTree SET KeySel = 1 WHERE KeyInd IN (8, 2)"),
                  {"item 8: KeySel true, but item 2 is selected too"}},
        CheckCase{"AnyNonZeroIsSelected",
                  tree("UPDATE TbTree SET KeySel = -1 WHERE KeyInd = 4; UPDATE TbTree SET KeySel = 2 WHERE KeyInd = 5; "
                       "UPDATE TbTree SET KeySel = 'yes' WHERE KeyInd = 6; UPDATE TbTree SET KeySel = 0.5 WHERE KeyInd = 7"),
                  {"item 5: KeySel true, but item 4 is selected too", "item 6: KeySel true, but item 4 is selected too",
                   "item 7: KeySel true, but item 4 is selected too"}},
        CheckCase{"KeyBeyond32Bits", tree("INSERT INTO TbTree (KeyInd) VALUES (5000000000)"),
                  {"item 5000000000: KeyInd is no 32-bit item key"}},
        CheckCase{"KeyHeldTwice",
                  [](TestStore &ts) {
                      // Only a table without a primary key can hold a key twice.
                      ts.exec("CREATE TABLE TbTree (KeyInd INTEGER, KeyPar INTEGER, KeyChi INTEGER, KeyPrw INTEGER, "
                              "KeyNxt INTEGER, KeySel INTEGER); "
                              "INSERT INTO TbTree VALUES (0, 0, 0, 0, 0, 0), (1, 0, 2, 0, 0, 0), (2, 1, 0, 0, 0, 0), "
                              "(2, 1, 0, 0, 0, 0)");
                  },
                  {"item 2: more than one record has this key"}},
        // Far deeper than any call stack would take.
        CheckCase{"DeepChainComesBackToTheTop",
                  [](TestStore &ts) {
                      chain(ts, 100000, true);
                      ts.exec("UPDATE TbTree SET KeyChi = 2 WHERE KeyInd = 100001");
                  },
                  {"item 100001: KeyChi 2 makes a cycle"}},
        CheckCase{"LongChainComesBack",
                  [](TestStore &ts) {
                      chain(ts, 100000, false);
                      ts.exec("UPDATE TbTree SET KeyNxt = 50000 WHERE KeyInd = 100001");
                  },
                  {"item 100001: KeyNxt 50000 makes a cycle"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LinkCheckerWalk, ReachesEveryItemOnceInDisplayOrder)
{
    TestStore ts;
    tree()(ts);
    EXPECT_EQ(check(ts).reachable, (std::vector<std::int32_t>{1, 2, 5, 6, 10, 3, 7, 4}));
}

TEST(LinkCheckerWalk, KeysFarFromTheOthersAreFound)
{
    TestStore ts;
    ts.create({{1, 0}, {2000000000, 1}, {-5, 1}, {3, -5}, {2147483647, -5}});
    const auto result = check(ts);
    EXPECT_TRUE(result.clean()) << result.problems.front();
    EXPECT_EQ(result.reachable, (std::vector<std::int32_t>{1, 2000000000, -5, 3, 2147483647}));
}

TEST(LinkCheckerWalk, ChainsOfAHundredThousandAreOrdinaryTrees)
{
    for (const bool deep : {true, false}) {
        SCOPED_TRACE(deep ? "deep" : "broad");
        TestStore ts;
        chain(ts, 100000, deep);
        const auto result = check(ts);
        EXPECT_TRUE(result.clean()) << result.problems.front();
        ASSERT_EQ(result.reachable.size(), 100001u);
        EXPECT_EQ(result.reachable.back(), 100001);
    }
}

// ---------------------------------------------------------------- files it cannot read

TEST(LinkCheckerFiles, NoFileIsAnErrorAndNoFileIsMade)
{
    TestStore ts;
    const std::string &error = store::lastError();
    EXPECT_FALSE(store::checkLinks(ts.path()));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(QDir(ts.qDirectory()).isEmpty());
}

TEST(LinkCheckerFiles, UnreadableStoresAreErrorsAndStayAsTheyWere)
{
    const struct {
        const char *name;
        std::function<void(TestStore &)> make;
        const char *reason;
    } cases[] = {
        {"not a database",
         [](TestStore &ts) { std::ofstream(ts.path(), std::ios::binary) << std::string(3000, 'x'); },
         "not a database"},
        {"no TbTree", [](TestStore &ts) { ts.exec("CREATE TABLE tbCmd (CmdPict TEXT, CmdAbout TEXT)"); }, "TbTree"},
        {"TbTree without KeySel",
         [](TestStore &ts) { ts.exec("CREATE TABLE TbTree (KeyInd INTEGER PRIMARY KEY, KeyPar, KeyChi, KeyPrw, KeyNxt)"); },
         "KeySel"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestStore ts;
        c.make(ts);
        const std::string before = ts.bytes();
        const std::string &error = store::lastError();
        EXPECT_FALSE(store::checkLinks(ts.path()));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(ts.bytes(), before);
        EXPECT_EQ(QDir(ts.qDirectory()).entryList(QDir::Files), QStringList{"dbPro.mdb"});
    }
}

// A store someone else planted code in: no connection the program or the
// tool opens will take it (nor run its triggers or views), but the checker
// opens it and names what does not belong in a store.
TEST(PlantedStore, IsRefusedAndTheCheckerNamesWhatWasPlanted)
{
    const struct {
        const char *name;
        const char *sql;
        bool opens;
        Lines problems; // each a part of one line, in order
        Lines notes;
    } cases[] = {
        {"a trigger that copies every text into a hidden table",
         "CREATE TABLE Hidden (t TEXT); CREATE TRIGGER spy AFTER UPDATE ON TbTree BEGIN "
         "INSERT INTO Hidden VALUES (NEW.KeyTxt); END",
         false, {"trigger \"spy\" on TbTree"}, {"table \"Hidden\""}},
        {"a trigger on the commands, named in lower case",
         "CREATE TRIGGER c BEFORE INSERT ON tbcmd BEGIN SELECT 1; END", false, {"trigger \"c\" on tbcmd"}, {}},
        {"a view that never ends in the items' place",
         "ALTER TABLE TbTree RENAME TO Items; CREATE VIEW TbTree AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL "
         "SELECT x + 1 FROM n) SELECT x AS KeyInd, x AS KeyPar, x AS KeyChi, x AS KeyPrw, x AS KeyNxt, x AS KeySel, "
         "x AS KeyTxt, x AS Expand FROM n",
         true, {"view \"TbTree\"", "the items cannot be read"}, {"table \"Items\""}},
        {"another program's table and index", "CREATE TABLE Notes (t TEXT); CREATE INDEX NotesText ON Notes (t)",
         true, {}, {"table \"Notes\"", "index \"NotesText\""}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestStore ts;
        ts.create(kTree, {{"a.bmp", "A"}});
        ts.exec(c.sql);
        const std::string &error = store::lastError();
        EXPECT_EQ(store::Connection::open(ts.path()) != nullptr, c.opens) << error;
        EXPECT_EQ(store::Connection::open(ts.path(), store::Connection::Access::ReadOnly) != nullptr, c.opens);
        const store::LinkCheck found = check(ts);
        ASSERT_EQ(found.problems.size(), c.problems.size()) << ::testing::PrintToString(found.problems);
        for (std::size_t i = 0; i < c.problems.size(); ++i)
            EXPECT_NE(found.problems[i].find(c.problems[i]), std::string::npos) << found.problems[i];
        ASSERT_EQ(found.notes.size(), c.notes.size()) << ::testing::PrintToString(found.notes);
        for (std::size_t i = 0; i < c.notes.size(); ++i)
            EXPECT_NE(found.notes[i].find(c.notes[i]), std::string::npos) << found.notes[i];
        EXPECT_EQ(ts.count("SELECT count(*) FROM sqlite_schema WHERE name = 'Hidden'") == 0
                      || ts.count("SELECT count(*) FROM Hidden") == 0,
                  true);
    }
}

} // namespace
