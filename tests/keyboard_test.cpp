// Everything from the keyboard: each command's key does what a click on its
// button does, the keys of the tree never act while the user types, and the
// focus moves between the tree and the text box by key.

#include "commands/command_table.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <QAccessible>
#include <QKeySequence>
#include <QToolBar>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using testing_support::GuiTest;
using testing_support::Item;
using testing_support::Writes;
using namespace modTree;

namespace {

// Root 1: 2 (open: 4, 5 "middle", 6), 3 (closed: 7). Every move of 5 is possible.
const std::vector<Item> kTree = {
    {1, 0},        {2, 1, true, "two"}, {4, 2, false, "four"}, {5, 2, false, "middle"},
    {6, 2, false, "six"}, {3, 1, false, "three"}, {7, 3, false, "seven"},
};

void pressKey(QWidget *target, const char *shortcut)
{
    const QKeyCombination key = QKeySequence(QString::fromLatin1(shortcut))[0];
    target->setFocus();
    QTest::keyClick(target, key.key(), key.keyboardModifiers());
}

class KeyboardTest : public GuiTest {
protected:
    struct Outcome {
        Writes writes;
        std::vector<std::string> outline;
        bool rebuilt;
    };
    // A fresh store with the toolbar, item 5 clicked, then act; what it left.
    Outcome run(const std::function<void()> &act)
    {
        startWithToolbar(kTree);
        click("5K");
        log.clear();
        const toolkit::TreeNode before = node("1K");
        act();
        Outcome outcome{log.read(), testing_support::outline(store), !before.isValid()};
        const auto check = testing_support::checkTree(store);
        EXPECT_TRUE(check.ok()) << check.report();
        restart();
        return outcome;
    }
};

class CommandKey : public KeyboardTest, public ::testing::WithParamInterface<CommandRow> {};

// The keys act as the buttons do; Del then clicks the item the user lands
// on (here the deleted item's next sibling), so the keyboard stays in the tree.
TEST_P(CommandKey, DoesWhatTheClickOnItsButtonDoes)
{
    const CommandRow &command = GetParam();
    const Outcome byButton = run([&] {
        press(command.number);
        if (command.number == CmdDelete)
            click("6K");
    });
    for (const char *shortcut : {command.shortcut, command.otherShortcut}) {
        if (!*shortcut)
            continue;
        SCOPED_TRACE(shortcut);
        const Outcome byKey = run([&] { pressKey(window->tree(), shortcut); });
        EXPECT_EQ(byKey.writes, byButton.writes);
        EXPECT_EQ(byKey.outline, byButton.outline);
        EXPECT_EQ(byKey.rebuilt, byButton.rebuilt);
    }
    EXPECT_TRUE(!byButton.writes.empty() || command.number == CmdRefresh) << "the button did nothing";
}

std::vector<CommandRow> commandsWithKeys()
{
    std::vector<CommandRow> rows;
    for (const CommandRow &command : Commands())
        if (*command.shortcut && command.number != CmdQuit) // quit ends the test program
            rows.push_back(command);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(KeyboardTest, CommandKey, ::testing::ValuesIn(commandsWithKeys()),
                         [](const auto &info) { return "Button" + std::to_string(info.param.number); });

// The highlight can leave the marked item (5, clicked first) without a
// click: closing its parent moves it to the parent; a drag from 4 to 6 moves
// it to 6. A command key then acts on what is highlighted, marking it first
// as a click does, in one action.
struct Drift {
    const char *name;
    std::function<void(GuiTest &)> drift;
    const char *highlighted;
    const char *afterDelete; // where Del leaves the user
};

class KeyOnTheHighlight : public KeyboardTest,
                          public ::testing::WithParamInterface<std::tuple<Drift, CommandRow>> {};

TEST_P(KeyOnTheHighlight, MarksItFirstAsAClickDoes)
{
    const auto &[drift, command] = GetParam();
    const Outcome byHand = run([&] {
        drift.drift(*this);
        click(drift.highlighted);
        press(command.number);
        if (command.number == CmdDelete)
            click(drift.afterDelete);
    });
    const Outcome byKey = run([&] {
        drift.drift(*this);
        ASSERT_EQ(window->tree()->currentIndex(), window->tree()->indexOf(node(drift.highlighted)));
        pressKey(window->tree(), command.shortcut);
    });
    EXPECT_EQ(byKey.writes, byHand.writes);
    EXPECT_EQ(byKey.outline, byHand.outline);
}

const Drift kDrifts[] = {
    {"ParentClosed", [](GuiTest &t) { t.clickArrow("2K"); }, "2K", "3K"},
    {"Dragged", [](GuiTest &t) { t.drag("4K", "6K"); }, "6K", "5K"},
};

std::vector<CommandRow> itemCommands()
{
    std::vector<CommandRow> rows;
    for (const CommandRow &command : Commands())
        if (command.keyScope == KeyScope::Tree && *command.shortcut)
            rows.push_back(command);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(KeyboardTest, KeyOnTheHighlight,
                         ::testing::Combine(::testing::ValuesIn(kDrifts), ::testing::ValuesIn(itemCommands())),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "Button"
                                 + std::to_string(std::get<1>(info.param).number);
                         });

// Where the keyboard leaves the user. After Del: on the next sibling, else
// the previous one, else the parent, marked, red, highlighted, and the text
// box edits it. After a move into a closed item: on that item, highlighted.
TEST_F(KeyboardTest, AKeyLeavesTheUserWhereTheyCanGoOn)
{
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {"4K", "Del", "5K"}, {"6K", "Del", "5K"}, {"7K", "Del", "3K"}, {"5K", "Alt+Right", "4K"}};
    for (const auto &[clicked, shortcut, landed] : cases) {
        SCOPED_TRACE(clicked);
        startWithToolbar(kTree);
        if (std::string(clicked) == "7K")
            clickArrow("3K");
        click(clicked);
        pressKey(window->tree(), shortcut);
        EXPECT_EQ(window->tree()->currentIndex(), window->tree()->indexOf(node(landed)));
        if (std::string(shortcut) == "Del") {
            EXPECT_FALSE(node(clicked).isValid());
            EXPECT_TRUE(node(landed).isSelected());
            EXPECT_EQ(node(landed).foreColor(), kColorSelected);
            EXPECT_EQ(store.field(std::stoi(landed), "KeySel"), "1");
            EXPECT_EQ(testing_support::tagText(*window->textBox()), landed);
            EXPECT_EQ(window->textBox()->text(), node(landed).text());
        }
        restart();
    }
}

// The delete button leaves nothing marked; a text box that edits an item of
// the deleted branch is emptied and edits nothing, so typing goes nowhere
// hidden. One that edits another item keeps it.
TEST_F(KeyboardTest, AfterADeleteTypingNeverRenamesAHiddenItem)
{
    const std::pair<const char *, bool> cases[] = {{"5K", true}, {"4K", true}, {"6K", false}};
    for (const auto &[edited, unbound] : cases) {
        SCOPED_TRACE(edited);
        startWithToolbar(kTree);
        click(edited);
        // Item 2 marked by another program: the box edits an item under it, or not.
        store.exec("UPDATE TbTree SET KeySel = 0; UPDATE TbTree SET KeySel = 1 WHERE KeyInd = "
                   + std::string(std::string(edited) == "6K" ? "5" : "2"));
        press(CmdDelete);
        EXPECT_EQ(window->textBox()->text().isEmpty(), unbound);
        EXPECT_EQ(testing_support::tagText(*window->textBox()).empty(), unbound);
        log.clear();
        type("x");
        EXPECT_EQ(log.read().empty(), unbound);
        restart();
    }
}

TEST_F(KeyboardTest, TypingInTheTextBoxNeverRunsACommandOnAnItem)
{
    startWithToolbar(kTree);
    click("5K");
    const auto outline = testing_support::outline(store);
    for (const CommandRow &command : Commands()) {
        if (command.keyScope != KeyScope::Tree || !*command.shortcut)
            continue;
        SCOPED_TRACE(command.shortcut);
        log.clear();
        pressKey(window->textBox(), command.shortcut);
        for (const auto &w : log.read())
            EXPECT_EQ(w.fields.count("KeyTxt"), w.fields.size()) << "item " << w.key << " written by " << command.shortcut;
        EXPECT_EQ(testing_support::outline(store), outline);
    }
}

// With fewer rows in tbCmd there are fewer buttons, and no keys for them.
TEST_F(KeyboardTest, AKeyWhoseButtonIsMissingDoesNothing)
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (const CommandRow &command : Commands())
        if (command.number < CmdMoveDown)
            rows.emplace_back(command.picture, command.about);
    store.create(kTree, rows);
    log.install();
    startOnStore();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    click("5K");
    log.clear();
    const toolkit::TreeNode root = node("1K");
    for (const char *key : {"Alt+Down", "Del", "F5"})
        pressKey(window->tree(), key);
    EXPECT_TRUE(log.read().empty());
    EXPECT_TRUE(root.isValid()) << "refreshed without a refresh button";
    pressKey(window->tree(), "Alt+Up"); // button 4 is there
    EXPECT_FALSE(log.read().empty());
}

