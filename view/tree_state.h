#pragma once

#include "toolkit/keyed_tree.h"

#include <QString>

#include <cstdint>
#include <optional>

class QWidget;
namespace toolkit {
class TextBox;
}

// State shared by the tree procedures and the window's handlers.
namespace modTree {

// True while the program itself changes the view or the text box; the
// expand, collapse and text-change handlers then store nothing. A plain flag,
// not a counter: whoever clears it ends the suppression for everyone.
extern bool TreeBusy;

// Sets TreeBusy for a scope and clears it at the end (not "restores" it).
class BusyScope {
public:
    BusyScope() { TreeBusy = true; }
    ~BusyScope() { TreeBusy = false; }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;
};

// The node last added by a rebuild or last looked up to be marked selected.
extern toolkit::TreeNode CurrentNode;

// The controls of the one window the procedures work on.
struct Controls {
    QWidget *form = nullptr;
    toolkit::KeyedTree *TreeV = nullptr;
    toolkit::TextBox *txtItem = nullptr;
};
void AttachControls(const Controls &controls);
const Controls &AttachedControls();

// Node keys: the item key in plain decimal followed by "K" for an item's node
// or "S" for the placeholder under a collapsed item.
QString NodeKey(std::int32_t itemKey);
QString PlaceholderKey(std::int32_t itemKey);
// The item key back from any node key: everything but the last character,
// read as a 32-bit integer. nullopt when that is not a number.
std::optional<std::int32_t> ItemKeyOf(const QString &nodeKey);

// Colours in 0x00BBGGRR form.
inline constexpr int kColorSelected = 255; // red
inline constexpr int kColorPlain = 0;      // black

} // namespace modTree
