// A disk that refuses writes: a store that opens read-only, a folder where
// the journal cannot be made, a full disk. The program keeps running. A store
// it cannot write is browsed: the tree follows the user, nothing reaches the
// file, one line says so, and F5 finds out when it can be written again. Any
// other refused action leaves the file as it was, the view shows the file,
// one line says so, and once the disk takes writes again the action lands.

#include "commands/toolbar.h"
#include "tests/support/faulty_disk.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/keyed_tree.h"
#include "view/tree_state.h"

#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using testing_support::FaultyDisk;
using testing_support::GuiTest;
using testing_support::Item;
using namespace modTree;

namespace {

using Fault = FaultyDisk::Fault;

// Root 1: 2 (open: 4, 5, 6), 3 (closed: 7).
const std::vector<Item> kTree = {
    {1, 0}, {2, 1, true, "two"}, {4, 2, false, "four"}, {5, 2, false, "five"}, {6, 2, false, "six"},
    {3, 1, false, "three"}, {7, 3, false, "seven"},
};

struct Refused {
    std::string name;
    Fault fault;
    std::function<void(GuiTest &)> act;
    friend void PrintTo(const Refused &r, std::ostream *os) { *os << r.name; }
};

std::vector<Refused> cases()
{
    const std::pair<const char *, std::function<void(GuiTest &)>> actions[] = {
        {"Click", [](GuiTest &t) { t.click("6K"); }},
        {"Keystroke", [](GuiTest &t) { t.type("x"); }},
        {"Opening", [](GuiTest &t) { t.clickArrow("3K"); }},
        {"Closing", [](GuiTest &t) { t.clickArrow("2K"); }},
        {"AddAfter", [](GuiTest &t) { t.press(CmdAddAfter); }},
        {"MoveUp", [](GuiTest &t) { t.press(CmdMoveUp); }},
        {"Delete", [](GuiTest &t) { t.press(CmdDelete); }},
    };
    const std::pair<const char *, Fault> faults[] = {{"NoJournal", Fault::NoJournal}, {"FullDisk", Fault::FullDisk}};
    std::vector<Refused> out;
    for (const auto &[faultName, fault] : faults)
        for (const auto &[actionName, act] : actions)
            out.push_back({std::string(faultName) + actionName, fault, act});
    return out;
}

std::vector<std::string> shownKeys(const toolkit::KeyedTree &tree)
{
    std::vector<std::string> shown;
    for (const auto &line : testing_support::describeTree(tree))
        shown.push_back(line.substr(0, line.find(' ')));
    return shown;
}

class FailingDisk : public GuiTest, public ::testing::WithParamInterface<Refused> {
protected:
    FaultyDisk disk;
};

// The disk starts refusing while the program runs.
TEST_P(FailingDisk, LeavesTheFileAsItWasSaysSoAndTheActionLandsLater)
{
    const Refused &c = GetParam();
    startWithToolbar(kTree);
    click("5K"); // the item the text box and the commands work on
    disk.set(c.fault);
    const auto before = store.dump();
    ::testing::internal::CaptureStderr();
    c.act(*this);
    const std::string said = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(store.dump(), before);
    EXPECT_EQ(shownKeys(*window->tree()), testing_support::expectedView(store));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("was not stored"), std::string::npos) << said;
    // Without a journal nothing can be written any more: the program browses
    // from now on, and F5 finds the store writable once the folder is.
    const bool browsing = c.fault == Fault::NoJournal;
    EXPECT_EQ(said.find("cannot be written") != std::string::npos, browsing) << said;
    EXPECT_EQ(window->textBox()->isReadOnly(), browsing);

    disk.set(Fault::None);
    if (browsing) {
        ::testing::internal::CaptureStderr();
        key(Qt::Key_F5);
        EXPECT_NE(::testing::internal::GetCapturedStderr().find("can be written again"), std::string::npos);
        click("5K");
    }
    c.act(*this);
    EXPECT_NE(store.dump(), before);
    const auto check = testing_support::checkTree(store);
    EXPECT_TRUE(check.ok()) << check.report();
}

