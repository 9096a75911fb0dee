#pragma once

// The tree of a store as an outline file, and an outline file as a new store:
// the export and import of branchkeeper-store.
//
// Every format holds the items the window can reach (closed branches
// included), depth first, children in chain order; the root is not written,
// its children are the top level. "~" (an emptied text) and Null are written
// as an empty text; an empty text is read back as "~".
//
// OPML 2.0 (.opml): one outline element per item, its text in `text`.
//   Expanded items that are shown go into the head's expansionState: their
//   line numbers, counted from 1 at the first top-level item over the lines
//   shown when each listed item is opened in turn (what "navigate flatdown"
//   reaches), so a list in ascending order is simply the shown lines. An
//   expanded item inside a closed branch has no line there; it carries
//   bk:expanded="true", bk being kNamespace, declared on the opml element.
//   Indentation stops growing after kOpmlIndentLevels levels, so a file stays
//   linear in size however deep the tree. Reading: an outline without `text`
//   is an error, and so is any other element or text in the body; other
//   attributes (_note, type, created, ...), other head fields and elements of
//   other namespaces are ignored; external entities are refused, internal
//   ones expand up to Qt's limit.
//
// Markdown (.md): a bullet list, two spaces per level; "+ " opens an item
//   that is expanded, "- " one that is not (a text-less item is the bullet
//   alone), so every expanded state survives. A text is escaped so that
//   CommonMark reads the same text and so does the importer: a backslash
//   before any character that could start markup (anywhere: \ ` * _ [ ] < ~ |,
//   & before # or a letter; at the start of a line: # > - + = and the . or )
//   after leading digits); spaces and tabs at either end of a line, and
//   carriage returns, as &#32; &#9; &#13;; a line break as a backslash at the
//   end of the line, the text going on at the item's content column (as
//   &#10; where an empty line would follow, which a list cannot hold). A blank
//   line goes before an empty item that is the first child of an item with a
//   text, which it would otherwise join (or underline as a heading). Reading
//   also takes "* " (closed), blank lines anywhere, numeric character
//   references and &amp; &lt; &gt; &quot; &apos;; a line that is no item and
//   does not go on after a backslash is an error.
//
// Indented text (.txt): one item per line, one tab per level; a text's own
//   backslashes, tabs, line breaks and carriage returns as \\ \t \n \r. Every
//   line is an item, so an empty line is an item with an empty text.
//   Expanded states are not carried: every item is read as closed.
//
// Input must be UTF-8 (OPML: or the encoding its declaration names). Bad input
// is refused whole, with the line (and for XML the column) it went wrong on.

#include "store/create.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace outline {

enum class Format { Opml, Markdown, Text };

// "opml", "md" or "txt".
std::optional<Format> formatNamed(std::string_view name);
// By the file name's extension, any case: .opml, .md or .markdown, .txt.
std::optional<Format> formatOfPath(std::string_view path);

inline constexpr std::string_view kNamespace = "urn:x-branchkeeper:outline";
inline constexpr std::uint32_t kOpmlIndentLevels = 32;

// One item, in display order. Levels start at 0 (top level) and go down one
// step at a time.
struct Item {
    std::uint32_t level = 0;
    bool expanded = false;
    std::string text;
    std::int32_t key = 0; // the store's key, for messages; 0 for an item read from a file
};

// The file for items. Says in *problems what it had to change (a character
// the format cannot hold). nullopt, with the reason, when the items are not
// a tree in display order or the format cannot hold them in reasonable size.
std::optional<std::string> write(Format format, std::span<const Item> items, std::vector<std::string> *problems,
                                 std::string *error);

// The items of a file. nullopt, with "line L[, column C]: what", when it is
// no outline of that format.
std::optional<std::vector<Item>> read(Format format, std::string_view bytes, std::string *error);

// Writes the tree of the store at storePath (read-only; never created) into
// outPath: into a file beside it, moved there once it is whole, so a failure
// leaves what was there as it was and no file of its own. Refuses an
// existing outPath unless replace, and an SQLite database (any, a store or
// not) even then; refuses an empty path and a link to nothing. A new file
// is 0600; one written over keeps its mode less the permissions of group and
// others that the store's file does not have. *problems gets one line per
// thing the export skipped or changed: links the walk could not follow in a
// broken store, texts that are no UTF-8 or hold characters the format
// cannot. False, with the reason, when nothing was written.
bool exportStore(const std::string &storePath, const std::string &outPath, Format format, bool replace,
                 std::vector<std::string> *problems, std::string *error);

// Reads the file at inPath and makes of it a store at storePath, made like a
// new empty store with the given toolbar rows, the items keyed 2, 3, ... in
// display order. The store is built in a temporary store beside storePath
// and its links must check clean before it goes anywhere. Where nothing is,
// it is moved there (0600, owner only). An existing storePath is refused
// unless replace; with replace it must be a store, and the new one is
// written into it through SQLite's online backup in one transaction, so a
// program that has it open sees the change and goes on in the new tree; its
// mode loses the permissions of group and others that inPath does not have.
// Refuses an empty path and a link to nothing. On failure nothing is created
// and nothing replaced. False, with the reason.
bool importFile(const std::string &inPath, const std::string &storePath, Format format, bool replace,
                std::span<const store::CommandRowText> commands, std::string *error);

// The commands of branchkeeper-store, given the arguments after the command's
// name. They print to standard error and return the exit status, or -1 when
// the arguments are not the command's.
//   export STORE OUT [--format opml|md|txt] [--force]: 0 written complete,
//     1 written with skips or changes (each said), 2 nothing written (an
//     unknown format, a store that cannot be read, an existing OUT without
//     --force, a database at OUT, an output that cannot be written).
//   import IN NEW-STORE [--format opml|md|txt] [--force]: 0 done, 1 nothing
//     created (an input that cannot be read or is no outline, an existing
//     NEW-STORE without --force, or with it one that is no store, a store
//     that cannot be written), 2 an unknown format.
// Appends text on one line: its backslashes, tabs, line breaks and carriage
// returns as \\, \t, \n and \r, as indented text and the store tool's dump
// write it.
void appendOneLine(std::string &out, std::string_view text);

int exportCommand(const std::vector<std::string> &arguments);
int importCommand(const std::vector<std::string> &arguments, std::span<const store::CommandRowText> commands);

} // namespace outline
