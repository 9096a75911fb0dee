#pragma once

// The window's geometry in twips, in one table: the size it is designed at,
// where start-up puts it, and where every rebuild of the tree lays out the
// text box and the tree inside it.
namespace layout {

struct Box { double top, left, width, height; };

// As designed, until start-up places the window.
inline constexpr Box kDesignedForm{0, 0, 6435, 5460};
inline constexpr Box kDesignedText{600, 0, 6375, 375};
inline constexpr Box kDesignedTree{1080, 0, 6375, 4215};
// Where start-up puts the window: its outer size, frame included.
inline constexpr Box kStartForm{0, 0, 6570, 6570};
// After every rebuild, at the left edge: the text box, and the tree below it
// down to a margin above the window's bottom, both as wide as the window
// less a margin (in single precision, as the window's size is read).
inline constexpr double kTextTop = 700;
inline constexpr double kTextHeight = 310;
inline constexpr double kTreeTop = 1010; // directly below the text box
inline constexpr float kSideMargin = 120;
inline constexpr float kBottomMargin = 1600;

} // namespace layout
