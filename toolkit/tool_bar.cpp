#include "toolkit/tool_bar.h"

#include <QEvent>

namespace toolkit {

TopAlignedToolBar::TopAlignedToolBar(QWidget *window) : QToolBar(window)
{
    setMovable(false);
    setFloatable(false);
    if (window)
        window->installEventFilter(this);
    follow();
}

bool TopAlignedToolBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        follow();
    return QToolBar::eventFilter(watched, event);
}

void TopAlignedToolBar::follow()
{
    if (QWidget *w = parentWidget())
        setGeometry(0, 0, w->width(), sizeHint().height());
}

} // namespace toolkit
