#include "view/selection.h"

#include "store/child_chain.h"
#include "store/mod_base.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/browsing.h"
#include "view/tree_state.h"

#include <optional>
#include <unordered_set>

namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

toolkit::TreeNode nodeOfCurrentRecord()
{
    const auto key = rsTree.key(Field::KeyInd);
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    return key && tree ? tree->find(ItemNode(*key)) : toolkit::TreeNode();
}

// The highlight on the nearest ancestor of the current record that the view
// shows; the cursor back on key.
void highlightShownAncestor(std::int32_t key)
{
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    std::unordered_set<std::int32_t> seen;
    for (auto at = rsTree.key(Field::KeyPar); tree && at && *at != 0 && seen.insert(*at).second;
         at = rsTree.key(Field::KeyPar)) {
        const toolkit::TreeNode shown = tree->find(ItemNode(*at));
        if (tree->indexOf(shown).isValid()) {
            tree->highlight(shown);
            break;
        }
        if (!rsTree.positionOn(*at))
            break;
    }
    rsTree.positionOn(key);
}

// SelectItem while browsing: the red mark and the highlight move, the file
// keeps its mark.
void markInView(std::int32_t key)
{
    std::optional<std::int32_t> before = BrowsedMark();
    if (!before && rsTree.seekSelected())
        before = rsTree.key(Field::KeyInd);
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    if (before && tree)
        tree->find(ItemNode(*before)).setForeColor(kColorPlain);
    BrowseMark(key);
    rsTree.positionOn(key);
    const toolkit::TreeNode node = tree ? tree->find(ItemNode(key)) : toolkit::TreeNode();
    if (!node.isValid())
        return;
    node.setForeColor(kColorSelected);
    TreeBusy = true;
    node.setSelected();
    TreeBusy = false;
}

} // namespace

bool HeldByTheTree(std::int32_t item)
{
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    std::unordered_set<std::int32_t> seen;
    for (std::int32_t at = item; at != store::kRootKey; ) {
        if (tree && tree->find(ItemNode(at)).isValid())
            return true;
        if (!seen.insert(at).second || !rsTree.positionOn(at))
            return false;
        const std::int32_t parent = rsTree.key(Field::KeyPar).value_or(0);
        if (parent == 0 || !rsTree.positionOn(parent))
            return false;
        store::ChildChain siblings(rsTree, parent, rsTree.key(Field::KeyChi).value_or(0),
                                   store::ChildChain::Read::Links, true);
        auto sibling = siblings.next();
        while (sibling && *sibling != at)
            sibling = siblings.next();
        if (sibling != at)
            return false;
        at = parent;
    }
    return true;
}

void SelectItem(std::int32_t key)
{
    if (rsTree.index() != store::kIndexKeyInd)
        rsTree.setIndex(store::kIndexKeyInd);
    if (Browsing()) {
        markInView(key);
        return;
    }
    if (rsTree.seekSelected()) {
        rsTree.update(Field::KeySel, false);
        // Not in the view when it lies inside a closed branch.
        nodeOfCurrentRecord().setForeColor(kColorPlain);
    }
    rsTree.requery();
    rsTree.seek({std::int64_t{key}});
    rsTree.update(Field::KeySel, true);

    const toolkit::TreeNode node = nodeOfCurrentRecord();
    if (!node.isValid()) {
        // Marked in the table only, inside a closed branch (or no such
        // record): the highlight goes to where the item is to be found.
        highlightShownAncestor(key);
        return;
    }
    node.setForeColor(kColorSelected);
    TreeBusy = true;
    node.setSelected();
    TreeBusy = false;
}

void NodeClick(const toolkit::TreeNode &node)
{
    const BusyScope programChanges;
    toolkit::TextBox *box = AttachedControls().txtItem;
    if (box) {
        box->setText(node.text()); // raises the change event, which finds TreeBusy set
        box->setTag(node.nodeKey());
        box->describe();
    }
    if (const auto key = ItemOf(node.nodeKey()))
        SelectItem(*key);
}

void NameNewItem(std::int32_t item)
{
    if (toolkit::KeyedTree *tree = AttachedControls().TreeV)
        tree->setNameWhenEmpty(tree->find(ItemNode(item)), QStringLiteral("new item"));
}

bool TextBoxEditsBranch(std::int32_t top)
{
    const toolkit::TextBox *box = AttachedControls().txtItem;
    std::unordered_set<std::int32_t> seen;
    for (auto at = box ? ItemOf(box->tag()) : std::nullopt; at; at = rsTree.key(Field::KeyPar)) {
        if (*at == top)
            return true;
        if (*at == 0 || *at == store::kRootKey || !seen.insert(*at).second || !rsTree.positionOn(*at))
            return false;
    }
    return false;
}

void UnbindTextBox()
{
    toolkit::TextBox *box = AttachedControls().txtItem;
    if (!box)
        return;
    const BusyScope programChanges;
    box->setText(QString()); // the change event finds TreeBusy set
    box->setTag(std::nullopt);
    box->describe();
}

QString TextBoxDescription()
{
    const Controls &c = AttachedControls();
    const auto tag = c.txtItem ? c.txtItem->tag() : std::nullopt;
    if (!tag)
        return QStringLiteral("Edits no item: select one in the tree and press F2");
    const toolkit::TreeNode node = c.TreeV ? c.TreeV->find(*tag) : toolkit::TreeNode();
    if (!node.isValid())
        return QStringLiteral("Edits an item not shown in the tree");
    if (node.shownText().isEmpty())
        return QStringLiteral("Edits an item without text");
    return QStringLiteral("Edits the item \u201C") + node.shownText() + QStringLiteral("\u201D");
}

void TextChange()
{
    if (TreeBusy || Browsing())
        return;
    toolkit::TextBox *box = AttachedControls().txtItem;
    if (!box)
        return;
    const auto tag = box->tag();
    const auto key = ItemOf(tag);
    if (!key)
        return; // no node clicked yet
    if (rsTree.index() != store::kIndexKeyInd)
        rsTree.setIndex(store::kIndexKeyInd);
    rsTree.seek({std::int64_t{*key}});
    const QString text = box->text();
    rsTree.update(Field::KeyTxt, text.isEmpty() ? std::string(store::kEmptiedText) : text.toStdString());
    if (toolkit::KeyedTree *tree = AttachedControls().TreeV)
        tree->find(*tag).setText(text);
}

} // namespace modTree
