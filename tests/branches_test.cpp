// The tree as a whole for the companion tool: deleted branches found and
// brought back, refusals that write nothing, a copy taken while another
// program writes, and the dump people read.

#include "store/branches.h"
#include "store/links.h"
#include "store/mod_base.h"
#include "tests/support/test_store.h"
#include "tests/support/tree_check.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using testing_support::Item;
using testing_support::TestStore;

// Root 1: 2 (5, 6 (8)), 3 (7), 4; then 3 and 6 deleted the way the delete
// command deletes: unlinked, records kept. Record 9 is free (Null links).
void deletedTwice(TestStore &ts)
{
    ts.create({{1, 0}, {2, 1, true, "two"}, {5, 2}, {6, 2, false, "six"}, {8, 6}, {3, 1, false, "three", true},
               {7, 3}, {4, 1}});
    ts.exec("INSERT INTO TbTree (KeyInd, KeyPar, KeyNxt) VALUES (9, NULL, NULL)");
    ASSERT_TRUE(modBase::OpenBase(ts.directory()).ok());
    modTree::UnlinkItem(modBase::rsTree, 3);
    modTree::UnlinkItem(modBase::rsTree, 6);
    modBase::rsTree.close();
    modBase::rsCmd.close();
}

TEST(DeletedBranches, AreTheUnlinkedTopsWithWhatIsBelowThem)
{
    TestStore ts;
    deletedTwice(ts);
    const std::string &error = store::lastError();
    const auto branches = store::deletedBranches(ts.path());
    ASSERT_TRUE(branches) << error;
    ASSERT_EQ(branches->size(), 2u);
    EXPECT_EQ((*branches)[0].key, 3);
    EXPECT_EQ((*branches)[0].text, "three");
    EXPECT_EQ((*branches)[0].items, 2);
    EXPECT_EQ((*branches)[1].key, 6);
    EXPECT_EQ((*branches)[1].items, 2);
}

TEST(DeletedBranches, ComeBackLastUnderTheRootWithTheirSubtrees)
{
    TestStore ts;
    deletedTwice(ts);
    const std::string &message = store::lastError();
    ASSERT_EQ(store::restoreBranch(ts.path(), 6), store::RestoreResult::Restored) << message;
    ASSERT_EQ(store::restoreBranch(ts.path(), 3), store::RestoreResult::Restored) << message;
    EXPECT_EQ(testing_support::outline(ts), (std::vector<std::string>{"2@1", "5@2", "4@1", "6@1", "8@2", "3@1", "7@2"}));
    const auto check = testing_support::checkTree(ts);
    EXPECT_TRUE(check.ok()) << check.report();
    EXPECT_EQ(ts.field(3, "KeySel"), "0") << "the delete cleared the mark; nothing sets it again";
}

TEST(DeletedBranches, ComeBackUnderARootWithoutChildren)
{
    TestStore ts;
    ts.create({{1, 0}, {2, 1, false, "only"}});
    ASSERT_TRUE(modBase::OpenBase(ts.directory()).ok());
    modTree::UnlinkItem(modBase::rsTree, 2);
    modBase::rsTree.close();
    modBase::rsCmd.close();
    ASSERT_EQ(store::restoreBranch(ts.path(), 2), store::RestoreResult::Restored);
    EXPECT_EQ(testing_support::outline(ts), (std::vector<std::string>{"2@1"}));
    EXPECT_TRUE(testing_support::checkTree(ts).ok());
}

struct Refusal {
    const char *name;
    std::int32_t key;
};

class RestoreRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(RestoreRefuses, AndWritesNothing)
{
    TestStore ts;
    deletedTwice(ts);
    const auto before = ts.dump();
    const std::string &message = store::lastError();
    EXPECT_EQ(store::restoreBranch(ts.path(), GetParam().key), store::RestoreResult::Refused);
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(ts.dump(), before);
}

INSTANTIATE_TEST_SUITE_P(DeletedBranches, RestoreRefuses,
                         ::testing::Values(Refusal{"InTheTree", 5}, Refusal{"TheRoot", 1}, Refusal{"RecordZero", 0},
                                           Refusal{"BelowADeletedTop", 7}, Refusal{"AFreeRecord", 9},
                                           Refusal{"NoSuchRecord", 99}),
                         [](const auto &info) { return std::string(info.param.name); });

// Another program writing the store: the restore waits a little, then says
// so, and the file keeps nothing of it.
TEST(DeletedBranches, RestoreOnABusyStoreSaysSoAndWritesNothing)
{
    TestStore ts;
    deletedTwice(ts);
    const auto before = ts.dump();
    sqlite3 *writer = nullptr;
    sqlite3_open_v2(ts.path().c_str(), &writer, SQLITE_OPEN_READWRITE, nullptr);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string &message = store::lastError();
    EXPECT_EQ(store::restoreBranch(ts.path(), 3), store::RestoreResult::Busy);
    EXPECT_NE(message.find("busy"), std::string::npos) << message;
    sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(writer);
    EXPECT_EQ(ts.dump(), before);
    EXPECT_EQ(store::restoreBranch(ts.path(), 3), store::RestoreResult::Restored) << message;
}

