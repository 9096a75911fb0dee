#pragma once

#include "toolkit/node_key.h"

#include <cstdint>
#include <optional>

class QWidget;
namespace toolkit {
class KeyedTree;
class TextBox;
} // namespace toolkit

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

// The controls of the one window the procedures work on.
struct Controls {
    QWidget *form = nullptr;
    toolkit::KeyedTree *TreeV = nullptr;
    toolkit::TextBox *txtItem = nullptr;
};
void AttachControls(const Controls &controls);
const Controls &AttachedControls();

// Every piece of the program's state as it is before a window starts: no
// controls attached, TreeBusy clear, not browsing, no rebuild remembered, and
// both cursors closed, so the file is let go. For a new start (on another
// store) in the same process.
void ResetProgramState();
// What a layer above keeps for the program's run (the command history) and
// ResetProgramState must forget too; each function is called there once per reset.
void ForgetOnReset(void (*forget)());

// Node keys: the item key followed by "K" for an item's node, or by "S" for
// the placeholder under a closed item with children.
toolkit::NodeKey ItemNode(std::int32_t item);
toolkit::NodeKey PlaceholderNode(std::int32_t item);
inline bool IsPlaceholder(const std::optional<toolkit::NodeKey> &key) { return key && key->suffix == u'S'; }
// The item a node stands for: the key without its last character, when that
// fits a 32-bit item key (a placeholder gives its closed item).
std::optional<std::int32_t> ItemOf(const std::optional<toolkit::NodeKey> &key);

// Colours in 0x00BBGGRR form.
inline constexpr int kColorSelected = 255; // red
inline constexpr int kColorPlain = 0;      // black

} // namespace modTree
