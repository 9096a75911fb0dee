#pragma once

// Outline files: OPML, Markdown and indented text, written from and read
// into items in display order. The store's export and import, the clipboard
// and dropped files all go through these.
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
//   linear in size however deep the tree. Reading: an outline without a
//   `text` (or with an empty one) takes its `title`, else `xmlUrl`, else
//   `htmlUrl`, else `url`, as feed lists carry no text; one with none of the
//   five is an error, and so is any other element or text in the body. A
//   non-empty `_note` becomes the text's second line. An expansionState that
//   holds a 0 counts from 0. Other attributes (type, created, ...), other head
//   fields and elements of other namespaces are ignored; external entities
//   are refused, internal ones expand up to Qt's limit.
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
//   text, which it would otherwise join (or underline as a heading).
//   Reading goes through the CommonMark reference parser, so lists nest as
//   CommonMark nests them: bullets - + * and ordered items 1. 1), children at
//   the item's content column, by spaces or tabs. An item's text is its
//   source, not rendered: emphasis, links and task boxes stay as written;
//   each line is trimmed, backslash escapes and character references
//   (numeric, &amp; &lt; &gt; &quot; &apos;) are decoded, and the lines of
//   its paragraphs (continuation and lazy lines) are joined with line breaks;
//   a backslash ending a line is that break. An item marked "+" is expanded,
//   any other closed. A heading is an item holding the list items and deeper
//   headings after it (levels never skip: "###" under "#" is one level
//   down), its text without the #s or underline. YAML front matter at the
//   start, paragraphs, quotes, code, HTML and rules outside items, and blocks
//   other than paragraphs, headings and lists inside them hold no item: their
//   lines are skipped and counted.
//
// Indented text (.txt): one item per line, one tab per level; a text's own
//   backslashes, tabs, line breaks and carriage returns as \\ \t \n \r, an
//   empty text as "~" and a first space as "\ " (so that it is neither a blank
//   line nor indentation). Blank lines are no items. Reading: when any line
//   starts with a tab, tabs make the levels and spaces after them are text;
//   otherwise leading spaces do, however many a level: a line indented deeper
//   than the one before is its child, one indented as deep as an item on the
//   path to it is that item's sibling, and one between two such depths the
//   deeper one's sibling. A line more than one tab deeper than the line
//   before (or an indented first line) is moved up to one level below it and
//   counted. Expanded states are not carried: every item is read as closed.
//
// Input must be UTF-8 (OPML: or the encoding its declaration names). A file
// that is not (or is no well-formed XML, or names external entities) is
// refused whole, with the line (and for XML the column) it went wrong on;
// anything else is read as far as it holds items, and the ReadReport says
// what was skipped or changed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QIODevice;

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
// The same, written to out as it goes; false, with the reason, when the items
// are no tree in display order, the format cannot hold them in reasonable size
// (checked before anything is written) or out refuses a write.
bool writeTo(Format format, std::span<const Item> items, QIODevice &out, std::vector<std::string> *problems,
             std::string *error);

std::optional<std::string> write(Format format, std::span<const Item> items, std::vector<std::string> *problems,
                                 std::string *error);

// What a read skipped or changed to take a file in, so nothing goes silently.
struct ReadReport {
    std::size_t linesSkipped = 0; // lines that hold no item (paragraphs, quotes, code, front matter, ...)
    std::size_t named = 0;        // OPML outlines without a text, named by their title or a URL
    std::size_t notesKept = 0;    // OPML notes kept as their text's second line
    std::size_t levelsMended = 0; // items more than one level below the one before, moved up
};

// One line for a person: the items read, then what the report holds, if anything.
std::string summary(std::size_t items, const ReadReport &report);

// The items of a file. nullopt, with "line L[, column C]: what", when it is
// no outline of that format; *report (when given) says what was skipped or
// changed.
std::optional<std::vector<Item>> read(Format format, std::string_view bytes, std::string *error,
                                      ReadReport *report = nullptr);

// Appends text on one line: its backslashes, tabs, line breaks and carriage
// returns as \\, \t, \n and \r, as indented text and the store tool's dump
// write it.
void appendOneLine(std::string &out, std::string_view text);

} // namespace outline
