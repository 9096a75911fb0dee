// The keyed tree layer on its own: keys, handles, events, and the safety of
// throwing every node away from inside the view's own expand notification.

#include "tests/support/open_by.h"
#include "toolkit/keyed_tree.h"

#include <QApplication>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using testing_support::OpenBy;
using toolkit::KeyedTree;
using toolkit::TreeNode;

namespace {

class KeyedTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree = std::make_unique<KeyedTree>();
        tree->resize(300, 400);
    }

    // root "1K" with children "2K" (which has "4K") and "3K" (with "5K").
    void fill()
    {
        tree->add({}, "1K", "root").setExpanded(true);
        tree->add("1K", "2K", "two");
        tree->add("2K", "4K", "four");
        tree->add("1K", "3K", "three");
        tree->add("3K", "5K", "five");
    }

    QPoint arrowOf(const TreeNode &node) { return tree->arrowRect(node).center(); }
    bool shown(const QString &key) { return tree->indexOf(tree->find(key)).isValid(); }

    std::unique_ptr<KeyedTree> tree;
};

TEST_F(KeyedTreeTest, AddFindsNodesByKeyInOrder)
{
    fill();
    EXPECT_EQ(tree->nodeCount(), 5);
    const TreeNode two = tree->find("2K");
    ASSERT_TRUE(two.isValid());
    EXPECT_EQ(two.text(), "two");
    EXPECT_EQ(two.parent().key(), "1K");
    EXPECT_EQ(two.firstChild().key(), "4K");
    EXPECT_EQ(tree->find("1K").firstChild().key(), "2K");
    EXPECT_EQ(tree->find("1K").childCount(), 2);
    EXPECT_FALSE(tree->find("1K").parent().isValid());
    EXPECT_FALSE(tree->find("4K").firstChild().isValid());
    // Children follow the order of adding.
    const auto kids = tree->find("1K").children();
    ASSERT_EQ(kids.size(), 2);
    EXPECT_EQ(kids[1].key(), "3K");
}

TEST_F(KeyedTreeTest, AddRefusesDuplicateEmptyOrOrphanKeys)
{
    fill();
    EXPECT_FALSE(tree->add("1K", "2K", "again").isValid());
    EXPECT_FALSE(tree->add("9K", "6K", "orphan").isValid());
    EXPECT_FALSE(tree->add("1K", "", "no key").isValid());
    EXPECT_FALSE(tree->find("6K").isValid());
    EXPECT_EQ(tree->nodeCount(), 5);
    EXPECT_EQ(tree->find("2K").text(), "two");
}

TEST_F(KeyedTreeTest, TextsStayRightThroughInterleavedEdits)
{
    fill();
    const TreeNode two = tree->find("2K");
    const TreeNode four = tree->find("4K");
    for (int i = 0; i < 50; ++i) {
        two.setText(QString("two %1").arg(i));
        if (i % 10 == 0)
            four.setText(QString("four %1 ✓").arg(i));
    }
    two.setText("");
    EXPECT_EQ(two.text(), "");
    EXPECT_EQ(four.text(), "four 40 ✓");
    EXPECT_EQ(tree->find("3K").text(), "three");
    two.setText("last");
    EXPECT_EQ(two.text(), "last");
    EXPECT_EQ(tree->find("5K").text(), "five");
}

TEST_F(KeyedTreeTest, HandlesDieWithRemoveAllAndFailHarmlessly)
{
    fill();
    TreeNode two = tree->find("2K");
    const QModelIndex staleIndex = tree->indexOf(two);
    tree->removeAll();
    EXPECT_EQ(tree->nodeCount(), 0);
    EXPECT_FALSE(two.isValid());
    EXPECT_TRUE(two.key().isEmpty());
    EXPECT_FALSE(two.setText("x"));
    EXPECT_FALSE(two.setExpanded(true));
    EXPECT_FALSE(two.setSelected());
    EXPECT_FALSE(two.setForeColor(255));
    EXPECT_FALSE(two.firstChild().isValid());
    // A new node in the same slot is not reachable through the old handle or index.
    tree->add({}, "7K", "seven");
    EXPECT_FALSE(two.isValid());
    EXPECT_FALSE(tree->nodeAt(staleIndex).isValid());
}

