// Markdown: written as a nested list, read with the CommonMark reference
// parser; an item's text is taken from the source, not rendered, so that
// markup stays as it was written.

#include "toolkit/outline_formats.h"

#include <cmark.h>

#include <QIODevice>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace outline::detail {

namespace {

bool isAsciiPunctuation(char c)
{
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

void appendUtf8(std::string &out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// One line of a text: markup characters escaped, spaces and tabs at its ends
// and carriage returns as character references.
void appendMarkdownLine(std::string &out, std::string_view line)
{
    std::size_t begin = 0;
    while (begin < line.size() && isSpace(line[begin]))
        out += line[begin++] == ' ' ? "&#32;" : "&#9;";
    std::size_t end = line.size();
    while (end > begin && isSpace(line[end - 1]))
        --end;
    std::size_t digitsEnd = begin; // "1." or "1)" at the start would be an ordered list
    while (digitsEnd < end && isDigit(line[digitsEnd]))
        ++digitsEnd;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = line[i];
        const bool blockStart = i == begin && (c == '#' || c == '>' || c == '-' || c == '+' || c == '=');
        const bool listNumber = i == digitsEnd && digitsEnd > begin && (c == '.' || c == ')');
        const bool inline_ = c == '\\' || c == '`' || c == '*' || c == '_' || c == '[' || c == ']' || c == '<'
            || c == '~' || c == '|';
        const bool entity = c == '&' && i + 1 < line.size() && (line[i + 1] == '#' || isAsciiLetter(line[i + 1]));
        if (blockStart || listNumber || inline_ || entity) {
            out += '\\';
            out += c;
        } else if (c == '\r') {
            out += "&#13;";
        } else {
            out += c;
        }
    }
    for (std::size_t i = end; i < line.size(); ++i)
        out += line[i] == ' ' ? "&#32;" : "&#9;";
}

void appendMarkdownText(std::string &out, std::string_view text, std::size_t contentColumn)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t lineBreak = text.find('\n', start);
        appendMarkdownLine(out, text.substr(start, lineBreak - start));
        if (lineBreak == std::string_view::npos)
            return;
        start = lineBreak + 1;
        // A list item cannot hold an empty line: such a break stays inline.
        if (start == text.size() || text[start] == '\n') {
            out += "&#10;";
        } else {
            out += "\\\n";
            out.append(contentColumn, ' ');
        }
    }
}

// What a character reference that the reader knows stands for.
std::optional<std::uint32_t> characterReference(std::string_view s, std::size_t &length)
{
    static constexpr std::array<std::pair<std::string_view, char>, 5> kNamed{
        {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}}};
    for (const auto &[name, c] : kNamed) {
        if (s.starts_with(name)) {
            length = name.size();
            return static_cast<std::uint32_t>(c);
        }
    }
    if (!s.starts_with("&#"))
        return std::nullopt;
    const bool hex = s.size() > 2 && (s[2] == 'x' || s[2] == 'X');
    std::size_t i = hex ? 3 : 2;
    const std::size_t digitsFrom = i;
    std::uint32_t cp = 0;
    while (i < s.size() && i - digitsFrom < (hex ? 6u : 7u)) {
        const char c = s[i];
        std::uint32_t digit;
        if (isDigit(c))
            digit = static_cast<std::uint32_t>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else
            break;
        cp = cp * (hex ? 16 : 10) + digit;
        ++i;
    }
    if (i == digitsFrom || i >= s.size() || s[i] != ';')
        return std::nullopt;
    length = i + 1;
    // As CommonMark reads them: nothing that is no character.
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    return cp;
}

