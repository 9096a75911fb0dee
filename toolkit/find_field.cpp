#include "toolkit/find_field.h"

#include "toolkit/announcer.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QStringList>
#include <QToolBar>

#include <algorithm>

namespace toolkit {

FindField::FindField(QWidget *parent, QToolBar *row) : QWidget(parent), m_row(row)
{
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("findText"));
    m_edit->setAccessibleName(tr("Find"));
    m_edit->setPlaceholderText(tr("Find"));
    m_edit->setClearButtonEnabled(true);
    m_edit->setMinimumWidth(m_edit->fontMetrics().averageCharWidth() * 16);
    m_announcer = new Announcer(this);
    m_found = new QLabel(this);
    m_found->setObjectName(QStringLiteral("findCount"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_found);
    setFocusProxy(m_edit);
    m_edit->installEventFilter(this);
    connect(m_edit, &QLineEdit::textEdited, this, &FindField::edited);
    setAutoFillBackground(true);
    if (m_row)
        m_row->installEventFilter(this); // the row follows the window's width
}

void FindField::place()
{
    if (!m_row || !isVisible())
        return;
    int buttonsEnd = 0;
    for (QAction *action : m_row->actions()) {
        if (const QWidget *button = m_row->widgetForAction(action); button && button->isVisible())
            buttonsEnd = std::max(buttonsEnd, button->geometry().right() + 1);
    }
    const QRect row = m_row->geometry();
    const int width = std::max(minimumSizeHint().width(), row.width() - buttonsEnd);
    setGeometry(row.right() + 1 - width, row.top(), width, std::max(row.height(), sizeHint().height()));
    raise();
}

void FindField::open()
{
    show();
    setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
    // A field that appears and takes the focus at once is not always heard
    // entering: name it, with what it holds.
    QStringList said{m_edit->accessibleName()};
    if (!text().isEmpty())
        said << text() << found();
    said.removeAll(QString());
    m_announcer->announce(said.join(QStringLiteral(", ")));
}

QString FindField::text() const
{
    return m_edit->text();
}

void FindField::setFound(const QString &found, const QString &spoken)
{
    m_found->setText(found);
    const QString description = spoken.isEmpty() ? found : spoken;
    // A count is heard when it changes; a step's item every time.
    if (m_edit->accessibleDescription() != description || !spoken.isEmpty()) {
        m_edit->setAccessibleDescription(description);
        m_announcer->announce(description);
    }
}

QString FindField::found() const
{
    return m_found->text();
}

QString FindField::spoken() const
{
    return m_edit->accessibleDescription();
}

void FindField::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    place();
}

bool FindField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_row && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        place();
    // Taken before the line edit (or a shortcut) can act on them.
    if (watched == m_edit && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool shift = key->modifiers() & Qt::ShiftModifier;
        const bool stepKey = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_F3;
        if (!stepKey && key->key() != Qt::Key_Escape)
            return false;
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        if (key->key() == Qt::Key_Escape)
            emit closed();
        else if (shift)
            emit previous();
        else
            emit next();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace toolkit
