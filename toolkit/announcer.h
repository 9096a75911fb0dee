#pragma once

#include <QString>
#include <QWidget>

namespace toolkit {

// Says a short message to screen readers without moving the focus: an
// invisible notification that is shown anew for each message, which screen
// readers speak as it appears. (A changed name or description of the focused
// control reaches some of them without its text.)
class Announcer : public QWidget {
    Q_OBJECT
public:
    explicit Announcer(QWidget *parent);

    void announce(const QString &message);
    QString message() const { return m_message; }
    // Announces message with the announcer that is a direct child of widget's
    // window, if it has one.
    static void announceIn(QWidget *widget, const QString &message);

private:
    QString m_message;
};

} // namespace toolkit
