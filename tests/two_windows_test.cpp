// Two copies of the program on one store, each the real window in a process
// of its own (tests/window_driver.cpp, serve mode): the edits of both land,
// the file stays sound, neither crashes, each shows what the other did once
// it runs its next command or is activated, and a write that meets the
// other's lock waits for it instead of being lost.

#include "commands/command_table.h"
#include "tests/support/test_store.h"
#include "tests/support/tree_check.h"
#include "tests/window_driver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

using testing_support::Item;
using testing_support::TestStore;
using namespace modTree;

namespace {

// One running copy of the program, driven line by line.
class Copy {
public:
    Copy(TestStore &store, const char *name) : m_name(name)
    {
        m_process.start(BRANCHKEEPER_WINDOW_DRIVER, {"serve", store.qDirectory()});
        EXPECT_EQ(waitFor("ready"), "ready") << errors();
    }
    ~Copy()
    {
        if (m_process.state() == QProcess::Running) {
            post("quit");
            if (!m_process.waitForFinished(20000))
                m_process.kill();
        }
        m_process.waitForFinished(20000);
    }
    Copy(const Copy &) = delete;
    Copy &operator=(const Copy &) = delete;

    // Sends a command without waiting for its answer.
    void post(const std::string &command)
    {
        m_process.write((command + "\n").c_str());
        m_process.waitForBytesWritten(20000);
    }
    // The lines up to and including the next "ok" or "error ..." line.
    std::vector<std::string> answer()
    {
        std::vector<std::string> lines;
        for (;;) {
            lines.push_back(waitFor(""));
            if (lines.back() == "ok" || lines.back().rfind("error", 0) == 0 || lines.back().empty())
                return lines;
        }
    }
    // Runs a command: true when it answered ok.
    bool run(const std::string &command)
    {
        post(command);
        const auto lines = answer();
        EXPECT_EQ(lines.back(), "ok") << m_name << ": " << command;
        return lines.back() == "ok";
    }
    std::vector<std::string> dump()
    {
        post("dump");
        auto lines = answer();
        lines.pop_back(); // ok
        for (auto &line : lines) {
            // Open or closed is in the nodes shown; an open item without
            // children is no concern here.
            if (const auto tab = line.rfind('\t'); tab != std::string::npos && line.find('+', tab) != std::string::npos)
                line.erase(line.find('+', tab), 1);
        }
        return lines;
    }
    // The next line that starts with prefix; "" when none came.
    std::string waitFor(const std::string &prefix)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 60000) {
            while (m_process.canReadLine()) {
                std::string line = m_process.readLine().toStdString();
                if (!line.empty() && line.back() == '\n')
                    line.pop_back(); // only the newline: a dump line may end in a tab
                if (line.rfind(prefix, 0) == 0)
                    return line;
            }
            if (!m_process.waitForReadyRead(100) && m_process.state() != QProcess::Running)
                break;
        }
        ADD_FAILURE() << m_name << " said no \"" << prefix << "\": " << errors();
        return {};
    }
    std::string errors()
    {
        m_errors += m_process.readAllStandardError().toStdString();
        return m_errors;
    }
    // Ends the copy: true when it ended by itself, without a word about a lost action.
    bool quit()
    {
        post("quit");
        const bool ended = m_process.waitForFinished(20000) && m_process.exitStatus() == QProcess::NormalExit
                        && m_process.exitCode() == 0;
        EXPECT_TRUE(ended) << m_name << " did not end cleanly: " << errors();
        EXPECT_EQ(errors().find("was not stored"), std::string::npos) << m_name << ": " << errors();
        EXPECT_EQ(errors().find("branchkeeper:"), std::string::npos) << m_name << ": " << errors();
        return ended;
    }

private:
    std::string m_name;
    QProcess m_process;
    std::string m_errors;
};

std::vector<std::pair<std::string, std::string>> toolbarRows()
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto &command : Commands())
        rows.emplace_back(command.picture, command.about);
    return rows;
}

std::string digestOf(TestStore &store)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(store.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::string error;
    const auto digest = window_driver::tableDigest(db, &error);
    sqlite3_close(db);
    return digest.value_or("unreadable: " + error);
}

