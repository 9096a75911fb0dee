#include "toolkit/text_box.h"

namespace toolkit {

TextBox::TextBox(QWidget *parent) : QLineEdit(parent)
{
    // textChanged, not textEdited: the program's own changes must reach the
    // handler too, which decides by itself whether to store them.
    connect(this, &QLineEdit::textChanged, this, &TextBox::change);
}

} // namespace toolkit
