// One user action, one commit: each action reaches the file in one
// transaction, a file that refuses the action keeps none of it, and a program
// killed half way through an action leaves the file as it was before it.

#include "commands/command_table.h"
#include "store/connection.h"
#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/find_field.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QProcess>
#include <QTest>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <functional>

using testing_support::GuiTest;
using testing_support::Item;
using testing_support::TestStore;
using namespace modTree;

namespace {

// kTops open top-level items with one child each (2 > 3, 4 > 5, ...), then a
// closed top-level item with a child (kClosed > kClosed + 1). Item 2 has two
// more children after 3: kMiddle, where every move is possible, and one
// after it. Item 3 is selected.
constexpr int kTops = 40;
constexpr std::int32_t kClosed = 2 + 2 * kTops;
constexpr std::int32_t kMiddle = kClosed + 2;

std::vector<Item> manyOpenTopLevelItems()
{
    std::vector<Item> items{{1, 0}};
    for (std::int32_t top = 2; top < kClosed; top += 2) {
        items.push_back({top, 1, true, "top " + std::to_string(top)});
        items.push_back({top + 1, top, false, "child " + std::to_string(top + 1), top + 1 == 3});
    }
    items.push_back({kMiddle, 2, false, "middle"});
    items.push_back({kMiddle + 1, 2, false, "last"});
    items.push_back({kClosed, 1, false, "closed"});
    items.push_back({kClosed + 1, kClosed, false, "hidden"});
    return items;
}

QString nodeOf(std::int32_t item)
{
    return QString::number(item) + "K";
}

// Counts the commits of the program's own connection.
class CommitCounter {
public:
    CommitCounter() { sqlite3_commit_hook(handle(), &CommitCounter::hook, this); }
    ~CommitCounter() { sqlite3_commit_hook(handle(), nullptr, nullptr); }
    CommitCounter(const CommitCounter &) = delete;
    CommitCounter &operator=(const CommitCounter &) = delete;
    int count = 0;

private:
    static int hook(void *self)
    {
        ++static_cast<CommitCounter *>(self)->count;
        return 0; // let it commit
    }
    static sqlite3 *handle() { return modBase::rsTree.connection()->handle(); }
};

class UserActionTest : public GuiTest {
protected:
    std::vector<std::string> shownKeys() const
    {
        std::vector<std::string> shown;
        for (const auto &line : testing_support::describeTree(*window->tree()))
            shown.push_back(line.substr(0, line.find(' ')));
        return shown;
    }
};

struct ActionCase {
    const char *name;
    std::function<void(GuiTest &)> prepare; // not counted
    std::function<void(GuiTest &)> act;
    bool writes = true; // false: a command that writes nothing, so no reader can stop its commit
    friend void PrintTo(const ActionCase &c, std::ostream *os) { *os << c.name; }
};

std::vector<ActionCase> everyAction()
{
    auto nothing = [](GuiTest &) {};
    auto ctrl = [](Qt::Key k) {
        return [k](GuiTest &) { QTest::keyClick(QApplication::focusWidget(), k, Qt::ControlModifier); };
    };
    auto undone = [=](GuiTest &t) { t.click(nodeOf(kMiddle)); t.press(CmdMoveUp); ctrl(Qt::Key_Z)(t); };
    std::vector<ActionCase> cases = {
        {"Click", nothing, [](GuiTest &t) { t.click("5K"); }},
        {"Keystroke", [](GuiTest &t) { t.click("5K"); }, [](GuiTest &t) { t.type("x"); }},
        {"OpeningATopLevelItemAmongMany", nothing, [](GuiTest &t) { t.clickArrow(nodeOf(kClosed)); }},
        {"Closing", nothing, [](GuiTest &t) { t.clickArrow("2K"); }},
        {"Paste",
         [](GuiTest &t) {
             t.click(nodeOf(kMiddle));
             QApplication::clipboard()->setText("one\n\ttwo\nthree");
         },
         [](GuiTest &) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier); }},
        {"Cut", [](GuiTest &t) { t.click(nodeOf(kMiddle)); },
         [](GuiTest &) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::ControlModifier); }},
        {"Undo", [](GuiTest &t) { t.click(nodeOf(kMiddle)); t.press(CmdMoveUp); }, ctrl(Qt::Key_Z)},
        {"Redo", undone, ctrl(Qt::Key_Y)},
        {"FindStep", // into the closed top-level item: it opens, the others close
         [](GuiTest &t) {
             t.click(nodeOf(kMiddle));
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
             QTest::keyClicks(QApplication::focusWidget(), "hidden");
             const auto *field = qobject_cast<toolkit::FindField *>(QApplication::focusWidget()->parentWidget());
             for (int tries = 0; field && field->found().isEmpty() && tries < 500; ++tries)
                 QTest::qWait(10);
         },
         [](GuiTest &) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }},
    };
    static const char *const kNames[] = {"", "AddBefore", "AddAfter", "AddChild", "MoveUp", "MoveDown", "MoveOut",
                                         "MoveIn", "Delete", "NoCommand", "Quit", "Refresh"};
    for (const auto &command : Commands()) {
        if (command.number == CmdQuit)
            continue; // ends the test program; the runner below takes it
        cases.push_back({kNames[command.number], [](GuiTest &t) { t.click(nodeOf(kMiddle)); },
                         [n = command.number](GuiTest &t) { t.press(n); },
                         command.number != CmdNone && command.number != CmdRefresh});
    }
    return cases;
}