// What a view freshly built from the file shows, in the driver's dump form:
// every node with its text and, for the selected item's node, "*r".
std::vector<std::string> expectedDump(TestStore &store)
{
    struct Row {
        std::string text;
        bool selected;
    };
    std::map<std::int32_t, Row> rows;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(store.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT KeyInd, KeyTxt, KeySel FROM TbTree", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
        rows[sqlite3_column_int(stmt, 0)] = {text ? text : "", sqlite3_column_int(stmt, 2) != 0};
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);

    std::vector<std::string> lines;
    std::string selected = "none";
    for (const std::string &node : testing_support::expectedView(store)) {
        const std::string key = node.substr(node.find('>') + 1);
        std::string text;
        std::string flags;
        if (key == "1K") {
            text = "корень"; // the rebuild never marks the root
        } else if (key.back() == 'K') {
            const Row &row = rows.at(std::stoi(key));
            text = row.text;
            if (row.selected) {
                flags = "*r";
                selected = key;
            }
        }
        lines.push_back("node " + node + "\t" + text + "\t" + flags);
    }
    lines.push_back("selected " + selected);
    return lines;
}

// Item nodes a copy shows, the root and placeholders left out.
std::vector<std::int32_t> shownItems(const std::vector<std::string> &dump)
{
    std::vector<std::int32_t> items;
    for (const auto &line : dump) {
        const auto gt = line.find('>');
        const auto tab = line.find('\t');
        if (gt == std::string::npos || tab == std::string::npos || line[tab - 1] != 'K')
            continue;
        const int key = std::stoi(line.substr(gt + 1));
        if (key != 1)
            items.push_back(key);
    }
    return items;
}

std::string textOf(TestStore &store, std::int32_t key)
{
    const std::string quoted = store.field(key, "KeyTxt"); // 'text' or NULL
    return quoted == "NULL" ? std::string() : quoted.substr(1, quoted.size() - 2);
}

void expectSound(TestStore &store, const std::string &after)
{
    const auto check = testing_support::checkTree(store);
    EXPECT_TRUE(check.ok()) << after << ": " << check.report();
    EXPECT_EQ(store.count("SELECT count(*) FROM pragma_integrity_check WHERE integrity_check <> 'ok'"), 0) << after;
}

// Root 1: 2 (open: 3, 4, 5), 6 (open: 7, 8), 9; item 4 selected.
std::vector<Item> smallTree()
{
    return {{1, 0},
            {2, 1, true, "two"},
            {3, 2, false, "three"},
            {4, 2, false, "four", true},
            {5, 2, false, "five"},
            {6, 1, true, "six"},
            {7, 6, false, "seven"},
            {8, 6, false, "eight"},
            {9, 1, false, "nine"}};
}

// Copy A adds and renames items, copy B clicks, moves and deletes them, in
// turn. Before each turn the copy is activated or runs a command that does
// nothing, and then its view must be the file's, whatever the other changed.
TEST(TwoWindows, TakingTurnsBothLandAndEachShowsTheOthersChanges)
{
    TestStore store;
    store.create(smallTree(), toolbarRows());
    Copy a(store, "A");
    Copy b(store, "B");
    std::map<Copy *, std::string> seen{{&a, digestOf(store)}, {&b, digestOf(store)}};
    std::mt19937 rng(7);

    for (int turn = 0; turn < 40 && !::testing::Test::HasFailure(); ++turn) {
        Copy &me = turn % 2 == 0 ? a : b;
        const std::string name = (turn % 2 == 0 ? "A" : "B") + std::string(" turn ") + std::to_string(turn);
        SCOPED_TRACE(name);
        const bool changedOutside = digestOf(store) != seen[&me];
        ASSERT_TRUE(me.run(turn % 4 < 2 ? "activate" : "command " + std::to_string(CmdNone)));
        const auto view = me.dump();
        if (changedOutside) {
            EXPECT_EQ(view, expectedDump(store));
        }

        const auto items = shownItems(view);
        ASSERT_FALSE(items.empty());
        const std::int32_t item = items[rng() % items.size()];
        ASSERT_TRUE(me.run("click " + std::to_string(item)));
        EXPECT_EQ(store.field(item, "KeySel"), "1");
        const auto records = store.count("SELECT count(*) FROM TbTree");
        if (&me == &a) {
            const std::string typed = "-a" + std::to_string(turn);
            const std::string before = textOf(store, item);
            ASSERT_TRUE(a.run("type " + typed));
            EXPECT_EQ(textOf(store, item), before + typed);
            const int add = CmdAddBefore + static_cast<int>(rng() % 3);
            ASSERT_TRUE(a.run("command " + std::to_string(add)));
            EXPECT_EQ(store.count("SELECT count(*) FROM TbTree"), records + 1);
            const auto fresh = static_cast<std::int32_t>(records); // keys run 0, 1, 2, ... without gaps
            EXPECT_EQ(store.field(fresh, "KeySel"), "1");
            EXPECT_TRUE(testing_support::checkTree(store).reachable.contains(fresh));
        } else {
            const int command = rng() % 5 == 0 ? CmdDelete : CmdMoveUp + static_cast<int>(rng() % 4);
            ASSERT_TRUE(b.run("command " + std::to_string(command)));
            if (command == CmdDelete) {
                EXPECT_FALSE(testing_support::checkTree(store).reachable.contains(item));
                EXPECT_EQ(store.count("SELECT count(*) FROM TbTree WHERE KeySel <> 0"), 0);
            } else {
                EXPECT_EQ(store.field(item, "KeySel"), "1");
            }
        }
        expectSound(store, name);
        seen[&me] = digestOf(store);
    }
    EXPECT_TRUE(a.quit());
    EXPECT_TRUE(b.quit());
}

