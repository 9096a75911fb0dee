#pragma once

#include <QImage>
#include <QRgb>

// Pictures drawn in code: the toolbar's button pictures and the window icon.
// Everything here paints on QImage only, so it works without a QGuiApplication.
namespace artwork {

constexpr int kPictureSize = 24;

// The toolbar's image lists treat silver as see-through, so every picture has a
// silver background and no glyph pixel is ever exactly silver.
constexpr QRgb kTransparent = 0xFFC0C0C0;

constexpr int kFirstCommand = 1;
constexpr int kLastCommand = 11;

// Picture for the 1-based toolbar button number `command`. `highlighted` gives
// the brighter variant shown while the pointer is over the button. Numbers
// outside 1..11 give a plain silver picture. Always kPictureSize square, RGB32.
QImage drawButtonPicture(int command, bool highlighted);

// The window's icon: 32x32, Format_Indexed8 (at most 256 colours).
QImage drawAppIcon();

} // namespace artwork
