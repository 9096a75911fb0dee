// The structural commands as the toolbar runs them: the exact writes, the
// tree they leave, the cases where they must do nothing, and atomicity when
// the program dies half way.

#include "commands/toolbar.h"
#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/selection.h"
#include "view/tree_state.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string_view>
#include <tuple>

using testing_support::appended;
using testing_support::GuiTest;
using testing_support::Item;
using testing_support::one;
using testing_support::reset;
using testing_support::Write;
using testing_support::Writes;
using Outline = std::vector<std::string>;
using namespace modTree;

namespace {

// Root 1: 2 (open: 5, 6, 10), 3 (closed: 7), 4.
const std::vector<Item> kTree = {
    {1, 0}, {2, 1, true, "two"}, {5, 2, false, "five"}, {6, 2, false, "six"}, {10, 2, false, "ten"},
    {3, 1, false, "three"}, {7, 3, false, "seven"}, {4, 1, false, "four"},
};
const Outline kBefore{"2@1", "5@2", "6@2", "10@2", "3@1", "7@2", "4@1"};

class CommandsTest : public GuiTest {
protected:
    // Starts with item selected, the log empty.
    void startWith(std::int32_t selected, const std::vector<Item> &items = kTree)
    {
        startLogged(items);
        SelectItem(selected);
        log.clear();
    }
    void expectConsistent()
    {
        const auto check = testing_support::checkTree(store);
        EXPECT_TRUE(check.ok()) << check.report();
    }
    Outline outline() { return testing_support::outline(store); }
};

struct CommandCase {
    const char *name;
    std::int32_t selected;
    int button;
    Outline after;
    Writes writes;
    friend void PrintTo(const CommandCase &c, std::ostream *os) { *os << c.name; }
};

class CommandWrites : public CommandsTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandWrites, LeaveTheTreeAndWritesListed)
{
    const CommandCase &c = GetParam();
    startWith(c.selected);
    ButtonClick(c.button);
    EXPECT_EQ(log.read(), c.writes);
    EXPECT_EQ(outline(), c.after);
    expectConsistent();
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandWrites,
    ::testing::Values(
        CommandCase{"AddBeforeFirstChild", 5, CmdAddBefore,
                    {"2@1", "11@2", "5@2", "6@2", "10@2", "3@1", "7@2", "4@1"},
                    {appended(11), one(5, "KeyPrw", 11), one(2, "KeyChi", 11), one(11, "KeyPar", 2),
                     one(11, "KeyPrw", 0), one(11, "KeyNxt", 5), one(5, "KeySel", 0), one(11, "KeySel", 1)}},
        CommandCase{"AddBeforeMiddleChild", 6, CmdAddBefore,
                    {"2@1", "5@2", "11@2", "6@2", "10@2", "3@1", "7@2", "4@1"},
                    {appended(11), one(6, "KeyPrw", 11), one(5, "KeyNxt", 11), one(11, "KeyPar", 2),
                     one(11, "KeyPrw", 5), one(11, "KeyNxt", 6), one(6, "KeySel", 0), one(11, "KeySel", 1)}},
        CommandCase{"AddAfterLastChild", 10, CmdAddAfter,
                    {"2@1", "5@2", "6@2", "10@2", "11@2", "3@1", "7@2", "4@1"},
                    {appended(11), one(10, "KeyNxt", 11), one(11, "KeyPar", 2), one(11, "KeyPrw", 10),
                     one(11, "KeyNxt", 0), one(10, "KeySel", 0), one(11, "KeySel", 1)}},
        CommandCase{"AddAfterMiddleChild", 5, CmdAddAfter,
                    {"2@1", "5@2", "11@2", "6@2", "10@2", "3@1", "7@2", "4@1"},
                    {appended(11), one(5, "KeyNxt", 11), one(6, "KeyPrw", 11), one(11, "KeyPar", 2),
                     one(11, "KeyPrw", 5), one(11, "KeyNxt", 6), one(5, "KeySel", 0), one(11, "KeySel", 1)}},
        CommandCase{"AddChildWithoutChildren", 4, CmdAddChild,
                    {"2@1", "5@2", "6@2", "10@2", "3@1", "7@2", "4@1", "11@2"},
                    {appended(11), one(4, "Expand", 1), one(4, "KeyChi", 11), one(11, "KeyPar", 4),
                     one(4, "KeySel", 0), one(11, "KeySel", 1)}},
        CommandCase{"AddChildWithChildren", 2, CmdAddChild,
                    {"2@1", "11@2", "5@2", "6@2", "10@2", "3@1", "7@2", "4@1"},
                    {appended(11), one(2, "Expand", 1), one(5, "KeyPrw", 11), one(2, "KeyChi", 11),
                     one(11, "KeyPar", 2), one(11, "KeyPrw", 0), one(11, "KeyNxt", 5), one(2, "KeySel", 0),
                     one(11, "KeySel", 1)}},
        CommandCase{"AddChildOnTheRoot", 1, CmdAddChild,
                    {"11@1", "2@1", "5@2", "6@2", "10@2", "3@1", "7@2", "4@1"},
                    {appended(11), one(1, "Expand", 1), one(2, "KeyPrw", 11), one(1, "KeyChi", 11),
                     one(11, "KeyPar", 1), one(11, "KeyPrw", 0), one(11, "KeyNxt", 2), one(1, "KeySel", 0),
                     one(11, "KeySel", 1)}},
        CommandCase{"AddAfterInAClosedBranch", 7, CmdAddAfter,
                    {"2@1", "5@2", "6@2", "10@2", "3@1", "7@2", "11@2", "4@1"},
                    {appended(11), one(7, "KeyNxt", 11), one(11, "KeyPar", 3), one(11, "KeyPrw", 7),
                     one(11, "KeyNxt", 0), one(7, "KeySel", 0), one(11, "KeySel", 1)}},
        CommandCase{"AddBeforeTheRootDoesNothing", 1, CmdAddBefore, kBefore, {}},
        CommandCase{"AddAfterTheRootDoesNothing", 1, CmdAddAfter, kBefore, {}},
        CommandCase{"MoveUp", 6, CmdMoveUp, {"2@1", "6@2", "5@2", "10@2", "3@1", "7@2", "4@1"},
                    {reset(6), one(5, "KeyNxt", 10), one(10, "KeyPrw", 5), one(5, "KeyPrw", 6),
                     one(2, "KeyChi", 6), one(6, "KeyPar", 2), one(6, "KeyPrw", 0), one(6, "KeyNxt", 5),
                     one(6, "KeySel", 1)}},
        CommandCase{"MoveUpFirstChildDoesNothing", 5, CmdMoveUp, kBefore, {}},
        CommandCase{"MoveDown", 5, CmdMoveDown, {"2@1", "6@2", "5@2", "10@2", "3@1", "7@2", "4@1"},
                    {reset(5), one(2, "KeyChi", 6), one(6, "KeyPrw", 0), one(6, "KeyNxt", 5),
                     one(10, "KeyPrw", 5), one(5, "KeyPar", 2), one(5, "KeyPrw", 6), one(5, "KeyNxt", 10),
                     one(5, "KeySel", 1)}},
        CommandCase{"MoveDownLastChildDoesNothing", 10, CmdMoveDown, kBefore, {}},
        CommandCase{"MoveOut", 6, CmdMoveOut, {"2@1", "5@2", "10@2", "6@1", "3@1", "7@2", "4@1"},
                    {reset(6), one(5, "KeyNxt", 10), one(10, "KeyPrw", 5), one(2, "KeyNxt", 6),
                     one(3, "KeyPrw", 6), one(6, "KeyPar", 1), one(6, "KeyPrw", 2), one(6, "KeyNxt", 3),
                     one(6, "KeySel", 1)}},
        CommandCase{"MoveOutTopLevelDoesNothing", 3, CmdMoveOut, kBefore, {}},
        CommandCase{"MoveOutTheRootDoesNothing", 1, CmdMoveOut, kBefore, {}},
        CommandCase{"MoveInUnderParentWithChildren", 3, CmdMoveIn,
                    {"2@1", "5@2", "6@2", "10@2", "3@2", "7@3", "4@1"},
                    {reset(3), one(2, "KeyNxt", 4), one(4, "KeyPrw", 2), one(10, "KeyNxt", 3),
                     one(3, "KeyPar", 2), one(3, "KeyPrw", 10), one(3, "KeyNxt", 0), one(3, "KeySel", 1)}},
        CommandCase{"MoveInUnderChildlessParent", 6, CmdMoveIn,
                    {"2@1", "5@2", "6@3", "10@2", "3@1", "7@2", "4@1"},
                    {reset(6), one(5, "KeyNxt", 10), one(10, "KeyPrw", 5), one(5, "KeyChi", 6),
                     one(6, "KeyPar", 5), one(6, "KeySel", 1)}},
        CommandCase{"MoveInFirstChildDoesNothing", 5, CmdMoveIn, kBefore, {}},
        CommandCase{"MovesOfTheRootDoNothing", 1, CmdMoveUp, kBefore, {}},
        CommandCase{"Delete", 2, CmdDelete, {"3@1", "7@2", "4@1"},
                    {reset(2), one(1, "KeyChi", 3), one(3, "KeyPrw", 0)}},
        CommandCase{"DeleteTheRootClearsOnlyItsMark", 1, CmdDelete, kBefore, {reset(1)}},
        CommandCase{"ButtonWithoutCommand", 5, CmdNone, kBefore, {}},
        CommandCase{"ButtonTwelve", 5, 12, kBefore, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(CommandsTest, AMoveThatIsNotPossibleDoesNotRebuild)
{
    startWith(5);
    const toolkit::TreeNode five = node("5K");
    for (int button : {CmdMoveUp, CmdMoveIn})
        ButtonClick(button);
    EXPECT_TRUE(five.isValid()) << "the view was rebuilt";
    EXPECT_TRUE(log.read().empty());
}

TEST_F(CommandsTest, InsertShowsTheNewItemSelectedAndLeavesTheTextBoxAlone)
{
    startWith(3);
    click("6K");
    log.clear();
    SelectItem(3); // as a command would, without touching the text box
    ButtonClick(CmdAddChild); // on the closed item 3
    const toolkit::TreeNode added = node("11K");
    ASSERT_TRUE(added.isValid());
    EXPECT_TRUE(node("3K").isExpanded());
    EXPECT_TRUE(added.isSelected());
    EXPECT_EQ(added.foreColor(), 255);
    EXPECT_TRUE(window->tree()->indexOf(added).isValid());
    EXPECT_EQ(testing_support::tagText(*window->textBox()), "6K");
}

TEST_F(CommandsTest, MoveInIntoAClosedItemMarksTheTableButNoNode)
{
    startWith(4);
    ButtonClick(CmdMoveIn);
    EXPECT_EQ(outline(), (Outline{"2@1", "5@2", "6@2", "10@2", "3@1", "7@2", "4@2"}));
    EXPECT_EQ(store.field(4, "KeySel"), "1");
    EXPECT_EQ(store.field(3, "Expand"), "0");
    EXPECT_FALSE(node("4K").isValid());
    EXPECT_TRUE(node("3S").isValid());
    EXPECT_FALSE(window->tree()->selectedNode().isValid());
}

TEST_F(CommandsTest, AfterADeleteOnlyRefreshAndClicksAct)
{
    startWith(6);
    ButtonClick(CmdDelete);
    EXPECT_FALSE(node("6K").isValid());
    EXPECT_EQ(store.field(6, "KeyTxt"), "'six'"); // the record keeps its contents
    log.clear();
    for (int button = CmdAddBefore; button <= CmdNone; ++button)
        ButtonClick(button);
    EXPECT_TRUE(log.read().empty());
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd"); // back on the normal index after finding nothing
    ButtonClick(CmdRefresh);
    EXPECT_TRUE(node("5K").isValid());
    click("5K");
    EXPECT_EQ(store.field(5, "KeySel"), "1");
}

TEST_F(CommandsTest, DeletingTheOnlyTopLevelItemLeavesTheRootAlone)
{
    startWith(2, {{1, 0}, {2, 1, true, "only"}, {3, 2, false, "child"}});
    ButtonClick(CmdDelete);
    EXPECT_EQ(testing_support::describeTree(*window->tree()), (std::vector<std::string>{">1K 'корень' +"}));
    expectConsistent();
}

TEST_F(CommandsTest, RefreshNeverLooksAtTheSelection)
{
    startWith(6);
    store.exec("UPDATE TbTree SET KeyTxt = 'changed elsewhere' WHERE KeyInd = 5");
    log.clear();
    modBase::rsTree.setIndex("KeySel");
    ButtonClick(CmdRefresh);
    EXPECT_TRUE(log.read().empty());
    EXPECT_EQ(node("5K").text(), "changed elsewhere");
    EXPECT_TRUE(node("6K").isSelected());
}

TEST_F(CommandsTest, AnInsertReusesAFreeRecord)
{
    store.create(kTree);
    store.exec("INSERT INTO TbTree (KeyInd, KeyPar, KeyNxt, KeyTxt) VALUES (8, NULL, NULL, 'spare')");
    log.install();
    startOnStore();
    SelectItem(4);
    ButtonClick(CmdAddAfter);
    EXPECT_EQ(outline(), (Outline{"2@1", "5@2", "6@2", "10@2", "3@1", "7@2", "4@1", "8@1"}));
    EXPECT_EQ(node("8K").text(), "spare");
    expectConsistent();
}

// Records out of the tree, marked selected, as another tool may leave them:
// 11 still names a parent and siblings in the tree, stands beside the root,
// or names the root as its previous sibling and a child of 2 as its own. No
// command on them may cut the tree or break its links.
const char *const kRecordsOutOfTheTree[] = {
    "INSERT INTO TbTree (KeyInd, KeyPar, KeyChi, KeyPrw, KeyNxt, KeySel) VALUES (11, 1, 5, 1, 0, 1)",
    "INSERT INTO TbTree (KeyInd, KeyPar, KeyPrw, KeyNxt, KeySel) VALUES (11, 2, 5, 10, 1)",
    "INSERT INTO TbTree (KeyInd, KeyPar, KeyPrw, KeyNxt, KeySel) VALUES (11, 0, 1, 0, 1)",
    "INSERT INTO TbTree (KeyInd, KeyPar, KeyPrw, KeyNxt, KeySel) VALUES (11, 0, 0, 1, 1)",
};

std::string nameOutOfTheTree(const ::testing::TestParamInfo<std::tuple<const char *, int>> &info)
{
    const std::string_view shapes[] = {"ClaimingAChildOfTheTree", "NamingItsSiblings", "AfterTheRoot", "BeforeTheRoot"};
    const auto at = std::find(std::begin(kRecordsOutOfTheTree), std::end(kRecordsOutOfTheTree),
                              std::get<0>(info.param));
    return std::string(shapes[at - std::begin(kRecordsOutOfTheTree)]) + "_" + std::to_string(std::get<1>(info.param));
}

class CommandOnARecordOutOfTheTree : public CommandsTest,
                                     public ::testing::WithParamInterface<std::tuple<const char *, int>> {};

TEST_P(CommandOnARecordOutOfTheTree, LeavesTheTreeWhole)
{
    store.create(kTree);
    store.exec(std::get<0>(GetParam()));
    startOnStore();
    const auto before = testing_support::checkTree(store);
    ASSERT_TRUE(before.ok()) << before.report();
    ButtonClick(std::get<1>(GetParam()));
    expectConsistent();
    const auto after = testing_support::checkTree(store);
    for (const std::int32_t k : before.reachable)
        EXPECT_TRUE(after.reachable.contains(k)) << "item " << k << " left the tree";
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandOnARecordOutOfTheTree,
                         ::testing::Combine(::testing::ValuesIn(kRecordsOutOfTheTree),
                                            ::testing::Values(CmdAddBefore, CmdAddAfter, CmdAddChild, CmdMoveUp,
                                                              CmdMoveDown, CmdMoveOut, CmdMoveIn, CmdDelete)),
                         nameOutOfTheTree);

TEST_F(CommandsTest, MoveInGoesAfterTheLastChildNotARecordOutOfTheTreeNamingTheParent)
{
    store.create(kTree);
    store.exec("INSERT INTO TbTree (KeyInd, KeyPar, KeyNxt) VALUES (8, 2, 0)"); // would match (2, 0) before 10
    startOnStore();
    SelectItem(3);
    ButtonClick(CmdMoveIn);
    EXPECT_EQ(outline(), (Outline{"2@1", "5@2", "6@2", "10@2", "3@2", "7@3", "4@1"}));
    expectConsistent();
}

// Many random commands on a random tree: after each the links hold, and no
// item leaves the tree except by delete (which takes exactly its subtree).
TEST_F(CommandsTest, RandomCommandsKeepTheTreeWhole)
{
    std::mt19937 rng(20261207);
    std::vector<Item> items{{1, 0}};
    for (std::int32_t k = 2; k <= 40; ++k)
        items.push_back({k, static_cast<std::int32_t>(std::uniform_int_distribution<>(1, k - 1)(rng)),
                         std::bernoulli_distribution(0.6)(rng), "item " + std::to_string(k)});
    store.create(items);
    startOnStore();

    // The items below key in the outline: those after it, deeper than it.
    auto subtreeOf = [&](std::int32_t key) {
        std::set<std::int32_t> subtree{key};
        int depth = -1;
        for (const auto &entry : outline()) {
            const std::int32_t k = std::stoi(entry.substr(0, entry.find('@')));
            const int d = std::stoi(entry.substr(entry.find('@') + 1));
            if (depth >= 0 && d <= depth)
                break;
            if (depth >= 0)
                subtree.insert(k);
            if (k == key)
                depth = d;
        }
        return subtree;
    };

    for (int step = 0; step < 600; ++step) {
        const auto before = testing_support::checkTree(store);
        ASSERT_TRUE(before.ok()) << "step " << step << "\n" << before.report();
        std::vector<std::int32_t> reachable(before.reachable.begin(), before.reachable.end());
        const std::int32_t selected = reachable[std::uniform_int_distribution<std::size_t>(0, reachable.size() - 1)(rng)];
        SelectItem(selected);
        const int button = std::uniform_int_distribution<>(CmdAddBefore, CmdDelete + 1)(rng);
        const int command = button == CmdDelete + 1 ? CmdRefresh : button;
        // Deletes are rarer, so the tree keeps growing.
        if (command == CmdDelete && std::bernoulli_distribution(0.7)(rng))
            continue;
        const std::set<std::int32_t> subtree = subtreeOf(selected);
        const toolkit::TreeNode beforeCommand = node("1K");
        ButtonClick(command);

        const auto after = testing_support::checkTree(store);
        ASSERT_TRUE(after.ok()) << "step " << step << " command " << command << " on " << selected << "\n"
                                << after.report();
        for (const std::int32_t k : before.reachable) {
            const bool deleted = command == CmdDelete && selected != 1 && subtree.contains(k);
            EXPECT_EQ(after.reachable.contains(k), !deleted) << "item " << k << " after command " << command;
        }
        const std::size_t added = after.reachable.size() + (command == CmdDelete && selected != 1 ? subtree.size() : 0)
            - before.reachable.size();
        EXPECT_LE(added, 1u);
        // After a rebuild the view shows what the table holds, node for node.
        // (Opening and closing by the user change the table without one.)
        if (!beforeCommand.isValid()) {
            std::vector<std::string> shown;
            for (const auto &line : testing_support::describeTree(*window->tree()))
                shown.push_back(line.substr(0, line.find(' ')));
            ASSERT_EQ(shown, testing_support::expectedView(store)) << "step " << step;
        }
        // Now and then the user opens or closes something, so closed branches
        // get loaded too.
        if (step % 7 == 0) {
            const auto rows = window->tree()->model()->rowCount();
            const toolkit::TreeNode target = window->tree()->nodeAt(
                window->tree()->model()->index(std::uniform_int_distribution<>(0, rows - 1)(rng), 0));
            if (target.childCount() > 0)
                target.setExpanded(!target.isExpanded());
        }
    }
}

// A slip on delete: the branch comes back with the store tool while the
// program has the file open, and shows after the next refresh.
TEST_F(CommandsTest, ADeletedBranchComesBackWithTheStoreToolWhileTheProgramRuns)
{
    startWithToolbar(kTree);
    click("2K");
    press(CmdDelete);
    ASSERT_FALSE(node("2K").isValid());
    QProcess tool;
    tool.start(BRANCHKEEPER_STORE_TOOL, {"restore", QString::fromStdString(store.path()), "2"});
    ASSERT_TRUE(tool.waitForFinished(20000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    expectConsistent();
    EXPECT_EQ(outline(), (Outline{"3@1", "7@2", "4@1", "2@1", "5@2", "6@2", "10@2"}));
    press(CmdRefresh);
    EXPECT_TRUE(node("2K").isValid());
    EXPECT_EQ(node("1K").children().back().key(), "2K");
}

} // namespace
