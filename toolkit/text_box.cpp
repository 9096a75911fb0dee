#include "toolkit/text_box.h"

#include <QAccessible>
#include <QKeyEvent>

#include <limits>

namespace toolkit {

TextBox::TextBox(QWidget *parent) : QLineEdit(parent)
{
    // A stored text longer than the default 32,767 characters would be shown
    // cut, and the first keystroke would write the cut text back.
    setMaxLength(std::numeric_limits<int>::max());
    // textChanged, not textEdited: the program's own changes must reach the
    // handler too, which decides by itself whether to store them.
    connect(this, &QLineEdit::textChanged, this, &TextBox::change);
}

void TextBox::describe()
{
    if (!m_describer)
        return;
    const QString description = m_describer();
    if (description != accessibleDescription())
        setAccessibleDescription(description);
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        emit escape();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TextBox::focusInEvent(QFocusEvent *event)
{
    describe(); // before Qt tells screen readers of the focus
    // A screen reader that hears of a text change in the box (the program
    // filled it just before the focus came) takes the box for the focused
    // object without naming it, and then skips the focus as one it has. As a
    // new accessible object the box is named, with its description.
    if (QAccessible::isActive()) {
        if (QAccessibleInterface *self = QAccessible::queryAccessibleInterface(this))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(self));
    }
    QLineEdit::focusInEvent(event);
}

} // namespace toolkit
