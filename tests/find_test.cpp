// Find, through the real window: what the field counts as the user types
// (closed branches and several scripts alike), where a step goes and what it
// opens and marks on the way, in one commit, and that typing writes nothing.

#include "store/connection.h"
#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/announcer.h"
#include "toolkit/find_field.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/find.h"
#include "view/tree_state.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using testing_support::GuiTest;
using testing_support::Item;

namespace {

// The root (its node reads "корень"): 2 open (5 closed (8), 6), 3 closed (7), 4, 9, 10.
const std::vector<Item> kTree = {
    {1, 0},         {2, 1, true, "Корень дерева"}, {5, 2, false, "корень"},          {8, 5, false, "КОРЕНЬ под"},
    {6, 2, false, "~"}, {3, 1, false, "Straße"},    {7, 3, false, "strasse two"}, {4, 1, false, "ΣΊΓΜΑ"},
    {9, 1, false, "日本語テキスト"}, {10, 1, false, "\xff\xc0 bad \xe2\x84\xaa"}}; // no UTF-8, the Kelvin sign

class FindTest : public GuiTest {
protected:
    void open(std::int32_t highlighted)
    {
        start(kTree);
        window->show();
        window->tree()->setFocus();
        window->tree()->highlight(node(modTree::ItemNode(highlighted).toString()));
        QTest::keyClick(window->tree(), Qt::Key_F, Qt::ControlModifier);
        QApplication::processEvents(); // the toolbar row lays the field out
    }
    std::string typeAndCount(const char *text)
    {
        // A key a character, in any script (QTest types only ASCII).
        for (const QChar c : QString::fromUtf8(text)) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(window->findField()->edit(), &press);
        }
        EXPECT_TRUE(window->findIndex()->settle(5000));
        return window->findField()->found().toStdString();
    }
    std::int32_t marked()
    {
        return static_cast<std::int32_t>(store.count("SELECT coalesce(max(KeyInd), 0) FROM TbTree WHERE KeySel <> 0"));
    }
    std::string expandFlags() { return store.field(2, "Expand") + store.field(3, "Expand") + store.field(5, "Expand"); }
};

struct CountCase {
    const char *typed;
    std::int32_t highlighted;
    const char *found;
};

class FindCount : public FindTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(FindCount, NamesTheNextMatchAndWritesNothing)
{
    open(GetParam().highlighted);
    const auto before = store.dump();
    EXPECT_EQ(typeAndCount(GetParam().typed), GetParam().found);
    EXPECT_EQ(window->findField()->spoken().toStdString(), GetParam().found);
    EXPECT_EQ(store.dump(), before);
}

INSTANTIATE_TEST_SUITE_P(Find, FindCount, ::testing::Values(
    CountCase{"корень", 1, "2 of 4"},        // the root's own row, a closed branch, every case
    CountCase{"корень", 5, "4 of 4"},
    CountCase{"корень", 6, "1 of 4"},        // wraps
    CountCase{"STRASSE", 1, "1 of 2"},       // "ß" as "ss"
    CountCase{"σίγμα", 1, "1 of 1"},
    CountCase{"テキスト", 9, "1 of 1"},
    CountCase{"~", 1, "1 of 1"},             // as the row shows it
    CountCase{"BAD K", 1, "1 of 1"},         // bytes that are no UTF-8 break nothing after them
    CountCase{"ень дер", 1, "1 of 1"},
    CountCase{"еваКОР", 1, "no match"},      // never across two items
    CountCase{"~str", 1, "no match"},
    CountCase{"zzz", 1, "no match"}));

struct JumpCase {
    const char *name;
    const char *typed;
    std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> steps;
    std::int32_t marked;
    const char *expand; // items 2, 3 and 5
    const char *found;
};

class FindJump : public FindTest, public ::testing::WithParamInterface<JumpCase> {};

// Each step is one commit; the view then shows what the file holds, the
// match highlighted and in the text box, and the field names it.
TEST_P(FindJump, OpensTheWayAndMarksTheMatch)
{
    open(1);
    typeAndCount(GetParam().typed);
    int commits = 0;
    sqlite3_commit_hook(modBase::rsTree.connection()->handle(),
                        [](void *count) { return ++*static_cast<int *>(count), 0; }, &commits);
    for (const auto &[key, modifiers] : GetParam().steps)
        QTest::keyClick(window->findField()->edit(), key, modifiers);
    sqlite3_commit_hook(modBase::rsTree.connection()->handle(), nullptr, nullptr);

    EXPECT_EQ(commits, static_cast<int>(GetParam().steps.size()));
    EXPECT_EQ(marked(), GetParam().marked);
    EXPECT_EQ(expandFlags(), GetParam().expand);
    std::vector<std::string> shown;
    for (const auto &line : testing_support::describeTree(*window->tree()))
        shown.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(shown, testing_support::expectedView(store));
    const auto highlighted = window->tree()->nodeAt(window->tree()->currentIndex());
    EXPECT_EQ(modTree::ItemOf(highlighted.nodeKey()), GetParam().marked);
    EXPECT_EQ(window->textBox()->text(), highlighted.text());
    EXPECT_EQ(window->findField()->spoken().toStdString(), GetParam().found);
    EXPECT_TRUE(window->findField()->edit()->hasFocus());
    EXPECT_TRUE(testing_support::checkTree(store).ok());
}

