#include "view/user_action.h"

#include "store/connection.h"
#include "store/mod_base.h"
#include "view/browsing.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <cstdio>

namespace modTree {

using store::TransactionScope;

UserAction::UserAction(const char *what) : m_what(what)
{
    store::Connection *connection = modBase::rsTree.connection();
    // Browsing a store that cannot be written: nothing to begin, nothing is
    // written.
    if (TreeBusy || !connection || connection->inTransaction() || Browsing())
        return;
    m_transaction = std::make_unique<TransactionScope>(connection, TransactionScope::Kind::Write);
    if (!m_transaction->active()) {
        m_refused = true;
        fail(connection->lastError());
    }
}

UserAction::~UserAction()
{
    if (!m_transaction || m_refused)
        return;
    if (!m_transaction->commit())
        fail(modBase::rsTree.connection()->lastError());
}

void UserAction::fail(const std::string &reason)
{
    // When the file takes no writes at all any more, the program browses
    // from now on, and the line that says so names this action too.
    if (!CheckWritable(m_what))
        std::fprintf(stderr, "branchkeeper: the %s was not stored: %s\n", m_what, reason.c_str());
    // Whatever the view shows of the action, the file does not hold it.
    ShowTree();
}

} // namespace modTree
