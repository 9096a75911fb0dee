// OPML 2.0, through Qt's XML stream reader and writer.

#include "toolkit/outline_formats.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string>

namespace outline::detail {

namespace {

const QString kOpml = QStringLiteral("opml");
const QString kHead = QStringLiteral("head");
const QString kBody = QStringLiteral("body");
const QString kOutline = QStringLiteral("outline");
const QString kText = QStringLiteral("text");
const QString kNote = QStringLiteral("_note");
// What names an outline without a text, best first (feed lists carry titles
// and addresses only).
const std::array<QString, 4> kNames{QStringLiteral("title"), QStringLiteral("xmlUrl"), QStringLiteral("htmlUrl"),
                                    QStringLiteral("url")};
const QString kExpansionState = QStringLiteral("expansionState");
const QString kExpanded = QStringLiteral("expanded");
const QString kTrue = QStringLiteral("true");
const QString kFalse = QStringLiteral("false");
const QString kOwnNamespace = QString::fromUtf8(kNamespace.data(), static_cast<qsizetype>(kNamespace.size()));

// ---------------------------------------------------------------- writing

// XML 1.0 holds no C0 control but tab, line feed and carriage return, and
// neither U+FFFE nor U+FFFF; the text is UTF-8 already.
bool replaceNonXml(std::string &text)
{
    bool changed = false;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool control = c < 0x20 && c != '\t' && c != '\n' && c != '\r';
        const bool nonCharacter = c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF
            && (static_cast<unsigned char>(text[i + 2]) == 0xBE || static_cast<unsigned char>(text[i + 2]) == 0xBF);
        if (control || nonCharacter) {
            out += "\xEF\xBF\xBD";
            i += nonCharacter ? 2 : 0;
            changed = true;
        } else {
            out += text[i];
        }
    }
    if (changed)
        text = std::move(out);
    return changed;
}

class Writer {
public:
    explicit Writer(QIODevice &out) : m_xml(&out) {}

    void newLine(std::size_t depth)
    {
        // Capped, so that a chain of a million items stays a file of linear size.
        m_xml.writeCharacters(QLatin1Char('\n')
                              + QString(2 * static_cast<qsizetype>(std::min<std::size_t>(depth, kOpmlIndentLevels)),
                                        QLatin1Char(' ')));
    }
    QXmlStreamWriter &xml() { return m_xml; }

private:
    QXmlStreamWriter m_xml;
};

// ---------------------------------------------------------------- reading

// Opens items the way expansionState says: for each number X in turn, the
// X-th line shown (from 1, every line under a closed item hidden) is opened.
// Lines shown are kept in a Fenwick tree over the display order, so each
// number costs a logarithmic search whatever order the list is in.
class Expansion {
public:
    explicit Expansion(std::vector<Item> &items) : m_items(items), m_tree(items.size() + 1, 0), m_open(items.size())
    {
        // First children and next siblings, from the levels.
        m_firstChild.assign(items.size(), kNone);
        m_nextSibling.assign(items.size(), kNone);
        std::vector<std::size_t> last; // last item seen on each level of the current path
        for (std::size_t i = 0; i < items.size(); ++i) {
            const std::size_t level = items[i].level;
            if (last.size() > level)
                m_nextSibling[last[level]] = i;
            else if (level > 0)
                m_firstChild[last[level - 1]] = i;
            last.resize(level);
            last.push_back(i);
            if (level == 0)
                show(i);
        }
    }

