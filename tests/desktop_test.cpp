// The window framed by a window manager, as a user sees it.

#include "tests/support/gui_fixture.h"
#include "toolkit/keyed_tree.h"
#include "toolkit/text_box.h"
#include "toolkit/twips.h"
#include "view/show_tree.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

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
    const QRect tree = window->TreeV->geometry();
    const QRect text = window->txtItem->geometry();
    modTree::ShowTree();
    EXPECT_EQ(window->TreeV->geometry(), tree);
    EXPECT_EQ(window->txtItem->geometry(), text);
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
    const QImage shot = window->TreeV->viewport()->grab().toImage();
    const QRect row = window->TreeV->nodeRect(node("3K")).intersected(shot.rect());
    int red = 0;
    for (int y = row.top(); y <= row.bottom(); ++y) {
        for (int x = row.left(); x <= row.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            red += c.red() > 180 && c.green() < 90 && c.blue() < 90;
        }
    }
    EXPECT_GT(red, 20);
}

} // namespace
