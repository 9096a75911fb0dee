// The toolbar as built from tbCmd and the pictures beside the store, clicked
// for real.

#include "commands/toolbar.h"
#include "store/mod_base.h"
#include "tests/support/gui_fixture.h"
#include "tests/support/tree_check.h"
#include "toolkit/artwork.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/runtime.h"
#include "toolkit/tool_bar.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeySequence>
#include <QProcess>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <set>

using testing_support::GuiTest;
using testing_support::Item;
using testing_support::Write;
using testing_support::Writes;

namespace {

namespace artwork = toolkit::artwork;

const std::vector<Item> kTree = {
    {1, 0}, {2, 1, true, "two"}, {5, 2, false, "five"}, {6, 2, false, "six", true}, {3, 1, false, "three"},
};

std::vector<std::pair<std::string, std::string>> commandRows(int count)
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < count; ++i) {
        const auto commands = modTree::Commands();
        const auto &row = commands[static_cast<std::size_t>(i) % commands.size()];
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
        ASSERT_TRUE(modTree::WriteButtonPictures(store.qDirectory(), nullptr));
    }
    void launch()
    {
        startOnStore();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        log.clear();
    }
    QList<QAction *> buttons() const { return window->toolbar()->actions(); }
};

TEST_F(ToolbarTest, OneButtonPerRowWithPicturesTipsAndNames)
{
    startWithCommands(11);
    launch();
    ASSERT_EQ(buttons().size(), 11);
    EXPECT_EQ(window->normalImages()->count(), 11);
    EXPECT_EQ(window->hotImages()->count(), 11);
    EXPECT_EQ(window->toolbar()->iconSize(), QSize(artwork::kPictureSize, artwork::kPictureSize));
    for (int i = 1; i <= 11; ++i) {
        QAction *action = buttons().at(i - 1);
        SCOPED_TRACE(i);
        EXPECT_EQ(action->data().toInt(), i);
        const auto &command = modTree::Commands()[i - 1];
        QStringList keys;
        for (const char *shortcut : {command.shortcut, command.otherShortcut})
            if (*shortcut)
                keys << QKeySequence(shortcut).toString(QKeySequence::NativeText);
        EXPECT_EQ(action->toolTip(),
                  keys.isEmpty() ? QString(command.about) : command.about + (" (" + keys.join(", ") + ")"));
        EXPECT_TRUE(action->text().isEmpty());
        auto *button = qobject_cast<QToolButton *>(window->toolbar()->widgetForAction(action));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->accessibleName(), command.about);
        EXPECT_EQ(button->accessibleDescription(), keys.isEmpty() ? QString() : "Shortcut: " + keys.join(" or "));
        EXPECT_TRUE(button->autoRaise());
        const QSize size = window->toolbar()->iconSize();
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
        restart();
    }
}

TEST_F(ToolbarTest, RowsBeyondWhatAToolbarShowsAreReportedOnce)
{
    startWithCommands(300);
    ::testing::internal::CaptureStderr();
    launch();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(buttons().size(), 256);
    const std::string line = "tbCmd has 300 rows; the toolbar shows the first 256";
    EXPECT_NE(said.find(line), std::string::npos) << said;
    EXPECT_EQ(said.find(line), said.rfind(line)) << said;
}

TEST_F(ToolbarTest, MissingPicturesKeepEveryButtonOnItsCommand)
{
    startWithCommands(11);
    const QDir dir(store.qDirectory());
    auto remove = [&](const char *folder, int row) { // both sizes
        const QString name = modTree::Commands()[static_cast<std::size_t>(row)].picture;
        QFile::remove(dir.filePath(folder + ("/" + name)));
        QFile::remove(dir.filePath(folder + ("/" + toolkit::doubleSizeName(name))));
    };
    remove("pic1", 1);
    remove("pic2", 1);
    remove("pic1", 2);
    remove("pic2", 3);
    store.exec("UPDATE tbCmd SET CmdPict = NULL WHERE rowid = 5");
    launch();
    ASSERT_EQ(buttons().size(), 11);
    EXPECT_TRUE(window->normalImages()->picture(2).isNull());
    EXPECT_TRUE(window->normalImages()->picture(3).isNull());
    EXPECT_FALSE(window->hotImages()->picture(3).isNull());
    EXPECT_TRUE(window->hotImages()->picture(4).isNull());
    EXPECT_FALSE(window->normalImages()->picture(4).isNull());
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
    EXPECT_EQ(buttons().at(3)->toolTip(), "Move up (Alt+Up)");
}

