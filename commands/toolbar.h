#pragma once

#include "commands/command_table.h"

#include <QString>

class QToolBar;
class QWidget;
namespace toolkit {
class ImageList;
}

// The command toolbar: built once from tbCmd, and the dispatch of its clicks.
namespace modTree {

// One button per row of tbCmd, in order: picture i from directory/pic1/ (and
// the picture shown under the pointer from directory/pic2/), each with its
// twice-the-size version when the folder has one; tool tip from CmdAbout.
// Button i runs command i whatever pictures are missing. Each button's action
// carries its number as data. A button whose command has a key gets it, on
// the tree or the whole window as the command table says, named in the tip;
// a command without a button has no key.
void FillToolbar(QToolBar *toolbar, toolkit::ImageList *normal, toolkit::ImageList *hot, const QString &directory,
                 QWidget *tree);

// Runs command button on the item marked selected in the table; a command
// that needs none runs without looking, every other button does nothing
// without one. Opens no transaction: the caller's user action holds it.
void ButtonClick(int button);

} // namespace modTree
