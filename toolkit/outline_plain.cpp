// Indented text, and the UTF-8 checks every format shares.

#include "toolkit/outline_formats.h"

#include <QIODevice>

#include <algorithm>
#include <cstdint>
#include <string>

namespace outline::detail {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
// A text's first space, as indented text writes it.
constexpr std::string_view kLeadingSpace = "\\ ";

// A file's lines, without their '\n' or a '\r' before it. A file that ends in
// '\n' has no empty line after it; a byte order mark is not part of the
// first line.
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
        return true;
    }

private:
    std::string_view m_rest;
};

bool isBlank(std::string_view line)
{
    return std::all_of(line.begin(), line.end(), isSpace);
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

bool writeText(std::span<const Item> items, QIODevice &device)
{
    Output output(device);
    std::string &out = output.text();
    for (const Item &item : items) {
        out.append(item.level, '\t');
        // Neither an empty line nor leading spaces, which a reader takes for
        // no item or for indentation: "~", or "\ " for the first space.
        std::string_view text = item.text;
        if (text.empty()) {
            out += '~';
        } else if (text.starts_with(' ')) {
            out += kLeadingSpace;
            text.remove_prefix(1);
        }
        appendOneLine(out, text);
        out += '\n';
        if (!output.lineDone())
            return false;
    }
    return output.flush();
}

std::optional<std::vector<Item>> readText(std::string_view bytes, std::string *error, ReadReport &report)
{
    if (!checkUtf8(bytes, error))
        return std::nullopt;
    // Tabs make the levels when any line starts with one, and the spaces
    // after them are the text's own; otherwise leading spaces do, however
    // many a level.
    bool byTabs = false;
    Lines lines(bytes);
    std::string_view line;
    while (!byTabs && lines.next(line))
        byTabs = line.starts_with('\t') && !isBlank(line);
    const char indentChar = byTabs ? '\t' : ' ';

    // The indents of the items on the path to the last one: a deeper line is
    // its child; a shallower one is the sibling of the item on the path
    // indented as deep, or, when none is, the child of the closest one
    // indented less.
    std::vector<std::size_t> path;
    std::size_t lastIndent = 0;
    std::vector<Item> items;
    lines = Lines(bytes);
    while (lines.next(line)) {
        if (isBlank(line))
            continue;
        const std::size_t indent = std::min(line.find_first_not_of(indentChar), line.size());
        while (!path.empty() && path.back() > indent)
            path.pop_back();
        if (!path.empty() && path.back() == indent)
            path.pop_back();
        // More than one tab past the line before (or any before the first
        // line) skips a level; the stack mends it.
        if (byTabs ? indent > (items.empty() ? 0 : lastIndent + 1) : items.empty() && indent > 0)
            ++report.levelsMended;
        lastIndent = indent;
        const std::string_view text = line.substr(indent);
        items.push_back({static_cast<std::uint32_t>(path.size()), false,
                         text.starts_with(kLeadingSpace) ? " " + unescaped(text.substr(2)) : unescaped(text), 0});
        path.push_back(indent);
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
