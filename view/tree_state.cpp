#include "view/tree_state.h"

#include "store/mod_base.h"
#include "view/browsing.h"
#include "view/show_tree.h"

#include <limits>

namespace modTree {

bool TreeBusy = false;

namespace {
Controls g_controls;
}

void AttachControls(const Controls &controls)
{
    g_controls = controls;
}

const Controls &AttachedControls()
{
    return g_controls;
}

void ResetProgramState()
{
    g_controls = {};
    TreeBusy = false;
    ResetBrowsing();
    ForgetRebuilds();
    modBase::rsTree.close();
    modBase::rsCmd.close();
}

toolkit::NodeKey ItemNode(std::int32_t item)
{
    return {item, u'K'};
}

toolkit::NodeKey PlaceholderNode(std::int32_t item)
{
    return {item, u'S'};
}

std::optional<std::int32_t> ItemOf(const std::optional<toolkit::NodeKey> &key)
{
    if (!key || key->number < std::numeric_limits<std::int32_t>::min()
        || key->number > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(key->number);
}

} // namespace modTree