    void open(std::uint64_t line)
    {
        if (line == 0 || line > m_shown)
            return;
        const std::size_t i = lineAt(line);
        if (m_open[i])
            return;
        m_open[i] = true;
        m_items[i].expanded = true;
        for (std::size_t c = m_firstChild[i]; c != kNone; c = m_nextSibling[c])
            show(c);
    }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    void show(std::size_t i)
    {
        for (std::size_t k = i + 1; k < m_tree.size(); k += k & (~k + 1))
            ++m_tree[k];
        ++m_shown;
    }
    // The item on the line-th shown line, 1 <= line <= m_shown.
    std::size_t lineAt(std::uint64_t line) const
    {
        std::size_t at = 0;
        std::size_t step = 1;
        while (step * 2 < m_tree.size())
            step *= 2;
        for (; step > 0; step /= 2) {
            if (at + step < m_tree.size() && m_tree[at + step] < line) {
                at += step;
                line -= m_tree[at];
            }
        }
        return at; // the (at + 1)-th slot, item at
    }

    std::vector<Item> &m_items;
    std::vector<std::uint64_t> m_tree;
    std::vector<bool> m_open;
    std::vector<std::size_t> m_firstChild, m_nextSibling;
    std::uint64_t m_shown = 0;
};

std::string where(const QXmlStreamReader &xml)
{
    return "line " + std::to_string(xml.lineNumber()) + ", column " + std::to_string(xml.columnNumber());
}

bool fail(const QXmlStreamReader &xml, std::string *error, const std::string &what)
{
    if (error)
        *error = where(xml) + ": " + what;
    return false;
}

std::string utf8(QStringView s)
{
    return s.toString().toStdString();
}

// The encoding the XML declaration names, empty without one. The declaration
// opens the file; given all of it, the probe would decode it all.
QString declaredEncoding(const QByteArray &bytes)
{
    QXmlStreamReader probe(bytes.first(std::min<qsizetype>(bytes.size(), 1024)));
    probe.readNext();
    return probe.tokenType() == QXmlStreamReader::StartDocument ? probe.documentEncoding().toString() : QString();
}

class Reader {
public:
    // Through a device, which the reader takes a little at a time: given the
    // bytes at once it would decode all of them into one string first.
    Reader(const QByteArray &bytes, ReadReport &report) : m_report(report)
    {
        m_buffer.setData(bytes);
        m_buffer.open(QIODevice::ReadOnly);
        m_xml.setDevice(&m_buffer);
    }

