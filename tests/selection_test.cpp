// Clicking and typing through the real widgets, and exactly what reaches the
// file for each.

#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/selection.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <QProcess>
#include <QTest>

#include <sqlite3.h>

#include <gtest/gtest.h>

using testing_support::GuiTest;
using testing_support::TestStore;
using testing_support::Item;
using testing_support::Write;
using testing_support::Writes;

namespace {

// Root 1: 2 "two" (open: 4, 6), 3 "three" (closed, selected: 5), 7 "seven".
const std::vector<Item> kTree = {
    {1, 0},
    {2, 1, true, "two"},
    {4, 2, false, "four"},
    {6, 2, false, "six"},
    {3, 1, false, "three", true},
    {5, 3, false, "five"},
    {7, 1, false, "seven"},
};

Write sel(std::int64_t key, bool on) { return {key, {{"KeySel", on ? "1" : "0"}}}; }
Write txt(std::int64_t key, const std::string &text) { return {key, {{"KeyTxt", "'" + text + "'"}}}; }

class SelectionTest : public GuiTest {
protected:
    std::optional<int> colour(const QString &key) { return node(key).foreColor(); }
};

TEST_F(SelectionTest, ClickWritesExactlyTheTwoMarksAndFillsTheTextBox)
{
    startLogged(kTree);
    click("4K");
    EXPECT_EQ(log.read(), (Writes{sel(3, false), sel(4, true)}));
    EXPECT_EQ(window->textBox()->text(), "four");
    EXPECT_EQ(testing_support::tagText(*window->textBox()), "4K");
    EXPECT_EQ(colour("3K"), 0);
    EXPECT_EQ(colour("4K"), 255);
    EXPECT_TRUE(node("4K").isSelected());
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd");
    EXPECT_EQ(modBase::rsTree.key(store::Field::KeyInd), 4);
}

TEST_F(SelectionTest, ClickingTheSelectedNodeAgainEndsAsItWas)
{
    startLogged(kTree);
    click("4K");
    log.clear();
    click("4K");
    EXPECT_EQ(log.read(), (Writes{sel(4, false), sel(4, true)}));
    EXPECT_EQ(colour("4K"), 255);
    EXPECT_TRUE(node("4K").isSelected());
    EXPECT_EQ(window->textBox()->text(), "four");
}

TEST_F(SelectionTest, FirstMarkedRecordIsClearedWhenSeveralAreMarked)
{
    store.create(kTree);
    store.exec("UPDATE TbTree SET KeySel = 1 WHERE KeyInd IN (6, 7)");
    log.install();
    startOnStore();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    log.clear();
    click("4K");
    EXPECT_EQ(log.read(), (Writes{sel(3, false), sel(4, true)}));
    EXPECT_EQ(store.field(6, "KeySel"), "1");
    EXPECT_EQ(store.field(7, "KeySel"), "1");
}

TEST_F(SelectionTest, KeystrokesWriteTheWholeTextOncePerChangeAndShowItOnTheNode)
{
    startLogged(kTree);
    click("4K");
    log.clear();
    type("ab");
    EXPECT_EQ(log.read(), (Writes{txt(4, "foura"), txt(4, "fourab")}));
    EXPECT_EQ(node("4K").text(), "fourab");
}

// Filling the text box on a click raises its change event while the tag still
// names the node clicked before: that event must not write.
TEST_F(SelectionTest, ClickingFromNodeToNodeWritesNoTextIntoEither)
{
    startLogged(kTree);
    click("4K");
    log.clear();
    click("6K");
    click("4K");
    EXPECT_EQ(log.read(), (Writes{sel(4, false), sel(6, true), sel(6, false), sel(4, true)}));
    EXPECT_EQ(store.field(4, "KeyTxt"), "'four'");
    EXPECT_EQ(store.field(6, "KeyTxt"), "'six'");
}

// Other tools and imports write texts of any length, with line breaks and
// tabs; the text box shows them whole and a keystroke adds one character.
struct TextCase {
    const char *name;
    std::string text;
    friend void PrintTo(const TextCase &c, std::ostream *os) { *os << c.name; }
};

class StoredText : public SelectionTest, public ::testing::WithParamInterface<TextCase> {};

std::string storedText(TestStore &store, std::int32_t key)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(store.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT KeyTxt FROM TbTree WHERE KeyInd = ?1", -1, &stmt, nullptr);
    sqlite3_bind_int(stmt, 1, key);
    std::string text;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        text.assign(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)),
                    static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0)));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return text;
}

