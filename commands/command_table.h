#pragma once

#include "toolkit/glyph.h"

#include <algorithm>
#include <array>
#include <span>

// Every toolbar command, one row each, as plain data: what a new store's
// tbCmd rows, the pictures and the toolbar's keys are made from. A button's
// command is fixed by its position, so a row's number is the button it runs
// from. Adding a command is one name and one row here, and its procedure in
// toolbar.cpp.
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
    int number;                      // the button, counted from 1
    bool needsSelection;             // false: runs without looking for a selected item
    bool writes;                     // changes the store: off while it cannot be written
    const char *picture;             // file name in pic1/ and pic2/
    const char *about;               // tool tip
    toolkit::artwork::Glyph glyph;   // the picture drawn into that file
    const char *shortcut;            // its key, in QKeySequence's portable text; "" for none
    // A second key, for those whose screen reader takes the first (Insert is
    // the screen reader's own key on many desktops); "" for none.
    const char *otherShortcut;
    KeyScope keyScope;
};

namespace rows {
using toolkit::artwork::Glyph;
using enum KeyScope;

// The keys outliners use. None of them is a key the tree or the text box
// already uses: the tree takes arrows, Home, End, Page Up/Down, + - *,
// letters, F2 and Enter; the text box, while it has the focus, every editing
// key (Delete, Shift+Insert and Ctrl+Insert among them), which is why the item
// commands work on the tree only. Screen readers take Insert as their own
// key, so each new-item command has a second key of the Ctrl+N family,
// which none of them binds.
inline constexpr std::array<CommandRow, 11> kCommands{{
    {CmdAddBefore, true, true, "addbefore.bmp", "New item before the selected one", Glyph::AddBefore, "Shift+Ins",
     "Ctrl+Alt+N", Tree},
    {CmdAddAfter, true, true, "addafter.bmp", "New item after the selected one", Glyph::AddAfter, "Ins", "Ctrl+N",
     Tree},
    {CmdAddChild, true, true, "addchild.bmp", "New first child of the selected one", Glyph::AddChild, "Ctrl+Ins",
     "Ctrl+Shift+N", Tree},
    {CmdMoveUp, true, true, "moveup.bmp", "Move up", Glyph::MoveUp, "Alt+Up", "", Tree},
    {CmdMoveDown, true, true, "movedown.bmp", "Move down", Glyph::MoveDown, "Alt+Down", "", Tree},
    {CmdMoveOut, true, true, "moveout.bmp", "Move out one level", Glyph::MoveOut, "Alt+Left", "", Tree},
    {CmdMoveIn, true, true, "movein.bmp", "Move in one level", Glyph::MoveIn, "Alt+Right", "", Tree},
    {CmdDelete, true, true, "delete.bmp", "Delete the selected item", Glyph::Delete, "Del", "", Tree},
    {CmdNone, true, false, "none.bmp", "No command", Glyph::None, "", "", Tree},
    // Quit needs no selected item: a Quit that does nothing after a delete
    // would leave the user no way out but the title bar.
    {CmdQuit, false, false, "quit.bmp", "Quit", Glyph::Quit, "Ctrl+Q", "", Window},
    {CmdRefresh, false, false, "refresh.bmp", "Refresh the tree", Glyph::Refresh, "F5", "", Window},
}};

static_assert(std::ranges::all_of(kCommands, [](const CommandRow &row) { return &row == &kCommands[row.number - 1]; }),
              "row i must be button i + 1");
} // namespace rows

// The rows in button order: row i is button i + 1.
constexpr std::span<const CommandRow> Commands()
{
    return rows::kCommands;
}

// The row of a button; nullptr for a button beyond the table.
constexpr const CommandRow *FindCommand(int button)
{
    return button < 1 || button > static_cast<int>(Commands().size()) ? nullptr : &Commands()[button - 1];
}

} // namespace modTree
