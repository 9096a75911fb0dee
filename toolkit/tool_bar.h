#pragma once

#include <QToolBar>

namespace toolkit {

// A toolbar aligned to the top edge of its window: it spans the whole client
// width, whatever the window's size.
class TopAlignedToolBar : public QToolBar {
    Q_OBJECT
public:
    explicit TopAlignedToolBar(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow();
};

} // namespace toolkit
