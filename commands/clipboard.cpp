#include "commands/clipboard.h"

#include "commands/toolbar.h"
#include "store/allocation.h"
#include "store/child_chain.h"
#include "store/connection.h"
#include "store/format.h"
#include "store/links.h"
#include "store/mod_base.h"
#include "toolkit/announcer.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/outline_formats.h"
#include "view/browsing.h"
#include "view/selection.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMimeData>

#include <cstdio>
#include <deque>

namespace modTree {

using modBase::rsTree;
using store::Field;

namespace {

std::int32_t link(Field f)
{
    return rsTree.key(f).value_or(0);
}

// The current record as an item of an outline.
outline::Item currentItem(std::uint32_t level)
{
    outline::Item item;
    item.level = level;
    item.key = link(Field::KeyInd);
    item.expanded = rsTree.flag(Field::Expand) == std::optional<bool>(true);
    if (const auto text = rsTree.text(Field::KeyTxt); text && *text != store::kEmptiedText)
        item.text = outline::detail::withValidUtf8(*text);
    return item;
}

// Says a paste that did not happen: on standard error for whoever started
// the program from a terminal, and to a screen reader (announced, and as the
// tree's description).
void sayNotPasted(const std::string &reason)
{
    std::fprintf(stderr, "branchkeeper: nothing pasted: %s\n", reason.c_str());
    if (toolkit::KeyedTree *tree = AttachedControls().TreeV) {
        const QString said = QStringLiteral("Nothing pasted: ") + QString::fromStdString(reason);
        tree->setAccessibleDescription(said);
        toolkit::Announcer::announceIn(tree, said);
    }
}

// A paste that read something it had to skip or change says so, so nothing
// is lost without a word.
void sayWhatWasChanged(std::size_t items, const outline::ReadReport &report)
{
    const std::string line = outline::summary(items, report);
    if (line != outline::summary(items, {}))
        std::fprintf(stderr, "branchkeeper: pasted: %s\n", line.c_str());
}

std::optional<std::vector<outline::Item>> readBytes(outline::Format format, const QByteArray &bytes,
                                                    std::string *error, outline::ReadReport *report)
{
    return outline::read(format, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), error,
                         report);
}

// The last child of the root, or 0: where a file dropped below every row goes.
std::int32_t lastTopLevelItem()
{
    rsTree.positionOn(store::kRootKey);
    store::ChildChain chain(rsTree, store::kRootKey, link(Field::KeyChi), store::ChildChain::Read::Links, true);
    std::int32_t last = 0;
    while (const auto child = chain.next())
        last = *child;
    return last;
}

// Pastes what was read, marks the first new item as a click marks it, and
// says what the reader changed.
Pasted pasteRead(const std::vector<outline::Item> &items, const outline::ReadReport &report, std::int32_t anchor,
               PastePlace place)
{
    if (items.empty()) {
        sayNotPasted("the outline holds no items");
        return {};
    }
    const Pasted pasted = PasteItems(items, anchor, place);
    if (pasted.first == 0)
        return pasted;
    if (toolkit::KeyedTree *tree = AttachedControls().TreeV) {
        tree->setAccessibleDescription(QString());
        const toolkit::TreeNode node = tree->find(ItemNode(pasted.first));
        if (tree->indexOf(node).isValid())
            NodeClick(node);
        else
            SelectItem(pasted.first);
    }
    sayWhatWasChanged(items.size(), report);
    return pasted;
}

} // namespace

std::vector<outline::Item> BranchItems(std::int32_t top)
{
    std::vector<outline::Item> items;
    if (!rsTree.positionOn(top))
        return items;
    // The root's branch is the whole tree, its children the top level, as an
    // export writes it: the root itself is no item of anyone's outline.
    const bool whole = top == store::kRootKey;
    if (!whole)
        items.push_back(currentItem(0));
    // Depth first, as the rebuild walks: a link to an item already reached is
    // not followed, so a broken file can neither loop nor copy an item twice.
    store::KeySet reached;
    reached.insert(top);
    store::ChildChain::ReadAhead readAhead;
    std::deque<store::ChildChain> path;
    const auto descend = [&](std::int32_t parent) {
        path.emplace_back(rsTree, parent, link(Field::KeyChi), store::ChildChain::Read::Records, false, &reached,
                          &readAhead);
    };
    descend(top);
    while (!path.empty()) {
        if (!path.back().next()) {
            path.pop_back();
            continue;
        }
        items.push_back(currentItem(static_cast<std::uint32_t>(path.size() - (whole ? 1 : 0))));
        descend(items.back().key);
    }
    return items;
}

std::unique_ptr<QMimeData> OutlineMimeData(std::span<const outline::Item> items)
{
    auto data = std::make_unique<QMimeData>();
    const auto put = [&](outline::Format format, const char *type) {
        if (const auto bytes = outline::write(format, items, nullptr, nullptr))
            data->setData(QString::fromLatin1(type), QByteArray::fromStdString(*bytes));
    };
    put(outline::Format::Text, "text/plain");
    put(outline::Format::Markdown, kMarkdownMime);
    put(outline::Format::Opml, kOpmlMime);
    return data;
}

