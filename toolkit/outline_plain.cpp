// The two plain-text formats, Markdown and indented text, and the UTF-8
// checks every format shares.

#include "toolkit/outline_formats.h"

#include <QIODevice>

#include <array>
#include <cstdint>
#include <string>

namespace outline::detail {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// A file's lines, numbered from 1, without their '\n' or a '\r' before it. A
// file that ends in '\n' has no empty line after it; a byte order mark is not
// part of the first line.
class Lines {
public:
    explicit Lines(std::string_view bytes) : m_rest(bytes)
    {
        if (m_rest.starts_with(kByteOrderMark))
            m_rest.remove_prefix(kByteOrderMark.size());
    }
    bool next(std::string_view &line)
    {
        if (m_rest.empty())
            return false;
        const std::size_t end = m_rest.find('\n');
        line = m_rest.substr(0, end);
        m_rest.remove_prefix(end == std::string_view::npos ? m_rest.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        ++m_number;
        return true;
    }
    std::size_t number() const { return m_number; }

private:
    std::string_view m_rest;
    std::size_t m_number = 0;
};

bool fail(std::string *error, std::size_t line, const std::string &what)
{
    if (error)
        *error = "line " + std::to_string(line) + ": " + what;
    return false;
}

// Checks that an item at level may follow the items read so far (the one
// before it at level `last`).
bool levelFits(std::size_t line, std::size_t level, bool first, std::size_t last, std::string *error)
{
    if (first && level > 0)
        return fail(error, line, "the first item is indented; the list starts at the top level");
    if (!first && level > last + 1) {
        return fail(error, line,
                    "level " + std::to_string(level) + " after level " + std::to_string(last)
                        + ": a level is skipped (an item goes at most one level deeper than the one before it)");
    }
    return true;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

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

// Lines gathered and written to the device a megabyte at a time.
class Output {
public:
    explicit Output(QIODevice &device) : m_device(device) {}
    std::string &text() { return m_text; }
    bool lineDone()
    {
        return m_text.size() < (std::size_t{1} << 20) || flush();
    }
    bool flush()
    {
        const bool ok = m_ok && m_device.write(m_text.data(), static_cast<qint64>(m_text.size()))
                == static_cast<qint64>(m_text.size());
        m_text.clear();
        m_ok = ok;
        return ok;
    }

private:
    QIODevice &m_device;
    std::string m_text;
    bool m_ok = true;
};

// ---------------------------------------------------------------- Markdown

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

// ---------------------------------------------------------------- indented text

std::string unescaped(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char next = i + 1 < s.size() ? s[i + 1] : '\0';
        const char *meant = nullptr;
        if (s[i] == '\\') {
            meant = next == '\\' ? "\\" : next == 't' ? "\t" : next == 'n' ? "\n" : next == 'r' ? "\r" : nullptr;
        }
        if (meant) {
            out += meant;
            ++i;
        } else {
            out += s[i]; // any other backslash is itself, as in a path typed by hand
        }
    }
    return out;
}

} // namespace

std::size_t invalidUtf8At(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            cp = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            cp = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            cp = c & 0x07u;
        } else {
            return i;
        }
        if (i + length > text.size())
            return i;
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80)
                return i;
            cp = (cp << 6) | (b & 0x3Fu);
        }
        if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)))
            || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return i;
        i += length;
    }
    return std::string_view::npos;
}

std::string withValidUtf8(std::string_view text)
{
    std::string out;
    for (;;) {
        const std::size_t bad = invalidUtf8At(text);
        if (bad == std::string_view::npos) {
            out += text;
            return out;
        }
        out += text.substr(0, bad);
        out += kReplacement;
        text.remove_prefix(bad + 1);
    }
}

std::string positionOf(std::string_view bytes, std::size_t offset)
{
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i < offset && i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool checkUtf8(std::string_view bytes, std::string *error)
{
    const std::size_t bad = invalidUtf8At(bytes);
    if (bad == std::string_view::npos)
        return true;
    if (error)
        *error = positionOf(bytes, bad) + ": not valid UTF-8";
    return false;
}

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

std::optional<std::vector<Item>> readMarkdown(std::string_view bytes, std::string *error)
{
    if (!checkUtf8(bytes, error))
        return std::nullopt;
    std::vector<Item> items;
    // The last item's text ended in a lone backslash: a line break if the
    // next line goes on with it, the backslash itself otherwise.
    bool lineBreak = false;
    Lines lines(bytes);
    std::string_view line;
    while (lines.next(line)) {
        std::size_t indent = 0;
        while (indent < line.size() && isSpace(line[indent]))
            ++indent;
        const bool blank = indent == line.size();
        const bool bullet = !blank && (line[indent] == '-' || line[indent] == '+' || line[indent] == '*')
            && (indent + 1 == line.size() || isSpace(line[indent + 1]));
        if (lineBreak && !blank && !bullet) {
            items.back().text += '\n';
            lineBreak = decodeMarkdown(trimmed(line), items.back().text);
            continue;
        }
        if (lineBreak)
            items.back().text += '\\';
        lineBreak = false;
        if (blank)
            continue;
        if (!bullet) {
            fail(error, lines.number(),
                 "not a list item: every line is \"- \" or \"+ \" and the item's text, two spaces in per level");
            return std::nullopt;
        }
        if (line.substr(0, indent).find('\t') != std::string_view::npos) {
            fail(error, lines.number(), "a tab in the indentation; each level is two spaces");
            return std::nullopt;
        }
        if (indent % 2 != 0) {
            fail(error, lines.number(), std::to_string(indent) + " spaces before the bullet; each level is two spaces");
            return std::nullopt;
        }
        const std::size_t level = indent / 2;
        if (!levelFits(lines.number(), level, items.empty(), items.empty() ? 0 : items.back().level, error))
            return std::nullopt;
        Item &item = items.emplace_back();
        item.level = static_cast<std::uint32_t>(level);
        item.expanded = line[indent] == '+';
        lineBreak = decodeMarkdown(trimmed(line.substr(indent + 1)), item.text);
    }
    if (lineBreak)
        items.back().text += '\\';
    return items;
}

bool writeText(std::span<const Item> items, QIODevice &device)
{
    Output output(device);
    std::string &out = output.text();
    for (const Item &item : items) {
        out.append(item.level, '\t');
        appendOneLine(out, item.text);
        out += '\n';
        if (!output.lineDone())
            return false;
    }
    return output.flush();
}

std::optional<std::vector<Item>> readText(std::string_view bytes, std::string *error)
{
    if (!checkUtf8(bytes, error))
        return std::nullopt;
    std::vector<Item> items;
    Lines lines(bytes);
    std::string_view line;
    while (lines.next(line)) {
        std::size_t level = 0;
        while (level < line.size() && line[level] == '\t')
            ++level;
        if (!levelFits(lines.number(), level, items.empty(), items.empty() ? 0 : items.back().level, error))
            return std::nullopt;
        items.push_back({static_cast<std::uint32_t>(level), false, unescaped(line.substr(level)), 0});
    }
    return items;
}

} // namespace outline::detail

namespace outline {

void appendOneLine(std::string &out, std::string_view text)
{
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

} // namespace outline
