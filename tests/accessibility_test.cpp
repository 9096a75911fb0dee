// What a screen reader finds in the keyed tree: the values Qt's AT-SPI bridge
// reads from each item, the actions it can run, and the events that tell it
// the tree changed.

#include "tests/support/gui_fixture.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"

#include <QAccessible>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Qt passes accessibility events on only while a screen reader is attached,
// the offscreen platform never attaches one, and no public call stands in for
// it. Qt's own accessibility tests flip the platform's switch; its headers are
// not installed, so these declarations name what they use.
QT_BEGIN_NAMESPACE
class QPlatformAccessibility {
public:
    void setActive(bool active);
};
class QPlatformIntegration {
public:
    QPlatformAccessibility *accessibility() const;
};
class QGuiApplicationPrivate {
public:
    static QPlatformIntegration *platform_integration;
};
QT_END_NAMESPACE

using testing_support::GuiTest;
using toolkit::KeyedTree;
using toolkit::TreeNode;
using Lines = std::vector<std::string>;

namespace {

std::string str(const QString &s) { return s.toStdString(); }

// Stands in for a screen reader: switches accessibility on and keeps, as
// text, what Qt would pass on about one widget.
class ScreenReader {
public:
    explicit ScreenReader(QObject *watched)
    {
        s_watched = watched;
        s_heard.clear();
        QGuiApplicationPrivate::platform_integration->accessibility()->setActive(true);
        QAccessible::installUpdateHandler(&hear);
    }
    ~ScreenReader()
    {
        QAccessible::installUpdateHandler(nullptr);
        QGuiApplicationPrivate::platform_integration->accessibility()->setActive(false);
    }
    Lines take(bool sorted = false)
    {
        Lines heard = std::exchange(s_heard, {});
        if (sorted)
            std::sort(heard.begin(), heard.end());
        return heard;
    }

private:
    static void hear(QAccessibleEvent *event)
    {
        if (event->object() != s_watched)
            return;
        const std::string child = " " + std::to_string(event->child());
        if (event->type() == QAccessible::TableModelChanged) {
            const auto *change = static_cast<QAccessibleTableModelChangeEvent *>(event);
            static const char *const kinds[] = {"ModelReset", "DataChanged", "RowsInserted",
                                                "ColumnsInserted", "RowsRemoved", "ColumnsRemoved"};
            s_heard.push_back(kinds[change->modelChangeType()]
                              + (change->modelChangeType() == QAccessibleTableModelChangeEvent::ModelReset
                                     ? std::string()
                                     : " " + std::to_string(change->firstRow()) + "-" + std::to_string(change->lastRow())));
        } else if (event->type() == QAccessible::StateChanged) {
            const auto states = static_cast<QAccessibleStateChangeEvent *>(event)->changedStates();
            s_heard.push_back("StateChanged" + child + (states.expanded && states.collapsed ? " expanded collapsed" : ""));
        } else if (event->type() == QAccessible::Focus) {
            s_heard.push_back("Focus" + child);
        } else if (event->type() == QAccessible::Selection || event->type() == QAccessible::SelectionRemove) {
            // The bridge sends the item's selected state as it reads it now.
            QAccessibleInterface *item = event->accessibleInterface();
            s_heard.push_back((event->type() == QAccessible::Selection ? "Selection" : "SelectionRemove") + child
                              + (item && item->state().selected ? " =1" : " =0"));
        }
    }
    static inline QObject *s_watched = nullptr;
    static inline Lines s_heard;
};

class AccessibleTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(window.get());
        other = new QLineEdit;
        tree = new KeyedTree;
        tree->setAccessibleName("Items");
        layout->addWidget(other);
        layout->addWidget(tree);
        window->resize(300, 400);
        build();
    }

    // корень > two (open: four, an empty text), three (closed, its placeholder hidden)
    void build()
    {
        KeyedTree::Batch batch(tree);
        tree->removeAll();
        tree->add({}, "1K", "корень").setExpanded(true);
        tree->add("1K", "2K", "two").setExpanded(true);
        tree->add("2K", "4K", "four");
        tree->add("2K", "5K", "");
        tree->add("1K", "3K", "three").setExpanded(false);
        tree->add("3K", "3S", "");
    }

    QAccessibleInterface *view() { return QAccessible::queryAccessibleInterface(tree); }
    QAccessibleInterface *item(const QString &key) { return view()->child(tree->indexOf(tree->find(key)).row()); }
    QRect global(const QRect &r) { return QRect(tree->viewport()->mapToGlobal(r.topLeft()), r.size()); }

    // Each child as the bridge reads it: name | description | states | actions.
    Lines read()
    {
        Lines lines;
        for (int i = 0; i < view()->childCount(); ++i) {
            QAccessibleInterface *child = view()->child(i);
            const QAccessible::State s = child->state();
            std::string states;
            for (const auto &[on, name] : {std::pair{s.expandable, " expandable"}, {s.expanded, " expanded"},
                                          {s.collapsed, " collapsed"}, {s.selected, " selected"},
                                          {s.focused, " focused"}})
                states += on ? name : "";
            lines.push_back(str(child->text(QAccessible::Name)) + " | " + str(child->text(QAccessible::Description))
                            + " |" + states + " | " + str(child->actionInterface()->actionNames().join(' ')));
        }
        return lines;
    }

    std::unique_ptr<QWidget> window;
    QLineEdit *other = nullptr;
    KeyedTree *tree = nullptr;
};

