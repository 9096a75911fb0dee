#include "commands/command_table.h"

#include "commands/insert.h"
#include "commands/move.h"
#include "store/links.h"
#include "toolkit/runtime.h"
#include "view/browsing.h"
#include "view/selection.h"
#include "view/show_tree.h"

#include <QDir>
#include <QImage>

#include <array>

namespace modTree {

namespace {

// Takes the item and its subtree out of the tree; the records stay. A text
// box bound to an item of the branch lets go of it: typing would rename an
// item nobody can see any more.
void Delete(std::int32_t selected)
{
    const bool editing = TextBoxEditsBranch(selected);
    UnlinkItem(selected);
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

using toolkit::artwork::Glyph;

using enum KeyScope;

// The keys outliners use. None of them is a key the tree or the text box
// already uses: the tree takes arrows, Home, End, Page Up/Down, + - *,
// letters, F2 and Enter; the text box, while it has the focus, every editing
// key (Delete, Shift+Insert and Ctrl+Insert among them), which is why the item
// commands work on the tree only. Screen readers take Insert as their own
// key, so each new-item command has a second key of the Ctrl+N family,
// which none of them binds.
constexpr std::array<CommandRow, 11> kCommands{{
    {CmdAddBefore, AddBefore, true, true, "addbefore.bmp", "New item before the selected one", Glyph::AddBefore,
     "Shift+Ins", "Ctrl+Alt+N", Tree},
    {CmdAddAfter, AddAfter, true, true, "addafter.bmp", "New item after the selected one", Glyph::AddAfter, "Ins",
     "Ctrl+N", Tree},
    {CmdAddChild, AddChild, true, true, "addchild.bmp", "New first child of the selected one", Glyph::AddChild,
     "Ctrl+Ins", "Ctrl+Shift+N", Tree},
    {CmdMoveUp, MoveUp, true, true, "moveup.bmp", "Move up", Glyph::MoveUp, "Alt+Up", "", Tree},
    {CmdMoveDown, MoveDown, true, true, "movedown.bmp", "Move down", Glyph::MoveDown, "Alt+Down", "", Tree},
    {CmdMoveOut, MoveOut, true, true, "moveout.bmp", "Move out one level", Glyph::MoveOut, "Alt+Left", "", Tree},
    {CmdMoveIn, MoveIn, true, true, "movein.bmp", "Move in one level", Glyph::MoveIn, "Alt+Right", "", Tree},
    {CmdDelete, Delete, true, true, "delete.bmp", "Delete the selected item", Glyph::Delete, "Del", "", Tree},
    {CmdNone, nullptr, true, false, "none.bmp", "No command", Glyph::None, "", "", Tree},
    // Quit needs no selected item: a Quit that does nothing after a delete
    // would leave the user no way out but the title bar.
    {CmdQuit, Quit, false, false, "quit.bmp", "Quit", Glyph::Quit, "Ctrl+Q", "", Window},
    {CmdRefresh, Refresh, false, false, "refresh.bmp", "Refresh the tree", Glyph::Refresh, "F5", "", Window},
}};

constexpr bool numberedInOrder()
{
    for (std::size_t i = 0; i < kCommands.size(); ++i)
        if (kCommands[i].number != static_cast<int>(i) + 1)
            return false;
    return true;
}
static_assert(numberedInOrder(), "row i must be button i + 1");

} // namespace

std::span<const CommandRow> Commands()
{
    return kCommands;
}

const CommandRow *FindCommand(int button)
{
    if (button < 1 || button > static_cast<int>(kCommands.size()))
        return nullptr;
    return &kCommands[static_cast<std::size_t>(button - 1)];
}

QString DoubleSizeName(const QString &picture)
{
    const qsizetype dot = picture.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? picture + QStringLiteral("@2x") : picture.left(dot) + QStringLiteral("@2x") + picture.mid(dot);
}

bool WriteButtonPictures(const QString &directory, QString *error)
{
    const QDir out(directory);
    for (const bool highlighted : {false, true}) {
        const QString folder = out.filePath(highlighted ? QStringLiteral("pic2") : QStringLiteral("pic1"));
        if (!QDir().mkpath(folder)) {
            if (error)
                *error = QStringLiteral("cannot create folder ") + QDir::toNativeSeparators(folder);
            return false;
        }
        for (const CommandRow &row : kCommands) {
            const QString name = QString::fromUtf8(row.picture);
            for (const int scale : {1, 2}) {
                const QString path = QDir(folder).filePath(scale == 1 ? name : DoubleSizeName(name));
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
