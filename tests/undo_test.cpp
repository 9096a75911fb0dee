// Undo and redo of the tree's commands through the real window: each gives
// the file back byte for byte as it was before (after) the command.

#include "commands/command_table.h"
#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/announcer.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include <cctype>
#include <functional>
#include <map>

using testing_support::GuiTest;
using testing_support::Item;
using Lines = std::vector<std::string>;
using namespace modTree;

namespace {

// Root 1: 2 (open: 5, 6 (closed: 8), 10), 3, 4; 6 is marked.
const std::vector<Item> kTree = {{1, 0},           {2, 1, true, "two"},  {5, 2, false, "five"},
                                  {6, 2, false, "six", true}, {8, 6, false, "eight"}, {10, 2, false, "ten"},
                                  {3, 1, false, "three"}, {4, 1, false, "four"}};

// The dump an undo leaves: every record as before, and each record the
// command made as a delete leaves it (unmarked, out of its chain), unless it
// is inside another one it made.
Lines undone(const Lines &before, const Lines &after)
{
    std::map<std::string, std::string> old;
    for (const auto &row : before)
        old[row.substr(0, row.find(','))] = row;
    Lines rows;
    for (const auto &row : after) {
        QStringList f = QString::fromStdString(row).split(',');
        if (old.contains(f[0].toStdString())) {
            rows.push_back(old[f[0].toStdString()]);
            continue;
        }
        if (old.contains(f[1].toStdString()))
            f[1] = f[3] = f[4] = "0";
        f[6] = "0";
        rows.push_back(f.join(',').toStdString());
    }
    return rows;
}

class UndoTest : public GuiTest {
public:
    void keys(Qt::Key k, Qt::KeyboardModifiers m = Qt::ControlModifier) { QTest::keyClick(window->tree(), k, m); }
    // Ctrl+Z, or Ctrl+Shift+Z; what it said on standard error.
    std::string undo(bool redo = false)
    {
        ::testing::internal::CaptureStderr();
        keys(Qt::Key_Z, redo ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
        return ::testing::internal::GetCapturedStderr();
    }
    std::string announced() const
    {
        return window->findChild<toolkit::Announcer *>(QString(), Qt::FindDirectChildrenOnly)->message().toStdString();
    }
};

struct CommandCase {
    const char *name;
    std::function<void(UndoTest &)> run; // on item 6, highlighted and marked
    friend void PrintTo(const CommandCase &c, std::ostream *os) { *os << c.name; }
};

std::vector<CommandCase> everyCommand()
{
    std::vector<CommandCase> cases;
    for (const auto &row : Commands())
        if (row.number <= CmdDelete)
            cases.push_back({row.picture, [n = row.number](UndoTest &t) { t.press(n); }});
    return cases;
}

const CommandCase kKeys[] = {
    {"DelKey", [](UndoTest &t) { t.keys(Qt::Key_Delete, Qt::NoModifier); }},
    {"Cut", [](UndoTest &t) { t.keys(Qt::Key_X); }},
    {"PasteBranch", [](UndoTest &t) { t.keys(Qt::Key_V); }},
    {"PasteAsChildren", [](UndoTest &t) { t.keys(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier); }},
};

class EveryCommand : public UndoTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(EveryCommand, UndoGivesTheFileBeforeAndRedoTheFileAfter)
{
    startWithToolbar(kTree);
    QApplication::clipboard()->setText("one\n\ttwo\nthree");
    click("6K");
    const Lines before = store.dump();
    GetParam().run(*this);
    const Lines after = store.dump();
    ASSERT_NE(after, before);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(undo(), "");
        EXPECT_EQ(store.dump(), undone(before, after));
        EXPECT_EQ(testing_support::tagText(*window->textBox()), "6K"); // marked as a click marks it
        EXPECT_EQ(undo(true), "");
        EXPECT_EQ(store.dump(), after);
    }
}

INSTANTIATE_TEST_SUITE_P(Button, EveryCommand, ::testing::ValuesIn(everyCommand()), [](const auto &info) {
    return std::string(info.param.name).substr(0, std::string(info.param.name).find('.'));
});
INSTANTIATE_TEST_SUITE_P(Key, EveryCommand, ::testing::ValuesIn(kKeys),
                         [](const auto &info) { return std::string(info.param.name); });

// A touched record changed since: from another program (the history is
// gone), or through the program's own connection, which no version shows.
TEST_F(UndoTest, UndoAfterAnOutsideChangeToATouchedItemIsRefusedAndWritesNothing)
{
    const std::function<void()> changes[] = {
        [this] { store.exec("UPDATE TbTree SET KeyNxt = 0 WHERE KeyInd = 10"); },
        [] {
            modBase::rsTree.positionOn(10);
            modBase::rsTree.update(store::Field::KeyNxt, std::int64_t{0});
        }};
    for (const auto &change : changes) {
        if (&change != changes)
            restart();
        startWithToolbar(kTree);
        click("6K");
        press(CmdMoveDown);
        change();
        const Lines before = store.dump();
        const std::string said = undo();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        std::string line = said.substr(std::string("branchkeeper: ").size());
        line.pop_back();
        line[0] = static_cast<char>(std::toupper(line[0]));
        EXPECT_EQ(announced(), line); // a screen reader hears the same
        EXPECT_EQ(undo(true), ""); // nothing left to redo: no refusal, but heard
        EXPECT_EQ(announced(), "Nothing to redo");
        EXPECT_EQ(store.dump(), before);
    }
}

TEST_F(UndoTest, TheHistoryHoldsTheLastHundredCommands)
{
    startWithToolbar(kTree);
    click("6K");
    keys(Qt::Key_Down, Qt::AltModifier);
    const Lines first = store.dump();
    for (int i = 1; i <= 100; ++i)
        keys(i % 2 ? Qt::Key_Up : Qt::Key_Down, Qt::AltModifier);
    for (int i = 0; i < 100; ++i) {
        const Lines was = store.dump();
        undo();
        EXPECT_NE(store.dump(), was) << "undo " << i + 1 << " did nothing";
    }
    EXPECT_EQ(store.dump(), first);
    undo(); // the first command is forgotten
    EXPECT_EQ(store.dump(), first);
}

TEST_F(UndoTest, CtrlZInTheTextBoxUndoesTypingAndStoresIt)
{
    startWithToolbar(kTree);
    click("6K");
    press(CmdMoveUp);
    const Lines moved = testing_support::outline(store);
    type("abc");
    QTest::keyClick(window->textBox(), Qt::Key_Z, Qt::ControlModifier); // stored as a keystroke is
    EXPECT_EQ(store.field(6, "KeyTxt"), "'six'");
    EXPECT_EQ(testing_support::outline(store), moved);
}

} // namespace
