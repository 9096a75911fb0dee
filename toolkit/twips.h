#pragma once

#include <optional>

class QWidget;

// Lengths in the program are twips (1440 an inch); only this layer turns them
// into pixels, at the screen's logical dpi (96 dpi: 15 twips a pixel).
namespace toolkit::twips {

int toPixels(double twips, double dpi);
double fromPixels(int pixels, double dpi);

// Position and size of a control inside its window, or of a window on the
// screen (outer size, frame included). A negative size is refused. Only the
// size is read back: the program never asks where anything is.
bool setTop(QWidget *w, double twips);
bool setLeft(QWidget *w, double twips);
bool setWidth(QWidget *w, double twips);
bool setHeight(QWidget *w, double twips);
double width(const QWidget *w);
double height(const QWidget *w);

} // namespace toolkit::twips
