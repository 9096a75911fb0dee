#pragma once

#include "toolkit/artwork.h"

#include <QString>

#include <cstdint>
#include <span>

// Every toolbar command, one row each. A button's command is fixed by its
// position, so a row's number is the button it runs from; the picture and
// the tool tip are what a new store's tbCmd row gets. Adding a command is one
// name below and one row in command_table.cpp.
namespace modTree {

enum Command : int {
    CmdAddBefore = 1,
    CmdAddAfter,
    CmdAddChild,
    CmdMoveUp,
    CmdMoveDown,
    CmdMoveOut,
    CmdMoveIn,
    CmdDelete,
    CmdNone,
    CmdQuit,
    CmdRefresh,
};

// Where a command's key works: on the tree only, so that typing in the text
// box never runs a command on an item, or anywhere in the window.
enum class KeyScope { Tree, Window };

struct CommandRow {
    int number;                         // the button, counted from 1
    void (*procedure)(std::int32_t);    // run with the selected item; nullptr: no command
    bool needsSelection;                // false: runs without looking for a selected item
    bool writes;                        // changes the store: off while it cannot be written
    const char *picture;                // file name in pic1/ and pic2/
    const char *about;                  // tool tip
    toolkit::artwork::Glyph glyph;      // the picture drawn into that file
    const char *shortcut;               // its key, in QKeySequence's portable text; "" for none
    // A second key, for those whose screen reader takes the first (Insert is
    // the screen reader's own key on many desktops); "" for none.
    const char *otherShortcut;
    KeyScope keyScope;
};

// The rows in button order: row i is button i + 1.
std::span<const CommandRow> Commands();
// The row of a button; nullptr for a button beyond the table.
const CommandRow *FindCommand(int button);

// Draws every command's picture into directory/pic1 (normal) and
// directory/pic2 (highlighted), each also at twice the size for dense screens
// under the same name with "@2x" before the extension. False, with the
// reason, when a folder or file cannot be written.
bool WriteButtonPictures(const QString &directory, QString *error);

// The name of a picture's twice-the-size version: "moveup.bmp" -> "moveup@2x.bmp".
QString DoubleSizeName(const QString &picture);

} // namespace modTree
