// Export and import of outlines: round trips in every format over trees of
// every shape, bad input refused whole, another outliner's OPML, a broken
// store, deep and hostile files, and the sample against files checked in.

#include "store/branches.h"
#include "store/check.h"
#include "store/connection.h"
#include "store/tree_cursor.h"
#include "tests/support/test_store.h"
#include "tools/outline.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>
#include <utility>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using outline::Format;
using testing_support::TestStore;
using TreeItem = testing_support::Item;
using Lines = std::vector<std::string>;

const fs::path kData = fs::path(__FILE__).parent_path() / "data" / "outline";

const char *extensionOf(Format format)
{
    return format == Format::Opml ? ".opml" : format == Format::Markdown ? ".md" : ".txt";
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

Lines filesIn(const QTemporaryDir &dir)
{
    Lines names;
    for (const QString &name : QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        names.push_back(name.toStdString());
    return names;
}

// The tree as the window would show it, one line per item: depth, text with
// "~" and Null read as empty, and the expanded state when wanted.
Lines shown(const std::string &path, bool withStates)
{
    const std::string &error = store::lastError();
    const auto tree = store::readTree(path);
    EXPECT_TRUE(tree) << error;
    Lines lines;
    for (const auto &item : tree ? tree->items : std::vector<store::TreeItem>{}) {
        if (item.depth == 0)
            continue;
        const std::string text = item.text.value_or("") == "~" ? "" : item.text.value_or("");
        lines.push_back(std::to_string(item.depth) + (withStates && item.expanded ? " + " : " - ") + text);
    }
    return lines;
}

int runTool(const QStringList &arguments, std::string *err = nullptr)
{
    QProcess tool;
    tool.start(QStringLiteral(BRANCHKEEPER_STORE_TOOL), arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit)
        return -1;
    if (err)
        *err = tool.readAllStandardError().toStdString();
    return tool.exitCode();
}

QString q(const fs::path &path)
{
    return QString::fromStdString(path.string());
}

// ---------------------------------------------------------------- round trips

enum class Shape { Broad, Deep, Mixed };

// Texts that each format must carry: markup at the start of a line and
// inside it, line breaks and tabs at every place, backslashes, entities,
// non-ASCII, and the three ways of having no text.
std::optional<std::string> randomText(std::mt19937 &random)
{
    static const char *const kPieces[] = {
        "plain words", " ", "  ", "\t", "\n", "\r", "\r\n", "\\", "\\\n", "*", "_x_", "`code`", "# ", ">", "- ",
        "+ ", "=", "---", "1. ", "2)", "[x]", "<b>", "&amp;", "&#32;", "&", "~", "|", "!", "é", "中文", "😀",
    };
    switch (random() % 12) {
    case 0:
        return std::nullopt;
    case 1:
        return std::string();
    case 2:
        return std::string("~");
    default:
        break;
    }
    std::string text;
    for (unsigned n = random() % 5 + 1; n > 0; --n)
        text += kPieces[random() % std::size(kPieces)];
    return text;
}

std::vector<TreeItem> randomTree(Shape shape, unsigned seed, int count)
{
    std::mt19937 random(seed);
    std::vector<TreeItem> items{{1, 0}};
    std::vector<std::int32_t> parentOf{0, 0}; // by key
    for (std::int32_t key = 2; key < count + 2; ++key) {
        std::int32_t parent = 1;
        const std::int32_t before = key - 1;
        switch (shape) {
        case Shape::Broad: // a few levels, many siblings
            parent = static_cast<std::int32_t>(random() % std::min(before, 12)) + 1;
            break;
        case Shape::Deep: // mostly down one level, now and then a sibling
            parent = random() % 8 == 0 ? std::max(parentOf[before], 1) : before;
            break;
        case Shape::Mixed:
            parent = static_cast<std::int32_t>(random() % before) + 1;
            break;
        }
        parentOf.push_back(parent);
        items.push_back({key, parent, random() % 2 == 0, randomText(random)});
    }
    return items;
}

struct RoundTrip {
    Format format;
    Shape shape;
    unsigned seed;
    bool statesSurvive;
    friend void PrintTo(const RoundTrip &r, std::ostream *os)
    {
        *os << extensionOf(r.format) << " shape " << static_cast<int>(r.shape) << " seed " << r.seed;
    }
};

class OutlineRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(OutlineRoundTrip, ExportImportExportGivesTheSameFileAndTheSameTree)
{
    const RoundTrip &c = GetParam();
    TestStore original, imported;
    original.create(randomTree(c.shape, c.seed, 400));
    const fs::path first = fs::path(original.directory()) / (std::string("first") + extensionOf(c.format));
    const fs::path second = fs::path(imported.directory()) / (std::string("second") + extensionOf(c.format));

    std::vector<std::string> problems;
    std::string error;
    ASSERT_TRUE(outline::exportStore(original.path(), first.string(), c.format, false, &problems, &error)) << error;
    EXPECT_EQ(problems, Lines{});
    ASSERT_TRUE(outline::importFile(first.string(), imported.path(), c.format, false, {}, &error)) << error;
    ASSERT_TRUE(outline::exportStore(imported.path(), second.string(), c.format, false, &problems, &error)) << error;
    EXPECT_EQ(readFile(second), readFile(first));

    EXPECT_EQ(shown(imported.path(), c.statesSurvive), shown(original.path(), c.statesSurvive));
    if (!c.statesSurvive) {
        EXPECT_EQ(imported.count("SELECT count(*) FROM TbTree WHERE Expand <> 0 AND KeyInd > 1"), 0);
    }
    EXPECT_EQ(imported.field(1, "Expand"), "1"); // the root opens on the top level
    // Linked as the program links, keyed in display order, nothing selected,
    // no text left empty.
    const auto check = store::checkLinks(imported.path());
    ASSERT_TRUE(check) << store::lastError();
    EXPECT_EQ(check->problems, Lines{});
    for (std::size_t i = 0; i < check->reachable.size(); ++i)
        EXPECT_EQ(check->reachable[i], static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(imported.count("SELECT count(*) FROM TbTree"), 402);
    EXPECT_EQ(imported.count("SELECT count(*) FROM TbTree WHERE KeySel <> 0"), 0);
    EXPECT_EQ(imported.count("SELECT count(*) FROM TbTree WHERE KeyInd > 1 AND (KeyTxt IS NULL OR KeyTxt = '')"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormatAndShape, OutlineRoundTrip,
    ::testing::Values(RoundTrip{Format::Opml, Shape::Broad, 1, true}, RoundTrip{Format::Opml, Shape::Deep, 2, true},
                      RoundTrip{Format::Opml, Shape::Mixed, 3, true}, RoundTrip{Format::Markdown, Shape::Broad, 4, true},
                      RoundTrip{Format::Markdown, Shape::Deep, 5, true},
                      RoundTrip{Format::Markdown, Shape::Mixed, 6, true},
                      RoundTrip{Format::Text, Shape::Broad, 7, false}, RoundTrip{Format::Text, Shape::Deep, 8, false},
                      RoundTrip{Format::Text, Shape::Mixed, 9, false}));

// Markdown as CommonMark reads it: these are the texts it gives back, not
// only the importer (checked with the reference implementation).
struct MarkdownCase {
    const char *name;
    std::vector<outline::Item> items;
    std::string markdown;
    friend void PrintTo(const MarkdownCase &c, std::ostream *os) { *os << c.name; }
};

class OutlineMarkdown : public ::testing::TestWithParam<MarkdownCase> {};

TEST_P(OutlineMarkdown, IsWrittenSoThatCommonMarkReadsTheSameText)
{
    const MarkdownCase &c = GetParam();
    std::string error;
    EXPECT_EQ(outline::write(Format::Markdown, c.items, nullptr, &error), c.markdown) << error;
    const auto back = outline::read(Format::Markdown, c.markdown, &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->size(), c.items.size());
    for (std::size_t i = 0; i < back->size(); ++i)
        EXPECT_EQ((*back)[i].text, c.items[i].text);
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, OutlineMarkdown,
    ::testing::Values(
        // Right below its parent's text, an empty item would underline it as a heading.
        MarkdownCase{"EmptyFirstChild", {{0, false, "a"}, {1, true, ""}, {2, false, ""}}, "- a\n\n  +\n    -\n"},
        // A list item holds no empty line: such a break stays a character.
        MarkdownCase{"LineBreaks", {{0, false, "a\n\nb\n"}, {1, false, "c"}}, "- a&#10;\\\n  b&#10;\n  - c\n"},
        MarkdownCase{"SpacesAtTheEnds", {{0, false, "  x\t "}}, "- &#32;&#32;x&#9;&#32;\n"},
        MarkdownCase{"BlocksAtLineStarts",
                     {{0, false, "# h\n- d\n10) n\n=\n> q"}},
                     "- \\# h\\\n  \\- d\\\n  10\\) n\\\n  \\=\\\n  \\> q\n"},
        MarkdownCase{"Backslashes", {{0, true, "x\\"}, {0, false, "\\\ny"}}, "+ x\\\\\n- \\\\\\\n  y\n"},
        MarkdownCase{"InlineMarkup",
                     {{0, false, "&amp; & *a* _b_ `c` [d] <e> ~f~ g|h !i 1.5"}},
                     "- \\&amp; & \\*a\\* \\_b\\_ \\`c\\` \\[d\\] \\<e> \\~f\\~ g\\|h !i 1.5\n"},
        MarkdownCase{"CarriageReturn", {{0, false, "a\r\nb"}}, "- a&#13;\\\n  b\n"}));

// ---------------------------------------------------------------- bad input

std::string laughs()
{
    std::string doc = "<?xml version=\"1.0\"?>\n<!DOCTYPE opml [\n<!ENTITY lol \"lol\">\n";
    std::string previous = "lol";
    for (int i = 1; i <= 9; ++i) {
        const std::string name = "lol" + std::to_string(i);
        doc += "<!ENTITY " + name + " \"";
        for (int k = 0; k < 10; ++k)
            doc += "&" + previous + ";";
        doc += "\">\n";
        previous = name;
    }
    return doc + "]>\n<opml><body><outline text=\"&lol9;\"/></body></opml>\n";
}

struct BadInput {
    const char *name;
    Format format;
    std::string bytes;
    std::string message;
    friend void PrintTo(const BadInput &b, std::ostream *os) { *os << b.name; }
};

class OutlineBadInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(OutlineBadInput, IsRefusedWithItsLineAndCreatesNothing)
{
    const BadInput &c = GetParam();
    QTemporaryDir dir;
    const fs::path in = fs::path(dir.path().toStdString()) / (std::string("in") + extensionOf(c.format));
    writeFile(in, c.bytes);
    std::string error;
    EXPECT_FALSE(outline::importFile(in.string(), (in.parent_path() / "new.mdb").string(), c.format, false, {}, &error));
    EXPECT_EQ(error, c.message);
    EXPECT_EQ(filesIn(dir), Lines{in.filename().string()});
}

INSTANTIATE_TEST_SUITE_P(
    Refused, OutlineBadInput,
    ::testing::Values(
        BadInput{"XmlNotWellFormed", Format::Opml, "<opml>\n<body><outline text=\"a\"></body></opml>",
                 "line 2, column 31: Opening and ending tag mismatch."},
        BadInput{"OpmlWithoutBody", Format::Opml, "<opml version=\"2.0\">\n<head/>\n</opml>\n",
                 "line 3, column 7: the opml element has no body"},
        BadInput{"OutlineWithoutTextTitleOrUrl", Format::Opml, "<opml><body>\n  <outline _note=\"n\"/></body></opml>",
                 "line 2, column 22: an outline without a text, title or URL"},
        BadInput{"NoOpmlAtAll", Format::Opml, "<html><body/></html>", "line 1, column 6: the document is <html>, not <opml>"},
        BadInput{"OtherElementInBody", Format::Opml, "<opml><body><outline text=\"a\"><p/></outline></body></opml>",
                 "line 1, column 34: <p> in the body; only outline elements belong there"},
        BadInput{"TextInsideOutline", Format::Opml, "<opml><body><outline text=\"a\">note</outline></body></opml>",
                 "line 1, column 35: text inside the body; an outline holds its text in its text attribute"},
        BadInput{"ExpansionStateNoNumber", Format::Opml,
                 "<opml><head>\n<expansionState>1,two</expansionState></head><body/></opml>",
                 "line 2, column 16: expansionState holds \"two\", which is no line number"},
        BadInput{"BillionLaughs", Format::Opml, laughs(),
                 "line 14, column 33: Entity expands to more characters than the entity expansion limit."},
        BadInput{"ExternalEntity", Format::Opml,
                 "<!DOCTYPE opml [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>\n<opml><body/></opml>",
                 "line 1, column 57: the external entity e is not read"},
        BadInput{"OpmlNotUtf8", Format::Opml, "<opml><body>\n<outline text=\"caf\xE9\"/></body></opml>",
                 "line 2, column 19: not valid UTF-8"},
        BadInput{"MarkdownNotUtf8", Format::Markdown, "- a\n- \xC3\x28\n", "line 2, column 3: not valid UTF-8"},
        BadInput{"TextNotUtf8", Format::Text, "a\n\t\xED\xA0\x80\n", "line 2, column 2: not valid UTF-8"}));

// ---------------------------------------------------------------- reading other programs' files

TEST(OutlineImport, ReadsAnotherOutlinersOpmlWithItsExpansionState)
{
    TestStore ts;
    std::string error;
    ASSERT_TRUE(outline::importFile((kData / "another_outliner.opml").string(), ts.path(), Format::Opml, false, {},
                                    &error))
        << error;
    EXPECT_EQ(shown(ts.path(), true), (Lines{"1 + Holiday", "2 - Pack\nCheck the weather\nthe day before.",
                                             "3 - Sun cream", "3 - Boots & socks",
                                             "2 - Book the <b>train</b>", "2 - ", "1 - Café list",
                                             "2 - Naïve café,\true d’Oran", "1 + Reading", "2 + Poems",
                                             "3 - Szymborska", "3 - Rilke", "2 - Essays"}));
}

// Tree: A (A1 (A1a), A2), B (B1). Each number opens the line shown at that
// moment, counted from 1; a number past the lines shown opens nothing.
class OutlineExpansionState : public ::testing::TestWithParam<std::pair<const char *, Lines>> {};

TEST_P(OutlineExpansionState, OpensEachListedLineInTurn)
{
    const std::string doc = std::string("<opml version=\"2.0\"><head><expansionState>") + GetParam().first
        + "</expansionState></head><body><outline text=\"A\"><outline text=\"A1\"><outline text=\"A1a\"/></outline>"
          "<outline text=\"A2\"/></outline><outline text=\"B\"><outline text=\"B1\"/></outline></body></opml>";
    std::string error;
    const auto items = outline::read(Format::Opml, doc, &error);
    ASSERT_TRUE(items) << error;
    Lines open;
    for (const auto &item : *items) {
        if (item.expanded)
            open.push_back(item.text);
    }
    EXPECT_EQ(open, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(LineNumbers, OutlineExpansionState,
                         ::testing::Values(std::pair{"", Lines{}}, std::pair{"1", Lines{"A"}},
                                           std::pair{"2", Lines{"B"}}, std::pair{"1,2", Lines{"A", "A1"}},
                                           std::pair{"2,1", Lines{"A", "B"}}, std::pair{"1,4,5", Lines{"A", "B", "B1"}},
                                           // A 0 means the list counts from 0.
                                           std::pair{"0, 3, 99999999999999999999", Lines{"A", "B"}}));

// ---------------------------------------------------------------- forgiving reads

// Items as "level +|- text"; the report as {skipped, named, notes, mended}.
using Report = std::array<std::size_t, 4>;

std::pair<Lines, Report> readAll(Format format, const std::string &bytes)
{
    std::string error;
    outline::ReadReport r;
    const auto items = outline::read(format, bytes, &error, &r);
    EXPECT_TRUE(items) << error;
    Lines lines;
    for (const auto &item : items.value_or(std::vector<outline::Item>{}))
        lines.push_back(std::to_string(item.level) + (item.expanded ? " + " : " - ") + item.text);
    return {lines, {r.linesSkipped, r.named, r.notesKept, r.levelsMended}};
}

struct Forgiven {
    const char *name;
    Format format;
    std::string bytes;
    Lines items;
    Report report;
    friend void PrintTo(const Forgiven &f, std::ostream *os) { *os << f.name; }
};

class OutlineForgiving : public ::testing::TestWithParam<Forgiven> {};

TEST_P(OutlineForgiving, ReadsWhatItCanAndReportsTheRest)
{
    EXPECT_EQ(readAll(GetParam().format, GetParam().bytes), std::pair(GetParam().items, GetParam().report));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutlineForgiving,
    ::testing::Values(
        Forgiven{"MdPastContentColumn", Format::Markdown, "- a\n  - b\n      - c\n", {"0 - a", "1 - b", "2 - c"}, {}},
        Forgiven{"MdStartsIndented", Format::Markdown, "\n  - a\n", {"0 - a"}, {}},
        Forgiven{"MdThreeSpacesAndATab", Format::Markdown, "- a\n   - b\n\t- c\n", {"0 - a", "1 - b", "1 - c"}, {}},
        Forgiven{"MdParagraphsSkipped", Format::Markdown, "Intro\nmore\n\n- a\n\nA paragraph.\n", {"0 - a"}, {3}},
        Forgiven{"MdHeadingsHoldWhatFollows", Format::Markdown, "# A\n- x\n## B ##\n- y\n# C\n",
                 {"0 - A", "1 - x", "1 - B", "2 - y", "0 - C"}, {}},
        Forgiven{"MdHeadingLevelsNeverSkip", Format::Markdown, "### Deep\n* a\n# Top\nSetext\n---\n1. b\n",
                 {"0 - Deep", "1 - a", "0 - Top", "1 - Setext", "2 - b"}, {}},
        Forgiven{"MdSourceTextKept", Format::Markdown, "1. **b** [a](u)\n    1) [ ] task \\*\n+ open &amp; `c`\n",
                 {"0 - **b** [a](u)", "1 - [ ] task *", "0 + open & `c`"}, {}},
        Forgiven{"MdLazyAndBreaks", Format::Markdown, "- a\\\n  b\nlazy\n- c\\\n", {"0 - a\nb\nlazy", "0 - c\\"}, {}},
        Forgiven{"MdCodeQuoteInItem", Format::Markdown, "- a\n\n      code\n  > quote\n- b\n", {"0 - a", "0 - b"}, {2}},
        Forgiven{"MdFrontMatterRuleHtml", Format::Markdown, "---\ntitle: x\n---\n- a\n\n***\n<!-- c -->\n> q\n",
                 {"0 - a"}, {6}},
        Forgiven{"MdCarriageReturns", Format::Markdown, "- a\r- b\r\n  - c\r\n", {"0 - a", "0 - b", "1 - c"}, {}},
        Forgiven{"MdNulReplaced", Format::Markdown, std::string("- a\0b\n", 6), {"0 - a\uFFFDb"}, {}},
        Forgiven{"OpmlNamedByTitleThenUrls", Format::Opml,
                 "<opml><body><outline title=\"T\" xmlUrl=\"x\"/><outline xmlUrl=\"x\" htmlUrl=\"h\"/><outline "
                 "htmlUrl=\"h\"/><outline url=\"u\" text=\"\"/><outline text=\"\" title=\"\"/></body></opml>",
                 {"0 - T", "0 - x", "0 - h", "0 - u", "0 - "}, {0, 4}},
        Forgiven{"OpmlNotesKept", Format::Opml,
                 "<opml><body><outline text=\"a\" _note=\"n&#10;m\"/><outline text=\"b\" _note=\"\"/></body></opml>",
                 {"0 - a\nn\nm", "0 - b"}, {0, 0, 1}},
        Forgiven{"TxtTabsSkipALevel", Format::Text, "a\n\tb\n\t\t\tc\n\t\t\td\n\te\n",
                 {"0 - a", "1 - b", "2 - c", "2 - d", "1 - e"}, {0, 0, 0, 1}},
        Forgiven{"TxtStartsIndented", Format::Text, "\ta\nb\n", {"0 - a", "0 - b"}, {0, 0, 0, 1}},
        Forgiven{"TxtSpacesAfterTabsAreText", Format::Text, "  a\n\t  b\n", {"0 -   a", "1 -   b"}, {}},
        Forgiven{"TxtTwoSpaces", Format::Text, "a\n  b\n    c\n  d\n", {"0 - a", "1 - b", "2 - c", "1 - d"}, {}},
        Forgiven{"TxtThreeSpaces", Format::Text, "a\n   b\n      c\nd\n", {"0 - a", "1 - b", "2 - c", "0 - d"}, {}},
        Forgiven{"TxtFourThenTwo", Format::Text, "a\n    b\n  c\n    d\n", {"0 - a", "1 - b", "1 - c", "2 - d"}, {}},
        Forgiven{"TxtBlankLinesAreNoItems", Format::Text, "a\n\n \t\nb\n", {"0 - a", "0 - b"}, {}},
        Forgiven{"TxtFlatWithEscapes", Format::Text, "x\\ty\nC:\\dir\\\\n\n\\  two\n",
                 {"0 - x\ty", "0 - C:\\dir\\n", "0 -   two"}, {}}));

// Files from public repositories (data/outline/SOURCES.md): how many items,
// some of them at their levels, and the report.
TEST(OutlineImport, ReadsRealFilesOfEveryShape)
{
    const std::tuple<const char *, Format, std::size_t, Lines, Report> files[] = {
        {"obsidian_lists.md", Format::Markdown, 19,
         {"0 - Lists", "1 - Ordered lists", "2 - Item 2", "3 - Nested item 1", "1 - Checkboxes/Tasks",
          "2 - [ ] Second task", "3 - [ ] Sub-task 2"}, {15}},
        {"bullets_numbering.md", Format::Markdown, 13,
         {"0 - Bullets", "1 - Sentence 2.", "2 - Nested sentence 2.", "3 + Double nested sentence.", "0 - Numbering",
          "1 - Four"}, {23}},
        {"beyondpod_feeds.opml", Format::Opml, 12,
         {"0 - Uncategorized", "1 - UIE Brain Sparks \u00BB Podcasts", "1 - Beats, Rye & Types",
          "1 - - The Naked Scientists Podcast - Stripping Down Science", "0 - Security", "1 - Security Now (MP3)"}, {}},
    };
    for (const auto &[name, format, count, some, report] : files) {
        SCOPED_TRACE(name);
        const auto [all, got] = readAll(format, readFile(kData / name));
        EXPECT_EQ(all.size(), count);
        for (const std::string &line : some)
            EXPECT_NE(std::find(all.begin(), all.end(), line), all.end()) << line;
        EXPECT_EQ(got, report);
    }
}

// ---------------------------------------------------------------- what export writes

TEST(OutlineExport, SampleMatchesTheFilesCheckedInAndTheyReadBackTheSame)
{
    TestStore ts, again;
    ASSERT_EQ(runTool({"sample", QString::fromStdString(ts.path())}), 0);
    for (const Format format : {Format::Opml, Format::Markdown, Format::Text}) {
        const fs::path expected = kData / (std::string("sample") + extensionOf(format));
        const fs::path out = fs::path(ts.directory()) / expected.filename();
        SCOPED_TRACE(expected.string());
        ASSERT_EQ(runTool({"export", QString::fromStdString(ts.path()), q(out)}), 0);
        EXPECT_EQ(readFile(out), readFile(expected));
        // Back in through the tool, and out again.
        fs::remove(again.path());
        ASSERT_EQ(runTool({"import", q(expected), QString::fromStdString(again.path())}), 0);
        ASSERT_EQ(runTool({"export", QString::fromStdString(again.path()), q(out), "--force"}), 0);
        EXPECT_EQ(readFile(out), readFile(expected));
    }
}

TEST(OutlineExport, BrokenStoreGivesWhatTheWalkReachesAndSaysWhatItSkipped)
{
    TestStore ts;
    ASSERT_EQ(runTool({"sample", QString::fromStdString(ts.path())}), 0);
    // Choose tiles (4) leads nowhere after it, so Plumbing (7) is lost; The Art
    // of Computer Programming (14) gets Reading list (13) as a child: a loop.
    ts.exec("UPDATE TbTree SET KeyNxt = 99 WHERE KeyInd = 4; UPDATE TbTree SET KeyChi = 13 WHERE KeyInd = 14");
    const fs::path out = fs::path(ts.directory()) / "broken.md";
    std::string err;
    EXPECT_EQ(runTool({"export", QString::fromStdString(ts.path()), q(out)}, &err), 1);
    EXPECT_EQ(err, "branchkeeper-store: item 4: KeyNxt 99 names no record, not followed\n"
                   "branchkeeper-store: item 14: KeyChi 13 leads to an item already reached, not followed\n");
    EXPECT_EQ(readFile(out), "+ Kitchen renovation\n  + Measure the walls\n  - Choose tiles\n    - Visit the showroom\n"
                             "    - Order samples\n- Garden\n  - Prune the apple tree\n  - Mend the fence\n"
                             "+ Reading list\n  - The Art of Computer Programming\n"
                             "  - Structure and Interpretation of Computer Programs\n  - A Pattern Language\n");
}

TEST(OutlineExport, TextsAFormatCannotHoldAreMendedAndSaid)
{
    TestStore ts;
    ts.create({{1, 0}, {2, 1, false, "ok"}, {3, 1, false, std::string("bell\x07")}, {4, 1}});
    ts.exec("UPDATE TbTree SET KeyTxt = CAST(X'6361666592' AS TEXT) WHERE KeyInd = 4");
    const std::string utf8Line = "item 4: its text is not valid UTF-8; each bad byte is written as U+FFFD";
    std::vector<std::string> problems;
    std::string error;
    const fs::path opml = fs::path(ts.directory()) / "out.opml";
    ASSERT_TRUE(outline::exportStore(ts.path(), opml.string(), Format::Opml, false, &problems, &error)) << error;
    EXPECT_EQ(problems, (Lines{utf8Line, "item 3: its text holds characters XML cannot carry; each is written as U+FFFD"}));
    EXPECT_NE(readFile(opml).find("text=\"bell\xEF\xBF\xBD\""), std::string::npos);
    EXPECT_NE(readFile(opml).find("text=\"cafe\xEF\xBF\xBD\""), std::string::npos);
    // Plain text holds the bell as it is.
    const fs::path text = fs::path(ts.directory()) / "out.txt";
    ASSERT_TRUE(outline::exportStore(ts.path(), text.string(), Format::Text, false, &problems, &error)) << error;
    EXPECT_EQ(problems, Lines{utf8Line});
    EXPECT_EQ(readFile(text), "ok\nbell\x07\ncafe\xEF\xBF\xBD\n");
}

// ---------------------------------------------------------------- depth and size

TEST(OutlineDeep, HundredThousandLevelsGoInAndOutAsOpmlOfLinearSize)
{
    constexpr int kLevels = 100000;
    std::string doc = "<opml version=\"2.0\"><body>";
    for (int i = 0; i < kLevels; ++i)
        doc += "<outline text=\"" + std::to_string(i) + "\">";
    for (int i = 0; i < kLevels; ++i)
        doc += "</outline>";
    doc += "</body></opml>";
    TestStore ts;
    const fs::path in = fs::path(ts.directory()) / "deep.opml";
    writeFile(in, doc);
    std::string error;
    ASSERT_TRUE(outline::importFile(in.string(), ts.path(), Format::Opml, false, {}, &error)) << error;
    EXPECT_EQ(ts.field(kLevels + 1, "KeyPar"), std::to_string(kLevels));

    const fs::path out = fs::path(ts.directory()) / "out.opml";
    std::vector<std::string> problems;
    ASSERT_TRUE(outline::exportStore(ts.path(), out.string(), Format::Opml, false, &problems, &error)) << error;
    EXPECT_LT(fs::file_size(out), 300u * kLevels); // indentation stops growing

    // As a list the indentation alone would run to gigabytes: refused, a file there kept whole.
    for (const Format format : {Format::Markdown, Format::Text}) {
        const fs::path list = fs::path(ts.directory()) / (std::string("deep") + extensionOf(format));
        EXPECT_FALSE(outline::exportStore(ts.path(), list.string(), format, false, &problems, &error));
        EXPECT_NE(error.find("100000 levels deep"), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(list));
        writeFile(list, "old");
        EXPECT_FALSE(outline::exportStore(ts.path(), list.string(), format, true, &problems, &error));
        EXPECT_EQ(readFile(list), "old");
    }
    EXPECT_EQ(QDir(ts.qDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"dbPro.mdb", "deep.md", "deep.opml", "deep.txt", "out.opml"}));
}

// ---------------------------------------------------------------- the tool's arguments and files

TEST(OutlineTool, ReplacesAStoreOnlyWithForceAndOnlyWithAWholeImport)
{
    TestStore ts;
    ASSERT_EQ(runTool({"sample", QString::fromStdString(ts.path())}), 0);
    const std::string sample = ts.bytes();
    const fs::path good = fs::path(ts.directory()) / "good.txt";
    const fs::path bad = fs::path(ts.directory()) / "bad.txt";
    writeFile(good, "one\n\ttwo\n");
    writeFile(bad, "one\n\t\xC3\n");
    const QString store = QString::fromStdString(ts.path());

    std::string err;
    EXPECT_EQ(runTool({"import", q(good), store}, &err), 1);
    EXPECT_NE(err.find("already there"), std::string::npos) << err;
    EXPECT_EQ(runTool({"import", q(bad), store, "--force"}, &err), 1);
    EXPECT_NE(err.find("line 2, column 2: not valid UTF-8"), std::string::npos) << err;
    EXPECT_EQ(ts.bytes(), sample);

    EXPECT_EQ(runTool({"import", "--force", q(good), store}, &err), 0);
    EXPECT_EQ(err, "branchkeeper-store: read 2 items\n");
    EXPECT_EQ(shown(ts.path(), true), (Lines{"1 - one", "2 - two"}));
    EXPECT_EQ(QDir(ts.qDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"bad.txt", "dbPro.mdb", "good.txt"}));
}

// What is at the path an export or an import writes to: an export replaces
// only a file that is no database, an import only a store.
enum class Occupant { Text, Store, OtherDatabase };

struct WriteOver {
    const char *command;
    Occupant occupant;
    bool force;
    int status;
    const char *said; // in the message; empty when the file is written
};

class OutlineWriteOver : public ::testing::TestWithParam<WriteOver> {};

TEST_P(OutlineWriteOver, ReplacesOnlyWhatItMayAndLeavesTheRestWhole)
{
    const WriteOver &c = GetParam();
    TestStore ts, other;
    ASSERT_EQ(runTool({"sample", q(ts.path())}), 0);
    const fs::path in = fs::path(ts.directory()) / "in.txt";
    const fs::path target = fs::path(ts.directory()) / "target";
    writeFile(in, "one\n");
    other.exec("CREATE TABLE t (x)");
    writeFile(target, c.occupant == Occupant::Text ? "keep me\n" : c.occupant == Occupant::Store ? ts.bytes() : other.bytes());
    const std::string before = readFile(target);
    const bool exporting = std::string_view(c.command) == "export";
    QStringList arguments{c.command, exporting ? q(ts.path()) : q(in), q(target), "--format", exporting ? "opml" : "txt"};
    if (c.force)
        arguments << "--force";
    std::string err;
    EXPECT_EQ(runTool(arguments, &err), c.status) << err;
    EXPECT_NE(err.find(c.said), std::string::npos) << err;
    EXPECT_EQ(readFile(target) == before, *c.said != '\0'); // refused: left whole; else written
    EXPECT_EQ(QDir(ts.qDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"dbPro.mdb", "in.txt", "target"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutlineWriteOver,
    ::testing::Values(WriteOver{"export", Occupant::Text, false, 2, "already there (--force replaces it)"},
                      WriteOver{"export", Occupant::Text, true, 0, ""},
                      WriteOver{"export", Occupant::Store, true, 2, "is an SQLite database"},
                      WriteOver{"export", Occupant::OtherDatabase, true, 2, "is an SQLite database"},
                      WriteOver{"import", Occupant::Text, true, 1, "is not a store"},
                      WriteOver{"import", Occupant::OtherDatabase, true, 1, "is no store"},
                      WriteOver{"import", Occupant::Store, true, 0, ""}));

// The program keeps its connection on the store; an import with --force
// writes into that same file, so the program reads the new tree and writes
// on in it, where a file put in its place would leave it on the old one.
TEST(OutlineTool, ImportIntoAStoreInUseReachesTheProgramsConnection)
{
    TestStore ts;
    ASSERT_EQ(runTool({"sample", q(ts.path())}), 0);
    const fs::path in = fs::path(ts.directory()) / "in.txt";
    writeFile(in, "one\n\ttwo\n");
    std::string error;
    const auto connection = store::Connection::open(ts.path());
    store::TreeCursor cursor;
    ASSERT_TRUE(connection && cursor.open(connection)) << store::lastError() << cursor.lastError();
    ASSERT_TRUE(cursor.positionOn(2));
    const auto version = connection->outsideVersion();
    ASSERT_EQ(runTool({"import", q(in), q(ts.path()), "--force"}, &error), 0) << error;
    EXPECT_NE(connection->outsideVersion(), version);
    ASSERT_TRUE(cursor.positionOn(2)) << cursor.lastError();
    EXPECT_EQ(cursor.text(store::Field::KeyTxt), "one");
    store::TransactionScope scope(connection.get(), store::TransactionScope::Kind::Write);
    EXPECT_TRUE(cursor.update(store::Field::KeyTxt, std::string("edited"))) << cursor.lastError();
    EXPECT_TRUE(scope.commit()) << connection->lastError();
    EXPECT_EQ(shown(ts.path(), false), (Lines{"1 - edited", "2 - two"}));
}

TEST(OutlineTool, RefusesUnknownFormatsAndWrongArgumentsWritingNothing)
{
    TestStore ts;
    ASSERT_EQ(runTool({"sample", QString::fromStdString(ts.path())}), 0);
    const QString store = QString::fromStdString(ts.path());
    const QString dir = ts.qDirectory();
    writeFile(fs::path(ts.directory()) / "in.md", "- a\n");
    const QStringList cases[] = {
        {"export", store, dir + "/out.doc"},
        {"export", store, dir + "/out.md", "--format", "doc"},
        {"export", store, dir + "/out.md", "--force", "--force"},
        {"export", store},
        {"export", dir + "/missing.mdb", dir + "/out.md"},
        {"export", store, store, "--format", "txt"},
        {"import", dir + "/in.md", dir + "/new.mdb", "--format"},
        {"import", dir + "/in.md", dir + "/new.doc", "--format", "rtf"},
        {"import", dir + "/in.md", dir + "/new.mdb", "--force", "--force"},
    };
    for (const QStringList &arguments : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_EQ(runTool(arguments), 2);
        EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  (QStringList{"dbPro.mdb", "in.md"}));
    }
    EXPECT_EQ(shown(ts.path(), false).size(), 15u);
}

} // namespace
