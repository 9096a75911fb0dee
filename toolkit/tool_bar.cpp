#include "toolkit/tool_bar.h"

#include "toolkit/keyed_tree.h"
#include "toolkit/runtime.h"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QPointer>
#include <QShortcut>
#include <QToolButton>

namespace toolkit {

namespace {

// Puts the picture at path and its twice-the-size version into list at
// index, and whatever list then holds there into icon, for mode.
void addPictures(QIcon &icon, QIcon::Mode mode, ImageList *list, int index, const QString &path)
{
    for (const int scale : {1, 2}) {
        if (!list)
            return;
        const QString file = scale == 1 ? path : doubleSizeName(path);
        if (const auto picture = path.isEmpty() ? std::nullopt : loadPicture(file))
            list->add(index, *picture, scale);
        if (!list->picture(index, scale).isNull())
            icon.addPixmap(list->picture(index, scale), mode);
    }
}

} // namespace

TopAlignedToolBar::TopAlignedToolBar(QWidget *window) : QToolBar(window)
{
    setMovable(false);
    setFloatable(false);
    if (window)
        window->installEventFilter(this);
    follow();
}

bool TopAlignedToolBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        follow();
    return QToolBar::eventFilter(watched, event);
}

void TopAlignedToolBar::follow()
{
    if (QWidget *w = parentWidget())
        setGeometry(0, 0, w->width(), sizeHint().height());
}

void addButtons(QToolBar *toolbar, ImageList *normal, ImageList *hot, std::span<const ToolButton> buttons,
                KeyedTree *tree, const std::function<void(int button)> &treeKey)
{
    bool sized = false;
    for (int i = 1; const ToolButton &button : buttons) {
        const int number = i++;
        QIcon icon;
        addPictures(icon, QIcon::Normal, normal, number, button.picture);
        addPictures(icon, QIcon::Active, hot, number, button.hotPicture); // under the pointer
        if (!toolbar)
            continue;
        if (!sized && normal && !normal->picture(number).isNull()) {
            toolbar->setIconSize(normal->picture(number).size());
            sized = true;
        }
        QAction *action = toolbar->addAction(icon, QString());
        action->setObjectName(QString::number(number) + QLatin1Char('K'));
        action->setData(number);
        action->setEnabled(button.enabled);
        QStringList keys;
        for (const QKeySequence &key : button.keys)
            keys << key.toString(QKeySequence::NativeText);
        // The keys are in the tip, for those who point, and in the
        // description, which screen readers read after the name.
        const QString named = button.tip + QStringLiteral(" (") + keys.join(QStringLiteral(", ")) + QLatin1Char(')');
        action->setToolTip(keys.isEmpty() || button.tip.isEmpty() ? button.tip : named);
        if (QWidget *widget = toolbar->widgetForAction(action)) {
            widget->setAccessibleName(button.tip);
            if (!keys.isEmpty())
                widget->setAccessibleDescription(QStringLiteral("Shortcut: ") + keys.join(QStringLiteral(" or ")));
            if (auto *toolButton = qobject_cast<QToolButton *>(widget))
                toolButton->setAutoRaise(true); // flat
        }
        for (const QKeySequence &key : button.keys) {
            if (button.windowKeys) {
                auto *shortcut = new QShortcut(key, toolbar->window(), action, &QAction::trigger, Qt::WindowShortcut);
                shortcut->setObjectName(action->objectName() + QStringLiteral("Key"));
            } else if (tree && treeKey) {
                tree->addCommandKey(key, [action = QPointer<QAction>(action), number, treeKey] {
                    if (action && action->isEnabled())
                        treeKey(number);
                });
            }
        }
    }
}

QString doubleSizeName(const QString &picture)
{
    const qsizetype dot = picture.lastIndexOf(QLatin1Char('.'));
    return dot <= picture.lastIndexOf(QLatin1Char('/')) + 1
        ? picture + QStringLiteral("@2x")
        : picture.left(dot) + QStringLiteral("@2x") + picture.mid(dot);
}

} // namespace toolkit
