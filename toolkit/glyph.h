#pragma once

// The button pictures drawn in code, by name. Plain C++, so that a table of
// commands can name its pictures without Qt.
namespace toolkit::artwork {

enum class Glyph { AddBefore, AddAfter, AddChild, MoveUp, MoveDown, MoveOut, MoveIn, Delete, None, Quit, Refresh };
inline constexpr int kGlyphCount = 11;

} // namespace toolkit::artwork
