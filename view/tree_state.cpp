#include "view/tree_state.h"

#include <limits>

namespace modTree {

bool TreeBusy = false;
toolkit::TreeNode CurrentNode;

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

QString NodeKey(std::int32_t itemKey)
{
    return QString::number(itemKey) + QLatin1Char('K');
}

QString PlaceholderKey(std::int32_t itemKey)
{
    return QString::number(itemKey) + QLatin1Char('S');
}

std::optional<std::int32_t> ItemKeyOf(const QString &nodeKey)
{
    if (nodeKey.size() < 2)
        return std::nullopt;
    bool ok = false;
    const qlonglong n = QStringView(nodeKey).left(nodeKey.size() - 1).toLongLong(&ok);
    if (!ok || n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(n);
}

} // namespace modTree
