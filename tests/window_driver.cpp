// The real window, offscreen, in a process of its own, for tests that kill
// the program at random moments or run two copies of it on one store. What it
// does to the store goes through the window's own handlers only; what it
// reads of the store for the test goes through a second, read-only connection
// of its own, as another program would see the file.
//
//   window_driver soak DIR SEED FIRST [--until LAST] [--pause write|commit|done N]
//   window_driver serve DIR
//
// soak: user actions, numbered FIRST, FIRST + 1, ... (up to LAST), each one
// chosen from SEED, its number and the window as it stands: a mouse click on
// a shown node, one keystroke into the text box (a character or Backspace),
// opening or closing a node with children, a command key on a node the
// highlight was moved to without a click, or a toolbar button other than
// quit. Each user action is one write transaction, and each is reported on
// standard output, one flushed line at a time:
//
//   ready D           the window is up; D is the digest of the item table
//                     (window_driver.h) as this process found the file
//   begin S D WHAT    action S is about to run on the table of digest D
//   done S D          action S returned; D is the table the file now holds
//   pause WHERE       (--pause) stopped for good, waiting to be killed
//
// How the killing test proves that no finished action is lost and that no
// action is in the file in part:
//  - "done S D" is printed after the handler returned and D is read from the
//    file through the other connection: action S, and every one before it, is
//    in the file as D.
//  - Nothing writes between actions: each begin's D equals the D before it.
//  - After a kill the file (once opened, which rolls back an unfinished
//    transaction) must hold the last D reported (ready or done), or, when the
//    kill came between "begin S" and "done S", the table with the whole of
//    action S applied. That table is found by replaying: the test kept a copy
//    of the file as this process found it, and runs the driver again on the
//    copy with the same SEED, FIRST and --until S. Each choice depends only
//    on the seed, the number and the window, which a new process on the same
//    file builds the same way, so the replay repeats the killed run action for
//    action (its done lines must equal the killed run's) and its "done S" is
//    action S whole.
//  - Any other table is an action in the file in part, or a finished one lost.
//
// Where the kill lands: an action's transaction begins where its event enters
// and ends with a synced commit, and actions follow each other closely here,
// so most kills at random moments land inside a write transaction (the test
// counts them by the journal they leave). The row writes themselves take
// microseconds, though, so a random kill seldom falls between two writes of
// one action, which is where a program without the transaction would leave
// half of it. --pause stops this process at a chosen point, and the test
// kills it there:
//   write N    right after the N-th row written since start-up: inside a
//              write transaction, between two writes of one action
//   commit N   as the N-th transaction is about to commit: all of it written,
//              none of it committed
//   done N     after the N-th action returned, before its done line:
//              committed, not reported; the replay settles it
//
// serve: commands on standard input, one a line, each answered with "ok"
// (after any lines of its own) or "error WHAT"; "ready" once the window is up.
//
//   click K        a mouse click on the node of item K
//   type TEXT      TEXT typed into the text box, one keystroke a character
//   backspace      one Backspace into the text box
//   open K         opens (close K: closes) the node of item K, as the user does
//   command N      toolbar button N
//   hold MS        the next transaction to commit first prints "holding" and
//                  keeps its write lock MS milliseconds longer
//   activate       another window is activated, then this one again
//   dump           the view, one "node PARENT>KEY<tab>TEXT<tab>FLAGS" line a
//                  node (flags: + open, * selected, r red), then "selected KEY"
//                  or "selected none"
//   quit           ends the program
//
// Exit status: 0 done, 2 bad call or a store that cannot be opened or read,
// 4 paused and never killed.

