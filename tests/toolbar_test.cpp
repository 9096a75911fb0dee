// The toolbar as built from tbCmd and the pictures beside the store, clicked
// for real.

#include "toolkit/artwork.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/runtime.h"
#include "commands/toolbar.h"
#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "tools/command_set.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

using testing_support::GuiTest;
using testing_support::Item;
using testing_support::Write;
using testing_support::Writes;

namespace {

const std::vector<Item> kTree = {
    {1, 0}, {2, 1, true, "two"}, {5, 2, false, "five"}, {6, 2, false, "six", true}, {3, 1, false, "three"},
};

std::vector<std::pair<std::string, std::string>> commandRows(int count)
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < count; ++i) {
        const auto &row = tools::kCommandSet[static_cast<std::size_t>(i) % tools::kCommandSet.size()];
        rows.emplace_back(row.picture, i < 11 ? row.about : "extra " + std::to_string(i + 1));
    }
    return rows;
}

class ToolbarTest : public GuiTest {
protected:
    // A store with count command rows and both picture folders beside it.
    void startWithCommands(int count)
    {
        store.create(kTree, commandRows(count));
        log.install();
        const QDir dir(store.qDirectory());
        for (const char *folder : {"pic1", "pic2"})
            dir.mkpath(folder);
        for (std::size_t i = 0; i < tools::kCommandSet.size(); ++i) {
            const QString name = tools::kCommandSet[i].picture;
            artwork::drawButtonPicture(static_cast<int>(i) + 1, false).save(dir.filePath("pic1/" + name), "BMP");
            artwork::drawButtonPicture(static_cast<int>(i) + 1, true).save(dir.filePath("pic2/" + name), "BMP");
        }
    }
    void launch()
    {
        startOnStore();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        log.clear();
    }
    QList<QAction *> buttons() const { return window->Toolbar1->actions(); }
    void press(int number)
    {
        QWidget *button = window->Toolbar1->widgetForAction(buttons().at(number - 1));
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }
};

TEST_F(ToolbarTest, OneButtonPerRowWithPicturesTipsAndNames)
{
    startWithCommands(11);
    launch();
    ASSERT_EQ(buttons().size(), 11);
    EXPECT_EQ(window->ImageList1->count(), 11);
    EXPECT_EQ(window->ImageList2->count(), 11);
    EXPECT_EQ(window->Toolbar1->iconSize(), QSize(artwork::kPictureSize, artwork::kPictureSize));
    for (int i = 1; i <= 11; ++i) {
        QAction *action = buttons().at(i - 1);
        SCOPED_TRACE(i);
        EXPECT_EQ(action->data().toInt(), i);
        EXPECT_EQ(action->toolTip(), tools::kCommandSet[i - 1].about);
        EXPECT_TRUE(action->text().isEmpty());
        auto *button = qobject_cast<QToolButton *>(window->Toolbar1->widgetForAction(action));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->accessibleName(), tools::kCommandSet[i - 1].about);
        EXPECT_TRUE(button->autoRaise());
        const QSize size = window->Toolbar1->iconSize();
        const QImage normal = action->icon().pixmap(size, QIcon::Normal).toImage();
        const QImage hot = action->icon().pixmap(size, QIcon::Active).toImage();
        EXPECT_NE(normal, hot) << "no second picture under the pointer";
        // Silver is see-through.
        EXPECT_EQ(qAlpha(normal.pixel(0, 0)), 0);
    }
}

TEST_F(ToolbarTest, ButtonCountFollowsTheRows)
{
    for (const int rows : {0, 10, 12}) {
        SCOPED_TRACE(rows);
        startWithCommands(rows);
        launch();
        EXPECT_EQ(buttons().size(), rows);
        if (rows == 12) {
            press(12);
            EXPECT_TRUE(log.read().empty());
            EXPECT_EQ(buttons().at(11)->toolTip(), "extra 12");
        }
        TearDown();
        store.exec("DROP TABLE TbTree; DROP TABLE tbCmd; DROP TABLE WriteLog; DROP TABLE WriteSeq");
    }
}

TEST_F(ToolbarTest, MissingPicturesKeepEveryButtonOnItsCommand)
{
    startWithCommands(11);
    const QDir dir(store.qDirectory());
    QFile::remove(dir.filePath(QString("pic1/") + tools::kCommandSet[1].picture));
    QFile::remove(dir.filePath(QString("pic2/") + tools::kCommandSet[1].picture));
    QFile::remove(dir.filePath(QString("pic1/") + tools::kCommandSet[2].picture));
    QFile::remove(dir.filePath(QString("pic2/") + tools::kCommandSet[3].picture));
    store.exec("UPDATE tbCmd SET CmdPict = NULL WHERE rowid = 5");
    launch();
    ASSERT_EQ(buttons().size(), 11);
    EXPECT_TRUE(window->ImageList1->picture(2).isNull());
    EXPECT_TRUE(window->ImageList1->picture(3).isNull());
    EXPECT_FALSE(window->ImageList2->picture(3).isNull());
    EXPECT_TRUE(window->ImageList2->picture(4).isNull());
    EXPECT_FALSE(window->ImageList1->picture(4).isNull());
    EXPECT_TRUE(buttons().at(1)->icon().pixmap(24, 24, QIcon::Normal).isNull());
    // Button 4 is still "move up", button 5 still "move down".
    press(4);
    EXPECT_EQ(testing_support::outline(store), (std::vector<std::string>{"2@1", "6@2", "5@2", "3@1"}));
    press(5);
    EXPECT_EQ(testing_support::outline(store), (std::vector<std::string>{"2@1", "5@2", "6@2", "3@1"}));
}

TEST_F(ToolbarTest, ATipThatIsNullLeavesTheButtonWithoutOne)
{
    startWithCommands(11);
    store.exec("UPDATE tbCmd SET CmdAbout = NULL WHERE rowid = 3");
    launch();
    EXPECT_TRUE(buttons().at(2)->toolTip().isEmpty());
    EXPECT_EQ(buttons().at(3)->toolTip(), "Move up");
}

// The road of one command: item 6 selected, the user clicks "move up".
TEST_F(ToolbarTest, MoveUpFromAClickOnItsButtonToTheRedNode)
{
    startWithCommands(11);
    launch();
    press(4);
    const auto reset = Write{6, {{"KeyPar", "0"}, {"KeyPrw", "0"}, {"KeyNxt", "0"}, {"KeySel", "0"}}};
    EXPECT_EQ(log.read(), (Writes{reset,
                                  {5, {{"KeyNxt", "0"}}},
                                  {5, {{"KeyPrw", "6"}}},
                                  {2, {{"KeyChi", "6"}}},
                                  {6, {{"KeyPar", "2"}}},
                                  {6, {{"KeyPrw", "0"}}},
                                  {6, {{"KeyNxt", "5"}}},
                                  {6, {{"KeySel", "1"}}}}));
    EXPECT_EQ(testing_support::describeTree(*window->TreeV),
              (std::vector<std::string>{">1K 'корень' +", "1K>2K 'two' +", "2K>6K 'six' * #FF0000", "2K>5K 'five'",
                                        "1K>3K 'three'"}));
}

} // namespace
