#pragma once

#include <QLineEdit>
#include <QString>

namespace toolkit {

// A one-line text box with a tag: a string the program keeps with the control.
// change() fires for every change of the text, the program's own included,
// before setText() returns.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget *parent = nullptr);

    QString tag() const { return m_tag; }
    void setTag(const QString &tag) { m_tag = tag; }

signals:
    void change();

private:
    QString m_tag;
};

} // namespace toolkit
