// A child process for the desktop tests: the window at the scale factor its
// environment gives (QT_SCALE_FACTOR), on the store in DIR, shown on the
// desktop and framed, reporting one line of what a test checks:
//
//   scaled_window DIR
//   -> ratio=2 outer=438x438 tree=430x331 picture=sharp
//
// ratio: the window's device pixel ratio; outer: its outer size in logical
// pixels; tree: the tree's size; picture: "sharp" when the first toolbar
// button shows its picture drawn at twice the size, pixel for pixel,
// "blurred" when it shows something else, "none" without a button.

#include "app/frm_tree.h"
#include "commands/command_table.h"
#include "toolkit/artwork.h"
#include "toolkit/keyed_tree.h"

#include <QApplication>
#include <QTest>
#include <QToolBar>
#include <QWindow>

#include <cstdio>

namespace {

// Whether the picture's opaque pixels stand somewhere in the shot, unchanged.
bool standsIn(const QImage &shot, const QImage &picture)
{
    const QRgb silver = 0xFFC0C0C0;
    for (int oy = 0; oy + picture.height() <= shot.height(); ++oy) {
        for (int ox = 0; ox + picture.width() <= shot.width(); ++ox) {
            bool all = true;
            for (int y = 0; y < picture.height() && all; ++y)
                for (int x = 0; x < picture.width() && all; ++x)
                    all = picture.pixel(x, y) == silver || shot.pixel(ox + x, oy + y) == picture.pixel(x, y);
            if (all)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    frmTree window(QString::fromLocal8Bit(argv[1]));
    window.Form_Load();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    for (int i = 0; i < 40 && window.frameGeometry() == window.geometry(); ++i)
        QTest::qWait(50);
    QTest::qWait(300);

    const char *picture = "none";
    if (!window.toolbar()->actions().isEmpty()) {
        QWidget *button = window.toolbar()->widgetForAction(window.toolbar()->actions().first());
        const QImage shot = button->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage doubled = toolkit::artwork::drawButtonPicture(modTree::Commands().front().glyph, false, 2);
        picture = standsIn(shot, doubled) ? "sharp" : "blurred";
    }
    std::printf("ratio=%g outer=%dx%d tree=%dx%d picture=%s\n", window.windowHandle()->devicePixelRatio(),
                window.frameGeometry().width(), window.frameGeometry().height(), window.tree()->width(),
                window.tree()->height(), picture);
    return 0;
}