TEST_F(KeyboardTest, EditKeysGoToTheHighlightedItemsTextAndEscapeComesBack)
{
    for (const auto key : {Qt::Key_F2, Qt::Key_Return}) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        auto stored = kTree;
        stored[4].selected = true; // item 6
        startWithToolbar(stored);
        // At start-up the stored selection is highlighted, the box empty.
        ASSERT_TRUE(node("6K").isSelected());
        window->tree()->setFocus();
        QTest::keyClick(window->tree(), key);
        EXPECT_TRUE(window->textBox()->hasFocus());
        EXPECT_EQ(window->textBox()->text(), "six");
        EXPECT_EQ(window->textBox()->selectedText(), "six");
        EXPECT_EQ(testing_support::tagText(*window->textBox()), "6K");
        QTest::keyClick(window->textBox(), Qt::Key_Escape);
        EXPECT_TRUE(window->tree()->hasFocus());
        EXPECT_EQ(window->textBox()->text(), "six") << "Escape is no undo";
        restart();
    }
}

// What a screen reader reads besides the tree: each button's name and key,
// and which item the text box edits.
TEST_F(KeyboardTest, ScreenReadersReadTheButtonsAndWhichItemTheTextBoxEdits)
{
    startWithToolbar(kTree);
    const auto buttons = window->toolbar()->actions();
    for (const CommandRow &command : Commands()) {
        SCOPED_TRACE(command.number);
        QAccessibleInterface *button =
            QAccessible::queryAccessibleInterface(window->toolbar()->widgetForAction(buttons.at(command.number - 1)));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(QAccessible::Name), command.about);
        if (*command.shortcut) {
            EXPECT_TRUE(button->text(QAccessible::Description)
                            .contains(QKeySequence(command.shortcut).toString(QKeySequence::NativeText)));
        }
    }
    QAccessibleInterface *box = QAccessible::queryAccessibleInterface(window->textBox());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(QAccessible::Name), "Item text");
    click("5K");
    EXPECT_TRUE(box->text(QAccessible::Description).contains("middle")) << box->text(QAccessible::Description).toStdString();
    // Screen readers speak a line run by run of text attributes: one run
    // must cover the whole text, or its end goes unspoken.
    int start = -1, end = -1;
    box->textInterface()->attributes(3, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(0, 6));
    EXPECT_EQ(box->textInterface()->text(0, 6), "middle");
    type(" one"); // renamed: the description says so when the box takes the focus again
    key(Qt::Key_Escape, window->textBox());
    key(Qt::Key_F2);
    EXPECT_TRUE(box->text(QAccessible::Description).contains("middle one"));

    // A new item is heard as one; the box bound to it says it edits an item
    // without text; after a delete, that it edits none.
    pressKey(window->tree(), "Ctrl+N");
    QAccessibleInterface *tree = QAccessible::queryAccessibleInterface(window->tree());
    EXPECT_EQ(tree->child(window->tree()->currentIndex().row())->text(QAccessible::Name), "new item");
    key(Qt::Key_F2);
    EXPECT_EQ(box->text(QAccessible::Description), "Edits an item without text");
    press(CmdDelete);
    EXPECT_EQ(box->text(QAccessible::Description), "Edits no item: select one in the tree and press F2");
}

} // namespace

