// Rebuilding the view from the table: what is shown, what is read, what is
// left alone, and how broken links are survived.

#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "toolkit/twips.h"
#include "view/show_tree.h"
#include "view/tree_state.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <set>

using testing_support::describeTree;
using testing_support::GuiTest;
using testing_support::Item;
using Lines = std::vector<std::string>;

namespace {

class ShowTreeTest : public GuiTest {
protected:
    void TearDown() override
    {
        modBase::rsTree.setLoadObserver({});
        GuiTest::TearDown();
    }

    // Starts up while recording every record the cursor reads.
    void startRecording(const std::vector<Item> &items)
    {
        store.create(items);
        window = std::make_unique<frmTree>(store.qDirectory());
        // The observer must be set after the store opens; open it, then rebuild.
        window->Form_Load();
        read.clear();
        modBase::rsTree.setLoadObserver([this](std::int64_t key) { read.insert(key); });
        modTree::ShowTree();
    }

    Lines view() const { return describeTree(*window->tree()); }

    std::set<std::int64_t> read;
};

// Root 1 has 2 (open) and 3 (closed); 2 has 4, 3 has 5.
const std::vector<Item> kExample = {
    {1, 0}, {2, 1, true, "two"}, {4, 2, false, "four"}, {3, 1, false, "three"}, {5, 3, false, "five"},
};

TEST_F(ShowTreeTest, WorkedExampleNodeByNode)
{
    startRecording(kExample);
    EXPECT_EQ(view(), (Lines{">1K 'корень' +", "1K>2K 'two' +", "2K>4K 'four'", "1K>3K 'three'", "3K>3S ''"}));
    EXPECT_FALSE(read.contains(5)) << "a child of a closed item was read";
    EXPECT_FALSE(modTree::TreeBusy);
    // The walk ends on the last top-level item.
    EXPECT_EQ(modBase::rsTree.key(store::Field::KeyInd), 3);
    EXPECT_EQ(modBase::rsTree.index(), "KeyInd");
}

TEST_F(ShowTreeTest, RootWithoutChildrenShowsTheRootAlone)
{
    start({{1, 0}});
    EXPECT_EQ(view(), (Lines{">1K 'корень' +"}));
    EXPECT_FALSE(modTree::TreeBusy);
}

TEST_F(ShowTreeTest, RootNodeIgnoresTheRootRecordsTextMarkAndState)
{
    start({{1, 0, false, "stored root text", true}, {2, 1, false, "a"}});
    EXPECT_EQ(view(), (Lines{">1K 'корень' +", "1K>2K 'a'"}));
    EXPECT_FALSE(window->tree()->selectedNode().isValid());
}

TEST_F(ShowTreeTest, StoredSelectionIsSelectedAndRed)
{
    start({{1, 0}, {2, 1, false, "a"}, {3, 1, false, "b", true}, {4, 1, false, "c"}});
    EXPECT_EQ(view(), (Lines{">1K 'корень' +", "1K>2K 'a'", "1K>3K 'b' * #FF0000", "1K>4K 'c'"}));
    EXPECT_EQ(window->tree()->selectedNode().key(), "3K");
}

TEST_F(ShowTreeTest, SelectionInsideAClosedBranchMarksNothing)
{
    startRecording({{1, 0}, {2, 1, false, "closed"}, {3, 2, false, "hidden", true}});
    EXPECT_EQ(view(), (Lines{">1K 'корень' +", "1K>2K 'closed'", "2K>2S ''"}));
    EXPECT_FALSE(window->tree()->selectedNode().isValid());
    EXPECT_FALSE(read.contains(3));
}

TEST_F(ShowTreeTest, OpenItemInsideAClosedOneIsNeitherReadNorGivenAPlaceholder)
{
    startRecording({{1, 0}, {2, 1, false, "closed"}, {3, 2, true, "open inside"}, {4, 3, false, "deep"}});
    EXPECT_EQ(view(), (Lines{">1K 'корень' +", "1K>2K 'closed'", "2K>2S ''"}));
    EXPECT_FALSE(read.contains(3));
    EXPECT_FALSE(read.contains(4));
}

TEST_F(ShowTreeTest, OpenItemWithoutChildrenHasNoPlaceholder)
{
    start({{1, 0}, {2, 1, true, "open, empty"}, {3, 1, false, "closed, empty"}});
    EXPECT_EQ(view(), (Lines{">1K 'корень' +", "1K>2K 'open, empty' +", "1K>3K 'closed, empty'"}));
}

TEST_F(ShowTreeTest, TextsShowAsStoredNullAsEmpty)
{
    start({{1, 0}, {2, 1}, {3, 1, false, "~"}, {4, 1, false, "Ünïcødé ✓ 日本"}, {5, 1, false, ""}});
    EXPECT_EQ(view(), (Lines{">1K 'корень' +", "1K>2K ''", "1K>3K '~'", "1K>4K 'Ünïcødé ✓ 日本'", "1K>5K ''"}));
}

TEST_F(ShowTreeTest, SiblingsFollowTheChainNotTheKeys)
{
    start({{1, 0}, {9, 1, false, "first"}, {2, 1, false, "second"}, {5, 1, true, "third"}, {3, 5, false, "x"},
           {8, 5, false, "y"}, {4, 1, false, "fourth"}, {6, 0}, {7, 0}});
    EXPECT_EQ(view(), (Lines{">1K 'корень' +", "1K>9K 'first'", "1K>2K 'second'", "1K>5K 'third' +", "5K>3K 'x'",
                             "5K>8K 'y'", "1K>4K 'fourth'"}));
}

TEST_F(ShowTreeTest, RebuildWritesNothing)
{
    store.create(kExample);
    store.exec("UPDATE TbTree SET KeySel = 1 WHERE KeyInd = 4");
    const auto rows = store.dump();
    const auto bytes = store.bytes();
    startOnStore();
    modTree::ShowTree();
    modTree::ShowTree();
    window.reset();
    modBase::rsTree.close();
    EXPECT_EQ(store.dump(), rows);
    EXPECT_EQ(store.bytes(), bytes);
}

TEST_F(ShowTreeTest, LayoutAtStartUpSize)
{
    start(kExample);
    const double dpi = window->logicalDpiX();
    auto px = [dpi](double twips) { return toolkit::twips::toPixels(twips, dpi); };
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(window->frameGeometry().size(), QSize(px(6570), px(6570)));
    EXPECT_EQ(window->textBox()->geometry(), QRect(0, px(700), px(6450), px(310)));
    EXPECT_EQ(window->tree()->geometry(), QRect(0, px(1010), px(6450), px(4970)));
}

TEST_F(ShowTreeTest, NewWindowSizeTakesEffectAtTheNextRebuild)
{
    start(kExample);
    const QRect before = window->tree()->geometry();
    toolkit::twips::setWidth(window.get(), 9000);
    toolkit::twips::setHeight(window.get(), 8000);
    EXPECT_EQ(window->tree()->geometry(), before);
    modTree::ShowTree();
    // The window holds whole pixels, so read its size back rather than assume 9000 x 8000.
    const double dpi = window->logicalDpiX();
    const double w = toolkit::twips::width(window.get());
    const double h = toolkit::twips::height(window.get());
    EXPECT_NEAR(w, 9000, 15);
    EXPECT_NEAR(h, 8000, 15);
    EXPECT_EQ(window->tree()->width(), toolkit::twips::toPixels(w - 120, dpi));
    EXPECT_EQ(window->tree()->height(), toolkit::twips::toPixels(h - 1600, dpi));
    EXPECT_EQ(window->textBox()->width(), toolkit::twips::toPixels(w - 120, dpi));
}

TEST_F(ShowTreeTest, RebuildLeavesTextBoxAlone)
{
    start(kExample);
    window->textBox()->setText("typed");
    window->textBox()->setTag(modTree::ItemNode(4));
    modTree::ShowTree();
    EXPECT_EQ(window->textBox()->text(), "typed");
    EXPECT_EQ(testing_support::tagText(*window->textBox()), "4K");
}

TEST_F(ShowTreeTest, UnopenedStoreGivesAnEmptyView)
{
    startOnStore(); // no file at all
    EXPECT_EQ(window->tree()->nodeCount(), 0);
    EXPECT_FALSE(modTree::TreeBusy);
}

// Broken links, each on top of a consistent tree: root 1 with 2 (open, with
// 3 and 4) and 5. The walk must end, show no item twice and keep what it can.
struct BrokenCase {
    const char *name;
    const char *sql;
    Lines expected;
    friend void PrintTo(const BrokenCase &c, std::ostream *os) { *os << c.name; }
};

class BrokenLinks : public ShowTreeTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenLinks, WalkEndsAndShowsEachItemOnce)
{
    store.create({{1, 0}, {2, 1, true, "a"}, {3, 2, true, "b"}, {4, 2, false, "c"}, {5, 1, false, "d"}});
    store.exec(GetParam().sql);
    startOnStore();
    const Lines lines = view();
    EXPECT_EQ(lines, GetParam().expected);
    std::set<std::string> keys;
    for (const auto &line : lines)
        EXPECT_TRUE(keys.insert(line.substr(0, line.find(' '))).second) << line;
}

