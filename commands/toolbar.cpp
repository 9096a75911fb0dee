#include "commands/toolbar.h"

#include "toolkit/runtime.h"
#include "commands/insert.h"
#include "commands/move.h"
#include "store/connection.h"
#include "store/links.h"
#include "store/mod_base.h"
#include "view/show_tree.h"

#include <QAction>
#include <QIcon>
#include <QToolBar>
#include <QToolButton>

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

void loadPicture(toolkit::ImageList *list, int index, const QString &folder, const QString &name)
{
    if (!list || name.isEmpty())
        return; // no file named: no picture
    if (const auto picture = toolkit::loadPicture(folder + name))
        list->add(index, QString::number(index) + QLatin1Char('K'), *picture);
}

void runCommand(int button, std::int32_t selected)
{
    switch (button) {
    case CmdAddBefore:
        AddBefore(selected);
        break;
    case CmdAddAfter:
        AddAfter(selected);
        break;
    case CmdAddChild:
        AddChild(selected);
        break;
    case CmdMoveUp:
        MoveUp(selected);
        break;
    case CmdMoveDown:
        MoveDown(selected);
        break;
    case CmdMoveOut:
        MoveOut(selected);
        break;
    case CmdMoveIn:
        MoveIn(selected);
        break;
    case CmdDelete:
        UnlinkItem(selected);
        ShowTree();
        break;
    default:
        break;
    }
}

} // namespace

void FillToolbar(QToolBar *toolbar, toolkit::ImageList *normal, toolkit::ImageList *hot, const QString &directory)
{
    const QString pic1 = directory + QStringLiteral("/pic1/");
    const QString pic2 = directory + QStringLiteral("/pic2/");

    rsCmd.moveFirst();
    int n = rsCmd.recordCount().value_or(0);
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
    n = rsCmd.recordCount().value_or(0);
    for (int i = 1; i <= n; ++i) {
        QIcon icon;
        if (normal && !normal->picture(i).isNull())
            icon.addPixmap(normal->picture(i), QIcon::Normal);
        if (hot && !hot->picture(i).isNull())
            icon.addPixmap(hot->picture(i), QIcon::Active); // under the pointer
        QAction *action = toolbar->addAction(icon, QString());
        action->setObjectName(QString::number(i) + QLatin1Char('K'));
        action->setData(i);
        const QString about = commandText(CommandCursor::Field::CmdAbout);
        action->setToolTip(about);
        if (QWidget *button = toolbar->widgetForAction(action)) {
            button->setAccessibleName(about);
            if (auto *toolButton = qobject_cast<QToolButton *>(button))
                toolButton->setAutoRaise(true); // flat
        }
        rsCmd.moveNext();
    }
}

void ButtonClick(int button)
{
    if (button == CmdRefresh) {
        ShowTree();
        return;
    }
    if (rsTree.index() != store::kIndexKeySel)
        rsTree.setIndex(store::kIndexKeySel);
    const bool found = rsTree.seek({true});
    const auto selected = found ? rsTree.key(Field::KeyInd) : std::nullopt;
    // Back to the normal index on every path, so a later rebuild reads by key.
    rsTree.setIndex(store::kIndexKeyInd);
    if (!selected)
        return;
    if (button == CmdQuit)
        toolkit::endProgram(); // every change is already in the file
    if (button < CmdAddBefore || button > CmdDelete)
        return; // a button without a command
    // One transaction per command: a crash or a kill half way through leaves
    // the file as it was before the command, never a half-mended chain.
    store::TransactionScope command(rsTree.connection(), store::TransactionScope::Kind::Write);
    if (!command.active())
        return; // another program holds the file: better nothing than half a command
    runCommand(button, *selected);
    if (!command.commit())
        ShowTree(); // rolled back: show the table as it now is, not the change that was lost
}

} // namespace modTree
