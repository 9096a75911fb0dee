// Opening and closing nodes through the real widgets: what is stored, when
// the view is rebuilt, and that rebuilding from inside the view's own event is
// safe (run under AddressSanitizer in CI).

#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/open_by.h"
#include "toolkit/keyed_tree.h"
#include "view/expand.h"
#include "view/selection.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

using testing_support::GuiTest;
using testing_support::Item;
using testing_support::OpenBy;
using testing_support::Write;
using testing_support::Writes;
using Lines = std::vector<std::string>;

namespace {

// Root 1: 2 (open: 4 (open: 8), 6), 3 (closed: 5), 7 (open, no children).
const std::vector<Item> kTree = {
    {1, 0},
    {2, 1, true, "two"},
    {4, 2, true, "four"},
    {8, 4, false, "eight"},
    {6, 2, false, "six"},
    {3, 1, false, "three"},
    {5, 3, false, "five"},
    {7, 1, true, "seven"},
};

Write expand(std::int64_t key, bool on) { return {key, {{"Expand", on ? "1" : "0"}}}; }

class ExpandTest : public GuiTest {
protected:
    Lines view() const { return testing_support::describeTree(*window->tree()); }
};

TEST_F(ExpandTest, ClosingWritesFalseForThatItemOnlyAndKeepsItsChildNodes)
{
    startLogged(kTree);
    const toolkit::TreeNode four = node("4K");
    clickArrow("4K");
    EXPECT_EQ(log.read(), (Writes{expand(4, false)}));
    EXPECT_TRUE(four.isValid()) << "closing must not rebuild";
    EXPECT_TRUE(node("8K").isValid());
    EXPECT_FALSE(window->tree()->indexOf(node("8K")).isValid()) << "child still on screen";
}

TEST_F(ExpandTest, ClosingAndOpeningAgainWritesFalseThenTrueWithoutRebuilding)
{
    startLogged(kTree);
    const toolkit::TreeNode four = node("4K");
    clickArrow("4K");
    clickArrow("4K");
    EXPECT_EQ(log.read(), (Writes{expand(4, false), expand(4, true)}));
    EXPECT_TRUE(four.isValid());
    EXPECT_TRUE(window->tree()->indexOf(node("8K")).isValid());
}

TEST_F(ExpandTest, OpeningABranchShownClosedLoadsItByRebuilding)
{
    startLogged(kTree);
    const toolkit::TreeNode three = node("3K");
    clickArrow("3K");
    // A top-level item: the others are closed in the table, in chain order.
    EXPECT_EQ(log.read(), (Writes{expand(3, true), expand(2, false), expand(7, false)}));
    EXPECT_FALSE(three.isValid()) << "the view was not rebuilt";
    EXPECT_EQ(view(), (Lines{">1K 'корень' +", "1K>2K 'two'", "2K>2S ''", "1K>3K 'three' +", "3K>5K 'five'",
                             "1K>7K 'seven'"}));
    EXPECT_FALSE(modTree::TreeBusy);
}

TEST_F(ExpandTest, OpeningATopLevelItemWithRealChildrenClosesOthersInTheTableOnly)
{
    startLogged(kTree);
    clickArrow("2K"); // close (writes False)
    log.clear();
    clickArrow("2K"); // open again: children are real nodes, no rebuild
    EXPECT_EQ(log.read(), (Writes{expand(2, true), expand(3, false), expand(7, false)}));
    EXPECT_TRUE(node("7K").isExpanded()) << "stays open on screen until the next rebuild";
    modTree::ShowTree();
    EXPECT_FALSE(node("7K").isExpanded());
}

TEST_F(ExpandTest, OpeningBelowTheTopLevelChangesNoOtherRecord)
{
    startLogged(kTree);
    clickArrow("4K");
    log.clear();
    clickArrow("4K");
    EXPECT_EQ(log.read(), (Writes{expand(4, true)}));
}

TEST_F(ExpandTest, OpeningAndClosingTheRootWritesOnlyTheRootRecord)
{
    startLogged(kTree);
    clickArrow("1K");
    clickArrow("1K");
    EXPECT_EQ(log.read(), (Writes{expand(1, false), expand(1, true)}));
    modTree::ShowTree();
    EXPECT_TRUE(node("1K").isExpanded());
    EXPECT_EQ(view().size(), 8u);
}

TEST_F(ExpandTest, NothingIsStoredWhileTheProgramItselfChangesTheView)
{
    startLogged(kTree);
    modTree::ShowTree();
    modTree::SelectItem(8);
    modTree::TreeBusy = true;
    node("2K").setExpanded(false);
    node("3K").setExpanded(true);
    modTree::TreeBusy = false;
    for (const auto &w : log.read())
        EXPECT_EQ(w.fields.count("Expand"), 0u) << w.key;
}

// Opening a top-level item walks the chain of top-level items as the file
// links it, however broken: each item the chain reaches is closed once, the
// walk ends where the chain does. The root's children are 2, 3 (closed, the
// one opened) and 7.
struct BrokenChain {
    const char *name;
    const char *sql;
    std::vector<std::int64_t> closed;
    friend void PrintTo(const BrokenChain &c, std::ostream *os) { *os << c.name; }
};

class TopLevelChain : public ExpandTest, public ::testing::WithParamInterface<BrokenChain> {};

TEST_P(TopLevelChain, EveryItemTheChainReachesIsClosedOnce)
{
    store.create(kTree);
    store.exec(GetParam().sql);
    log.install();
    startOnStore();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    log.clear();
    clickArrow("3K");
    Writes expected{expand(3, true)};
    for (const std::int64_t k : GetParam().closed)
        expected.push_back(expand(k, false));
    EXPECT_EQ(log.read(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    ExpandTest, TopLevelChain,
    ::testing::Values(BrokenChain{"Whole", "SELECT 1", {2, 7}},
                      BrokenChain{"ComesBackOnItself", "UPDATE TbTree SET KeyNxt = 2 WHERE KeyInd = 7", {2, 7}},
                      // Still in the chain, though it names another parent.
                      BrokenChain{"ItemNamingAnotherParent", "UPDATE TbTree SET KeyPar = 2 WHERE KeyInd = 7", {2, 7}},
                      BrokenChain{"LinkToNoRecord", "UPDATE TbTree SET KeyNxt = 99 WHERE KeyInd = 3", {2}},
                      BrokenChain{"LinkThatIsNoKey", "UPDATE TbTree SET KeyNxt = 7.5 WHERE KeyInd = 3", {2}},
                      BrokenChain{"NullLink", "UPDATE TbTree SET KeyNxt = NULL WHERE KeyInd = 3", {2}},
                      // Reached from the chain only: an item with KeyPar 1 outside it stays open.
                      BrokenChain{"TopLevelItemOutsideTheChain", "UPDATE TbTree SET KeyNxt = 0 WHERE KeyInd = 3", {2}}),
    [](const auto &info) { return std::string(info.param.name); });

// Every way a user opens a node, on a node whose branch was never loaded:
// the whole view is rebuilt inside the view's own event, the opened node
// included. Afterwards the view must be whole and usable.
class OpenClosedBranch : public ExpandTest, public ::testing::WithParamInterface<OpenBy> {};

TEST_P(OpenClosedBranch, RebuildsSafelyInsideTheEvent)
{
    startLogged(kTree);
    switch (GetParam()) {
    case OpenBy::Arrow:
        clickArrow("3K");
        break;
    case OpenBy::DoubleClick:
        click("3K");
        QTest::mouseDClick(window->tree()->viewport(), Qt::LeftButton, {},
                           window->tree()->nodeRect(node("3K")).center());
        break;
    case OpenBy::KeyRight:
    case OpenBy::KeyPlus:
        click("3K");
        key(GetParam() == OpenBy::KeyRight ? Qt::Key_Right : Qt::Key_Plus);
        break;
    }
    QApplication::processEvents();
    window->tree()->repaint();
    ASSERT_TRUE(node("5K").isValid());
    EXPECT_TRUE(window->tree()->indexOf(node("5K")).isValid());
    EXPECT_TRUE(node("3K").isExpanded());
    EXPECT_FALSE(node("3S").isValid());
    EXPECT_EQ(store.field(3, "Expand"), "1");
    // And it goes on working: click into the loaded branch.
    click("5K");
    EXPECT_EQ(store.field(5, "KeySel"), "1");
}

INSTANTIATE_TEST_SUITE_P(ExpandTest, OpenClosedBranch, ::testing::ValuesIn(testing_support::kEveryWayToOpen),
                         testing_support::openByName);

TEST_F(ExpandTest, OpeningANodeWithoutChildNodesDoesNothingMore)
{
    startLogged(kTree);
    const toolkit::TreeNode seven = node("7K");
    modTree::ExpandNode(seven);
    EXPECT_EQ(log.read(), (Writes{expand(7, true), expand(2, false), expand(3, false)}));
    EXPECT_TRUE(seven.isValid());
}

} // namespace