    std::optional<std::vector<Item>> read(std::string *error)
    {
        if (!readAll(error))
            return std::nullopt;
        Expansion expansion(m_items);
        // A list that holds a 0 counts its lines from 0.
        const bool fromZero = std::find(m_expansionState.begin(), m_expansionState.end(), 0) != m_expansionState.end();
        for (const std::uint64_t line : m_expansionState)
            expansion.open(fromZero && line < UINT64_MAX ? line + 1 : line);
        for (std::size_t i = 0; i < m_items.size(); ++i)
            m_items[i].expanded = m_items[i].expanded || m_expandedHere[i];
        return std::move(m_items);
    }

private:
    bool readAll(std::string *error)
    {
        std::size_t depth = 0; // of elements open
        bool inHead = false, inBody = false, sawOpml = false, sawBody = false;
        while (!m_xml.atEnd()) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::DTD:
                for (const auto &entity : m_xml.entityDeclarations()) {
                    if (!entity.systemId().isEmpty() || !entity.publicId().isEmpty())
                        return fail(m_xml, error, "the external entity " + utf8(entity.name()) + " is not read");
                }
                break;
            case QXmlStreamReader::StartElement:
                ++depth;
                if (depth == 1) {
                    if (m_xml.name() != kOpml)
                        return fail(m_xml, error, "the document is <" + utf8(m_xml.qualifiedName()) + ">, not <opml>");
                    // Plain OPML has no namespace; a file that gives it one
                    // uses it for all of its elements.
                    m_opmlNamespace = m_xml.namespaceUri().toString();
                    sawOpml = true;
                } else if (depth == 2 && isOpml() && m_xml.name() == kHead) {
                    inHead = true;
                } else if (depth == 2 && isOpml() && m_xml.name() == kBody) {
                    if (sawBody)
                        return fail(m_xml, error, "a second body");
                    inBody = sawBody = true;
                } else if (inHead && depth == 3 && isOpml() && m_xml.name() == kExpansionState) {
                    if (!readExpansionState(error))
                        return false;
                    --depth;
                } else if (inBody) {
                    if (!isOpml()) { // another program's own element
                        m_xml.skipCurrentElement();
                        --depth;
                    } else if (!readOutline(depth - 3, error)) {
                        return false;
                    }
                } else {
                    m_xml.skipCurrentElement(); // head fields and anything else we do not use
                    --depth;
                }
                break;
            case QXmlStreamReader::EndElement:
                if (depth == 2)
                    inHead = inBody = false;
                if (depth == 1 && !sawBody)
                    return fail(m_xml, error, "the opml element has no body");
                --depth;
                break;
            case QXmlStreamReader::Characters:
                if (inBody && !m_xml.isWhitespace())
                    return fail(m_xml, error, "text inside the body; an outline holds its text in its text attribute");
                break;
            case QXmlStreamReader::EntityReference:
                return fail(m_xml, error, "the entity " + utf8(m_xml.name()) + " cannot be read");
            default:
                break;
            }
        }
        if (m_xml.hasError())
            return fail(m_xml, error, utf8(m_xml.errorString()));
        if (!sawOpml || !sawBody) // Qt calls a document without elements not well-formed; in case it does not
            return fail(m_xml, error, "no opml element with a body");
        return true;
    }

    bool isOpml() const { return m_xml.namespaceUri() == m_opmlNamespace; }

    bool readOutline(std::size_t level, std::string *error)
    {
        if (m_xml.name() != kOutline)
            return fail(m_xml, error, "<" + utf8(m_xml.qualifiedName()) + "> in the body; only outline elements belong there");
        std::optional<QString> text;
        std::array<std::optional<QString>, kNames.size()> names;
        QString note;
        bool expanded = false;
        for (const QXmlStreamAttribute &attribute : m_xml.attributes()) {
            if (attribute.namespaceUri().isEmpty()) {
                const auto name = attribute.name();
                if (name == kText)
                    text = attribute.value().toString();
                else if (name == kNote)
                    note = attribute.value().toString();
                for (std::size_t i = 0; i < kNames.size(); ++i) {
                    if (name == kNames[i])
                        names[i] = attribute.value().toString();
                }
            } else if (attribute.namespaceUri() == kOwnNamespace && attribute.name() == kExpanded) {
                if (attribute.value() != kTrue && attribute.value() != kFalse)
                    return fail(m_xml, error, "bk:expanded is \"" + utf8(attribute.value()) + "\"; true or false");
                expanded = attribute.value() == kTrue;
            }
        }
        // An empty text is an item's own only when nothing else names it.
        if (!text || text->isEmpty()) {
            const auto named =
                std::find_if(names.begin(), names.end(), [](const auto &n) { return n && !n->isEmpty(); });
            const bool anyName = std::any_of(names.begin(), names.end(), [](const auto &n) { return n.has_value(); });
            if (!text && !anyName)
                return fail(m_xml, error, "an outline without a text, title or URL");
            if (named != names.end()) {
                text = **named;
                ++m_report.named;
            } else {
                text.emplace();
            }
        }
        if (!note.isEmpty()) {
            *text += QLatin1Char('\n') + note;
            ++m_report.notesKept;
        }
        m_items.push_back({static_cast<std::uint32_t>(level), false, text->toStdString(), 0});
        m_expandedHere.push_back(expanded);
        return true;
    }

    bool readExpansionState(std::string *error)
    {
        const std::string at = where(m_xml);
        const QString list = m_xml.readElementText();
        if (m_xml.hasError())
            return fail(m_xml, error, utf8(m_xml.errorString()));
        for (const QString &entry : list.split(QLatin1Char(','))) {
            const std::string number = entry.trimmed().toStdString();
            if (number.empty())
                continue;
            std::uint64_t line = 0;
            const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), line);
            if (end != number.data() + number.size() || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
                if (error)
                    *error = at + ": expansionState holds \"" + number + "\", which is no line number";
                return false;
            }
            if (ec == std::errc())
                m_expansionState.push_back(line); // far past the end: opens nothing
        }
        return true;
    }

    ReadReport &m_report;
    QBuffer m_buffer;
    QXmlStreamReader m_xml;
    QString m_opmlNamespace;
    std::vector<Item> m_items;
    std::vector<bool> m_expandedHere; // bk:expanded
    std::vector<std::uint64_t> m_expansionState;
};

} // namespace

