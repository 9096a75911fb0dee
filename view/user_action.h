#pragma once

#include <memory>
#include <string>

namespace store {
class TransactionScope;
}

namespace modTree {

// One user action, one write transaction: a click on a node, a keystroke, an
// opening or closing, a command. The window's handlers open one where the
// event enters the program; it commits when the handler returns, so the
// action reaches the file whole or not at all, with one disk sync.
//
// Opens nothing for an event raised inside the program's own change (the
// handler returns at once then) or inside another action (it joins that one),
// nor without a store, nor while browsing a store that cannot be written
// (the handlers write nothing then). When the file cannot be had for writing,
// or the commit fails, nothing of the action stays in the file, the view is
// rebuilt from the table and one line goes to standard error; when the file
// takes no writes at all any more, browsing starts.
class UserAction {
public:
    // what names the action in that line: "click", "keystroke", ...
    explicit UserAction(const char *what);
    ~UserAction();
    UserAction(const UserAction &) = delete;
    UserAction &operator=(const UserAction &) = delete;

    // False when the action must not run: its transaction could not begin.
    bool mayRun() const { return !m_refused; }

private:
    void fail(const std::string &reason);

    const char *m_what;
    std::unique_ptr<store::TransactionScope> m_transaction;
    bool m_refused = false;
};

} // namespace modTree
