#pragma once

#include <array>

// The toolbar a new store is given: one row per button, in button order.
// A button's command is fixed by its position, so the order here matters.
namespace tools {

struct CommandRow {
    const char *picture; // CmdPict: file name looked up in pic1/ and pic2/
    const char *about;   // CmdAbout: the button's tool tip
};

inline constexpr std::array<CommandRow, 11> kCommandSet{{
    {"addbefore.bmp", "New item before the selected one"},
    {"addafter.bmp", "New item after the selected one"},
    {"addchild.bmp", "New first child of the selected one"},
    {"moveup.bmp", "Move up"},
    {"movedown.bmp", "Move down"},
    {"moveout.bmp", "Move out one level"},
    {"movein.bmp", "Move in one level"},
    {"delete.bmp", "Delete the selected item"},
    {"none.bmp", "No command"},
    {"quit.bmp", "Quit"},
    {"refresh.bmp", "Refresh the tree"},
}};

} // namespace tools
