#include "toolkit/text_box.h"

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

void TextBox::focusInEvent(QFocusEvent *event)
{
    describe(); // before Qt tells screen readers of the focus
    QLineEdit::focusInEvent(event);
}

} // namespace toolkit
