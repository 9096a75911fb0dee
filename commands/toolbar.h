#pragma once

#include "commands/command_table.h"
#include "toolkit/tool_bar.h"

#include <cstdint>
#include <functional>
#include <optional>

// The command toolbar: built once from tbCmd, the dispatch of its clicks, and
// the pictures its buttons show.
namespace modTree {

// One button per row of tbCmd, in order, made by toolkit::addButtons:
// pictures named by CmdPict from directory/pic1/ and directory/pic2/, the tip
// from CmdAbout, the keys and key scope of the command of the same number.
// Button i runs command i whatever pictures are missing; a command without a
// button has no key.
void FillToolbar(QToolBar *toolbar, toolkit::ImageList *normal, toolkit::ImageList *hot, const QString &directory,
                 toolkit::KeyedTree *tree, const std::function<void(int button)> &treeKey);

// Greys out the buttons (and so their keys) of the commands that write
// while the store cannot be written.
void EnableCommands(QToolBar *toolbar, bool writable);

// Runs command button on the item marked selected in the table; a command
// that needs none runs without looking, every other button does nothing
// without one. Opens no transaction: the caller's user action holds it.
// True when a command ran.
bool ButtonClick(int button);

// The item the table marks selected; nullopt for none. Leaves "KeyInd"
// current and the cursor on it, so a later rebuild reads by key.
std::optional<std::int32_t> MarkedItem();

// The highlighted item, marked first when it is not (a drag or a closed
// ancestor can leave the highlight elsewhere), as a click on it marks it;
// nullopt when no item the tree holds is marked then. Opens no transaction.
std::optional<std::int32_t> MarkHighlighted();

// A command's key on the tree: the command runs on the highlighted item,
// marked first by MarkHighlighted. After Del the deleted item's next sibling, else its previous sibling,
// else its parent is clicked, so the keyboard stays in the tree. Opens no
// transaction.
void KeyCommand(int button);

// Draws every command's picture into directory/pic1 (normal) and
// directory/pic2 (highlighted), each also at twice the size for dense screens
// (see toolkit::doubleSizeName). False, with the reason, when a folder or
// file cannot be written.
bool WriteButtonPictures(const QString &directory, QString *error);

} // namespace modTree
