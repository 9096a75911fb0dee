// The window framed by a window manager, as a user sees it.

#include "commands/toolbar.h"
#include "tests/support/gui_fixture.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "toolkit/twips.h"
#include "view/show_tree.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

extern bool g_desktopInstalled;
extern QString g_desktopProblem;

namespace {

class DesktopTest : public testing_support::GuiTest {
protected:
    void SetUp() override
    {
        if (!g_desktopInstalled)
            GTEST_SKIP() << "no Xvfb and twm on this machine";
        if (!g_desktopProblem.isEmpty())
            FAIL() << g_desktopProblem.toStdString();
    }

    // Shows the window and waits for the window manager to frame it.
    void showFramed()
    {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        for (int i = 0; i < 40 && window->frameGeometry() == window->geometry(); ++i)
            QTest::qWait(50);
        QTest::qWait(200);
        ASSERT_NE(window->frameGeometry(), window->geometry()) << "the window manager gave no frame";
    }
};

TEST_F(DesktopTest, FramedWindowOpensAtTheTopLeftWithItsOuterSize)
{
    start({{1, 0}, {2, 1, false, "a", true}});
    showFramed();
    const double dpi = window->logicalDpiX();
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(window->frameGeometry().size(),
              QSize(toolkit::twips::toPixels(6570, dpi), toolkit::twips::toPixels(6570, dpi)));
}

TEST_F(DesktopTest, ControlsKeepTheirSizeAtTheNextRebuild)
{
    start({{1, 0}, {2, 1, true, "a"}, {3, 2, false, "b", true}});
    showFramed();
    const QRect tree = window->tree()->geometry();
    const QRect text = window->textBox()->geometry();
    modTree::ShowTree();
    EXPECT_EQ(window->tree()->geometry(), tree);
    EXPECT_EQ(window->textBox()->geometry(), text);
    // And the user's own resizing is left alone.
    window->resize(window->width() + 100, window->height() + 50);
    QTest::qWait(200);
    const QSize resized = window->size();
    modTree::ShowTree();
    QTest::qWait(200);
    EXPECT_EQ(window->size(), resized);
}

TEST_F(DesktopTest, SelectedItemIsRedOnScreen)
{
    start({{1, 0}, {2, 1, false, "first item"}, {3, 1, false, "MARKED ITEM WWWW", true}});
    showFramed();
    const QImage shot = window->tree()->viewport()->grab().toImage();
    const QRect row = window->tree()->nodeRect(node("3K")).intersected(shot.rect());
    int red = 0;
    for (int y = row.top(); y <= row.bottom(); ++y) {
        for (int x = row.left(); x <= row.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            red += c.red() > 180 && c.green() < 90 && c.blue() < 90;
        }
    }
    EXPECT_GT(red, 20);
}

// At twice the density the window keeps its proportions in logical pixels and
// the toolbar shows its pictures drawn at twice the size, pixel for pixel.
TEST_F(DesktopTest, AtScaleTwoTheWindowKeepsItsSizeAndThePicturesAreSharp)
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto &command : modTree::Commands())
        rows.emplace_back(command.picture, command.about);
    store.create({{1, 0}, {2, 1, false, "an item", true}}, rows);
    ASSERT_TRUE(modTree::WriteButtonPictures(store.qDirectory(), nullptr));
    std::map<QString, QString> seen;
    for (const char *scale : {"1", "2"}) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_SCALE_FACTOR", scale);
        child.setProcessEnvironment(environment);
        child.start(BRANCHKEEPER_SCALED_WINDOW, {store.qDirectory()});
        ASSERT_TRUE(child.waitForFinished(30000));
        ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
        seen[scale] = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
    }
    const auto part = [](const QString &line, const char *name) {
        for (const QString &field : line.split(' '))
            if (field.startsWith(QString(name) + "="))
                return field.mid(int(std::strlen(name)) + 1).toStdString();
        return std::string();
    };
    EXPECT_EQ(part(seen["1"], "ratio"), "1") << seen["1"].toStdString();
    EXPECT_EQ(part(seen["2"], "ratio"), "2") << seen["2"].toStdString();
    const int outer = toolkit::twips::toPixels(6570, 96);
    EXPECT_EQ(part(seen["2"], "outer"), std::to_string(outer) + "x" + std::to_string(outer));
    EXPECT_EQ(part(seen["2"], "tree"), part(seen["1"], "tree"));
    EXPECT_EQ(part(seen["2"], "picture"), "sharp");
}

} // namespace