// The copy holds what was committed when it was taken, never another
// program's change in progress, and is a sound database of its own.
TEST(Backup, CopiesWhatIsCommittedWhileAnotherProgramWrites)
{
    TestStore ts;
    ts.create({{1, 0}, {2, 1, false, "committed"}});
    sqlite3 *writer = nullptr;
    sqlite3_open_v2(ts.path().c_str(), &writer, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(writer, "BEGIN IMMEDIATE; UPDATE TbTree SET KeyTxt = 'in progress' WHERE KeyInd = 2", nullptr,
                 nullptr, nullptr);
    const std::string copy = ts.directory() + "/copy.mdb";
    const std::string &error = store::lastError();
    EXPECT_TRUE(store::backupStore(ts.path(), copy)) << error;
    sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(writer);

    sqlite3 *db = nullptr;
    sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT KeyTxt FROM TbTree WHERE KeyInd = 2", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)), "committed");
    sqlite3_finalize(stmt);
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)), "ok");
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

TEST(Backup, NeverWritesOverAFileAndLeavesNoneWhenItFails)
{
    TestStore ts;
    ts.create({{1, 0}});
    const std::string &error = store::lastError();
    EXPECT_FALSE(store::backupStore(ts.path(), ts.path()));
    EXPECT_NE(error.find("already there"), std::string::npos);
    const std::string copy = ts.directory() + "/copy.mdb";
    EXPECT_FALSE(store::backupStore(ts.directory() + "/missing.mdb", copy));
    EXPECT_FALSE(std::filesystem::exists(copy));
}

// The walk a dump prints: display order with depths, and what a broken link
// kept it from reaching.
TEST(ReadTree, WalksInDisplayOrderAndSaysWhatItCouldNotFollow)
{
    TestStore ts;
    ts.create({{1, 0}, {2, 1, true, "two"}, {4, 2, false, "four", true}, {3, 1, false, "three"}, {5, 3}});
    const std::string &error = store::lastError();
    auto tree = store::readTree(ts.path());
    ASSERT_TRUE(tree) << error;
    std::vector<std::string> shown;
    for (const auto &item : tree->items)
        shown.push_back(std::to_string(item.key) + "@" + std::to_string(item.depth) + (item.expanded ? "+" : "")
                        + (item.selected ? "*" : ""));
    EXPECT_EQ(shown, (std::vector<std::string>{"1@0", "2@1+", "4@2*", "3@1", "5@2"}));
    EXPECT_TRUE(tree->skipped.empty());

    ts.exec("UPDATE TbTree SET KeyNxt = 2 WHERE KeyInd = 3; UPDATE TbTree SET KeyChi = 99 WHERE KeyInd = 4");
    tree = store::readTree(ts.path());
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->items.size(), 5u) << "each item once";
    EXPECT_EQ(tree->skipped, (std::vector<std::string>{"item 4: KeyChi 99 names no record, not followed",
                                                       "item 3: KeyNxt 2 leads to an item already reached, not followed"}));
}

// The find's lean walk reaches the same items in the same order with the same
// texts as readTree, however broken the links.
class ReadTreeTexts : public ::testing::TestWithParam<const char *> {};

TEST_P(ReadTreeTexts, MatchesReadTree)
{
    TestStore ts;
    ts.create({{1, 0}, {2, 1, true, "two"}, {4, 2, false, "четыре"}, {6, 4, false}, {3, 1, false, "three"}, {5, 3}});
    ts.exec(GetParam());
    const auto tree = store::readTree(ts.path());
    const auto texts = store::readTreeTexts(ts.path());
    ASSERT_TRUE(tree && texts);
    std::vector<std::string> expected, got;
    for (const auto &item : tree->items)
        expected.push_back(std::to_string(item.key) + "@" + std::to_string(item.depth) + " " + item.text.value_or(""));
    for (std::size_t i = 0; i < texts->keys.size(); ++i)
        got.push_back(std::to_string(texts->keys[i]) + "@" + std::to_string(texts->depths[i]) + " "
                      + std::string(texts->text(i)));
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(ReadTree, ReadTreeTexts, ::testing::Values(
    "SELECT 1",
    "UPDATE TbTree SET KeyNxt = 2 WHERE KeyInd = 3",                  // back to an item reached
    "UPDATE TbTree SET KeyChi = 99 WHERE KeyInd = 4",                 // to no record
    "UPDATE TbTree SET KeyChi = 1 WHERE KeyInd = 6",                  // to the root
    "UPDATE TbTree SET KeyChi = NULL, KeyTxt = 42 WHERE KeyInd = 2",  // Null link, a number for a text
    "UPDATE TbTree SET KeyChi = 'x', KeyTxt = NULL WHERE KeyInd = 3", // no key
    "UPDATE TbTree SET KeyNxt = 7 WHERE KeyInd = 1",                  // the root's sibling is never followed
    "UPDATE TbTree SET KeyInd = 300000 WHERE KeyInd = 6;"             // keys far apart: read in two parts
    "UPDATE TbTree SET KeyChi = 300000 WHERE KeyInd = 4",
    // and 25,000 children of 5 besides: parts read in several chunks
    "UPDATE TbTree SET KeyInd = 300000 WHERE KeyInd = 6; UPDATE TbTree SET KeyChi = 300000 WHERE KeyInd = 4;"
    "WITH RECURSIVE n(k) AS (SELECT 10 UNION ALL SELECT k + 1 FROM n WHERE k < 25009)"
    " INSERT INTO TbTree (KeyInd, KeyPar, KeyNxt, KeyTxt) SELECT k, 5, (k + 1) % 25010, 'n' || k FROM n;"
    "UPDATE TbTree SET KeyChi = 10 WHERE KeyInd = 5",
    "DELETE FROM TbTree WHERE KeyInd = 1"));

} // namespace