std::optional<std::vector<outline::Item>> ReadOutline(const QMimeData &data, std::string *error,
                                                      outline::ReadReport *report)
{
    if (data.hasFormat(QString::fromLatin1(kOpmlMime)))
        return readBytes(outline::Format::Opml, data.data(QString::fromLatin1(kOpmlMime)), error, report);
    if (data.hasFormat(QString::fromLatin1(kMarkdownMime)))
        return readBytes(outline::Format::Markdown, data.data(QString::fromLatin1(kMarkdownMime)), error, report);
    // The bytes as given where there are any, so a text that is no UTF-8 is
    // refused as an import refuses it rather than pasted with its bytes replaced.
    for (const char *type : {"text/plain;charset=utf-8", "text/plain"})
        if (data.hasFormat(QString::fromLatin1(type)))
            return readBytes(outline::Format::Text, data.data(QString::fromLatin1(type)), error, report);
    if (data.hasText())
        return readBytes(outline::Format::Text, data.text().toUtf8(), error, report);
    if (error)
        *error = "the clipboard holds no text";
    return std::nullopt;
}

std::optional<std::vector<outline::Item>> ReadOutlineFile(const QString &path, std::string *error,
                                                          outline::ReadReport *report)
{
    const auto format = outline::formatOfPath(path.toStdString());
    QFile file(path);
    if (!format) {
        if (error)
            *error = path.toStdString() + " is no .opml, .md or .txt file";
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path.toStdString() + " cannot be read (" + file.errorString().toStdString() + ")";
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    auto items = readBytes(*format, bytes, error, report);
    if (!items && error)
        *error = path.toStdString() + ": " + *error;
    return items;
}

Pasted PasteItems(std::span<const outline::Item> items, std::int32_t anchor, PastePlace place)
{
    if (items.empty() || !rsTree.positionOn(anchor))
        return {};
    std::int32_t parent = link(Field::KeyPar);
    if (parent == 0)
        place = PastePlace::FirstChildren; // nothing stands beside the root
    if (place == PastePlace::FirstChildren) {
        parent = anchor;
        rsTree.update(Field::Expand, true);
    }
    const bool topLevel = parent == store::kRootKey;
    // The last new item on each level of the path to the current one.
    std::vector<std::int32_t> last;
    Pasted pasted;
    for (const outline::Item &item : items) {
        const std::size_t level = std::min<std::size_t>(item.level, last.size());
        const std::int32_t key = NewItem(rsTree);
        if (key == 0) {
            // All of the paste or none of it: the action's commit rolls back.
            if (store::Connection *connection = rsTree.connection())
                connection->noteFailure("no record for a new item (the largest key is taken)");
            return {};
        }
        rsTree.update({{Field::KeyTxt, item.text.empty() ? std::string(store::kEmptiedText) : item.text},
                       {Field::Expand, item.expanded && !(level == 0 && topLevel)}});
        if (level > 0 && last.size() == level) {
            LinkFirstChild(rsTree, key, last[level - 1]);
        } else if (level > 0 || pasted.first != 0) {
            LinkAfter(rsTree, key, last[level]);
        } else if (place == PastePlace::After) {
            LinkAfter(rsTree, key, anchor);
        } else {
            rsTree.positionOn(parent);
            if (const std::int32_t firstChild = link(Field::KeyChi); firstChild != 0)
                LinkBefore(rsTree, key, firstChild);
            else
                LinkFirstChild(rsTree, key, parent);
        }
        if (pasted.first == 0)
            pasted.first = key;
        if (level == 0)
            pasted.lastTopLevel = key;
        last.resize(level);
        last.push_back(key);
    }
    ShowTree();
    return pasted;
}

void CopyKey()
{
    toolkit::KeyedTree *tree = AttachedControls().TreeV;
    const auto item = tree ? ItemOf(tree->nodeAt(tree->currentIndex()).nodeKey()) : std::nullopt;
    // One snapshot of the file: another program's change cannot land half way.
    const store::TransactionScope reading(rsTree.connection(), store::TransactionScope::Kind::Read);
    if (!item || !HeldByTheTree(*item))
        return;
    const auto items = BranchItems(*item);
    QApplication::clipboard()->setMimeData(OutlineMimeData(items).release());
}

void CutKey()
{
    if (Browsing())
        return; // nothing may leave a tree that cannot be written
    CopyKey();
    KeyCommand(CmdDelete);
}

void PasteKey(PastePlace place)
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    if (!data)
        return;
    std::string error;
    outline::ReadReport report;
    const auto items = ReadOutline(*data, &error, &report);
    if (!items) {
        sayNotPasted(error); // before anything is marked: a refused paste writes nothing
        return;
    }
    if (const auto anchor = MarkHighlighted())
        pasteRead(*items, report, *anchor, place);
}

void DropFiles(std::int32_t item, const QStringList &paths)
{
    std::int32_t anchor = item;
    PastePlace place = PastePlace::After;
    if (anchor == 0 && (anchor = lastTopLevelItem()) == 0) {
        anchor = store::kRootKey; // an empty tree: the first top-level items
        place = PastePlace::FirstChildren;
    }
    for (const QString &path : paths) {
        std::string error;
        outline::ReadReport report;
        const auto items = ReadOutlineFile(path, &error, &report);
        if (!items) {
            sayNotPasted(error);
            continue;
        }
        const Pasted pasted = pasteRead(*items, report, anchor, place);
        if (pasted.first == 0)
            return;
        anchor = pasted.lastTopLevel; // the next file goes after this one
        place = PastePlace::After;
    }
}

} // namespace modTree
