#include "app/toolkit/twips.h"

#include <QWidget>

#include <cmath>

namespace toolkit::twips {

namespace {

constexpr double kTwipsPerInch = 1440.0;

double dpiX(const QWidget *w)
{
    const int dpi = w->logicalDpiX();
    return dpi > 0 ? dpi : 96.0;
}

double dpiY(const QWidget *w)
{
    const int dpi = w->logicalDpiY();
    return dpi > 0 ? dpi : 96.0;
}

// The window frame (title bar and borders) that the outer size adds to the
// client size; none until the window manager has framed the window.
QSize frameExtra(const QWidget *w)
{
    if (!w->isWindow())
        return QSize(0, 0);
    const QRect frame = w->frameGeometry();
    const QRect client = w->geometry();
    return {frame.width() - client.width(), frame.height() - client.height()};
}

bool validLength(double twips)
{
    return std::isfinite(twips) && std::fabs(twips) < 1e9;
}

} // namespace

int toPixels(double twips, double dpi)
{
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

double fromPixels(int pixels, double dpi)
{
    return pixels * kTwipsPerInch / dpi;
}

bool setTop(QWidget *w, double twips)
{
    if (!w || !validLength(twips))
        return false;
    const int y = toPixels(twips, dpiY(w));
    if (w->isWindow())
        w->move(w->frameGeometry().x(), y);
    else
        w->move(w->x(), y);
    return true;
}

bool setLeft(QWidget *w, double twips)
{
    if (!w || !validLength(twips))
        return false;
    const int x = toPixels(twips, dpiX(w));
    if (w->isWindow())
        w->move(x, w->frameGeometry().y());
    else
        w->move(x, w->y());
    return true;
}

bool setWidth(QWidget *w, double twips)
{
    if (!w || !validLength(twips) || twips < 0)
        return false;
    const int px = toPixels(twips, dpiX(w)) - frameExtra(w).width();
    w->resize(std::max(px, 0), w->height());
    return true;
}

bool setHeight(QWidget *w, double twips)
{
    if (!w || !validLength(twips) || twips < 0)
        return false;
    const int px = toPixels(twips, dpiY(w)) - frameExtra(w).height();
    w->resize(w->width(), std::max(px, 0));
    return true;
}

double top(const QWidget *w)
{
    return fromPixels(w->isWindow() ? w->frameGeometry().y() : w->y(), dpiY(w));
}

double left(const QWidget *w)
{
    return fromPixels(w->isWindow() ? w->frameGeometry().x() : w->x(), dpiX(w));
}

double width(const QWidget *w)
{
    return fromPixels(w->isWindow() ? w->frameGeometry().width() : w->width(), dpiX(w));
}

double height(const QWidget *w)
{
    return fromPixels(w->isWindow() ? w->frameGeometry().height() : w->height(), dpiY(w));
}

} // namespace toolkit::twips