const Lines kIntact{">1K 'корень' +", "1K>2K 'a' +", "2K>3K 'b' +", "2K>4K 'c'", "1K>5K 'd'"};

INSTANTIATE_TEST_SUITE_P(
    ShowTree, BrokenLinks,
    ::testing::Values(
        BrokenCase{"Intact", "SELECT 1", kIntact},
        BrokenCase{"ChainComesBack", "UPDATE TbTree SET KeyNxt = 3 WHERE KeyInd = 4", kIntact},
        BrokenCase{"SelfAsNext", "UPDATE TbTree SET KeyNxt = 5 WHERE KeyInd = 5", kIntact},
        BrokenCase{"ChildIsTheRoot", "UPDATE TbTree SET KeyChi = 1 WHERE KeyInd = 3", kIntact},
        BrokenCase{"ChildIsAnAncestor", "UPDATE TbTree SET KeyChi = 2 WHERE KeyInd = 3", kIntact},
        BrokenCase{"NextIsAnItemShownElsewhere", "UPDATE TbTree SET KeyNxt = 2 WHERE KeyInd = 5", kIntact},
        BrokenCase{"NullLinks", "UPDATE TbTree SET KeyChi = NULL WHERE KeyInd = 3; "
                                "UPDATE TbTree SET KeyNxt = NULL WHERE KeyInd = 5", kIntact},
        BrokenCase{"LinkToNoRecord", "UPDATE TbTree SET KeyNxt = 77 WHERE KeyInd = 5", kIntact},
        BrokenCase{"TextInALink", "UPDATE TbTree SET KeyChi = 'x' WHERE KeyInd = 3", kIntact},
        BrokenCase{"ParentLeadsNowhere",
                   "UPDATE TbTree SET KeyPar = 99 WHERE KeyInd = 2",
                   Lines{">1K 'корень' +", "1K>5K 'd'"}},
        BrokenCase{"ParentIsItself",
                   "UPDATE TbTree SET KeyPar = 3 WHERE KeyInd = 3",
                   Lines{">1K 'корень' +", "1K>2K 'a' +", "2K>4K 'c'", "1K>5K 'd'"}},
        BrokenCase{"ParentIsASibling",
                   "UPDATE TbTree SET KeyPar = 5 WHERE KeyInd = 4; UPDATE TbTree SET KeyNxt = 0 WHERE KeyInd = 5",
                   Lines{">1K 'корень' +", "1K>2K 'a' +", "2K>3K 'b' +", "1K>5K 'd'"}},
        BrokenCase{"RootIsItsOwnNext", "UPDATE TbTree SET KeyNxt = 1, KeyPrw = 1 WHERE KeyInd = 1", kIntact},
        BrokenCase{"HugeKeys", "UPDATE TbTree SET KeyNxt = 9000000000 WHERE KeyInd = 5", kIntact},
        BrokenCase{"NoRootRecord", "DELETE FROM TbTree WHERE KeyInd = 1", Lines{}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ShowTreeTest, ThousandsOfItemsBroadAndDeep)
{
    std::vector<Item> items{{1, 0}};
    std::int32_t key = 2;
    for (int i = 0; i < 3000; ++i, ++key)
        items.push_back({key, 1, false, "broad " + std::to_string(i)});
    std::int32_t parent = 1;
    for (int i = 0; i < 2000; ++i, ++key) {
        items.push_back({key, parent, true, "deep " + std::to_string(i)});
        parent = key;
    }
    start(items);
    EXPECT_EQ(window->tree()->nodeCount(), 1 + 3000 + 2000);
    toolkit::TreeNode deepest = window->tree()->find(modTree::ItemNode(key - 1));
    ASSERT_TRUE(deepest.isValid());
    EXPECT_EQ(deepest.text(), "deep 1999");
    int depth = 0;
    for (toolkit::TreeNode n = deepest; n.isValid(); n = n.parent())
        ++depth;
    EXPECT_EQ(depth, 2001);
}

// Siblings are read a batch at a time: the view must be the one the chain
// gives, however the keys lie, past the end of a batch, and with records that
// name the parent without being in its chain (read, never shown) or are in
// the chain while naming another parent (shown under that one).
TEST_F(ShowTreeTest, SiblingsReadInBatchesShowAsTheChainSays)
{
    constexpr int kChildren = 5000; // more than a batch holds
    std::vector<Item> items{{1, 0}};
    std::vector<std::int32_t> chain;
    for (int i = 0; i < kChildren; ++i) {
        const std::int32_t key = 2 + (i * 7919) % kChildren; // keys out of chain order
        chain.push_back(key);
        items.push_back({key, 1, i == 0, "child " + std::to_string(key), i == 2500});
    }
    items.push_back({9001, chain[0], false, "below the first"});
    store.create(items);
    const std::int32_t moved = chain[3000];
    store.exec("UPDATE TbTree SET KeyPar = " + std::to_string(chain[0]) + " WHERE KeyInd = " + std::to_string(moved)
               + "; INSERT INTO TbTree (KeyInd, KeyPar, KeyTxt) VALUES (9002, 1, 'stray')");
    startOnStore();

    Lines expected{">1K 'корень' +"};
    auto line = [](std::int32_t parent, std::int32_t key) {
        return std::to_string(parent) + "K>" + std::to_string(key) + "K 'child " + std::to_string(key) + "'";
    };
    expected.push_back(line(1, chain[0]) + " +");
    expected.push_back(std::to_string(chain[0]) + "K>9001K 'below the first'");
    expected.push_back(line(chain[0], moved));
    for (int i = 1; i < kChildren; ++i) {
        if (chain[i] != moved)
            expected.push_back(line(1, chain[i]) + (i == 2500 ? " * #FF0000" : ""));
    }
    EXPECT_EQ(view(), expected);
}

// Batches held down a deep path are capped in all: past the cap, siblings are
// read by key, and the view is the same either way.
TEST_F(ShowTreeTest, DeepLevelsOfManySiblingsShowWholePastTheBatchCap)
{
    constexpr int kLevels = 24;
    constexpr int kSiblings = 1000; // 24,000 siblings on the path: more than the batches may hold
    std::vector<Item> items{{1, 0}};
    Lines expected{">1K 'корень' +"};
    std::int32_t key = 2;
    std::vector<Lines> after(kLevels); // each level's later siblings, shown once its open one is done
    std::int32_t parent = 1;
    for (int level = 0; level < kLevels; ++level) {
        const std::int32_t open = key++;
        items.push_back({open, parent, true, "open " + std::to_string(level)});
        expected.push_back(std::to_string(parent) + "K>" + std::to_string(open) + "K 'open " + std::to_string(level)
                           + "' +");
        for (int i = 1; i < kSiblings; ++i, ++key) {
            items.push_back({key, parent, false, "s" + std::to_string(key)});
            after[level].push_back(std::to_string(parent) + "K>" + std::to_string(key) + "K 's" + std::to_string(key)
                                   + "'");
        }
        parent = open;
    }
    for (int level = kLevels - 1; level >= 0; --level)
        expected.insert(expected.end(), after[level].begin(), after[level].end());
    start(items);
    EXPECT_EQ(view(), expected);
}

TEST_F(ShowTreeTest, ASlowRebuildIsFollowedByOneUnderTheBusyCursor)
{
    start(kExample);
    std::vector<bool> busyDuringRebuild;
    QObject::connect(window->tree(), &toolkit::KeyedTree::nodeExpand, window.get(), [&] {
        busyDuringRebuild.push_back(QGuiApplication::overrideCursor() != nullptr
                                    && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor);
    });
    modTree::SetBusyCursorAfter(0); // every rebuild counts as slow
    modTree::ShowTree();
    modTree::SetBusyCursorAfter(1000000);
    modTree::ShowTree();
    modTree::ShowTree();
    modTree::SetBusyCursorAfter(200);
    ASSERT_EQ(busyDuringRebuild.size(), 6u); // root and item 2 open in each rebuild
    EXPECT_EQ(busyDuringRebuild, (std::vector<bool>{true, true, false, false, false, false}));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(NodeKeys, ItemKeyIsEverythingButTheLastCharacter)
{
    EXPECT_EQ(modTree::ItemNode(12).toString(), "12K");
    EXPECT_EQ(modTree::PlaceholderNode(12).toString(), "12S");
    const std::pair<const char *, std::optional<std::int32_t>> cases[] = {
        {"12K", 12},
        {"12S", 12},
        {"-3K", -3},
        {"2147483647K", 2147483647},
        {"2147483648K", std::nullopt}, // beyond a 32-bit item key
        {"K", std::nullopt},
        {"", std::nullopt},
        {"1xK", std::nullopt},
        {"12", std::nullopt}, // the last character is the kind of node, never a digit
    };
    for (const auto &[text, item] : cases)
        EXPECT_EQ(modTree::ItemOf(toolkit::NodeKey::parse(QString::fromUtf8(text))), item) << text;
}

} // namespace
