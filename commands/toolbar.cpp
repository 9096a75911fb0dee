#include "commands/toolbar.h"

#include "store/mod_base.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/runtime.h"
#include "view/browsing.h"
#include "view/selection.h"
#include "view/tree_state.h"

#include <QAction>
#include <QIcon>
#include <QToolBar>
#include <QKeySequence>
#include <QPointer>
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

// A button's keys: a window key triggers the button anywhere in the window;
// a tree key goes to treeKey, and only while the button is enabled.
void addKeys(QAction *button, const CommandRow &command, toolkit::KeyedTree *tree, QWidget *window,
             const std::function<void(int)> &treeKey)
{
    for (const char *text : {command.shortcut, command.otherShortcut}) {
        const QKeySequence key(QString::fromLatin1(text));
        if (key.isEmpty())
            continue;
        if (command.keyScope == KeyScope::Window && window) {
            auto *shortcut = new QShortcut(key, window, button, &QAction::trigger, Qt::WindowShortcut);
            shortcut->setObjectName(button->objectName() + QStringLiteral("Key"));
        } else if (command.keyScope == KeyScope::Tree && tree && treeKey) {
            tree->addCommandKey(key, [button = QPointer<QAction>(button), number = command.number, treeKey] {
                if (button && button->isEnabled())
                    treeKey(number);
            });
        }
    }
}

// The keys of a command as the user reads them: "Ins, Ctrl+N".
QString keyNames(const CommandRow &command, const QString &separator)
{
    QStringList names;
    for (const char *text : {command.shortcut, command.otherShortcut}) {
        const QKeySequence key(QString::fromLatin1(text));
        if (!key.isEmpty())
            names << key.toString(QKeySequence::NativeText);
    }
    return names.join(separator);
}

// The item the table marks selected; nullopt for none. Leaves "KeyInd"
// current, so a later rebuild reads by key.
std::optional<std::int32_t> markedItem()
{
    if (rsTree.index() != store::kIndexKeyInd)
        rsTree.setIndex(store::kIndexKeyInd);
    return rsTree.seekSelected() ? rsTree.key(Field::KeyInd) : std::nullopt;
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
                 toolkit::KeyedTree *tree, const std::function<void(int button)> &treeKey)
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
        const QString keys = command ? keyNames(*command, QStringLiteral(", ")) : QString();
        // The keys are in the tip, for those who point, and in the
        // description, which screen readers read after the name.
        action->setToolTip(keys.isEmpty() || about.isEmpty() ? about : about + QStringLiteral(" (") + keys + QLatin1Char(')'));
        if (QWidget *button = toolbar->widgetForAction(action)) {
            button->setAccessibleName(about);
            if (!keys.isEmpty())
                button->setAccessibleDescription(QStringLiteral("Shortcut: ") + keyNames(*command, QStringLiteral(" or ")));
            if (auto *toolButton = qobject_cast<QToolButton *>(button))
                toolButton->setAutoRaise(true); // flat
        }
        if (command)
            addKeys(action, *command, tree, toolbar->window(), treeKey);
        rsCmd.moveNext();
    }
}

void EnableCommands(QToolBar *toolbar, bool writable)
{
    if (!toolbar)
        return;
    for (QAction *button : toolbar->actions()) {
        const CommandRow *command = FindCommand(button->data().toInt());
        button->setEnabled(writable || !command || !command->writes);
    }
}

bool ButtonClick(int button)
{
    const CommandRow *command = FindCommand(button);
    if (command && command->writes && Browsing())
        return false; // its button is greyed out; nothing may reach the file
    if (command && !command->needsSelection) {
        command->procedure(0);
        return true;
    }
    const auto selected = markedItem();
    if (!selected || !command || !command->procedure || !HeldByTheTree(*selected))
        return false;
    command->procedure(*selected);
    return true;
}

void KeyCommand(int button)
{
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    if (!tree)
        return;
    const toolkit::TreeNode highlighted = tree->nodeAt(tree->currentIndex());
    const auto item = ItemOf(highlighted.nodeKey());
    if (item && !IsPlaceholder(highlighted.nodeKey()) && item != markedItem())
        NodeClick(highlighted);
    if (button != CmdDelete) {
        ButtonClick(button);
        return;
    }
    // Where the user goes after the delete, read before it unlinks the item.
    std::int32_t nearest[3] = {};
    if (const auto deleted = markedItem(); deleted && rsTree.positionOn(*deleted)) {
        nearest[0] = rsTree.key(Field::KeyNxt).value_or(0);
        nearest[1] = rsTree.key(Field::KeyPrw).value_or(0);
        nearest[2] = rsTree.key(Field::KeyPar).value_or(0);
    }
    if (!ButtonClick(button))
        return;
    for (const std::int32_t k : nearest) {
        const toolkit::TreeNode node = k == 0 ? toolkit::TreeNode() : tree->find(ItemNode(k));
        if (tree->indexOf(node).isValid()) {
            NodeClick(node);
            return;
        }
    }
}

} // namespace modTree
