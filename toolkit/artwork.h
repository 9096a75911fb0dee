#pragma once

#include "toolkit/glyph.h"

#include <QImage>
#include <QRgb>

// Pictures drawn in code: the toolbar's button pictures and the window icon.
// Everything here paints on QImage only, so it works without a QGuiApplication.
namespace toolkit::artwork {

constexpr int kPictureSize = 24;

// The toolbar's image lists treat silver as see-through, so every picture has a
// silver background and no glyph pixel is ever exactly silver.
constexpr QRgb kTransparent = 0xFFC0C0C0;

// The picture of a glyph. `highlighted` gives the brighter variant shown
// while the pointer is over the button. `scale` 2 draws it for screens of
// twice the density: twice the pixels, the same design. A value outside the
// enum gives a plain silver picture. Always kPictureSize * scale square, RGB32.
QImage drawButtonPicture(Glyph glyph, bool highlighted, int scale = 1);

// The window's icon: 32x32, Format_Indexed8 (at most 256 colours).
QImage drawAppIcon();

} // namespace toolkit::artwork
