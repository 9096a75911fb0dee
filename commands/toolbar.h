#pragma once

#include <QString>

class QToolBar;
namespace toolkit {
class ImageList;
}

// The command toolbar: built once from tbCmd, and the dispatch of its clicks.
namespace modTree {

// The fixed commands, by button number (1-based position in the toolbar).
enum Command : int {
    CmdAddBefore = 1,
    CmdAddAfter = 2,
    CmdAddChild = 3,
    CmdMoveUp = 4,
    CmdMoveDown = 5,
    CmdMoveOut = 6,
    CmdMoveIn = 7,
    CmdDelete = 8,
    CmdNone = 9,
    CmdQuit = 10,
    CmdRefresh = 11,
};

// One button per row of tbCmd, in order: picture i from directory/pic1/ (and
// the picture shown under the pointer from directory/pic2/), tool tip from
// CmdAbout. Button i runs command i whatever pictures are missing. Each
// button's action carries its number as data.
void FillToolbar(QToolBar *toolbar, toolkit::ImageList *normal, toolkit::ImageList *hot, const QString &directory);

// Runs command button on the item marked selected in the table; refresh (11)
// needs none, every other button does nothing without one. The writes of one
// command reach the file together or not at all.
void ButtonClick(int button);

} // namespace modTree
