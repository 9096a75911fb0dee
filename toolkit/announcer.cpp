#include "toolkit/announcer.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace toolkit {

namespace {

class AnnouncerAccessible : public QAccessibleWidget {
public:
    explicit AnnouncerAccessible(Announcer *announcer) : QAccessibleWidget(announcer, QAccessible::Notification) {}
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? static_cast<const Announcer *>(widget())->message() : QString();
    }
};

QAccessibleInterface *announcerFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("toolkit::Announcer") && object && object->isWidgetType())
        return new AnnouncerAccessible(static_cast<Announcer *>(object));
    return nullptr;
}

} // namespace

Announcer::Announcer(QWidget *parent) : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(announcerFactory);
        return true;
    }();
    Q_UNUSED(installed);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 1, 1); // nothing to see, but shown: hidden objects are not spoken
    hide();
}

void Announcer::announce(const QString &message)
{
    m_message = message;
    hide();
    if (!message.isEmpty())
        show(); // the showing is what a screen reader speaks
}

void Announcer::announceIn(QWidget *widget, const QString &message)
{
    if (!widget)
        return;
    if (auto *announcer = widget->window()->findChild<Announcer *>(QString(), Qt::FindDirectChildrenOnly))
        announcer->announce(message);
}

} // namespace toolkit