class EveryAction : public UserActionTest, public ::testing::WithParamInterface<ActionCase> {};

TEST_P(EveryAction, IsOneCommit)
{
    startWithToolbar(manyOpenTopLevelItems());
    GetParam().prepare(*this);
    CommitCounter commits;
    GetParam().act(*this);
    EXPECT_EQ(commits.count, 1);
    const auto check = testing_support::checkTree(store);
    EXPECT_TRUE(check.ok()) << check.report();
}

// Another program holding the file: one that writes keeps the action from
// beginning, one that reads keeps it from committing. Either way the file
// keeps nothing of the action, the view shows the table, and one line says so.
TEST_P(EveryAction, RefusedByTheFileLeavesNothingAndShowsTheTable)
{
    startWithToolbar(manyOpenTopLevelItems());
    GetParam().prepare(*this);
    sqlite3_busy_timeout(modBase::rsTree.connection()->handle(), 20); // no need to wait long here
    for (const char *holding : {"BEGIN IMMEDIATE", "BEGIN; SELECT count(*) FROM TbTree"}) {
        SCOPED_TRACE(holding);
        const bool refused = GetParam().writes || std::string(holding) == "BEGIN IMMEDIATE";
        const auto before = store.dump();
        sqlite3 *other = nullptr;
        sqlite3_open_v2(store.path().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr);
        ASSERT_EQ(sqlite3_exec(other, holding, nullptr, nullptr, nullptr), SQLITE_OK);
        ::testing::internal::CaptureStderr();
        GetParam().act(*this);
        const std::string said = ::testing::internal::GetCapturedStderr();
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);

        EXPECT_EQ(store.dump(), before);
        EXPECT_EQ(shownKeys(), testing_support::expectedView(store));
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), refused ? 1 : 0) << said;
        if (refused) {
            EXPECT_NE(said.find("was not stored"), std::string::npos) << said;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(UserActions, EveryAction, ::testing::ValuesIn(everyAction()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(UserActionTest, OpeningATopLevelItemClosesTheOthersInTheSameCommit)
{
    startWithToolbar(manyOpenTopLevelItems());
    CommitCounter commits;
    clickArrow(nodeOf(kClosed));
    EXPECT_EQ(commits.count, 1);
    EXPECT_EQ(store.count("SELECT count(*) FROM TbTree WHERE KeyPar = 1 AND Expand <> 0"), 1);
    EXPECT_EQ(store.field(kClosed, "Expand"), "1");
    EXPECT_EQ(shownKeys(), testing_support::expectedView(store));
}

TEST_F(UserActionTest, EventsRaisedByTheProgramItselfOpenNoTransaction)
{
    startWithToolbar(manyOpenTopLevelItems());
    CommitCounter commits;
    modTree::ShowTree(); // sets every node's state, raising expand events
    window->textBox()->setTag(ItemNode(5));
    EXPECT_EQ(commits.count, 0);
    EXPECT_FALSE(modBase::rsTree.connection()->inTransaction());
}

// ---- another program on the same file ----------------------------------------

// A change another program made reaches the view before the next command
// runs, and when the window is activated again; the window's own writes do
// not rebuild anything.
TEST_F(UserActionTest, AChangeFromAnotherProgramIsShownBeforeTheNextCommand)
{
    startWithToolbar(manyOpenTopLevelItems());
    press(CmdNone); // the test's own set-up wrote the file from outside
    const toolkit::TreeNode before = node("2K");
    click(nodeOf(kMiddle));
    type("x");
    press(CmdNone);
    EXPECT_TRUE(before.isValid()) << "rebuilt for the window's own writes";

    sqlite3 *other = nullptr;
    sqlite3_open_v2(store.path().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(other, "UPDATE TbTree SET KeyTxt = 'renamed elsewhere' WHERE KeyInd = 4", nullptr, nullptr, nullptr);
    press(CmdNone);
    EXPECT_FALSE(before.isValid());
    EXPECT_EQ(node("4K").text(), "renamed elsewhere");

    sqlite3_exec(other, "UPDATE TbTree SET KeyTxt = 'and again' WHERE KeyInd = 4", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    QEvent activation(QEvent::ActivationChange);
    window->activateWindow();
    QApplication::setActiveWindow(window.get());
    QApplication::sendEvent(window.get(), &activation);
    EXPECT_EQ(node("4K").text(), "and again");
}

// ---- the program killed half way through an action --------------------------

struct KillCase {
    const char *name;
    QStringList action;       // for the runner: "command N", "click K", "open K" or "paste K"
    const char *killer;       // a trigger body's condition: the write to die on
    std::function<bool(TestStore &)> done; // what the whole action leaves
    std::vector<Item> tree = {};           // empty: root 1: 2 (open: 5, 6, 10), 3, 4
    friend void PrintTo(const KillCase &c, std::ostream *os) { *os << c.name; }
};

const KillCase kKillCases[] = {
    // Root 1: 2 (open: 5, 6, 10), 3, 4; the move is between its unlink and its link.
    {"MoveUp", {"command", QString::number(CmdMoveUp)},
     "AFTER UPDATE OF KeyPrw ON TbTree WHEN NEW.KeyInd = 5 AND NEW.KeyPrw = 6",
     [](TestStore &s) {
         return testing_support::outline(s) == std::vector<std::string>{"2@1", "6@2", "5@2", "10@2", "3@1", "4@1"};
     }},
    // The old mark cleared, the new one not yet set.
    {"Click", {"click", "5"}, "AFTER UPDATE OF KeySel ON TbTree WHEN NEW.KeySel = 0",
     [](TestStore &s) { return s.field(5, "KeySel") == "1" && s.field(6, "KeySel") == "0"; }},
    // Half of the other top-level items closed.
    {"OpeningATopLevelItemAmongMany", {"open", QString::number(kClosed)},
     "AFTER UPDATE OF Expand ON TbTree WHEN NEW.Expand = 0 AND NEW.KeyInd = 42",
     [](TestStore &s) {
         return s.count("SELECT count(*) FROM TbTree WHERE KeyPar = 1 AND Expand <> 0") == 1
             && s.field(kClosed, "Expand") == "1";
     }},
};

const KillCase kPasteKill = {
    // Three items pasted after item 6 from the clipboard; it dies as the second is linked in.
    "Paste", {"paste", "6"}, "AFTER UPDATE OF KeyPar ON TbTree WHEN NEW.KeyInd = 12",
    [](TestStore &s) {
        return testing_support::outline(s)
            == std::vector<std::string>{"2@1", "5@2", "6@2", "11@2", "12@3", "13@2", "10@2", "3@1", "4@1"};
    }};

const KillCase kFindKill = {
    // Enter to "seven" under the closed top-level item 3: 3 opened, 2 closed
    // (the top-level rule), 7 marked; it dies as 7 is marked.
    "FindStep", {"find", "seven"}, "AFTER UPDATE OF KeySel ON TbTree WHEN NEW.KeyInd = 7 AND NEW.KeySel <> 0",
    [](TestStore &s) { return s.field(7, "KeySel") == "1" && s.field(3, "Expand") == "1" && s.field(2, "Expand") == "0"; },
    {{1, 0}, {2, 1, true, "two"}, {6, 2, false, "six", true}, {3, 1, false, "three"}, {7, 3, false, "seven"}}};

class KillInTheMiddle : public ::testing::TestWithParam<KillCase> {
protected:
    static void run(TestStore &store, const QStringList &action, QProcess &runner, const char *killer = nullptr)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (killer)
            environment.insert("BRANCHKEEPER_KILLER", QString::fromUtf8(killer));
        runner.setProcessEnvironment(environment);
        runner.start(BRANCHKEEPER_ACTION_RUNNER, QStringList{QString::fromStdString(store.directory())} + action);
        ASSERT_TRUE(runner.waitForFinished(20000));
    }
};

TEST_P(KillInTheMiddle, LeavesTheFileAsItWasAndTheSameActionThenCompletes)
{
    const KillCase &c = GetParam();
    TestStore store;
    if (std::string(c.name) == "OpeningATopLevelItemAmongMany") {
        store.create(manyOpenTopLevelItems());
    } else if (!c.tree.empty()) {
        store.create(c.tree);
    } else {
        store.create({{1, 0}, {2, 1, true, "two"}, {5, 2, false, "five"}, {6, 2, false, "six", true},
                      {10, 2, false, "ten"}, {3, 1, false, "three"}, {4, 1, false, "four"}});
    }
    const auto before = store.dump();

    QProcess runner;
    run(store, c.action, runner, c.killer);
    ASSERT_EQ(runner.exitStatus(), QProcess::CrashExit)
        << "the action was not interrupted: " << runner.readAllStandardError().toStdString();

    // Opening the file rolls the interrupted action back: all of it or none.
    EXPECT_EQ(store.dump(), before);
    const auto check = testing_support::checkTree(store);
    EXPECT_TRUE(check.ok()) << check.report();
    EXPECT_EQ(store.count("SELECT count(*) FROM pragma_integrity_check WHERE integrity_check <> 'ok'"), 0);
    EXPECT_FALSE(c.done(store));

    run(store, c.action, runner);
    EXPECT_EQ(runner.exitCode(), 3) << runner.readAllStandardError().toStdString();
    EXPECT_TRUE(c.done(store));
}

INSTANTIATE_TEST_SUITE_P(UserActions, KillInTheMiddle,
                         ::testing::Values(kKillCases[0], kKillCases[1], kKillCases[2], kPasteKill, kFindKill),
                         [](const auto &info) { return std::string(info.param.name); });

// Killed while an undo puts a deleted item back, as its next sibling is
// linked to it: the file keeps the delete (its own commit) and none of the undo.
TEST_F(KillInTheMiddle, DuringAnUndoLeavesTheFileAsTheCommandLeftIt)
{
    TestStore store;
    std::vector<std::pair<std::string, std::string>> toolbar; // Del is the key of a button
    for (const auto &command : Commands())
        toolbar.emplace_back(command.picture, command.about);
    store.create({{1, 0}, {2, 1, true, "two"}, {5, 2, false, "five"}, {6, 2, false, "six", true},
                  {10, 2, false, "ten"}, {3, 1, false, "three"}, {4, 1, false, "four"}},
                 toolbar);
    QProcess runner;
    run(store, {"undo", "6"}, runner, "AFTER UPDATE OF KeyPrw ON TbTree WHEN NEW.KeyInd = 10 AND NEW.KeyPrw = 6");
    ASSERT_EQ(runner.exitStatus(), QProcess::CrashExit) << runner.readAllStandardError().toStdString();
    EXPECT_EQ(testing_support::outline(store), (std::vector<std::string>{"2@1", "5@2", "10@2", "3@1", "4@1"}));
}

// Quit needs no marked item: not after a delete (nothing marked), nor when
// the marked record is no longer in the tree (another window deleted it).
TEST(CommandQuit, QuitEndsTheProgramWhateverIsMarked)
{
    for (const char *marked : {"", "UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 4",
                               "UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 5"}) {
        SCOPED_TRACE(marked);
        TestStore store;
        store.create({{1, 0}, {2, 1, false, "two"}, {4, 1, false, "four"}, {5, 0, false, "deleted"}});
        if (*marked)
            store.exec(marked);
        QProcess runner;
        runner.start(BRANCHKEEPER_ACTION_RUNNER,
                     {QString::fromStdString(store.directory()), "command", QString::number(CmdQuit)});
        ASSERT_TRUE(runner.waitForFinished(20000));
        EXPECT_EQ(runner.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(runner.exitCode(), 0);
    }
}

} // namespace