bool writeOpml(std::span<const Item> items, QIODevice &out, std::vector<std::string> *problems)
{
    Writer w(out);
    QXmlStreamWriter &xml = w.xml();
    xml.writeStartDocument();
    w.newLine(0);
    xml.writeStartElement(kOpml);
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    xml.writeNamespace(kOwnNamespace, QStringLiteral("bk"));

    // The lines shown, and which of them are open; an item under a closed one
    // is hidden, whatever its own state.
    QString expansionState;
    std::vector<bool> hiddenOpen(items.size(), false);
    std::uint64_t line = 0;
    std::uint32_t hiddenBelow = UINT32_MAX; // items deeper than this are hidden
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item &item = items[i];
        if (item.level > hiddenBelow) {
            hiddenOpen[i] = item.expanded;
            continue;
        }
        ++line;
        hiddenBelow = item.expanded ? UINT32_MAX : item.level;
        if (item.expanded) {
            if (!expansionState.isEmpty())
                expansionState += QLatin1Char(',');
            expansionState += QString::number(line);
        }
    }
    w.newLine(1);
    if (expansionState.isEmpty()) {
        xml.writeEmptyElement(kHead);
    } else {
        xml.writeStartElement(kHead);
        w.newLine(2);
        xml.writeTextElement(kExpansionState, expansionState);
        w.newLine(1);
        xml.writeEndElement();
    }

    w.newLine(1);
    if (items.empty())
        xml.writeEmptyElement(kBody);
    else
        xml.writeStartElement(kBody);
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item &item = items[i];
        const std::uint32_t nextLevel = i + 1 < items.size() ? items[i + 1].level : 0;
        w.newLine(2 + item.level);
        if (nextLevel > item.level)
            xml.writeStartElement(kOutline);
        else
            xml.writeEmptyElement(kOutline);
        text = item.text;
        if (replaceNonXml(text) && problems) {
            problems->push_back("item " + std::to_string(item.key)
                                + ": its text holds characters XML cannot carry; each is written as U+FFFD");
        }
        xml.writeAttribute(kText, QString::fromStdString(text));
        if (hiddenOpen[i])
            xml.writeAttribute(kOwnNamespace, kExpanded, kTrue);
        // Close what ends here: every open item deeper than the next one.
        for (std::uint32_t level = item.level; level > nextLevel; --level) {
            w.newLine(2 + level - 1);
            xml.writeEndElement();
        }
    }
    if (!items.empty()) {
        w.newLine(1);
        xml.writeEndElement(); // body
    }
    w.newLine(0);
    xml.writeEndElement(); // opml
    xml.writeEndDocument(); // and the file's last line break
    return !xml.hasError();
}

std::optional<std::vector<Item>> readOpml(std::string_view bytes, std::string *error, ReadReport &report)
{
    const QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // Qt's own message for bad UTF-8 names no useful place; ours does.
    const QString encoding = declaredEncoding(data);
    if ((encoding.isEmpty() || encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0)
        && !data.startsWith("\xFE\xFF") && !data.startsWith("\xFF\xFE") && !checkUtf8(bytes, error))
        return std::nullopt;
    return Reader(data, report).read(error);
}

} // namespace outline::detail
