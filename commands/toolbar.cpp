#include "commands/toolbar.h"

#include "commands/insert.h"
#include "commands/move.h"
#include "store/links.h"
#include "store/mod_base.h"
#include "toolkit/artwork.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/runtime.h"
#include "view/browsing.h"
#include "view/selection.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <QAction>
#include <QDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

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

// Takes the item and its subtree out of the tree; the records stay. A text
// box bound to an item of the branch lets go of it: typing would rename an
// item nobody can see any more.
void Delete(std::int32_t selected)
{
    const bool editing = TextBoxEditsBranch(selected);
    UnlinkItem(rsTree, selected);
    ShowTree();
    if (editing)
        UnbindTextBox();
}

void Quit(std::int32_t)
{
    toolkit::endProgram(); // every change is already in the file
}

void Refresh(std::int32_t)
{
    // The user may have made the file writable meanwhile.
    if (Browsing())
        CheckWritable();
    ShowTree();
}

// What each button runs, in button order; nullptr: nothing.
constexpr auto kProcedures = std::to_array<void (*)(std::int32_t)>(
    {AddBefore, AddAfter, AddChild, MoveUp, MoveDown, MoveOut, MoveIn, Delete, nullptr, Quit, Refresh});
static_assert(kProcedures.size() == Commands().size(), "one procedure per row");

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

std::optional<std::int32_t> MarkedItem()
{
    if (rsTree.index() != store::kIndexKeyInd)
        rsTree.setIndex(store::kIndexKeyInd);
    return rsTree.seekSelected() ? rsTree.key(Field::KeyInd) : std::nullopt;
}

void FillToolbar(QToolBar *toolbar, toolkit::ImageList *normal, toolkit::ImageList *hot, const QString &directory,
                 toolkit::KeyedTree *tree, const std::function<void(int button)> &treeKey)
{
    std::vector<toolkit::ToolButton> buttons(static_cast<std::size_t>(buttonCount()));
    rsCmd.moveFirst();
    for (int i = 1; toolkit::ToolButton &button : buttons) {
        if (const QString picture = commandText(CommandCursor::Field::CmdPict); !picture.isEmpty()) {
            button.picture = directory + QStringLiteral("/pic1/") + picture;
            button.hotPicture = directory + QStringLiteral("/pic2/") + picture;
        }
        button.tip = commandText(CommandCursor::Field::CmdAbout);
        if (const CommandRow *command = FindCommand(i++)) {
            for (const char *key : {command->shortcut, command->otherShortcut})
                if (*key)
                    button.keys << QKeySequence(QString::fromLatin1(key));
            button.windowKeys = command->keyScope == KeyScope::Window;
            button.enabled = !command->writes || !Browsing();
        }
        rsCmd.moveNext();
    }
    toolkit::addButtons(toolbar, normal, hot, buttons, tree, treeKey);
}

void EnableCommands(QToolBar *toolbar, bool writable)
{
    for (QAction *button : toolbar ? toolbar->actions() : QList<QAction *>()) {
        const CommandRow *command = FindCommand(button->data().toInt());
        button->setEnabled(writable || !command || !command->writes);
    }
}

bool ButtonClick(int button)
{
    const CommandRow *command = FindCommand(button);
    if (command && command->writes && Browsing())
        return false; // its button is greyed out; nothing may reach the file
    const auto procedure = command ? kProcedures[static_cast<std::size_t>(button - 1)] : nullptr;
    if (procedure && !command->needsSelection) {
        procedure(0);
        return true;
    }
    const auto selected = MarkedItem();
    if (!selected || !procedure || !HeldByTheTree(*selected))
        return false;
    procedure(*selected);
    return true;
}

std::optional<std::int32_t> MarkHighlighted()
{
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    if (!tree)
        return std::nullopt;
    const toolkit::TreeNode highlighted = tree->nodeAt(tree->currentIndex());
    const auto item = ItemOf(highlighted.nodeKey());
    if (item && !IsPlaceholder(highlighted.nodeKey()) && item != MarkedItem())
        NodeClick(highlighted);
    const auto marked = MarkedItem();
    return marked && HeldByTheTree(*marked) ? marked : std::nullopt;
}

void KeyCommand(int button)
{
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    if (!tree)
        return;
    MarkHighlighted();
    if (button != CmdDelete) {
        ButtonClick(button);
        return;
    }
    // Where the user goes after the delete, read before it unlinks the item.
    std::int32_t nearest[3] = {};
    if (const auto deleted = MarkedItem(); deleted && rsTree.positionOn(*deleted)) {
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

bool WriteButtonPictures(const QString &directory, QString *error)
{
    for (const bool highlighted : {false, true}) {
        const QString folder = QDir(directory).filePath(highlighted ? QStringLiteral("pic2") : QStringLiteral("pic1"));
        if (!QDir().mkpath(folder)) {
            if (error)
                *error = QStringLiteral("cannot create folder ") + QDir::toNativeSeparators(folder);
            return false;
        }
        for (const CommandRow &row : Commands()) {
            const QString name = QString::fromUtf8(row.picture);
            for (const int scale : {1, 2}) {
                const QString path = QDir(folder).filePath(scale == 1 ? name : toolkit::doubleSizeName(name));
                if (!toolkit::artwork::drawButtonPicture(row.glyph, highlighted, scale).save(path, "BMP")) {
                    if (error)
                        *error = QStringLiteral("cannot write ") + QDir::toNativeSeparators(path);
                    return false;
                }
            }
        }
    }
    return true;
}

} // namespace modTree