#include "app/frm_tree.h"
#include "commands/command_table.h"
#include "store/connection.h"
#include "store/mod_base.h"
#include "tests/window_driver.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/tree_state.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QTest>
#include <QToolBar>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// One line, flushed at once: a kill right after it loses nothing said.
void say(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

[[noreturn]] void pauseForGood(const std::string &where)
{
    say("pause " + where);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    std::_Exit(4); // nobody killed it: the test has gone
}

struct Pause {
    enum class Kind { None, Write, Commit, Done };
    Kind kind = Kind::None;
    long at = 0;
};

Pause g_pause;
long g_writes = 0;
long g_commits = 0;
int g_holdMs = 0;

// SQLite's hooks on the program's own connection. Neither touches the
// connection: they count, stop for good, or sleep.
void onWrite(void *, int, const char *, const char *, sqlite3_int64)
{
    ++g_writes;
    if (g_pause.kind == Pause::Kind::Write && g_writes == g_pause.at)
        pauseForGood("write " + std::to_string(g_writes));
}

int onCommit(void *)
{
    ++g_commits;
    if (g_pause.kind == Pause::Kind::Commit && g_commits == g_pause.at)
        pauseForGood("commit " + std::to_string(g_commits));
    if (g_holdMs > 0) {
        const int ms = g_holdMs;
        g_holdMs = 0;
        say("holding");
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    return 0; // let it commit
}

// splitmix64: the same numbers from the same seed in every build.
class Rng {
public:
    Rng(std::uint64_t seed, std::uint64_t step) : m_state(seed ^ (step * 0x9E3779B97F4A7C15ull)) { next(); }
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }

private:
    std::uint64_t m_state;
};

// The window as the user meets it, and the user's own ways into it.
class Window {
public:
    explicit Window(const QString &directory) : m_frm(directory) {}

    bool start()
    {
        m_frm.Form_Load();
        if (!m_frm.openReport().ok()) {
            std::fprintf(stderr, "%s\n", m_frm.openReport().message().c_str());
            return false;
        }
        m_frm.show();
        if (!QTest::qWaitForWindowExposed(&m_frm))
            return false;
        sqlite3 *db = modBase::rsTree.connection()->handle();
        sqlite3_update_hook(db, onWrite, nullptr);
        sqlite3_commit_hook(db, onCommit, nullptr);
        return true;
    }

    toolkit::TreeNode node(std::int32_t item) const { return m_frm.tree()->find(modTree::ItemNode(item)); }

    // The nodes under open ancestors, in display order, placeholders left out.
    std::vector<toolkit::TreeNode> shown() const
    {
        std::vector<toolkit::TreeNode> out;
        QList<toolkit::TreeNode> pending = m_frm.tree()->topLevelNodes();
        std::reverse(pending.begin(), pending.end());
        while (!pending.isEmpty()) {
            const toolkit::TreeNode n = pending.takeLast();
            if (modTree::IsPlaceholder(n.nodeKey()))
                continue;
            out.push_back(n);
            if (!n.isExpanded())
                continue;
            const auto children = n.children();
            for (auto c = children.rbegin(); c != children.rend(); ++c)
                pending.push_back(*c);
        }
        return out;
    }

    // A mouse click on the node's text, scrolled into sight first.
    bool click(const toolkit::TreeNode &node)
    {
        toolkit::KeyedTree *tree = m_frm.tree();
        const QModelIndex index = tree->indexOf(node);
        if (!index.isValid())
            return false;
        tree->scrollTo(index);
        const QRect row = tree->nodeRect(node);
        const QRect arrow = tree->arrowRect(node);
        if (row.isNull())
            return false;
        const QPoint at(arrow.isNull() ? row.left() + 4 : arrow.right() + 4, row.center().y());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
        return true;
    }

    // One keystroke a character; a character without a key of its own comes
    // as a keyboard layout gives it: a key event that carries the text.
    void type(const QString &text)
    {
        m_frm.textBox()->setFocus();
        for (const QChar c : text) {
            if (c.unicode() < 0x80)
                QTest::keyClick(m_frm.textBox(), c.toLatin1());
            else
                QTest::sendKeyEvent(QTest::Click, m_frm.textBox(), Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }

    void backspace()
    {
        m_frm.textBox()->setFocus();
        QTest::keyClick(m_frm.textBox(), Qt::Key_Backspace);
    }

    // A command key on the tree with the highlight moved to node first and
    // nothing marked on the way, as closing an ancestor or a drag leaves it:
    // the key marks the node itself, in its own action.
    bool keyOn(const toolkit::TreeNode &node, const QKeySequence &key)
    {
        toolkit::KeyedTree *tree = m_frm.tree();
        const QModelIndex index = tree->indexOf(node);
        if (!index.isValid() || key.isEmpty())
            return false;
        tree->setFocus();
        tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        QTest::keyClick(tree, key[0].key(), key[0].keyboardModifiers());
        return true;
    }

    bool command(int button)
    {
        for (QAction *action : m_frm.toolbar()->actions()) {
            if (action->data().toInt() == button) {
                emit m_frm.toolbar()->actionTriggered(action);
                return true;
            }
        }
        return false;
    }

    // The user leaves the window for another one and comes back.
    bool activate()
    {
        if (!m_other) {
            m_other = std::make_unique<QWidget>();
            m_other->resize(50, 50);
            m_other->show();
            if (!QTest::qWaitForWindowExposed(m_other.get()))
                return false;
        }
        m_other->activateWindow();
        if (!QTest::qWaitForWindowActive(m_other.get()))
            return false;
        m_frm.activateWindow();
        return QTest::qWaitForWindowActive(&m_frm);
    }

    std::vector<std::string> dump() const
    {
        std::vector<std::string> lines;
        std::vector<toolkit::TreeNode> pending;
        const auto top = m_frm.tree()->topLevelNodes();
        pending.assign(top.rbegin(), top.rend());
        while (!pending.empty()) {
            const toolkit::TreeNode n = pending.back();
            pending.pop_back();
            QString text = n.text();
            text.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\n'), QLatin1String("\\n"))
                .replace(QLatin1Char('\t'), QLatin1String("\\t"));
            std::string flags;
            if (n.isExpanded())
                flags += '+';
            if (n.isSelected())
                flags += '*';
            if (n.foreColor() == modTree::kColorSelected)
                flags += 'r';
            lines.push_back("node " + n.parent().key().toStdString() + ">" + n.key().toStdString() + "\t"
                            + text.toStdString() + "\t" + flags);
            const auto children = n.children();
            for (auto c = children.rbegin(); c != children.rend(); ++c)
                pending.push_back(*c);
        }
        const toolkit::TreeNode selected = m_frm.tree()->selectedNode();
        lines.push_back("selected " + (selected.isValid() ? selected.key().toStdString() : std::string("none")));
        return lines;
    }

private:
    frmTree m_frm;
    std::unique_ptr<QWidget> m_other;
};

struct Action {
    std::string what;
    std::function<void()> run;
};

// Action number step: a choice that depends on nothing but the seed, the
// number and the window.
Action choose(Rng &rng, Window &window)
{
    const auto shown = window.shown();
    const std::size_t roll = rng.below(100);
    if (roll < 30 && !shown.empty()) {
        const toolkit::TreeNode node = shown[rng.below(shown.size())];
        return {"click " + node.key().toStdString(), [&window, node] { window.click(node); }};
    }
    if (roll < 60) {
        if (rng.below(8) == 0)
            return {"backspace", [&window] { window.backspace(); }};
        static const QString kKeys = QStringLiteral("abcxyz 019~жё");
        const QString key = kKeys.mid(static_cast<int>(rng.below(static_cast<std::size_t>(kKeys.size()))), 1);
        return {"key " + key.toStdString(), [&window, key] { window.type(key); }};
    }
    if (roll < 75) {
        std::vector<toolkit::TreeNode> parents;
        for (const auto &n : shown) {
            if (n.childCount() > 0)
                parents.push_back(n);
        }
        if (!parents.empty()) {
            const toolkit::TreeNode node = parents[rng.below(parents.size())];
            const bool open = !node.isExpanded();
            return {(open ? "open " : "close ") + node.key().toStdString(),
                    [node, open] { node.setExpanded(open); }};
        }
    }
    if (roll < 85 && !shown.empty()) {
        std::vector<const char *> keys;
        for (const auto &command : modTree::Commands()) {
            if (command.keyScope == modTree::KeyScope::Tree) {
                for (const char *key : {command.shortcut, command.otherShortcut})
                    if (*key)
                        keys.push_back(key);
            }
        }
        const toolkit::TreeNode node = shown[rng.below(shown.size())];
        const QKeySequence key(QString::fromLatin1(keys[rng.below(keys.size())]));
        return {"key " + key.toString().toStdString() + " on " + node.key().toStdString(),
                [&window, node, key] { window.keyOn(node, key); }};
    }
    // Every button but quit (10), which would end the run.
    static const int kButtons[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11};
    const int button = kButtons[rng.below(std::size(kButtons))];
    return {"command " + std::to_string(button), [&window, button] { window.command(button); }};
}

int soak(const QString &directory, std::uint64_t seed, long first, long last)
{
    Window window(directory);
    if (!window.start())
        return 2;
    sqlite3 *reader = nullptr;
    const std::string path = directory.toStdString() + "/dbPro.mdb";
    if (sqlite3_open_v2(path.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), sqlite3_errmsg(reader));
        return 2;
    }
    sqlite3_busy_timeout(reader, 2000);
    auto digest = [reader] {
        std::string error;
        const auto d = window_driver::tableDigest(reader, &error);
        if (!d) {
            std::fprintf(stderr, "cannot read the table: %s\n", error.c_str());
            std::exit(2);
        }
        return *d;
    };

    say("ready " + digest());
    long actions = 0;
    for (long step = first; last < 0 || step <= last; ++step) {
        QApplication::processEvents();
        Rng rng(seed, static_cast<std::uint64_t>(step));
        const Action action = choose(rng, window);
        say("begin " + std::to_string(step) + " " + digest() + " " + action.what);
        action.run();
        if (g_pause.kind == Pause::Kind::Done && ++actions == g_pause.at)
            pauseForGood("done " + std::to_string(step));
        say("done " + std::to_string(step) + " " + digest());
    }
    sqlite3_close(reader);
    return 0;
}

// One serve command; the empty string when it was done.
std::string serveOne(Window &window, const std::string &verb, const std::string &rest)
{
    const auto number = [&rest] { return std::atoi(rest.c_str()); };
    if (verb == "click" || verb == "open" || verb == "close") {
        const toolkit::TreeNode node = window.node(number());
        if (!node.isValid())
            return "no node " + rest;
        if (verb == "click")
            return window.click(node) ? "" : "node " + rest + " is not shown";
        if (node.isExpanded() == (verb == "open"))
            return "node " + rest + " is " + (node.isExpanded() ? "open" : "closed") + " already";
        node.setExpanded(verb == "open");
        return "";
    }
    if (verb == "type") {
        window.type(QString::fromStdString(rest));
        return "";
    }
    if (verb == "backspace") {
        window.backspace();
        return "";
    }
    if (verb == "command")
        return window.command(number()) ? "" : "no button " + rest;
    if (verb == "hold") {
        g_holdMs = number();
        return "";
    }
    if (verb == "activate")
        return window.activate() ? "" : "the window did not become active";
    if (verb == "dump") {
        for (const auto &line : window.dump())
            say(line);
        return "";
    }
    return "unknown command " + verb;
}

int serve(const QString &directory)
{
    Window window(directory);
    if (!window.start())
        return 2;
    say("ready");
    std::string line;
    while (std::getline(std::cin, line)) {
        QApplication::processEvents();
        const auto space = line.find(' ');
        const std::string verb = line.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (verb == "quit") {
            say("ok");
            return 0;
        }
        const std::string error = serveOne(window, verb, rest);
        say(error.empty() ? "ok" : "error " + error);
    }
    return 0;
}

int usage(const char *self)
{
    std::fprintf(stderr,
                 "usage: %s soak DIR SEED FIRST [--until LAST] [--pause write|commit|done N]\n"
                 "       %s serve DIR\n",
                 self, self);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage(argv[0]);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string mode = argv[1];
    const QString directory = QString::fromLocal8Bit(argv[2]);
    if (mode == "serve" && argc == 3)
        return serve(directory);
    if (mode != "soak" || argc < 5)
        return usage(argv[0]);
    const std::uint64_t seed = std::strtoull(argv[3], nullptr, 10);
    const long first = std::atol(argv[4]);
    long last = -1;
    for (int i = 5; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--until" && i + 1 < argc) {
            last = std::atol(argv[++i]);
        } else if (option == "--pause" && i + 2 < argc) {
            const std::string where = argv[++i];
            g_pause.at = std::atol(argv[++i]);
            g_pause.kind = where == "write"  ? Pause::Kind::Write
                         : where == "commit" ? Pause::Kind::Commit
                         : where == "done"   ? Pause::Kind::Done
                                             : Pause::Kind::None;
            if (g_pause.kind == Pause::Kind::None || g_pause.at < 1)
                return usage(argv[0]);
        } else {
            return usage(argv[0]);
        }
    }
    return soak(directory, seed, first, last);
}