INSTANTIATE_TEST_SUITE_P(FailingDisk, FailingDisk, ::testing::ValuesIn(cases()),
                         [](const auto &info) { return info.param.name; });

// A store that cannot be written from the start: a file the user may not
// write, or a folder that refuses the journal.
class Browsing : public GuiTest, public ::testing::WithParamInterface<Fault> {
protected:
    FaultyDisk disk;
};

TEST_P(Browsing, TheTreeFollowsTheUserAndNothingReachesTheFile)
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto &command : Commands())
        rows.emplace_back(command.picture, command.about);
    store.create(kTree, rows);
    store.exec("UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 5");
    ASSERT_TRUE(WriteButtonPictures(store.qDirectory(), nullptr));
    disk.set(GetParam());
    const auto before = store.dump();
    ::testing::internal::CaptureStderr();
    startOnStore();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const std::string atStart = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(atStart.begin(), atStart.end(), '\n'), 1) << atStart;
    EXPECT_NE(atStart.find("cannot be written"), std::string::npos) << atStart;

    // The writing commands are greyed out, the text box reads only.
    const auto buttons = window->toolbar()->actions();
    for (const CommandRow &command : Commands())
        EXPECT_EQ(buttons.at(command.number - 1)->isEnabled(), !command.writes) << command.number;
    EXPECT_TRUE(window->textBox()->isReadOnly());
    EXPECT_TRUE(window->tree()->accessibleDescription().startsWith("Read only"));

    ::testing::internal::CaptureStderr();
    click("6K");
    EXPECT_TRUE(node("6K").isSelected());
    EXPECT_EQ(node("6K").foreColor(), kColorSelected);
    EXPECT_EQ(node("5K").foreColor(), kColorPlain);
    EXPECT_EQ(window->textBox()->text(), "six");
    type("x");
    EXPECT_EQ(window->textBox()->text(), "six");
    for (const Qt::Key k : {Qt::Key_Delete, Qt::Key_Insert})
        key(k);
    press(CmdMoveUp);
    key(Qt::Key_Down); // the keys still move the mark
    key(Qt::Key_Up);
    EXPECT_TRUE(node("6K").isSelected());
    clickArrow("3K"); // a first opening builds the branch, and closes the other top-level items
    EXPECT_TRUE(node("7K").isValid());
    EXPECT_FALSE(node("2K").isExpanded());
    clickArrow("3K");
    key(Qt::Key_F5);
    EXPECT_FALSE(node("3K").isExpanded()) << "a refresh keeps what the user closed";
    clickArrow("2K");
    EXPECT_TRUE(node("6K").isSelected()) << "every rebuild keeps the mark where the user left it";
    EXPECT_EQ(node("6K").foreColor(), kColorSelected);
    EXPECT_EQ(store.dump(), before);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "nothing said per action";

    // Writable again: F5 notices, and the file's own tree is back.
    disk.set(Fault::None);
    ::testing::internal::CaptureStderr();
    key(Qt::Key_F5);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("can be written again"), std::string::npos);
    EXPECT_FALSE(window->textBox()->isReadOnly());
    EXPECT_TRUE(buttons.at(CmdDelete - 1)->isEnabled());
    EXPECT_EQ(node("5K").foreColor(), kColorSelected);
    click("6K");
    EXPECT_EQ(store.field(6, "KeySel"), "1");
}

INSTANTIATE_TEST_SUITE_P(FailingDisk, Browsing, ::testing::Values(Fault::ReadOnlyStore, Fault::NoJournal),
                         [](const auto &info) {
                             return info.param == Fault::ReadOnlyStore ? "ReadOnlyStore" : "NoJournal";
                         });

} // namespace