TEST_P(StoredText, IsShownWholeAndOneKeystrokeAddsOneCharacter)
{
    const std::string &text = GetParam().text;
    startLogged({{1, 0}, {2, 1, false, text}});
    click("2K");
    // Compared as booleans: a failure would print a hundred thousand characters.
    EXPECT_TRUE(window->textBox()->text().toStdString() == text) << window->textBox()->text().size() << " characters";
    log.clear();
    type("x");
    EXPECT_EQ(log.read().size(), 1u);
    const std::string stored = storedText(store, 2);
    EXPECT_TRUE(stored == text + "x") << stored.size() << " bytes stored of " << text.size() + 1;
}

std::string longText(std::size_t size, const std::string &pattern)
{
    std::string text;
    while (text.size() < size)
        text += pattern;
    text.resize(size);
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    SelectionTest, StoredText,
    ::testing::Values(TextCase{"HundredThousandCharacters", longText(100000, "0123456789abcdef")},
                      TextCase{"LineBreaksAndTabs", "line one\nline\ttwo\r\nthree"},
                      TextCase{"TabFirstLineBreakLast", "\ttab first, line break last\n"},
                      TextCase{"LongWithLineBreaksAndTabs", longText(40000, "a line\n\twith a tab ")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SelectionTest, TypingBeforeAnyClickWritesNothing)
{
    startLogged(kTree);
    type("hello");
    EXPECT_TRUE(log.read().empty());
    EXPECT_EQ(node("3K").text(), "three");
}

TEST_F(SelectionTest, EmptiedTextIsStoredAsTildeAndShownEmptyUntilTheNextRebuild)
{
    startLogged({{1, 0}, {2, 1, false, "ab"}});
    click("2K");
    log.clear();
    key(Qt::Key_End, window->textBox());
    key(Qt::Key_Backspace, window->textBox());
    key(Qt::Key_Backspace, window->textBox());
    EXPECT_EQ(log.read(), (Writes{txt(2, "a"), txt(2, "~")}));
    EXPECT_EQ(node("2K").text(), "");
    modTree::ShowTree();
    EXPECT_EQ(node("2K").text(), "~");
    // Typing "~" itself stores the same.
    log.clear();
    type("~");
    EXPECT_EQ(log.read(), (Writes{txt(2, "~")}));
}

TEST_F(SelectionTest, TypingAfterACommandSelectedAnotherItemStillEditsTheItemClickedLast)
{
    startLogged(kTree);
    click("4K");
    // What an insert or move command does at its end.
    modTree::ShowTree();
    modTree::SelectItem(7);
    EXPECT_EQ(colour("7K"), 255);
    EXPECT_EQ(testing_support::tagText(*window->textBox()), "4K");
    log.clear();
    type("!");
    EXPECT_EQ(log.read(), (Writes{txt(4, "four!")}));
    EXPECT_EQ(node("4K").text(), "four!");
    EXPECT_EQ(node("7K").text(), "seven");
}

TEST_F(SelectionTest, TypingIntoAnItemTakenOutOfTheTreeWritesItsRecordOnly)
{
    startLogged(kTree);
    click("4K");
    // Item 4 taken out of the tree (as a delete does), then the view rebuilt.
    store.exec("UPDATE TbTree SET KeyChi = 6 WHERE KeyInd = 2; UPDATE TbTree SET KeyPrw = 0 WHERE KeyInd = 6;"
               "UPDATE TbTree SET KeyPar = 0, KeyNxt = 0, KeySel = 0 WHERE KeyInd = 4");
    modTree::ShowTree();
    ASSERT_FALSE(node("4K").isValid());
    const auto shown = testing_support::describeTree(*window->tree());
    log.clear();
    type("x");
    EXPECT_EQ(log.read(), (Writes{txt(4, "fourx")}));
    EXPECT_EQ(testing_support::describeTree(*window->tree()), shown);
}

TEST_F(SelectionTest, RootCanBeSelectedAndItsTypedTextShowsUntilTheNextRebuild)
{
    startLogged(kTree);
    click("1K");
    EXPECT_EQ(log.read(), (Writes{sel(3, false), sel(1, true)}));
    EXPECT_EQ(window->textBox()->text(), "корень");
    log.clear();
    type("!");
    EXPECT_EQ(log.read(), (Writes{txt(1, "корень!")}));
    EXPECT_EQ(node("1K").text(), "корень!");
    modTree::ShowTree();
    EXPECT_EQ(node("1K").text(), "корень");
}

// A key that moves the highlight is a click on the node it lands on: the same
// writes, the text box bound to it. Rows: 1, 2, 4, 6, 3 (closed), 7.
struct KeyMove {
    const char *name;
    const char *from;
    Qt::Key key;
    std::int64_t to; // 0: the highlight stays, nothing is selected
    friend void PrintTo(const KeyMove &m, std::ostream *os) { *os << m.name; }
};

class MovingTheHighlight : public SelectionTest, public ::testing::WithParamInterface<KeyMove> {};

TEST_P(MovingTheHighlight, IsAClickOnTheNodeItLandsOn)
{
    const KeyMove &m = GetParam();
    startLogged(kTree);
    click(m.from);
    const std::int64_t from = std::stoll(m.from);
    log.clear();
    key(m.key);
    if (m.to == 0) {
        for (const auto &w : log.read())
            EXPECT_EQ(w.fields.count("KeySel"), 0u) << w.key;
        EXPECT_EQ(testing_support::tagText(*window->textBox()), m.from);
        return;
    }
    EXPECT_EQ(log.read(), (Writes{sel(from, false), sel(m.to, true)}));
    const QString to = QString::number(m.to) + "K";
    EXPECT_EQ(testing_support::tagText(*window->textBox()), to.toStdString());
    EXPECT_EQ(window->textBox()->text(), to == "1K" ? "корень" : node(to).text());
    EXPECT_TRUE(node(to).isSelected());
    EXPECT_EQ(colour(to), 255);
}

INSTANTIATE_TEST_SUITE_P(SelectionTest, MovingTheHighlight,
                         ::testing::Values(KeyMove{"Down", "4K", Qt::Key_Down, 6}, KeyMove{"Up", "4K", Qt::Key_Up, 2},
                                           KeyMove{"Home", "4K", Qt::Key_Home, 1}, KeyMove{"End", "4K", Qt::Key_End, 7},
                                           KeyMove{"PageDown", "4K", Qt::Key_PageDown, 7},
                                           KeyMove{"PageUp", "6K", Qt::Key_PageUp, 1},
                                           KeyMove{"LeftToTheParent", "4K", Qt::Key_Left, 2},
                                           KeyMove{"RightToTheFirstChild", "2K", Qt::Key_Right, 4},
                                           KeyMove{"FirstLetters", "4K", Qt::Key_S, 6},
                                           KeyMove{"RightOpensAndSelectsNothing", "3K", Qt::Key_Right, 0},
                                           KeyMove{"MinusClosesAndSelectsNothing", "2K", Qt::Key_Minus, 0},
                                           KeyMove{"DownOnTheLastRowStays", "7K", Qt::Key_Down, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(SelectionTest, AHighlightTheProgramSetsSelectsNothing)
{
    startLogged(kTree);
    click("4K");
    log.clear();
    modTree::ShowTree();          // the rebuild highlights the stored selection
    window->textBox()->setFocus();  // and the focus goes away and comes back
    window->tree()->setFocus();
    modTree::SelectItem(6);       // a command selects another item
    EXPECT_EQ(log.read(), (Writes{sel(4, false), sel(6, true)}));
    EXPECT_EQ(testing_support::tagText(*window->textBox()), "4K");
}

TEST_F(SelectionTest, SelectingAKeyNoRecordHasOnlyClearsTheOldMark)
{
    startLogged(kTree);
    modTree::SelectItem(99);
    EXPECT_EQ(log.read(), (Writes{sel(3, false)}));
    for (const char *k : {"1K", "2K", "3K", "4K", "6K", "7K"})
        EXPECT_NE(colour(k), std::optional<int>(255)) << k;
}

TEST_F(SelectionTest, SelectingAnItemInsideAClosedBranchMarksTheTableOnly)
{
    startLogged(kTree);
    modTree::SelectItem(5);
    EXPECT_EQ(log.read(), (Writes{sel(3, false), sel(5, true)}));
    EXPECT_FALSE(node("5K").isValid());
    EXPECT_EQ(colour("3K"), 0);
    EXPECT_EQ(modBase::rsTree.key(store::Field::KeyInd), 5);
}

TEST_F(SelectionTest, SelectionAndRebuildWriteNoExpandedState)
{
    startLogged(kTree);
    modTree::ShowTree();
    modTree::SelectItem(6);
    modTree::ShowTree();
    click("7K");
    for (const auto &w : log.read())
        EXPECT_EQ(w.fields.count("Expand"), 0u) << w.key;
}

TEST_F(SelectionTest, AKeystrokeIsInTheFileForAnotherProcessWhenItReturns)
{
    startLogged(kTree);
    click("6K");
    type("?");
    // No event loop turn in between: the write must already be on disk.
    QProcess reader;
    reader.start("sqlite3", {QString::fromStdString(store.path()), "SELECT KeyTxt FROM TbTree WHERE KeyInd = 6"});
    ASSERT_TRUE(reader.waitForFinished(10000)) << "sqlite3 did not run";
    EXPECT_EQ(reader.readAllStandardOutput().trimmed(), "six?");
}

TEST_F(SelectionTest, ProgramsOwnChangesToTheTextBoxAreNotStored)
{
    startLogged(kTree);
    click("4K");
    log.clear();
    modTree::TreeBusy = true;
    window->textBox()->setText("not mine");
    modTree::TreeBusy = false;
    EXPECT_TRUE(log.read().empty());
}

} // namespace
