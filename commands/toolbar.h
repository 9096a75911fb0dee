#pragma once

#include "commands/command_table.h"

#include <QString>

class QToolBar;
namespace toolkit {
class ImageList;
}

// The command toolbar: built once from tbCmd, and the dispatch of its clicks.
namespace modTree {

// One button per row of tbCmd, in order: picture i from directory/pic1/ (and
// the picture shown under the pointer from directory/pic2/), tool tip from
// CmdAbout. Button i runs command i whatever pictures are missing. Each
// button's action carries its number as data.
void FillToolbar(QToolBar *toolbar, toolkit::ImageList *normal, toolkit::ImageList *hot, const QString &directory);

// Runs command button on the item marked selected in the table; a command
// that needs none runs without looking, every other button does nothing
// without one. Opens no transaction: the caller's user action holds it.
void ButtonClick(int button);

} // namespace modTree
