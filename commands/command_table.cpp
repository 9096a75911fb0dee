#include "commands/command_table.h"

#include "commands/insert.h"
#include "commands/move.h"
#include "store/links.h"
#include "toolkit/runtime.h"
#include "view/show_tree.h"

#include <QDir>
#include <QImage>

#include <array>

namespace modTree {

namespace {

// Takes the item and its subtree out of the tree; the records stay.
void Delete(std::int32_t selected)
{
    UnlinkItem(selected);
    ShowTree();
}

void Quit(std::int32_t)
{
    toolkit::endProgram(); // every change is already in the file
}

void Refresh(std::int32_t)
{
    ShowTree();
}

using artwork::Glyph;

constexpr std::array<CommandRow, 11> kCommands{{
    {CmdAddBefore, AddBefore, true, "addbefore.bmp", "New item before the selected one", Glyph::AddBefore},
    {CmdAddAfter, AddAfter, true, "addafter.bmp", "New item after the selected one", Glyph::AddAfter},
    {CmdAddChild, AddChild, true, "addchild.bmp", "New first child of the selected one", Glyph::AddChild},
    {CmdMoveUp, MoveUp, true, "moveup.bmp", "Move up", Glyph::MoveUp},
    {CmdMoveDown, MoveDown, true, "movedown.bmp", "Move down", Glyph::MoveDown},
    {CmdMoveOut, MoveOut, true, "moveout.bmp", "Move out one level", Glyph::MoveOut},
    {CmdMoveIn, MoveIn, true, "movein.bmp", "Move in one level", Glyph::MoveIn},
    {CmdDelete, Delete, true, "delete.bmp", "Delete the selected item", Glyph::Delete},
    {CmdNone, nullptr, true, "none.bmp", "No command", Glyph::None},
    {CmdQuit, Quit, true, "quit.bmp", "Quit", Glyph::Quit},
    {CmdRefresh, Refresh, false, "refresh.bmp", "Refresh the tree", Glyph::Refresh},
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
            const QString path = QDir(folder).filePath(QString::fromUtf8(row.picture));
            if (!artwork::drawButtonPicture(row.glyph, highlighted).save(path, "BMP")) {
                if (error)
                    *error = QStringLiteral("cannot write ") + QDir::toNativeSeparators(path);
                return false;
            }
        }
    }
    return true;
}

} // namespace modTree
