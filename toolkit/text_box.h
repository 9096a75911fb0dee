#pragma once

#include "toolkit/node_key.h"

#include <QLineEdit>

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

signals:
    void change();

private:
    std::optional<NodeKey> m_tag;
};

} // namespace toolkit