// B holds its write lock for half a second in the middle of one of its
// actions; meanwhile A clicks item 7 and types. A's actions wait for the lock
// and land after B's, B's lands too, and neither says it lost anything.
struct HeldCase {
    const char *name;
    std::vector<std::string> prepareB;    // before the hold
    std::string heldB;                    // the action that holds the lock
    std::function<bool(TestStore &)> bLanded;
    friend void PrintTo(const HeldCase &c, std::ostream *os) { *os << c.name; }
};

const HeldCase kHeldCases[] = {
    {"AddChild", {}, "command 3",
     [](TestStore &s) { return s.field(4, "KeyChi") == "10" && s.field(10, "KeyPar") == "4"; }},
    {"MoveDown", {}, "command 5", [](TestStore &s) { return s.field(5, "KeyNxt") == "4"; }},
    {"Delete", {}, "command 8", [](TestStore &s) { return s.field(4, "KeyPar") == "0"; }},
    {"Keystroke", {"click 9"}, "type Q", [](TestStore &s) { return s.field(9, "KeyTxt") == "'nineQ'"; }},
    {"Closing", {}, "close 2", [](TestStore &s) { return s.field(2, "Expand") == "0"; }},
    {"Click", {}, "click 3", [](TestStore &s) { return s.field(3, "KeySel") == "0"; }}, // A's click came after
};

class SteppingOnEachOther : public ::testing::TestWithParam<HeldCase> {};

TEST_P(SteppingOnEachOther, TheWaitingWriteLandsAfterTheHoldingOne)
{
    const HeldCase &c = GetParam();
    TestStore store;
    store.create(smallTree(), toolbarRows());
    Copy a(store, "A");
    Copy b(store, "B");
    for (const auto &command : c.prepareB)
        ASSERT_TRUE(b.run(command));

    ASSERT_TRUE(b.run("hold 500"));
    b.post(c.heldB);
    ASSERT_EQ(b.waitFor("holding"), "holding");
    // B has written its action and holds the lock until it commits.
    ASSERT_TRUE(a.run("click 7"));
    ASSERT_TRUE(a.run("type abc"));
    EXPECT_EQ(b.answer().back(), "ok");

    EXPECT_TRUE(c.bLanded(store));
    EXPECT_EQ(store.field(7, "KeySel"), "1"); // A's click is the later one
    EXPECT_EQ(store.count("SELECT count(*) FROM TbTree WHERE KeySel <> 0"), 1);
    EXPECT_EQ(store.field(7, "KeyTxt"), "'sevenabc'");
    expectSound(store, c.name);

    // Each sees the other's change at its next command or activation.
    ASSERT_TRUE(a.run("command " + std::to_string(CmdNone)));
    EXPECT_EQ(a.dump(), expectedDump(store));
    ASSERT_TRUE(b.run("activate"));
    EXPECT_EQ(b.dump(), expectedDump(store));
    EXPECT_TRUE(a.quit());
    EXPECT_TRUE(b.quit());
}

INSTANTIATE_TEST_SUITE_P(TwoWindows, SteppingOnEachOther, ::testing::ValuesIn(kHeldCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
