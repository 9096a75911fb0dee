#include "commands/toolbar.h"

#include "store/mod_base.h"
#include "toolkit/runtime.h"
#include "view/selection.h"

#include <QAction>
#include <QIcon>
#include <QToolBar>
#include <QKeySequence>
#include <QShortcut>
#include <QToolButton>

#include <algorithm>
#include <cstdio>

namespace modTree {

using modBase::rsCmd;
using modBase::rsTree;
using store::CommandCursor;
using store::Field;

namespace {

QString commandText(CommandCursor::Field f)
{
    const auto value = rsCmd.field(f);
    const auto text = value ? store::toText(*value) : std::nullopt;
    return text ? QString::fromStdString(*text) : QString();
}

// Picture index from folder, and its twice-the-size version when there is one.
void loadPicture(toolkit::ImageList *list, int index, const QString &folder, const QString &name)
{
    if (!list || name.isEmpty())
        return; // no file named: no picture
    if (const auto picture = toolkit::loadPicture(folder + name))
        list->add(index, *picture);
    if (const auto doubled = toolkit::loadPicture(folder + DoubleSizeName(name)))
        list->add(index, *doubled, 2);
}

// A button's key: on the tree only or anywhere in the window (see KeyScope),
// running what a click on the button runs.
void addShortcut(QAction *button, const CommandRow &command, QWidget *tree, QWidget *window)
{
    const QKeySequence key(QString::fromLatin1(command.shortcut));
    QWidget *scope = command.keyScope == KeyScope::Tree ? tree : window;
    if (key.isEmpty() || !scope)
        return;
    auto *shortcut = new QShortcut(key, scope, button, &QAction::trigger,
                                   command.keyScope == KeyScope::Tree ? Qt::WidgetShortcut : Qt::WindowShortcut);
    shortcut->setObjectName(button->objectName() + QStringLiteral("Key"));
}

// One button per row of tbCmd, up to a number no toolbar can show more of:
// a table of a hundred thousand rows would otherwise keep the window from
// opening for a minute. Every row that has a command is far below it.
int buttonCount()
{
    constexpr int kMostButtons = 256;
    const int rows = rsCmd.recordCount().value_or(0);
    if (rows > kMostButtons)
        std::fprintf(stderr, "branchkeeper: tbCmd has %d rows; the toolbar shows the first %d\n", rows, kMostButtons);
    return std::min(rows, kMostButtons);
}

} // namespace

void FillToolbar(QToolBar *toolbar, toolkit::ImageList *normal, toolkit::ImageList *hot, const QString &directory,
                 QWidget *tree)
{
    const QString pic1 = directory + QStringLiteral("/pic1/");
    const QString pic2 = directory + QStringLiteral("/pic2/");

    rsCmd.moveFirst();
    int n = buttonCount();
    for (int i = 1; i <= n; ++i) {
        loadPicture(normal, i, pic1, commandText(CommandCursor::Field::CmdPict));
        loadPicture(hot, i, pic2, commandText(CommandCursor::Field::CmdPict));
        rsCmd.moveNext();
    }
    if (!toolbar)
        return;
    // The buttons take their size from the pictures.
    if (normal && normal->count() > 0) {
        for (int i = 1; i <= normal->count(); ++i) {
            if (!normal->picture(i).isNull()) {
                toolbar->setIconSize(normal->picture(i).size());
                break;
            }
        }
    }

    rsCmd.moveFirst();
    n = buttonCount();
    for (int i = 1; i <= n; ++i) {
        QIcon icon;
        for (const int scale : {1, 2}) {
            if (normal && !normal->picture(i, scale).isNull())
                icon.addPixmap(normal->picture(i, scale), QIcon::Normal);
            if (hot && !hot->picture(i, scale).isNull())
                icon.addPixmap(hot->picture(i, scale), QIcon::Active); // under the pointer
        }
        QAction *action = toolbar->addAction(icon, QString());
        action->setObjectName(QString::number(i) + QLatin1Char('K'));
        action->setData(i);
        const QString about = commandText(CommandCursor::Field::CmdAbout);
        const CommandRow *command = FindCommand(i);
        const QString key = command ? QKeySequence(QString::fromLatin1(command->shortcut)).toString(QKeySequence::NativeText)
                                    : QString();
        // The key is in the tip, for those who point, and in the description,
        // which screen readers read after the name.
        action->setToolTip(key.isEmpty() || about.isEmpty() ? about : about + QStringLiteral(" (") + key + QLatin1Char(')'));
        if (QWidget *button = toolbar->widgetForAction(action)) {
            button->setAccessibleName(about);
            if (!key.isEmpty())
                button->setAccessibleDescription(QStringLiteral("Shortcut: ") + key);
            if (auto *toolButton = qobject_cast<QToolButton *>(button))
                toolButton->setAutoRaise(true); // flat
        }
        if (command)
            addShortcut(action, *command, tree, toolbar->window());
        rsCmd.moveNext();
    }
}

void ButtonClick(int button)
{
    const CommandRow *command = FindCommand(button);
    if (command && !command->needsSelection) {
        command->procedure(0);
        return;
    }
    if (rsTree.index() != store::kIndexKeySel)
        rsTree.setIndex(store::kIndexKeySel);
    const bool found = rsTree.seek({true});
    const auto selected = found ? rsTree.key(Field::KeyInd) : std::nullopt;
    // Back to the normal index on every path, so a later rebuild reads by key.
    rsTree.setIndex(store::kIndexKeyInd);
    if (selected && command && command->procedure && HeldByTheTree(*selected))
        command->procedure(*selected);
}

} // namespace modTree
