#pragma once

#include "toolkit/outline.h"

#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QMimeData;

// A branch out of the tree as an outline, and an outline into it: the
// clipboard's keys on the tree and files dropped on it.
namespace modTree {

// The MIME types an outline travels under, besides text/plain (indented text).
inline constexpr const char *kMarkdownMime = "text/markdown";
inline constexpr const char *kOpmlMime = "text/x-opml";

// The item and its whole subtree, in display order with the item at level 0,
// closed branches included; an emptied text ("~") or Null as an empty text.
// For the root, the whole tree without the root, as an export writes it.
std::vector<outline::Item> BranchItems(std::int32_t top);

// items as indented text (text/plain), Markdown and OPML, the writers of the
// store tool's export.
std::unique_ptr<QMimeData> OutlineMimeData(std::span<const outline::Item> items);

// The outline the data holds: OPML, else Markdown, else plain text read as
// indented text, each read as forgivingly as an import. nullopt, with the
// reason, when the reader refuses it or there is no text at all.
std::optional<std::vector<outline::Item>> ReadOutline(const QMimeData &data, std::string *error,
                                                      outline::ReadReport *report);

// The outline in a file, its format by the name's extension (.opml, .md,
// .markdown, .txt).
std::optional<std::vector<outline::Item>> ReadOutlineFile(const QString &path, std::string *error,
                                                          outline::ReadReport *report);

// Where pasted items go: after the anchor among its siblings, or as its first
// children (the anchor is opened, as a new child opens it). Items pasted
// "after" the root, which has no siblings, become its first children.
enum class PastePlace { After, FirstChildren };

// Makes a new item for each of items, keeping their nesting and open states
// (items at the top level of the tree come closed, as opening one closes the
// others), with the store's record allocation and link operations, and
// rebuilds the view. Opens no transaction: the caller's user action holds
// all of it. When a record cannot be had the action's transaction is marked
// failed, so it keeps none of the paste. The keys of the first new item and
// of the last one at the paste's top level; 0 when nothing was pasted.
struct Pasted {
    std::int32_t first = 0;
    std::int32_t lastTopLevel = 0;
};
Pasted PasteItems(std::span<const outline::Item> items, std::int32_t anchor, PastePlace place);

// The clipboard's keys on the tree, on the highlighted item (marked first when
// it is not, as a command's key marks it). Copy puts its branch on the
// clipboard; Cut copies, then deletes it as Del does; Paste reads the
// clipboard and pastes after it (or as its first children), then marks the
// first pasted item. A paste the reader refuses changes nothing and says why
// on standard error and in the tree's accessible description. Open no
// transaction.
void CopyKey();
void CutKey();
void PasteKey(PastePlace place);

// Files dropped on the tree's node of item: each pasted in turn after it, in
// the order given; a file that cannot be read is skipped and said.
void DropFiles(std::int32_t item, const QStringList &paths);

} // namespace modTree
