#include "toolkit/text_box.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>

#include <limits>

namespace toolkit {

namespace {

// The box as screen readers see it: as Qt's own line edit, but for its runs
// of text attributes. Qt 6.4 reports a run of no characters at every offset,
// and Orca, which speaks a line run by run, then leaves out its last
// character ("Plumbin" for "Plumbing"): the box has no attributes, so one
// run covers all its text.
class TextBoxAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    explicit TextBoxAccessible(TextBox *box) : QAccessibleWidget(box, QAccessible::EditableText) {}

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (t == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return box()->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = box()->isReadOnly();
        s.editable = !box()->isReadOnly();
        s.selectableText = true;
        return s;
    }

    // Text.
    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && box()->hasSelectedText()) {
            *start = static_cast<int>(box()->selectionStart());
            *end = static_cast<int>(box()->selectionEnd());
        }
    }
    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            box()->deselect();
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            box()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return box()->cursorPosition(); }
    void setCursorPosition(int position) override { box()->setCursorPosition(position); }
    QString text(int start, int end) const override
    {
        return start > end ? QString() : box()->text().mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(box()->text().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &point) const override
    {
        return box()->cursorPositionAt(box()->mapFromGlobal(point));
    }
    void scrollToSubstring(int start, int end) override
    {
        box()->setCursorPosition(end);
        box()->setCursorPosition(start);
    }
    QString attributes(int, int *start, int *end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

    // Editable text: what a screen reader asks for goes in as typing would.
    void deleteText(int start, int end) override { box()->setText(box()->text().remove(start, end - start)); }
    void insertText(int offset, const QString &text) override { box()->setText(box()->text().insert(offset, text)); }
    void replaceText(int start, int end, const QString &text) override
    {
        box()->setText(box()->text().replace(start, end - start, text));
    }

private:
    TextBox *box() const { return static_cast<TextBox *>(widget()); }
};

QAccessibleInterface *textBoxFactory(const QString &className, QObject *object)
{
    if (className != QLatin1StringView(TextBox::staticMetaObject.className()))
        return nullptr;
    auto *box = qobject_cast<TextBox *>(object);
    return box ? new TextBoxAccessible(box) : nullptr;
}

} // namespace

TextBox::TextBox(QWidget *parent) : QLineEdit(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(textBoxFactory);
        return true;
    }();
    Q_UNUSED(installed);
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
