#include "view/user_action.h"

#include "store/connection.h"
#include "store/mod_base.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <cstdio>

namespace modTree {

using store::TransactionScope;

UserAction::UserAction(const char *what) : m_what(what)
{
    store::Connection *connection = modBase::rsTree.connection();
    if (TreeBusy || !connection || connection->inTransaction())
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
    std::fprintf(stderr, "branchkeeper: the %s was not stored: %s\n", m_what, reason.c_str());
    // Whatever the view shows of the action, the file does not hold it.
    ShowTree();
}

} // namespace modTree
