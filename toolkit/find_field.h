#pragma once

#include <QLineEdit>
#include <QWidget>

class QLabel;
class QToolBar;

namespace toolkit {

class Announcer;

// A find field and what it found ("3 of 17"), over the right end of a tool
// bar's row, past its last button where there is room (it is no action of
// the tool bar, which stays one button a command). Typing
// raises edited; Enter and F3 raise next, Shift with either previous; Escape
// raises closed. What it found is also in its accessible description, so a
// screen reader hears each change.
class FindField : public QWidget {
    Q_OBJECT
public:
    // parent: the window; row: the tool bar it sits in the row of.
    FindField(QWidget *parent, QToolBar *row);

    // Shows the field with its text selected and the focus in it, and says
    // so to a screen reader.
    void open();
    QString text() const;
    QLineEdit *edit() const { return m_edit; }
    // Shows what was found ("3 of 17"; empty for nothing to say), and says
    // spoken, or the same when it is empty, to a screen reader.
    void setFound(const QString &found, const QString &spoken = QString());
    QString found() const;
    QString spoken() const;

signals:
    void edited(const QString &text);
    void next();
    void previous();
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void place();

    QToolBar *m_row = nullptr;
    QLineEdit *m_edit = nullptr;
    QLabel *m_found = nullptr;
    Announcer *m_announcer = nullptr;
};

} // namespace toolkit
