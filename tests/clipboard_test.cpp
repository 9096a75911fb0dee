// The clipboard on the tree and files dropped on it, through the real window:
// what a copy carries in each format, where a paste puts its items, a paste
// that is refused, and a cut that moves a branch.

#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/announcer.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "view/tree_state.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing_support::GuiTest;
using testing_support::Item;
using Lines = std::vector<std::string>;

namespace {

// Root 1: 2 (open: 5 (closed: 8 "eight\nlines"), 6, 10), 3 (closed: 7), 4.
const std::vector<Item> kTree = {{1, 0},           {2, 1, true, "two"},    {5, 2, false, "five"},
                                  {8, 5, false, "eight\nlines"}, {6, 2, false, "~"}, {10, 2, false, "ten"},
                                  {3, 1, false, "three"}, {7, 3, false, "seven"}, {4, 1, false, "four"}};

class ClipboardTest : public GuiTest {
protected:
    void SetUp() override { QApplication::clipboard()->clear(); }

    void highlight(std::int32_t item)
    {
        window->tree()->setFocus();
        window->tree()->highlight(node(modTree::ItemNode(item).toString()));
    }
    void keys(Qt::Key k, Qt::KeyboardModifiers m = Qt::ControlModifier) { QTest::keyClick(window->tree(), k, m); }
    void clipboardHolds(const char *type, const std::string &bytes)
    {
        auto *data = new QMimeData;
        data->setData(QString::fromLatin1(type), QByteArray::fromStdString(bytes));
        QApplication::clipboard()->setMimeData(data);
    }
    // Every item the root reaches, depth first: "depth text" ("+" when open).
    Lines tree()
    {
        Lines lines;
        for (const std::string &entry : testing_support::outline(store)) {
            const auto at = entry.find('@');
            const std::int32_t key = std::stoi(entry.substr(0, at));
            lines.push_back(entry.substr(at + 1) + (store.field(key, "Expand") == "1" ? " + " : " ") + text(key));
        }
        return lines;
    }
    std::string text(std::int32_t key)
    {
        const std::string quoted = store.field(key, "KeyTxt"); // as SQL's quote() writes it
        return quoted.size() >= 2 ? quoted.substr(1, quoted.size() - 2) : quoted;
    }
    std::int32_t marked()
    {
        return static_cast<std::int32_t>(store.count("SELECT coalesce(max(KeyInd), 0) FROM TbTree WHERE KeySel <> 0"));
    }
    void expectConsistent() { EXPECT_TRUE(testing_support::checkTree(store).ok()); }
};

const Lines kBefore = {"1 + two", "2 five", "3 eight\nlines", "2 ~", "2 ten", "1 three", "2 seven", "1 four"};

// A copy of item 5's branch carries it in all three formats, each read back
// as the same outline; pasting any one of them after item 4 gives the branch
// there again, marked and in the text box.
TEST_F(ClipboardTest, ACopyPastesBackFromEachFormat)
{
    for (const char *type : {"text/plain", "text/markdown", "text/x-opml"}) {
        SCOPED_TRACE(type);
        if (window)
            restart();
        startLogged(kTree);
        highlight(5);
        keys(Qt::Key_C);
        const QMimeData *copied = QApplication::clipboard()->mimeData();
        ASSERT_NE(copied, nullptr);
        EXPECT_TRUE(copied->hasFormat("text/plain") && copied->hasFormat("text/markdown")
                    && copied->hasFormat("text/x-opml"));
        EXPECT_EQ(tree(), kBefore) << "a copy writes nothing";
        clipboardHolds(type, copied->data(QString::fromLatin1(type)).toStdString());

        highlight(4);
        keys(Qt::Key_V);
        Lines expected = kBefore;
        expected.insert(expected.end(), {"1 five", "2 eight\nlines"});
        EXPECT_EQ(tree(), expected);
        expectConsistent();
        EXPECT_EQ(text(marked()), "five");
        EXPECT_EQ(window->textBox()->text(), "five");
    }
}

struct PasteCase {
    const char *name;
    const char *type;
    std::string bytes;
    std::int32_t on;
    Qt::KeyboardModifiers modifiers;
    const char *first; // the text of the item marked after it; nullptr: refused, nothing written
    Lines expected;
};

const std::string kList = "+ a\n  - b\n- c\n";
const auto kCtrl = Qt::ControlModifier;
const auto kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;
const PasteCase kPastes[] = {
    {"AfterAChild", "text/markdown", kList, 5, kCtrl, "a",
     {"1 + two", "2 five", "3 eight\nlines", "2 + a", "3 b", "2 c", "2 ~", "2 ten", "1 three", "2 seven", "1 four"}},
    {"AfterATopLevelItemItsOpenStateClosed", "text/markdown", kList, 3, kCtrl, "a",
     {"1 + two", "2 five", "3 eight\nlines", "2 ~", "2 ten", "1 three", "2 seven", "1 a", "2 b", "1 c", "1 four"}},
    {"AsFirstChildrenOpensTheItem", "text/markdown", kList, 3, kCtrlShift, "a",
     {"1 + two", "2 five", "3 eight\nlines", "2 ~", "2 ten", "1 + three", "2 + a", "3 b", "2 c", "2 seven", "1 four"}},
    {"AsFirstChildrenOfALeaf", "text/markdown", kList, 4, kCtrlShift, "a",
     {"1 + two", "2 five", "3 eight\nlines", "2 ~", "2 ten", "1 three", "2 seven", "1 + four", "2 + a", "3 b", "2 c"}},
    {"AfterTheRootMeansItsFirstChildren", "text/markdown", kList, 1, kCtrl, "a",
     {"1 a", "2 b", "1 c", "1 + two", "2 five", "3 eight\nlines", "2 ~", "2 ten", "1 three", "2 seven", "1 four"}},
    {"PlainTextOneLine", "text/plain", "one line", 4, kCtrl, "one line",
     {"1 + two", "2 five", "3 eight\nlines", "2 ~", "2 ten", "1 three", "2 seven", "1 four", "1 one line"}},
    {"PlainTextLinesAreItemsBlankOnesNone", "text/plain", "first\nsecond\n\n  \nthird\n", 4, kCtrl, "first",
     {"1 + two", "2 five", "3 eight\nlines", "2 ~", "2 ten", "1 three", "2 seven", "1 four", "1 first", "1 second",
      "1 third"}},
    {"BrokenOpmlIsRefused", "text/x-opml", "<opml><body><outline text=\"x\"></body></opml>", 5, kCtrl, nullptr, {}},
    {"TextThatIsNoUtf8IsRefused", "text/plain", "bad \xFF byte", 5, kCtrl, nullptr, {}},
};

class Pastes : public ClipboardTest, public ::testing::WithParamInterface<PasteCase> {};

// Where Ctrl+V and Ctrl+Shift+V put the items, keeping their nesting, the
// first one marked; a text the reader refuses changes nothing (not even the
// mark) and says why, to the terminal and to a screen reader.
TEST_P(Pastes, PutTheItemsThereOrRefuseThemWhole)
{
    const PasteCase &c = GetParam();
    startLogged(kTree);
    clipboardHolds(c.type, c.bytes);
    const auto before = store.dump();
    highlight(c.on);
    ::testing::internal::CaptureStderr();
    keys(Qt::Key_V, c.modifiers);
    const std::string said = ::testing::internal::GetCapturedStderr();
    if (!c.first) {
        EXPECT_EQ(store.dump(), before);
        EXPECT_NE(said.find("nothing pasted: "), std::string::npos) << said;
        EXPECT_TRUE(window->tree()->accessibleDescription().startsWith("Nothing pasted: "));
        const auto *announcer = window->findChild<toolkit::Announcer *>(QString(), Qt::FindDirectChildrenOnly);
        EXPECT_TRUE(announcer && announcer->isVisible() && announcer->message().startsWith("Nothing pasted: "));
        return;
    }
    EXPECT_EQ(tree(), c.expected);
    expectConsistent();
    EXPECT_EQ(text(marked()), c.first);
    EXPECT_EQ(said, "");
}

INSTANTIATE_TEST_SUITE_P(Clipboard, Pastes, ::testing::ValuesIn(kPastes),
                         [](const auto &info) { return std::string(info.param.name); });

// Ctrl+X takes the branch out as Del does and leaves it on the clipboard, so
// Ctrl+V puts it back elsewhere; the keyboard stays in the tree. Ctrl+C on the
// root copies every item.
TEST_F(ClipboardTest, CutThenPasteMovesABranch)
{
    startLogged(kTree);
    highlight(5);
    keys(Qt::Key_X);
    EXPECT_EQ(tree(), (Lines{"1 + two", "2 ~", "2 ten", "1 three", "2 seven", "1 four"}));
    EXPECT_EQ(marked(), 6) << "the next sibling is clicked, as after Del";
    highlight(3);
    keys(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tree(), (Lines{"1 + two", "2 ~", "2 ten", "1 + three", "2 five", "3 eight\nlines", "2 seven", "1 four"}));
    expectConsistent();

    // The root's branch is the whole tree without the root, as an export writes it.
    highlight(1);
    keys(Qt::Key_C);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              "two\n\t~\n\tten\nthree\n\tfive\n\t\teight\\nlines\n\tseven\nfour\n");
}

// Files dropped on a row go after its item, one after the other; a file of
// another kind is skipped with a line.
TEST_F(ClipboardTest, DroppedFilesGoAfterTheItemDroppedOn)
{
    startLogged(kTree);
    const QDir dir(store.qDirectory());
    const std::pair<const char *, const char *> files[] = {
        {"list.md", "- from markdown\n  - child\n"}, {"notes.pdf", "%PDF"}, {"plain.txt", "from text\n"}};
    QList<QUrl> urls;
    for (const auto &[name, bytes] : files) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        urls << QUrl::fromLocalFile(file.fileName());
    }
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = window->tree()->nodeRect(node("3K")).center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->tree()->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    ::testing::internal::CaptureStderr();
    QApplication::sendEvent(window->tree()->viewport(), &drop);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(tree(), (Lines{"1 + two", "2 five", "3 eight\nlines", "2 ~", "2 ten", "1 three", "2 seven",
                             "1 from markdown", "2 child", "1 from text", "1 four"}));
    EXPECT_NE(said.find("notes.pdf is no .opml, .md or .txt file"), std::string::npos) << said;
    expectConsistent();
}

} // namespace