TEST_F(KeyedTreeTest, SetExpandedRaisesEventsOnlyOnChange)
{
    fill();
    QSignalSpy expands(tree.get(), &KeyedTree::nodeExpand);
    QSignalSpy collapses(tree.get(), &KeyedTree::nodeCollapse);
    TreeNode two = tree->find("2K");
    EXPECT_TRUE(two.setExpanded(true));
    EXPECT_TRUE(two.setExpanded(true));
    EXPECT_TRUE(two.setExpanded(false));
    EXPECT_TRUE(two.setExpanded(false));
    EXPECT_EQ(expands.count(), 1);
    EXPECT_EQ(collapses.count(), 1);
    EXPECT_EQ(expands.at(0).at(0).value<TreeNode>().key(), "2K");
}

TEST_F(KeyedTreeTest, RowsFollowExpandedStateInsideAndOutsideBatches)
{
    fill();
    EXPECT_EQ(tree->visibleCount(), 3); // 1K, 2K, 3K
    EXPECT_FALSE(shown("4K"));
    tree->find("2K").setExpanded(true);
    EXPECT_TRUE(shown("4K"));
    EXPECT_EQ(tree->indexOf(tree->find("4K")).row(), 2);
    EXPECT_EQ(tree->indexOf(tree->find("3K")).row(), 3);
    tree->find("1K").setExpanded(false);
    EXPECT_EQ(tree->visibleCount(), 1);
    // Opening the root again brings back the open branch below it as it was.
    tree->find("1K").setExpanded(true);
    EXPECT_EQ(tree->visibleCount(), 4);
    EXPECT_TRUE(shown("4K"));

    // Marked open before it has children, it shows them as they arrive.
    tree->add("1K", "6K", "six").setExpanded(true);
    tree->add("6K", "8K", "eight");
    EXPECT_TRUE(shown("8K"));
    EXPECT_EQ(tree->indexOf(tree->find("8K")).row(), tree->visibleCount() - 1);
    // A child added under an open node lands after that node's whole subtree.
    tree->add("2K", "9K", "nine");
    EXPECT_EQ(tree->indexOf(tree->find("9K")).row(), tree->indexOf(tree->find("4K")).row() + 1);

    {
        KeyedTree::Batch batch(tree.get());
        tree->removeAll();
        tree->add({}, "1K", "root").setExpanded(true);
        tree->add("1K", "2K", "two").setExpanded(true);
        tree->add("2K", "4K", "four");
        tree->add("1K", "3K", "three").setExpanded(false);
        tree->add("3K", "5K", "five");
        EXPECT_TRUE(tree->find("5K").isValid()); // found inside the batch already
    }
    std::vector<QString> rows;
    for (int r = 0; r < tree->model()->rowCount(); ++r)
        rows.push_back(tree->nodeAt(tree->model()->index(r, 0)).key());
    EXPECT_EQ(rows, (std::vector<QString>{"1K", "2K", "4K", "3K"}));
}

TEST_F(KeyedTreeTest, ChainAsDeepAsTheTreeIsLargeIsShownWithoutRecursion)
{
    // A chain of open items this deep overflows QTreeView's recursive layout.
    constexpr int kDepth = 100000;
    {
        KeyedTree::Batch batch(tree.get());
        tree->add({}, "1K", "root").setExpanded(true);
        for (int k = 2; k <= kDepth; ++k)
            tree->add(QString::number(k - 1) + "K", QString::number(k) + "K", "x").setExpanded(true);
    }
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
    EXPECT_EQ(tree->visibleCount(), kDepth);
    TreeNode deepest = tree->find(QString::number(kDepth) + "K");
    deepest.setSelected();
    tree->scrollTo(tree->indexOf(deepest));
    tree->repaint();
    tree->find("1K").setExpanded(false);
    EXPECT_EQ(tree->visibleCount(), 1);
    // As in any tree, hiding the highlighted row moves the highlight to the
    // node that was closed; the selection stays where it was, hidden.
    EXPECT_EQ(tree->currentIndex(), tree->indexOf(tree->find("1K")));
    EXPECT_EQ(tree->selectedNode(), deepest);
    tree->find("1K").setExpanded(true);
    EXPECT_EQ(tree->visibleCount(), kDepth);
    EXPECT_TRUE(tree->selectionModel()->isSelected(tree->indexOf(deepest)));
}

