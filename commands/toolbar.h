#pragma once

#include "commands/command_table.h"

#include <QString>

#include <functional>

class QToolBar;
namespace toolkit {
class ImageList;
class KeyedTree;
} // namespace toolkit

// The command toolbar: built once from tbCmd, and the dispatch of its clicks.
namespace modTree {

// One button per row of tbCmd, in order: picture i from directory/pic1/ (and
// the picture shown under the pointer from directory/pic2/), each with its
// twice-the-size version when the folder has one; tool tip from CmdAbout.
// Button i runs command i whatever pictures are missing. Each button's action
// carries its number as data. A button whose command has keys gets them,
// named in the tip: a window key triggers the button; a tree key calls
// treeKey with the button's number while the button is enabled. A command
// without a button has no key.
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

// A command's key on the tree: the command runs on the highlighted item.
// When that is not the marked item (a drag or a closed ancestor can leave
// the highlight elsewhere), it is marked first, as a click on it marks it.
// After Del the deleted item's next sibling, else its previous sibling,
// else its parent is clicked, so the keyboard stays in the tree. Opens no
// transaction.
void KeyCommand(int button);

} // namespace modTree
