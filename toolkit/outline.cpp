#include "toolkit/outline.h"

#include "toolkit/outline_formats.h"

#include <QBuffer>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <filesystem>

namespace outline {

namespace {

// Indentation of Markdown and indented text grows with the square of a
// chain's depth; past this the file would be absurd, not useful.
constexpr std::uint64_t kMaxIndentationBytes = std::uint64_t{1} << 30;

bool fail(std::string *error, std::string what)
{
    if (error)
        *error = std::move(what);
    return false;
}

std::string reason(const QString &s)
{
    return s.toStdString();
}

} // namespace

bool writeTo(Format format, std::span<const Item> items, QIODevice &out, std::vector<std::string> *problems,
             std::string *error)
{
    std::uint64_t indentation = 0;
    std::uint32_t deepest = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::uint32_t level = items[i].level;
        if (i == 0 ? level != 0 : level > items[i - 1].level + 1)
            return fail(error, "the items are no tree in display order");
        indentation += format == Format::Markdown ? 2 * std::uint64_t{level} : level;
        deepest = std::max(deepest, level);
    }
    if (format != Format::Opml && indentation > kMaxIndentationBytes) {
        return fail(error, "the tree is " + std::to_string(deepest + 1) + " levels deep: as "
                               + (format == Format::Markdown ? "Markdown" : "indented text")
                               + " its indentation alone would take " + std::to_string(indentation >> 20)
                               + " MB; OPML holds any depth");
    }
    bool written = false;
    switch (format) {
    case Format::Opml:
        written = detail::writeOpml(items, out, problems);
        break;
    case Format::Markdown:
        written = detail::writeMarkdown(items, out);
        break;
    case Format::Text:
        written = detail::writeText(items, out);
        break;
    }
    return written || fail(error, "the file cannot be written (" + reason(out.errorString()) + ")");
}

std::optional<Format> formatNamed(std::string_view name)
{
    if (name == "opml")
        return Format::Opml;
    if (name == "md")
        return Format::Markdown;
    if (name == "txt")
        return Format::Text;
    return std::nullopt;
}

std::optional<Format> formatOfPath(std::string_view path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    for (char &c : extension)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (extension == ".opml")
        return Format::Opml;
    if (extension == ".md" || extension == ".markdown")
        return Format::Markdown;
    if (extension == ".txt")
        return Format::Text;
    return std::nullopt;
}

std::optional<std::string> write(Format format, std::span<const Item> items, std::vector<std::string> *problems,
                                 std::string *error)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!writeTo(format, items, buffer, problems, error))
        return std::nullopt;
    return buffer.data().toStdString();
}

std::string summary(std::size_t items, const ReadReport &report)
{
    std::string line = "read " + std::to_string(items) + (items == 1 ? " item" : " items");
    const auto add = [&line](std::size_t n, const char *one, const char *many) {
        if (n > 0)
            line += "; " + std::to_string(n) + " " + (n == 1 ? one : many);
    };
    add(report.linesSkipped, "line skipped (no list item or heading)", "lines skipped (no list items or headings)");
    add(report.named, "outline without text named by its title or URL", "outlines without text named by their title or URL");
    add(report.notesKept, "note kept as its text's second line", "notes kept as their text's second line");
    add(report.levelsMended, "item moved up to one level below the item before it",
        "items moved up to one level below the item before them");
    return line;
}

std::optional<std::vector<Item>> read(Format format, std::string_view bytes, std::string *error, ReadReport *report)
{
    ReadReport ignored;
    ReadReport &filled = report ? *report : ignored;
    filled = {};
    switch (format) {
    case Format::Opml:
        return detail::readOpml(bytes, error, filled);
    case Format::Markdown:
        return detail::readMarkdown(bytes, error, filled);
    case Format::Text:
        return detail::readText(bytes, error, filled);
    }
    return std::nullopt;
}

} // namespace outline
