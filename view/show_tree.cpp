#include "view/show_tree.h"

#include "store/child_chain.h"
#include "store/connection.h"
#include "store/mod_base.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/runtime.h"
#include "toolkit/text_box.h"
#include "toolkit/twips.h"
#include "view/browsing.h"
#include "view/layout.h"
#include "view/tree_state.h"

#include <QElapsedTimer>

#include <deque>

namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

constexpr int kBusyAfterMs = 200;
int g_busyAfterMs = kBusyAfterMs;
qint64 g_lastRebuildMs = 0;
// The file's outside version when the view was last built from it.
std::optional<std::int64_t> g_builtVersion;

void layOutControls(const Controls &c)
{
    namespace tw = toolkit::twips;
    using namespace layout;
    if (!c.form)
        return;
    // The form's size is read afresh for every use, in single precision.
    if (c.txtItem) {
        tw::setTop(c.txtItem, kTextTop);
        tw::setLeft(c.txtItem, 0);
        tw::setWidth(c.txtItem, static_cast<float>(tw::width(c.form)) - kSideMargin);
        tw::setHeight(c.txtItem, kTextHeight);
    }
    if (c.TreeV) {
        tw::setTop(c.TreeV, kTreeTop);
        tw::setLeft(c.TreeV, 0);
        tw::setWidth(c.TreeV, static_cast<float>(tw::width(c.form)) - kSideMargin);
        tw::setHeight(c.TreeV, static_cast<float>(tw::height(c.form)) - kBottomMargin);
    }
}

// A link read as a key; an empty or unreadable link counts as none.
std::int32_t link(Field f)
{
    return rsTree.key(f).value_or(0);
}

// How the user left item k while browsing a store that cannot be written.
std::optional<bool> browsedOpen(std::int32_t k)
{
    return Browsing() ? BrowsedOpen(k) : std::nullopt;
}

// The closing test on the item just shown: collapsed with hidden children
// gets one placeholder node and its descendants are not read. True when the
// item is closed this way.
bool closeIfCollapsed(std::int32_t k)
{
    if (link(Field::KeyChi) == 0)
        return false;
    const auto browsed = browsedOpen(k);
    if (browsed ? *browsed : rsTree.flag(Field::Expand) != std::optional<bool>(false))
        return false;
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    const toolkit::TreeNode placeholder = tree->add(ItemNode(k), PlaceholderNode(k), {});
    placeholder.parent().setExpanded(false);
    return true;
}

// Adds the node of the cursor's current record under its parent's node,
// marks it open or closed and, if it is the selected item, selected and red.
// False when the node could not be added (its settings are then dropped).
bool showCurrentItem()
{
    // Empty unless the item has a text (Null shows empty).
    std::string number;
    std::string_view text;
    if (const auto stored = rsTree.textView(Field::KeyTxt)) {
        text = *stored;
    } else if (const auto other = rsTree.text(Field::KeyTxt)) {
        number = *other; // a number where a text belongs: show it as written
        text = number;
    }

    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    const auto parent = rsTree.key(Field::KeyPar);
    const auto self = rsTree.key(Field::KeyInd);
    if (!tree || !parent || !self)
        return false;
    const toolkit::TreeNode node = tree->add(ItemNode(*parent), ItemNode(*self), text);
    if (!node.isValid())
        return false;
    // Marked before it has children; it keeps the state while they are added.
    const auto browsed = browsedOpen(*self);
    node.setExpanded(browsed ? *browsed : rsTree.flag(Field::Expand) == std::optional<bool>(true));
    const auto browsedMark = Browsing() ? BrowsedMark() : std::nullopt;
    if (browsedMark ? *browsedMark == *self : rsTree.flag(Field::KeySel) == std::optional<bool>(true)) {
        node.setSelected();
        node.setForeColor(kColorSelected);
    }
    return true;
}

} // namespace

void SetBusyCursorAfter(int milliseconds)
{
    g_busyAfterMs = milliseconds;
}

void ForgetRebuilds()
{
    g_busyAfterMs = kBusyAfterMs;
    g_lastRebuildMs = 0;
    g_builtVersion.reset();
}

void ShowTree()
{
    toolkit::BusyCursor busy(g_lastRebuildMs >= g_busyAfterMs);
    QElapsedTimer clock;
    clock.start();
    const BusyScope programChanges;
    const Controls &c = AttachedControls();
    rsTree.positionOn(store::kRootKey);
    layOutControls(c);
    if (c.TreeV) {
        // One read transaction for the whole walk, and one screen update.
        store::TransactionScope reading(rsTree.connection(), store::TransactionScope::Kind::Read);
        toolkit::KeyedTree::Batch batch(c.TreeV);
        c.TreeV->removeAll();
        if (const auto root = rsTree.key(Field::KeyInd)) {
            c.TreeV->add(std::nullopt, ItemNode(*root), store::kRootText).setExpanded(true);
        }
        if (const auto root = rsTree.key(Field::KeyInd))
            ShowBranch(*root);
        if (store::Connection *connection = rsTree.connection())
            g_builtVersion = connection->outsideVersion();
    }
    g_lastRebuildMs = clock.elapsed();
}

bool ShowTreeIfChangedOutside()
{
    store::Connection *connection = rsTree.connection();
    if (!connection || TreeBusy)
        return false;
    const auto version = connection->outsideVersion();
    if (!version || version == g_builtVersion)
        return false;
    ShowTree();
    return true;
}

void ShowBranch(std::int32_t start)
{
    const BusyScope programChanges;
    if (!AttachedControls().TreeV)
        return;
    rsTree.positionOn(start);
    // Depth first: the chains of the open items the walk is in, start's
    // first. An item is shown once: a link to one already reached is not
    // followed, so broken links can neither loop nor show an item twice.
    store::KeySet reached;
    reached.insert(start);
    store::ChildChain::ReadAhead readAhead;
    std::deque<store::ChildChain> path; // never moved: a deep walk holds thousands
    auto descend = [&](std::int32_t parent) {
        path.emplace_back(rsTree, parent, link(Field::KeyChi), store::ChildChain::Read::Records, false, &reached,
                          &readAhead);
    };
    descend(start);
    while (!path.empty()) {
        const auto child = path.back().next();
        if (!child) {
            if (path.size() == 1 && path.front().lastKey() != 0)
                rsTree.positionOn(path.front().lastKey()); // done: the cursor on the last top-level item
            path.pop_back();
        } else if (showCurrentItem() && !closeIfCollapsed(*child)) {
            descend(*child);
        }
    }
}

} // namespace modTree