// The road of one command: item 6 selected, the user clicks "move up".
TEST_F(ToolbarTest, MoveUpFromAClickOnItsButtonToTheRedNode)
{
    startWithCommands(11);
    launch();
    press(4);
    EXPECT_EQ(log.read(), (Writes{testing_support::reset(6),
                                  {5, {{"KeyNxt", "0"}}},
                                  {5, {{"KeyPrw", "6"}}},
                                  {2, {{"KeyChi", "6"}}},
                                  {6, {{"KeyPar", "2"}}},
                                  {6, {{"KeyPrw", "0"}}},
                                  {6, {{"KeyNxt", "5"}}},
                                  {6, {{"KeySel", "1"}}}}));
    EXPECT_EQ(testing_support::describeTree(*window->tree()),
              (std::vector<std::string>{">1K 'корень' +", "1K>2K 'two' +", "2K>6K 'six' * #FF0000", "2K>5K 'five'",
                                        "1K>3K 'three'"}));
}

// A picture's twice-the-size version sits beside it, whatever its folder is
// called.
TEST(DoubleSizeName, GoesBeforeTheExtensionOfTheFileName)
{
    const std::pair<QString, QString> cases[] = {
        {"moveup.bmp", "moveup@2x.bmp"}, {"none", "none@2x"}, {".bmp", ".bmp@2x"},
        {"/a.b/pic1/moveup.bmp", "/a.b/pic1/moveup@2x.bmp"}, {"/a.b/pic1/none", "/a.b/pic1/none@2x"},
        {"/a/pic1/.bmp", "/a/pic1/.bmp@2x"},
    };
    for (const auto &[picture, doubled] : cases)
        EXPECT_EQ(toolkit::doubleSizeName(picture), doubled) << picture.toStdString();
}

// What the build and the store tool make comes from the command table: a
// new store's rows and the pictures beside the program.
TEST(CommandTable, NewStoreHasOneRowPerCommandInButtonOrder)
{
    testing_support::TestStore ts;
    QProcess tool;
    tool.start(QStringLiteral(BRANCHKEEPER_STORE_TOOL), {"new", QString::fromStdString(ts.path())});
    ASSERT_TRUE(tool.waitForFinished(60000));
    ASSERT_EQ(tool.exitCode(), 0);
    std::vector<std::string> rows;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(ts.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid, CmdPict, CmdAbout FROM tbCmd ORDER BY rowid", -1, &select, nullptr);
    while (sqlite3_step(select) == SQLITE_ROW)
        rows.push_back(std::to_string(sqlite3_column_int(select, 0)) + " "
                       + reinterpret_cast<const char *>(sqlite3_column_text(select, 1)) + " "
                       + reinterpret_cast<const char *>(sqlite3_column_text(select, 2)));
    sqlite3_finalize(select);
    sqlite3_close(db);
    std::vector<std::string> expected;
    for (const auto &command : modTree::Commands())
        expected.push_back(std::to_string(command.number) + " " + command.picture + " " + command.about);
    EXPECT_EQ(rows, expected);
}

// The README's table of keys is what the command table says.
TEST(CommandTable, ReadmeListsEveryCommandsKey)
{
    QFile readme(QStringLiteral(BRANCHKEEPER_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    for (const auto &command : modTree::Commands()) {
        for (const char *shortcut : {command.shortcut, command.otherShortcut}) {
            if (!*shortcut)
                continue;
            const QString key = QKeySequence(shortcut).toString(QKeySequence::NativeText);
            EXPECT_TRUE(text.contains("`" + key + "`")) << key.toStdString();
        }
    }
}

TEST(CommandTable, BuildPlacesStoreAndBothPictureSetsBesideTheProgram)
{
    const QDir runtime(QStringLiteral(BRANCHKEEPER_RUNTIME_DIR));
    ASSERT_TRUE(QFile::exists(runtime.filePath("dbPro.mdb")));
    std::set<QString> expected;
    for (const auto &command : modTree::Commands()) {
        expected.insert(QString::fromUtf8(command.picture));
        expected.insert(toolkit::doubleSizeName(QString::fromUtf8(command.picture)));
    }
    for (const char *set : {"pic1", "pic2"}) {
        SCOPED_TRACE(set);
        const QDir folder(runtime.filePath(set));
        ASSERT_TRUE(folder.exists());
        const QStringList files = folder.entryList(QDir::Files);
        EXPECT_EQ(std::set<QString>(files.begin(), files.end()), expected);
        for (const QString &name : expected) {
            const QImage picture(folder.filePath(name), "BMP");
            const int size = name.contains("@2x") ? 2 * artwork::kPictureSize : artwork::kPictureSize;
            EXPECT_EQ(picture.size(), QSize(size, size)) << name.toStdString();
        }
    }
}

} // namespace