const Lines kBuilt = {
    "корень | level 1, 1 of 1 | expandable expanded | activate collapse",
    "two | level 2, 1 of 2 | expandable expanded | activate collapse",
    "four | level 3, 1 of 2 | | activate",
    "blank | level 3, 2 of 2 | | activate",
    "three | level 2, 2 of 2 | expandable collapsed | activate expand",
};

TEST_F(AccessibleTreeTest, ItemsCarryTheirLevelPlaceAndStateAndFindTheirWayBack)
{
    EXPECT_EQ(view()->role(), QAccessible::Tree);
    EXPECT_EQ(view()->text(QAccessible::Name), "Items");
    ASSERT_NE(view()->tableInterface(), nullptr);
    EXPECT_EQ(read(), kBuilt);
    for (int i = 0; i < view()->childCount(); ++i) {
        QAccessibleInterface *child = view()->child(i);
        EXPECT_EQ(child, view()->child(i)) << "one object per node";
        EXPECT_EQ(child->role(), QAccessible::TreeItem);
        EXPECT_TRUE(child->state().focusable && child->state().selectable);
        EXPECT_EQ(child->parent(), view());
        EXPECT_EQ(view()->indexOfChild(child), i);
        EXPECT_EQ(child->tableCellInterface()->rowIndex(), i);
        EXPECT_EQ(view()->tableInterface()->cellAt(i, 0), child);
    }
    EXPECT_EQ(view()->child(view()->childCount()), nullptr);
    EXPECT_FALSE(view()->tableInterface()->cellAt(view()->childCount(), 0)->isValid()) << "no crash in the bridge";
}

TEST_F(AccessibleTreeTest, AVeryLongTextIsNamedAsItsRowShowsIt)
{
    // Whole characters only: the cut falls inside a two-byte letter.
    const QString text = QString(4095, QChar('a')) + QString(50000, QChar(0x00E9));
    tree->find("4K").setText(text);
    const QString name = item("4K")->text(QAccessible::Name);
    EXPECT_EQ(name, QString(4095, QChar('a')) + QChar(0x2026));
    EXPECT_EQ(name, tree->find("4K").shownText());
    EXPECT_EQ(tree->find("4K").text(), text) << "the node keeps the whole text";
}

TEST_F(AccessibleTreeTest, ActionsOpenCloseAndClickAsTheUserDoes)
{
    QSignalSpy expands(tree, &KeyedTree::nodeExpand);
    QSignalSpy collapses(tree, &KeyedTree::nodeCollapse);
    QSignalSpy clicks(tree, &KeyedTree::nodeClick);
    const QAccessible::Id four = QAccessible::uniqueId(item("4K"));

    item("2K")->actionInterface()->doAction("collapse");
    ASSERT_EQ(collapses.count(), 1);
    EXPECT_EQ(collapses.at(0).at(0).value<TreeNode>().key(), "2K");
    EXPECT_EQ(read(), (Lines{kBuilt[0], "two | level 2, 1 of 2 | expandable collapsed | activate expand", kBuilt[4]}));
    EXPECT_FALSE(QAccessible::accessibleInterface(four)->isValid()) << "hidden";

    item("2K")->actionInterface()->doAction("expand");
    EXPECT_EQ(expands.count(), 1);
    EXPECT_EQ(read(), kBuilt);
    EXPECT_EQ(item("4K"), QAccessible::accessibleInterface(four)) << "the same object once shown again";

    item("3K")->actionInterface()->doAction("expand");
    EXPECT_EQ(expands.count(), 2);
    EXPECT_EQ(read().back(), "blank | level 3, 1 of 1 | | activate"); // the placeholder

    item("4K")->actionInterface()->doAction("expand"); // does not apply to a leaf
    EXPECT_EQ(expands.count(), 2);
    item("4K")->actionInterface()->doAction("activate");
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).value<TreeNode>().key(), "4K");
    EXPECT_EQ(tree->currentIndex(), tree->indexOf(tree->find("4K")));
    EXPECT_TRUE(item("4K")->state().selected);
}

TEST_F(AccessibleTreeTest, ExtentsCoverTheTextRightOfTheArrowAndHitTestsAgree)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    for (const QString key : {"1K", "2K", "4K", "3K"}) {
        SCOPED_TRACE(str(key));
        const TreeNode node = tree->find(key);
        const QRect row = global(tree->nodeRect(node));
        const QRect arrow = global(tree->arrowRect(node));
        const QRect extents = item(key)->rect();
        EXPECT_EQ(extents.left(), arrow.right() + 1);
        EXPECT_TRUE(row.contains(extents));
        EXPECT_EQ(extents.height(), row.height());
        EXPECT_EQ(view()->childAt(extents.center().x(), extents.center().y()), item(key));
        EXPECT_EQ(view()->childAt(arrow.center().x(), arrow.center().y()), nullptr);
    }
}

