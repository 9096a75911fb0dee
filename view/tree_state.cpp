#include "view/tree_state.h"

#include "store/mod_base.h"
#include "view/browsing.h"
#include "view/show_tree.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace modTree {

bool TreeBusy = false;

namespace {
Controls g_controls;
std::vector<void (*)()> g_forgets;
} // namespace

void AttachControls(const Controls &controls)
{
    g_controls = controls;
}

const Controls &AttachedControls()
{
    return g_controls;
}

void ForgetOnReset(void (*forget)())
{
    if (forget && std::find(g_forgets.begin(), g_forgets.end(), forget) == g_forgets.end())
        g_forgets.push_back(forget);
}

void ResetProgramState()
{
    for (const auto forget : g_forgets)
        forget();
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