// The text of one line of an item; true when it ends in a backslash that
// escapes nothing, a line break if the next line goes on with the text.
bool decodeMarkdown(std::string_view s, std::string &out)
{
    for (std::size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (c == '\\') {
            if (i + 1 == s.size())
                return true;
            if (isAsciiPunctuation(s[i + 1])) {
                out += s[i + 1];
                i += 2;
            } else {
                out += c;
                ++i;
            }
            continue;
        }
        if (c == '\0') { // as CommonMark reads it: no NUL gets into a text
            appendUtf8(out, 0xFFFD);
            ++i;
            continue;
        }
        std::size_t length = 0;
        if (c == '&') {
            if (const auto cp = characterReference(s.substr(i), length)) {
                appendUtf8(out, *cp);
                i += length;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return false;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// The lines as the parser counts them (from 1, ended by \n, \r\n or \r),
// and which of them an item or heading took.
class SourceLines {
public:
    explicit SourceLines(std::string_view bytes)
    {
        m_lines.emplace_back(); // line 0 is none
        std::size_t start = 0;
        for (std::size_t i = 0; i <= bytes.size(); ++i) {
            if (i < bytes.size() && bytes[i] != '\n' && bytes[i] != '\r')
                continue;
            if (i < bytes.size() || start < i)
                m_lines.push_back(bytes.substr(start, i - start));
            if (i + 1 < bytes.size() && bytes[i] == '\r' && bytes[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
        m_taken.assign(m_lines.size(), false);
    }
    // The line, empty past the end; from column (counted from 1, in bytes) on.
    std::string_view at(int line, int column = 1) const
    {
        if (line < 1 || static_cast<std::size_t>(line) >= m_lines.size())
            return {};
        const std::string_view l = m_lines[static_cast<std::size_t>(line)];
        return l.substr(std::min(l.size(), static_cast<std::size_t>(std::max(column, 1) - 1)));
    }
    void take(int line)
    {
        if (line >= 1 && static_cast<std::size_t>(line) < m_taken.size())
            m_taken[static_cast<std::size_t>(line)] = true;
    }
    std::size_t notTaken() const
    {
        std::size_t n = 0;
        for (std::size_t i = 1; i < m_lines.size(); ++i)
            n += !m_taken[i] && !trimmed(m_lines[i]).empty();
        return n;
    }

private:
    std::vector<std::string_view> m_lines;
    std::vector<bool> m_taken;
};

bool isUnderline(std::string_view line)
{
    line = trimmed(line);
    return !line.empty() && (line.find_first_not_of('=') == std::string_view::npos
                             || line.find_first_not_of('-') == std::string_view::npos);
}

// An ATX heading's text: the line without its opening #s and a closing run
// of #s that a space sets apart.
std::string_view atxText(std::string_view line)
{
    line = trimmed(line);
    line.remove_prefix(std::min(line.find_first_not_of('#'), line.size()));
    line = trimmed(line);
    const std::size_t hashes = line.find_last_not_of('#');
    if (hashes == std::string_view::npos)
        return {};
    if (hashes + 1 < line.size() && isSpace(line[hashes]))
        line = trimmed(line.substr(0, hashes));
    return line;
}

// Appends one source line of a text, after a line break when text has some.
// A backslash that ends a line escapes nothing and is the break itself;
// at the end of the text it is a backslash.
void appendSourceLine(std::string &text, bool &pendingBreak, std::string_view line)
{
    if (pendingBreak || !text.empty())
        text += '\n';
    pendingBreak = decodeMarkdown(trimmed(line), text);
}

// The text of a paragraph or heading, line by line from its source.
void appendBlockText(cmark_node *block, SourceLines &source, std::string &text)
{
    const int first = cmark_node_get_start_line(block);
    bool pendingBreak = false;
    const bool heading = cmark_node_get_type(block) == CMARK_NODE_HEADING;
    const std::string_view firstLine = source.at(first, cmark_node_get_start_column(block));
    const std::size_t hashes = std::min(firstLine.find_first_not_of('#'), firstLine.size());
    const bool atx = hashes >= 1 && hashes <= 6 && (hashes == firstLine.size() || isSpace(firstLine[hashes]));
    if (heading && atx) {
        source.take(first);
        appendSourceLine(text, pendingBreak, atxText(firstLine));
    } else {
        // A setext heading's own end is not where its underline is: the
        // underline ends it.
        const int last = heading ? std::numeric_limits<int>::max() : cmark_node_get_end_line(block);
        for (int line = first; line <= last; ++line) {
            const std::string_view l = line == first ? firstLine : source.at(line);
            if (trimmed(l).empty() || (heading && line > first && isUnderline(l))) {
                source.take(line);
                break;
            }
            source.take(line);
            appendSourceLine(text, pendingBreak, l);
        }
    }
    if (pendingBreak)
        text += '\\';
}

// YAML front matter: "---" alone on the first line, up to a line "---" or
// "...", which the parser would read as a rule and a heading. The bytes
// after it, and in *lines how many of its lines are not blank.
std::string_view afterFrontMatter(std::string_view bytes, std::size_t &lines)
{
    lines = 0;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = std::min(bytes.find('\n', start), bytes.size());
        std::string_view line = bytes.substr(start, end - start);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string_view fence = trimmed(line);
        if (start == 0 && (fence != "---" || !line.starts_with('-')))
            return bytes;
        lines += !fence.empty();
        if (start > 0 && (fence == "---" || fence == "..."))
            return bytes.substr(std::min(end + 1, bytes.size()));
        start = end + 1;
    }
    lines = 0;
    return bytes; // never closed: no front matter
}

struct NodeFree {
    void operator()(cmark_node *node) const { cmark_node_free(node); }
};
struct IterFree {
    void operator()(cmark_iter *iter) const { cmark_iter_free(iter); }
};

} // namespace

bool writeMarkdown(std::span<const Item> items, QIODevice &device)
{
    Output output(device);
    std::string &out = output.text();
    for (const Item &item : items) {
        // An empty first child right below its parent's text would go on
        // with that text, or underline it as a heading: a blank line ends
        // the text first.
        if (item.text.empty() && &item != items.data() && item.level > (&item - 1)->level && !(&item - 1)->text.empty())
            out += '\n';
        out.append(2 * static_cast<std::size_t>(item.level), ' ');
        out += item.expanded ? '+' : '-';
        if (!item.text.empty()) {
            out += ' ';
            appendMarkdownText(out, item.text, 2 * static_cast<std::size_t>(item.level) + 2);
        }
        out += '\n';
        if (!output.lineDone())
            return false;
    }
    return output.flush();
}

std::optional<std::vector<Item>> readMarkdown(std::string_view bytes, std::string *error, ReadReport &report)
{
    if (!checkUtf8(bytes, error))
        return std::nullopt;
    if (bytes.starts_with(kByteOrderMark))
        bytes.remove_prefix(kByteOrderMark.size());
    std::size_t frontMatter = 0;
    bytes = afterFrontMatter(bytes, frontMatter);
    SourceLines source(bytes);
    const std::unique_ptr<cmark_node, NodeFree> document(
        cmark_parse_document(bytes.data(), bytes.size(), CMARK_OPT_DEFAULT));
    const std::unique_ptr<cmark_iter, IterFree> iter(document ? cmark_iter_new(document.get()) : nullptr);
    if (!iter) {
        if (error)
            *error = "out of memory";
        return std::nullopt;
    }

    std::vector<Item> items;
    std::vector<int> headings;      // the levels of the headings on the path to the current one
    std::vector<std::size_t> open;  // the items entered, innermost last
    for (cmark_event_type event; (event = cmark_iter_next(iter.get())) != CMARK_EVENT_DONE;) {
        cmark_node *node = cmark_iter_get_node(iter.get());
        const cmark_node_type type = cmark_node_get_type(node);
        if (type == CMARK_NODE_ITEM && event == CMARK_EVENT_EXIT) {
            open.pop_back();
        } else if (event != CMARK_EVENT_ENTER || type == CMARK_NODE_DOCUMENT || type == CMARK_NODE_LIST) {
            continue;
        } else if (type == CMARK_NODE_ITEM) {
            const int line = cmark_node_get_start_line(node);
            source.take(line);
            const std::string_view marker = trimmed(source.at(line, cmark_node_get_start_column(node)));
            Item &item = items.emplace_back();
            item.level = static_cast<std::uint32_t>(headings.size() + open.size());
            item.expanded = marker.starts_with('+');
            open.push_back(items.size() - 1);
        } else if ((type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING) && !open.empty()) {
            appendBlockText(node, source, items[open.back()].text);
        } else if (type == CMARK_NODE_HEADING) {
            const int level = cmark_node_get_heading_level(node);
            while (!headings.empty() && headings.back() >= level)
                headings.pop_back();
            Item &item = items.emplace_back();
            item.level = static_cast<std::uint32_t>(headings.size());
            appendBlockText(node, source, item.text);
            headings.push_back(level);
        }
        // Anything else (paragraphs outside lists, quotes, code, HTML, rules)
        // holds no item; its lines are counted below as skipped.
        if (type != CMARK_NODE_ITEM && cmark_node_first_child(node))
            cmark_iter_reset(iter.get(), node, CMARK_EVENT_EXIT);
    }
    report.linesSkipped += frontMatter + source.notTaken();
    return items;
}

} // namespace outline::detail
