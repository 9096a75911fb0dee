#include "toolkit/runtime.h"

#include <QBitmap>
#include <QCoreApplication>
#include <QDir>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>

namespace toolkit {

QString executableDirectory()
{
    QString dir = QCoreApplication::applicationDirPath();
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

std::optional<QPixmap> loadPicture(const QString &path)
{
    QPixmap pixmap;
    if (!pixmap.load(path))
        return std::nullopt;
    return pixmap;
}

void endProgram()
{
    std::fflush(nullptr);
    std::_Exit(0);
}

BusyCursor::BusyCursor(bool busy) : m_active(busy && qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
{
    if (m_active)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

BusyCursor::~BusyCursor()
{
    if (m_active)
        QGuiApplication::restoreOverrideCursor();
}

ImageList::ImageList(QObject *parent) : QObject(parent) {}

bool ImageList::add(int index, const QPixmap &picture, int scale)
{
    if (index < 1 || picture.isNull() || (scale != 1 && scale != 2))
        return false;
    QPixmap masked = picture;
    masked.setMask(picture.createMaskFromColor(m_mask, Qt::MaskInColor));
    masked.setDevicePixelRatio(scale);
    if (index > count())
        m_pictures.resize(static_cast<std::size_t>(index));
    auto &at = m_pictures[static_cast<std::size_t>(index - 1)];
    (scale == 1 ? at.normal : at.doubled) = masked;
    return true;
}

QPixmap ImageList::picture(int index, int scale) const
{
    if (index < 1 || index > count())
        return {};
    const auto &at = m_pictures[static_cast<std::size_t>(index - 1)];
    return scale == 2 ? at.doubled : at.normal;
}

} // namespace toolkit