constexpr auto kNone = Qt::NoModifier;
INSTANTIATE_TEST_SUITE_P(Find, FindJump, ::testing::Values(
    JumpCase{"IntoAClosedBranch", "под", {{Qt::Key_Return, kNone}}, 8, "101", "1 of 1: КОРЕНЬ под"},
    JumpCase{"TopLevelRule", "two", {{Qt::Key_F3, kNone}}, 7, "010", "1 of 1: strasse two"},
    JumpCase{"OnAndOn", "корень", {{Qt::Key_Return, kNone}, {Qt::Key_F3, kNone}}, 5, "100", "3 of 4: корень"},
    JumpCase{"BackWraps", "корень", {{Qt::Key_Return, Qt::ShiftModifier}}, 8, "101", "4 of 4: КОРЕНЬ под"},
    JumpCase{"BackAgain", "корень", {{Qt::Key_F3, Qt::ShiftModifier}, {Qt::Key_F3, Qt::ShiftModifier}}, 5, "101",
             "3 of 4: корень"}),
    [](const auto &info) { return std::string(info.param.name); });

// Escape goes back to the tree; the field sits in the toolbar row, over
// neither the tree nor the text box.
TEST_F(FindTest, EscapeReturnsToTheTreeAndTheFieldCoversNothing)
{
    open(1);
    QWidget *field = window->findField();
    ASSERT_TRUE(field->isVisible());
    auto heard = [field] { return field->findChild<toolkit::Announcer *>()->message().toStdString(); };
    EXPECT_EQ(heard(), "Find"); // entering the field is heard
    typeAndCount("two");
    QTest::keyClick(window->findField()->edit(), Qt::Key_Escape);
    QTest::keyClick(window->tree(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(heard(), "Find, two, 1 of 1"); // and what it still holds
    const QRect placed(field->mapTo(window.get(), QPoint()), field->size());
    EXPECT_FALSE(placed.intersects(window->tree()->geometry()));
    EXPECT_FALSE(placed.intersects(window->textBox()->geometry()));
    QTest::keyClick(window->findField()->edit(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_FALSE(field->isVisible());
    EXPECT_TRUE(window->tree()->hasFocus());
}

// The tree read for one search serves the next when only the window's own
// clicks, openings, closings and steps came between; a text the window or
// another program changed is read.
TEST_F(FindTest, ReadsTheTreeAgainOnlyWhenItMayHaveChanged)
{
    open(1);
    modTree::FindIndex *index = window->findIndex();
    auto count = [&](const char *text) {
        index->search(QString::fromUtf8(text), 1, modTree::FindIndex::Ordinal::Next);
        EXPECT_TRUE(index->settle(5000));
        return index->latest().count();
    };
    EXPECT_EQ(count("strasse"), 2);
    struct Case {
        const char *what;
        std::function<void()> act;
        bool readAgain;
        const char *typed;
        int found;
    };
    const Case cases[] = {
        {"click", [&] { click("9K"); }, false, "strasse", 2},
        {"closing", [&] { clickArrow("2K"); }, false, "корень", 4},
        {"opening", [&] { clickArrow("3K"); }, false, "корень", 4},
        {"step", [&] { typeAndCount("под"); QTest::keyClick(window->findField()->edit(), Qt::Key_Return); }, false,
         "под", 1},
        {"typed in the text box", [&] { click("9K"); type("xyz"); }, true, "xyz", 1},
        {"another program", [&] { store.exec("UPDATE TbTree SET KeyTxt = 'xyz' WHERE KeyInd = 4"); }, true, "xyz", 2},
    };
    for (const Case &c : cases) {
        const int before = index->readings();
        c.act();
        EXPECT_EQ(count(c.typed), c.found) << c.what;
        EXPECT_EQ(index->readings() - before, c.readAgain ? 1 : 0) << c.what;
    }
}

// Another program's change is found at the next keystroke.
TEST_F(FindTest, SearchesWhatTheFileHoldsNow)
{
    open(1);
    EXPECT_EQ(typeAndCount("new"), "no match");
    store.exec("UPDATE TbTree SET KeyTxt = 'news' WHERE KeyInd = 7");
    QTest::keyClick(window->findField()->edit(), Qt::Key_S);
    EXPECT_TRUE(window->findIndex()->settle(5000));
    EXPECT_EQ(window->findField()->found().toStdString(), "1 of 1");
}

} // namespace
