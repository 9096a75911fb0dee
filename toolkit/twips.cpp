#include "toolkit/twips.h"

#include <QEvent>
#include <QWidget>

#include <cmath>
#include <optional>

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

// The outer geometry asked of a window. Before the window manager has framed
// a window its frame is unknown, so what was asked for is kept and asked
// again, frame included, once the frame appears: the window ends up with the
// outer size and place it was given. That happens once; after it the user's
// own resizing and maximising are left alone.
class OuterGeometry : public QObject {
public:
    static OuterGeometry *of(QWidget *window)
    {
        if (auto *keeper = window->findChild<QObject *>(kName, Qt::FindDirectChildrenOnly))
            return static_cast<OuterGeometry *>(keeper);
        return new OuterGeometry(window);
    }

    std::optional<int> x, y, width, height;

    void apply()
    {
        m_extra = frameExtra(m_window);
        if (width || height)
            m_window->resize(width ? std::max(*width - m_extra.width(), 0) : m_window->width(),
                             height ? std::max(*height - m_extra.height(), 0) : m_window->height());
        if (x || y) {
            const QRect frame = m_window->frameGeometry();
            m_window->move(x.value_or(frame.x()), y.value_or(frame.y()));
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const auto type = event->type();
        if (watched == m_window && (type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize)
            && frameExtra(m_window) != m_extra) {
            apply();
            m_window->removeEventFilter(this);
        }
        return false;
    }

private:
    static constexpr const char *kName = "outerGeometry";
    explicit OuterGeometry(QWidget *window) : QObject(window), m_window(window)
    {
        setObjectName(kName);
        window->installEventFilter(this);
    }
    QWidget *m_window;
    QSize m_extra{0, 0};
};

bool validLength(double twips)
{
    return std::isfinite(twips) && std::fabs(twips) < 1e9;
}

enum class Side { Top, Left, Width, Height };

// One setter for all four: a window's outer geometry is kept until its frame
// is known, a control is moved or resized at once.
bool setSide(QWidget *w, double twips, Side side)
{
    const bool vertical = side == Side::Top || side == Side::Height;
    const bool size = side == Side::Width || side == Side::Height;
    if (!w || !validLength(twips) || (size && twips < 0))
        return false;
    const int px = toPixels(twips, vertical ? dpiY(w) : dpiX(w));
    if (w->isWindow()) {
        auto *outer = OuterGeometry::of(w);
        constexpr std::optional<int> OuterGeometry::*kField[] = {&OuterGeometry::y, &OuterGeometry::x,
                                                                 &OuterGeometry::width, &OuterGeometry::height};
        outer->*kField[static_cast<int>(side)] = px;
        outer->apply();
    } else if (size) {
        w->resize(vertical ? w->width() : px, vertical ? px : w->height());
    } else {
        w->move(vertical ? w->x() : px, vertical ? px : w->y());
    }
    return true;
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

bool setTop(QWidget *w, double twips) { return setSide(w, twips, Side::Top); }
bool setLeft(QWidget *w, double twips) { return setSide(w, twips, Side::Left); }
bool setWidth(QWidget *w, double twips) { return setSide(w, twips, Side::Width); }
bool setHeight(QWidget *w, double twips) { return setSide(w, twips, Side::Height); }

double width(const QWidget *w)
{
    return fromPixels(w->isWindow() ? w->frameGeometry().width() : w->width(), dpiX(w));
}

double height(const QWidget *w)
{
    return fromPixels(w->isWindow() ? w->frameGeometry().height() : w->height(), dpiY(w));
}

} // namespace toolkit::twips
