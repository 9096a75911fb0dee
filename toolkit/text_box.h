#pragma once

#include "toolkit/node_key.h"

#include <QLineEdit>

#include <functional>
#include <optional>

namespace toolkit {

// A one-line text box with a tag: the key of the node whose text it holds,
// empty until the program sets one. change() fires for every change of the
// text, the program's own included, before setText() returns. It holds a
// text of any length: the toolkit's default limit would cut long texts.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget *parent = nullptr);

    std::optional<NodeKey> tag() const { return m_tag; }
    void setTag(std::optional<NodeKey> tag) { m_tag = tag; }

    // The accessible description (which item the box edits, say) comes from
    // describer, asked afresh by describe() and whenever the box takes the
    // focus: a screen reader speaks a description that changes while the box
    // has the focus, so it is not updated keystroke by keystroke.
    void setDescriber(std::function<QString()> describer) { m_describer = std::move(describer); }
    void describe();

signals:
    void change();
    // Escape was pressed (a key press, so a screen reader has had it first).
    void escape();

protected:
    void focusInEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::optional<NodeKey> m_tag;
    std::function<QString()> m_describer;
};

} // namespace toolkit
