#include "view/show_tree.h"

#include "app/toolkit/keyed_tree.h"
#include "app/toolkit/text_box.h"
#include "app/toolkit/twips.h"
#include "store/connection.h"
#include "store/mod_base.h"
#include "view/tree_state.h"

#include <unordered_map>

namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

constexpr double kTextTop = 700;
constexpr double kTextHeight = 310;
constexpr double kTreeTop = 1010; // directly below the text box
constexpr float kSideMargin = 120;
constexpr float kBottomMargin = 1600;

void layOutControls(const Controls &c)
{
    namespace tw = toolkit::twips;
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

// The closing test on the item just shown: collapsed with hidden children
// gets one placeholder node and its descendants are not read. True when the
// item is closed this way.
bool closeIfCollapsed(std::int32_t k)
{
    if (link(Field::KeyChi) == 0 || rsTree.flag(Field::Expand) != std::optional<bool>(false))
        return false;
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    const toolkit::TreeNode placeholder = tree->add(NodeKey(k), PlaceholderKey(k), QString());
    if (placeholder.isValid()) {
        CurrentNode = placeholder.parent();
        CurrentNode.setExpanded(false);
    }
    return true;
}

} // namespace

void ShowTree()
{
    TreeBusy = true;
    const Controls &c = AttachedControls();
    rsTree.positionOn(store::kRootKey);
    layOutControls(c);
    if (c.TreeV) {
        // One read transaction for the whole walk, and one screen update.
        store::TransactionScope reading(rsTree.connection(), store::TransactionScope::Kind::Read);
        toolkit::KeyedTree::Batch batch(c.TreeV);
        c.TreeV->removeAll();
        if (const auto root = rsTree.key(Field::KeyInd)) {
            const toolkit::TreeNode node = c.TreeV->add(QString(), NodeKey(*root), QStringLiteral("корень"));
            if (node.isValid()) {
                CurrentNode = node;
                CurrentNode.setExpanded(true);
            }
        }
        if (const auto root = rsTree.key(Field::KeyInd))
            ShowBranch(*root);
    }
    TreeBusy = false;
}

void ShowBranch(std::int32_t start)
{
    TreeBusy = true;
    if (!AttachedControls().TreeV) {
        TreeBusy = false;
        return;
    }
    rsTree.positionOn(start);

    // Every item reached, with the item the walk came down from. It doubles
    // as the "already shown" test and as the way back up, so broken links can
    // neither loop nor lead the climb astray; on a consistent table the way
    // back is exactly KeyPar.
    std::unordered_map<std::int32_t, std::int32_t> cameFrom;
    cameFrom.emplace(start, 0);

    enum class State { Descend, Next, Climb, Done };
    State state = State::Descend;
    std::int32_t current = start;

    // Shows item k reached from parent; picks the state that follows it.
    auto visit = [&](std::int32_t k, std::int32_t parent) {
        cameFrom.emplace(k, parent);
        current = k;
        if (!ShowItem(k))
            return State::Next; // no node: nothing below it can be placed
        return closeIfCollapsed(k) ? State::Next : State::Descend;
    };

    while (state != State::Done) {
        switch (state) {
        case State::Descend: {
            const std::int32_t child = link(Field::KeyChi);
            if (child == 0 || cameFrom.contains(child))
                state = current == start ? State::Done : State::Next;
            else
                state = visit(child, current);
            break;
        }
        case State::Next: {
            const std::int32_t next = current == start ? 0 : link(Field::KeyNxt);
            if (next == 0 || cameFrom.contains(next))
                state = State::Climb;
            else
                state = visit(next, cameFrom[current]);
            break;
        }
        case State::Climb: {
            const std::int32_t parent = current == start ? start : cameFrom[current];
            if (parent == start) {
                state = State::Done;
            } else {
                current = parent;
                rsTree.positionOn(parent);
                state = State::Next;
            }
            break;
        }
        case State::Done:
            break;
        }
    }
    TreeBusy = false;
}

bool ShowItem(std::int32_t k)
{
    QString text;
    rsTree.positionOn(k);
    if (const auto stored = rsTree.text(Field::KeyTxt))
        text = QString::fromStdString(*stored);

    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    const auto parent = rsTree.key(Field::KeyPar);
    const auto self = rsTree.key(Field::KeyInd);
    if (!tree || !parent || !self)
        return false;
    const toolkit::TreeNode node = tree->add(NodeKey(*parent), NodeKey(*self), text);
    if (!node.isValid())
        return false;
    CurrentNode = node;
    // Marked before it has children; it keeps the state while they are added.
    CurrentNode.setExpanded(rsTree.flag(Field::Expand) == std::optional<bool>(true));
    if (rsTree.flag(Field::KeySel) == std::optional<bool>(true)) {
        CurrentNode.setSelected();
        CurrentNode.setForeColor(kColorSelected);
    }
    return true;
}

} // namespace modTree
