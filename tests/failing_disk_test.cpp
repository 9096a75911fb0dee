// A disk that refuses writes: a store that opens read-only, a folder where
// the journal cannot be made, a full disk. The program keeps running; each
// action the disk refuses leaves the file as it was, the view shows the file,
// and one line on standard error says so; once the disk takes writes again,
// the same action lands.

#include "commands/command_table.h"
#include "tests/support/faulty_disk.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/keyed_tree.h"

#include <QTest>

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
    const std::pair<const char *, Fault> faults[] = {
        {"ReadOnlyStore", Fault::ReadOnlyStore}, {"NoJournal", Fault::NoJournal}, {"FullDisk", Fault::FullDisk}};
    std::vector<Refused> out;
    for (const auto &[faultName, fault] : faults)
        for (const auto &[actionName, act] : actions)
            out.push_back({std::string(faultName) + actionName, fault, act});
    return out;
}

class FailingDisk : public GuiTest, public ::testing::WithParamInterface<Refused> {
protected:
    FaultyDisk disk;
};

TEST_P(FailingDisk, LeavesTheFileAsItWasSaysSoAndTheActionLandsLater)
{
    const Refused &c = GetParam();
    if (c.fault == Fault::ReadOnlyStore) {
        // Read-only is what the store is when the program opens it.
        std::vector<std::pair<std::string, std::string>> rows;
        for (const auto &command : Commands())
            rows.emplace_back(command.picture, command.about);
        store.create(kTree, rows);
        store.exec("UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 5");
        disk.set(c.fault);
        startOnStore();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    } else {
        startWithToolbar(kTree);
        click("5K"); // the item the text box and the commands work on
        disk.set(c.fault);
    }
    const auto before = store.dump();
    ::testing::internal::CaptureStderr();
    c.act(*this);
    const std::string said = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(store.dump(), before);
    std::vector<std::string> shown;
    for (const auto &line : testing_support::describeTree(*window->TreeV))
        shown.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(shown, testing_support::expectedView(store));
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 1) << said;
    const bool wrote = c.name != "ReadOnlyStoreKeystroke";
    if (wrote) {
        EXPECT_NE(said.find("was not stored"), std::string::npos) << said;
    }

    // The disk takes writes again: the program is still there, and the same
    // action now lands (a read-only store stays read-only until reopened).
    if (c.fault == Fault::ReadOnlyStore)
        return;
    disk.set(Fault::None);
    c.act(*this);
    EXPECT_NE(store.dump(), before);
    const auto check = testing_support::checkTree(store);
    EXPECT_TRUE(check.ok()) << check.report();
}

INSTANTIATE_TEST_SUITE_P(FailingDisk, FailingDisk, ::testing::ValuesIn(cases()),
                         [](const auto &info) { return info.param.name; });

} // namespace