TEST_F(KeyedTreeTest, UserExpandAndCollapseRaiseEventsOnce)
{
    fill();
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
    QSignalSpy expands(tree.get(), &KeyedTree::nodeExpand);
    QSignalSpy collapses(tree.get(), &KeyedTree::nodeCollapse);
    const TreeNode three = tree->find("3K");
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, arrowOf(three));
    ASSERT_EQ(expands.count(), 1);
    EXPECT_EQ(expands.at(0).at(0).value<TreeNode>().key(), "3K");
    EXPECT_TRUE(three.isExpanded());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, arrowOf(three));
    EXPECT_EQ(collapses.count(), 1);
    EXPECT_FALSE(three.isExpanded());
    EXPECT_EQ(expands.count(), 1);
}

TEST_F(KeyedTreeTest, ClickOnANodeRaisesNodeClickButArrowDoesNot)
{
    fill();
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
    QSignalSpy clicks(tree.get(), &KeyedTree::nodeClick);
    const TreeNode three = tree->find("3K");
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->nodeRect(three).center());
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).value<TreeNode>().key(), "3K");
    EXPECT_TRUE(three.isSelected());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, arrowOf(three));
    EXPECT_EQ(clicks.count(), 1);
}

// Rebuilding from inside the expand event, for the node being expanded, by
// every way a user can open a node. Under AddressSanitizer this also proves
// that Qt touches no freed node afterwards.
class RebuildInsideExpand : public KeyedTreeTest, public ::testing::WithParamInterface<OpenBy> {};

TEST_P(RebuildInsideExpand, LeavesAFreshConsistentTree)
{
    auto build = [this](bool threeOpen) {
        KeyedTree::Batch batch(tree.get());
        tree->removeAll();
        tree->add({}, "1K", "root").setExpanded(true);
        tree->add("1K", "2K", "two");
        tree->add("1K", "3K", "three").setExpanded(threeOpen);
        if (threeOpen) {
            tree->add("3K", "5K", "five");
            tree->add("3K", "6K", "six");
        } else {
            tree->add("3K", "3S", "");
        }
    };
    build(false);
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));

    int rebuilds = 0;
    QObject::connect(tree.get(), &KeyedTree::nodeExpand, tree.get(), [&](TreeNode node) {
        if (node.firstChild().key().endsWith('S')) {
            ++rebuilds;
            build(true);
        }
    });

    const TreeNode three = tree->find("3K");
    const QRect row = tree->nodeRect(three);
    switch (GetParam()) {
    case OpenBy::Arrow:
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, arrowOf(three));
        break;
    case OpenBy::DoubleClick:
        // A real double click: a full click, then the second press as a double click.
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, row.center());
        break;
    case OpenBy::KeyRight:
    case OpenBy::KeyPlus:
        tree->setFocus();
        tree->setCurrentIndex(tree->indexOf(three));
        QTest::keyClick(tree.get(), GetParam() == OpenBy::KeyRight ? Qt::Key_Right : Qt::Key_Plus);
        break;
    }
    QApplication::processEvents();
    tree->repaint();

    EXPECT_EQ(rebuilds, 1);
    EXPECT_FALSE(three.isValid());
    const TreeNode fresh = tree->find("3K");
    ASSERT_TRUE(fresh.isValid());
    EXPECT_TRUE(fresh.isExpanded());
    EXPECT_TRUE(shown("5K"));
    EXPECT_TRUE(shown("6K"));
    EXPECT_EQ(fresh.firstChild().key(), "5K");
    EXPECT_FALSE(tree->find("3S").isValid());
    EXPECT_EQ(tree->nodeCount(), 5);
}

INSTANTIATE_TEST_SUITE_P(AllWays, RebuildInsideExpand, ::testing::ValuesIn(testing_support::kEveryWayToOpen),
                         testing_support::openByName);

TEST_F(KeyedTreeTest, SelectedNodeIsTheOneSelectedAndMirroredInTheView)
{
    fill();
    tree->find("2K").setSelected();
    tree->find("3K").setSelected();
    EXPECT_FALSE(tree->find("2K").isSelected());
    EXPECT_TRUE(tree->find("3K").isSelected());
    EXPECT_EQ(tree->selectedNode().key(), "3K");
    const auto rows = tree->selectionModel()->selectedIndexes();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(tree->nodeAt(rows.first()).key(), "3K");
    tree->removeAll();
    EXPECT_FALSE(tree->selectedNode().isValid());
}