TEST_F(AccessibleTreeTest, ARebuildLeavesNoItemOnAnOldNode)
{
    std::vector<QAccessible::Id> before;
    for (int i = 0; i < view()->childCount(); ++i)
        before.push_back(QAccessible::uniqueId(view()->child(i)));
    build();
    for (const QAccessible::Id id : before) {
        if (QAccessibleInterface *stale = QAccessible::accessibleInterface(id)) {
            EXPECT_FALSE(stale->isValid());
            EXPECT_TRUE(stale->rect().isNull());
            stale->actionInterface()->doAction("activate"); // harmless
        }
    }
    EXPECT_EQ(read(), kBuilt);
    for (const QAccessible::Id id : before)
        EXPECT_EQ(QAccessible::accessibleInterface(id), nullptr);
    const QAccessible::Id root = QAccessible::uniqueId(view()->child(0));
    window.reset();
    EXPECT_EQ(QAccessible::accessibleInterface(root), nullptr);
}

TEST_F(AccessibleTreeTest, ChangesAreAnnouncedAndARebuildOnlyOnce)
{
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    tree->setFocus();
    tree->setCurrentIndex(tree->indexOf(tree->find("1K")));
    ScreenReader reader(tree);
    ASSERT_TRUE(QAccessible::isActive());

    QTest::keyClick(tree, Qt::Key_Down);
    EXPECT_EQ(reader.take(true), (Lines{"Focus 1", "Selection 1 =1", "SelectionRemove 0 =0"}));
    EXPECT_TRUE(item("2K")->state().focused);

    // Closing and opening the highlighted row: the bridge forwards no change
    // of state, so the row is named again, as an object the reader has not
    // seen (it skips a focus on the object it is on).
    for (const auto &[key, rows] : {std::pair{Qt::Key_Left, "RowsRemoved 2-3"}, {Qt::Key_Right, "RowsInserted 2-3"}}) {
        const QAccessible::Id before = QAccessible::uniqueId(item("2K"));
        QTest::keyClick(tree, key);
        EXPECT_EQ(reader.take(), (Lines{rows, "StateChanged 1 expanded collapsed", "Focus 1"}));
        EXPECT_NE(QAccessible::uniqueId(item("2K")), before);
    }

    // Coming back to the tree names its highlighted row, after Qt names the tree.
    other->setFocus();
    tree->setFocus();
    reader.take();
    QCoreApplication::processEvents();
    EXPECT_EQ(reader.take(), Lines{"Focus 1"});

    other->setFocus(); // the program moves the highlight while the user types
    tree->find("3K").setSelected();
    EXPECT_EQ(reader.take(), (Lines{"SelectionRemove 1 =0", "Selection 4 =1"}));

    tree->find("3K").setExpanded(true);
    EXPECT_EQ(reader.take(), (Lines{"RowsInserted 5-5", "StateChanged 4 expanded collapsed"}));
    tree->find("3K").setExpanded(false);
    EXPECT_EQ(reader.take(), (Lines{"RowsRemoved 5-5", "StateChanged 4 expanded collapsed"}));

    {
        KeyedTree::Batch batch(tree);
        tree->removeAll();
        tree->add({}, "1K", "корень").setExpanded(true);
        for (int k = 2; k < 2000; ++k)
            tree->add("1K", QString::number(k) + "K", "item");
        tree->find("1999K").setSelected();
    }
    EXPECT_EQ(reader.take(), (Lines{"ModelReset", "Selection 1998 =1"}));
}

// Through the program's own window: the handlers behind the actions rebuild
// the whole tree, with and without a screen reader listening (with one, the
// item running the action is deleted from inside its own action).
class AccessibleWindowTest : public GuiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AccessibleWindowTest, AScreenReaderOpensAndClicksThroughTheHandlers)
{
    startLogged({{1, 0}, {2, 1, false, "two"}, {4, 2, false, "four"}, {3, 1, false, "three"}});
    std::unique_ptr<ScreenReader> reader;
    if (GetParam())
        reader = std::make_unique<ScreenReader>(window->tree());
    QAccessibleInterface *tree = QAccessible::queryAccessibleInterface(window->tree());
    EXPECT_EQ(tree->text(QAccessible::Name), "Items");
    EXPECT_EQ(tree->child(0)->text(QAccessible::Name), "корень");

    const QAccessible::Id two = QAccessible::uniqueId(tree->child(1));
    tree->child(1)->actionInterface()->doAction("expand"); // its placeholder makes the handler rebuild
    EXPECT_EQ(store.field(2, "Expand"), "1");
    EXPECT_EQ(tree->child(2)->text(QAccessible::Name), "four");
    EXPECT_EQ(QAccessible::accessibleInterface(two), nullptr);

    tree->child(2)->actionInterface()->doAction("activate");
    EXPECT_EQ(window->textBox()->text(), "four");
    EXPECT_EQ(store.field(4, "KeySel"), "1");
    EXPECT_TRUE(tree->child(2)->state().selected);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutAScreenReader, AccessibleWindowTest, ::testing::Bool());

} // namespace
