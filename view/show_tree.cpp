#include "view/show_tree.h"

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

#include <algorithm>

#include <unordered_set>
#include <vector>

namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

int g_busyAfterMs = 200;
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

// The items a walk has reached: a bit per key for the keys a store normally
// has, a set for any others, so the check costs next to nothing either way.
class KeySet {
public:
    bool insert(std::int32_t key)
    {
        if (key >= 0 && key < kDenseLimit) {
            const auto at = static_cast<std::size_t>(key);
            if (at >= m_bits.size())
                m_bits.resize(std::max(at + 1, m_bits.size() * 2));
            if (m_bits[at])
                return false;
            m_bits[at] = true;
            return true;
        }
        return m_others.insert(key).second;
    }
    bool contains(std::int32_t key) const
    {
        if (key >= 0 && key < kDenseLimit)
            return static_cast<std::size_t>(key) < m_bits.size() && m_bits[static_cast<std::size_t>(key)];
        return m_others.contains(key);
    }

private:
    static constexpr std::int32_t kDenseLimit = 1 << 26;
    std::vector<bool> m_bits;
    std::unordered_set<std::int32_t> m_others;
};

// A batch of an item's children holds at most this many records and, past
// the first, this much text: a rebuild's memory does not grow with the
// number of siblings, nor with their texts.
constexpr std::size_t kBatchRecords = 4096;
constexpr std::size_t kBatchTextBytes = 4u << 20;
// And all batches held at once (one per open level of the walk's path) at
// most this many records.
constexpr std::size_t kBufferedRecords = 16384;

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

} // namespace

void SetBusyCursorAfter(int milliseconds)
{
    g_busyAfterMs = milliseconds;
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
            c.TreeV->add(std::nullopt, ItemNode(*root), "корень").setExpanded(true);
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

    // The way back up is the path the walk came down: each ancestor with the
    // next sibling it had when the walk went down into it. On a consistent
    // table that is exactly the chain of KeyPar, and as nothing is written
    // during a walk the sibling read on the way down is the one a climb would
    // read again; keeping it saves re-reading every ancestor on the way up.
    // Together with the set of items reached, broken links can neither loop
    // nor lead the climb astray.
    //
    // An open item with more than one child has its children read in one
    // pass (as many as a batch holds) when the walk reaches its second one;
    // a child the batch lacks (the links name an item of another parent, or
    // the batch was full) is read by itself, as every item once was.
    struct Ancestor {
        std::int32_t key;
        std::int32_t next;
        // Its children read in one pass, and where each key is among them
        // (sorted by key: a record is ten values, too big to sort itself).
        std::vector<std::pair<std::int64_t, store::TreeCursor::Record>> children;
        std::vector<std::pair<std::int64_t, std::uint32_t>> byKey;
    };
    KeySet reached;
    reached.insert(start);
    std::vector<Ancestor> path; // below start, start first
    std::int32_t current = start;
    // When current was reached by climbing: its next sibling, read on the way down.
    bool climbed = false;
    std::int32_t climbedNext = 0;

    enum class State { Descend, Next, Climb, Done };
    // Makes item k current: from its parent's batch when the batch has it.
    auto positionOn = [&](std::int32_t k) {
        if (!path.empty()) {
            Ancestor &parent = path.back();
            const auto at = std::lower_bound(parent.byKey.begin(), parent.byKey.end(),
                                             std::pair<std::int64_t, std::uint32_t>(k, 0));
            if (at != parent.byKey.end() && at->first == k) {
                // Each item is visited once: its record can be moved out.
                rsTree.positionOnRecord(k, std::move(parent.children[at->second].second));
                return;
            }
        }
        rsTree.positionOn(k);
    };
    // Shows item k and picks the state that follows it.
    auto visit = [&](std::int32_t k) {
        reached.insert(k);
        current = k;
        climbed = false;
        positionOn(k);
        if (!ShowCurrentItem())
            return State::Next; // no node: nothing below it can be placed
        return closeIfCollapsed(k) ? State::Next : State::Descend;
    };
    // Reads the children of the item whose first child was just shown, when
    // it has more.
    std::size_t buffered = 0; // records in the batches on the path
    auto readSiblingsOfFirstChild = [&]() {
        if (link(Field::KeyNxt) == 0 || buffered >= kBufferedRecords)
            return;
        Ancestor &parent = path.back();
        parent.children = rsTree.childRecords(parent.key, std::min(kBatchRecords, kBufferedRecords - buffered),
                                              kBatchTextBytes);
        parent.byKey.reserve(parent.children.size());
        for (std::uint32_t i = 0; i < parent.children.size(); ++i)
            parent.byKey.emplace_back(parent.children[i].first, i);
        std::sort(parent.byKey.begin(), parent.byKey.end());
        buffered += parent.children.size();
    };

    State state = State::Descend;
    while (state != State::Done) {
        switch (state) {
        case State::Descend: {
            const std::int32_t child = link(Field::KeyChi);
            if (child == 0 || reached.contains(child)) {
                state = current == start ? State::Done : State::Next;
            } else {
                path.push_back({current, current == start ? 0 : link(Field::KeyNxt), {}, {}});
                state = visit(child);
                readSiblingsOfFirstChild(); // the cursor stays on the first child
            }
            break;
        }
        case State::Next: {
            const std::int32_t next = current == start ? 0 : climbed ? climbedNext : link(Field::KeyNxt);
            state = next == 0 || reached.contains(next) ? State::Climb : visit(next);
            break;
        }
        case State::Climb:
            if (path.empty() || path.back().key == start) {
                // Done on the last top-level item: leave the cursor there.
                if (current != start)
                    rsTree.positionOn(current);
                state = State::Done;
            } else {
                current = path.back().key;
                climbed = true;
                climbedNext = path.back().next;
                buffered -= path.back().children.size();
                path.pop_back();
                state = State::Next;
            }
            break;
        case State::Done:
            break;
        }
    }
}

bool ShowItem(std::int32_t k)
{
    rsTree.positionOn(k);
    return ShowCurrentItem();
}

bool ShowCurrentItem()
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

} // namespace modTree