TEST_F(KeyedTreeTest, SelectingAHiddenNodeOpensNothing)
{
    fill();
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
    QSignalSpy expands(tree.get(), &KeyedTree::nodeExpand);
    tree->find("5K").setSelected();
    QApplication::processEvents();
    EXPECT_EQ(expands.count(), 0);
    EXPECT_FALSE(tree->find("3K").isExpanded());
    EXPECT_FALSE(shown("5K"));
    EXPECT_TRUE(tree->find("5K").isSelected());
    EXPECT_FALSE(tree->selectionModel()->hasSelection());
    // Once the user opens its parent, the node shows selected.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, arrowOf(tree->find("3K")));
    EXPECT_EQ(expands.count(), 1);
    ASSERT_TRUE(shown("5K"));
    EXPECT_TRUE(tree->selectionModel()->isSelected(tree->indexOf(tree->find("5K"))));
}

TEST_F(KeyedTreeTest, ForeColourIsBgrAndReachesTheModel)
{
    fill();
    TreeNode two = tree->find("2K");
    EXPECT_FALSE(two.foreColor().has_value());
    EXPECT_TRUE(two.setForeColor(0x0000FF)); // red in BBGGRR
    EXPECT_EQ(tree->indexOf(two).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    EXPECT_TRUE(two.setForeColor(0xFF0000)); // blue
    EXPECT_EQ(tree->indexOf(two).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
    EXPECT_FALSE(two.setForeColor(-1));
    EXPECT_FALSE(two.setForeColor(0x1000000));
}

// Counts clearly red pixels inside a rectangle of a grabbed picture.
int redPixels(const QImage &image, const QRect &rect)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 90 && c.blue() < 90)
                ++n;
        }
    }
    return n;
}

TEST_F(KeyedTreeTest, OwnColourStaysVisibleWhileTheNodeIsSelected)
{
    tree->add({}, "1K", "root").setExpanded(true);
    TreeNode marked = tree->add("1K", "2K", "MARKED ITEM WWWW");
    tree->add("1K", "3K", "plain item");
    marked.setForeColor(255);
    marked.setSelected();
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
    tree->setFocus();
    const QImage shot = tree->viewport()->grab().toImage();
    const QRect row = tree->nodeRect(marked).intersected(shot.rect());
    EXPECT_GT(redPixels(shot, row), 20);
    EXPECT_EQ(redPixels(shot, tree->nodeRect(tree->find("3K")).intersected(shot.rect())), 0);
}

// On a dark desktop the colour the program calls black is the desktop's text
// colour, selected or not, and red stays red.
TEST_F(KeyedTreeTest, BlackNodesReadOnADarkDesktopAndRedStaysRed)
{
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::Text, QColor(0xE8, 0xE8, 0xE8));
    dark.setColor(QPalette::Highlight, QColor(0x30, 0x60, 0xC0));
    dark.setColor(QPalette::Window, QColor(0x28, 0x28, 0x28));
    tree->setPalette(dark);
    tree->add({}, "1K", "root").setExpanded(true);
    const TreeNode plain = tree->add("1K", "2K", "PLAIN ITEM WWWW");
    const TreeNode chosen = tree->add("1K", "3K", "CHOSEN ITEM WWWW");
    const TreeNode marked = tree->add("1K", "4K", "MARKED ITEM WWWW");
    plain.setForeColor(0);
    chosen.setForeColor(0);
    marked.setForeColor(255);
    chosen.setSelected();
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
    const QImage shot = tree->viewport()->grab().toImage();
    // The lightest pixel of a row is its text; its darkest, the background.
    auto contrast = [&](const TreeNode &node) {
        const QRect row = tree->nodeRect(node).intersected(shot.rect());
        int lightest = 0, darkest = 255;
        for (int y = row.top(); y <= row.bottom(); ++y)
            for (int x = row.left(); x <= row.right(); ++x) {
                lightest = std::max(lightest, qGray(shot.pixel(x, y)));
                darkest = std::min(darkest, qGray(shot.pixel(x, y)));
            }
        return lightest - darkest;
    };
    EXPECT_GT(contrast(plain), 120);
    EXPECT_GT(contrast(chosen), 100);
    EXPECT_GT(redPixels(shot, tree->nodeRect(marked).intersected(shot.rect())), 20);
    EXPECT_EQ(plain.foreColor(), 0) << "what the program set is kept";
}

} // namespace
