#pragma once

#include <QKeySequence>
#include <QString>
#include <QToolBar>

#include <functional>
#include <span>

namespace toolkit {

class ImageList;
class KeyedTree;

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

// A button as it is to be shown, everything about it read already.
struct ToolButton {
    QString picture;          // its picture file; "" for none
    QString hotPicture;       // the one shown under the pointer; "" for none
    QString tip;              // what it does: the tool tip and the accessible name
    QList<QKeySequence> keys; // its keys, in the order the tip names them
    bool windowKeys = false;  // the keys work anywhere in the window, not on the tree only
    bool enabled = true;
};

// Adds one button per description, in order. Button i (from 1) carries i as
// its action's data and is named "iK"; its pictures, each with its
// twice-the-size version when there is one, go to index i of normal and hot
// (either may be null); the first picture in normal sizes every button. The
// keys are named in the tip and in the accessible description. A window key
// triggers the button; a tree key calls treeKey(i) while it is enabled.
void addButtons(QToolBar *toolbar, ImageList *normal, ImageList *hot, std::span<const ToolButton> buttons,
                KeyedTree *tree, const std::function<void(int button)> &treeKey);

// The file of a picture's twice-the-size version: "pic1/moveup.bmp" ->
// "pic1/moveup@2x.bmp".
QString doubleSizeName(const QString &picture);

} // namespace toolkit
