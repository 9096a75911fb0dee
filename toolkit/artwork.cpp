#include "toolkit/artwork.h"

#include <QColor>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

namespace toolkit::artwork {

namespace {

struct Palette {
    QColor item;    // the bar standing for the selected item
    QColor plus;    // the new item
    QColor branch;  // tree lines
    QColor arrow;   // moves
    QColor text;    // text lines beside the indent arrows
    QColor cross;   // delete
    QColor power;   // quit
    QColor refresh; // refresh
    QColor dot;     // the button that does nothing
};

const Palette &normalPalette()
{
    static const Palette p{
        QColor(0x1F, 0x4E, 0x9A), QColor(0x1E, 0x8C, 0x2A), QColor(0x40, 0x40, 0x40),
        QColor(0x1F, 0x5F, 0xBF), QColor(0x48, 0x48, 0x48), QColor(0xC0, 0x18, 0x18),
        QColor(0xB0, 0x20, 0x20), QColor(0x1E, 0x8A, 0x3C), QColor(0x58, 0x58, 0x58)};
    return p;
}

const Palette &highlightPalette()
{
    static const Palette p{
        QColor(0x2E, 0x74, 0xF0), QColor(0x22, 0xD0, 0x38), QColor(0x20, 0x20, 0x20),
        QColor(0x1E, 0x8C, 0xFF), QColor(0x20, 0x20, 0x20), QColor(0xFF, 0x24, 0x24),
        QColor(0xFF, 0x30, 0x30), QColor(0x22, 0xD2, 0x50), QColor(0x30, 0x30, 0x30)};
    return p;
}

// Glow around the hovered glyph: pale yellow, far from silver.
constexpr QRgb kGlow = 0xFFFFF2A0;
// A light rim around the normal glyph, so its dark lines stay visible on a
// dark toolbar; on a light one it all but disappears.
constexpr QRgb kRim = 0xFFEDEDED;

// Below this coverage an antialiased edge pixel is left as background, so
// faint fringes do not turn into grey specks once silver is masked out.
constexpr int kCoverageThreshold = 72;

// A filled shape with a darker rim: reads better on silver than a flat fill.
void fillOutlined(QPainter &p, const QPainterPath &shape, const QColor &fill)
{
    p.setPen(QPen(fill.darker(170), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(shape.simplified());
}

QPainterPath strokeOf(const QPainterPath &line, qreal width, Qt::PenCapStyle cap)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(cap);
    stroker.setJoinStyle(Qt::MiterJoin);
    return stroker.createStroke(line);
}

// Arrow whose tip is at `tip`, pointing along `angleDegrees` (0 = right,
// 90 = down, screen coordinates).
QPainterPath arrowShape(QPointF tip, qreal angleDegrees, qreal length, qreal headWidth,
                        qreal headLength, qreal shaftWidth)
{
    // Built pointing right with the tip at the origin, then turned into place.
    const qreal hw = headWidth / 2;
    const qreal sw = shaftWidth / 2;
    QPolygonF poly;
    poly << QPointF(0, 0) << QPointF(-headLength, -hw) << QPointF(-headLength, -sw)
         << QPointF(-length, -sw) << QPointF(-length, sw) << QPointF(-headLength, sw)
         << QPointF(-headLength, hw) << QPointF(0, 0);
    QTransform t;
    t.translate(tip.x(), tip.y());
    t.rotate(angleDegrees);
    QPainterPath path;
    path.addPolygon(t.map(poly));
    path.closeSubpath();
    return path;
}

QPainterPath plusShape(QPointF centre, qreal size, qreal thickness)
{
    QPainterPath path;
    path.addRect(QRectF(centre.x() - size / 2, centre.y() - thickness / 2, size, thickness));
    path.addRect(QRectF(centre.x() - thickness / 2, centre.y() - size / 2, thickness, size));
    path.setFillRule(Qt::WindingFill);
    return path.simplified();
}

void drawItemBar(QPainter &p, const Palette &pal, QRectF rect)
{
    QPainterPath bar;
    bar.addRoundedRect(rect, 1.5, 1.5);
    fillOutlined(p, bar, pal.item);
}

// Straight edges sit on half pixels so the 1 px rim lands on whole pixels and
// stays sharp; only slanted and curved edges are left to antialiasing.

// New item before the selected one: plus above the item bar.
void drawAddBefore(QPainter &p, const Palette &pal)
{
    fillOutlined(p, plusShape(QPointF(12.5, 7.5), 10, 4), pal.plus);
    drawItemBar(p, pal, QRectF(3.5, 15.5, 18, 5));
}

// New item after the selected one: plus below the item bar.
void drawAddAfter(QPainter &p, const Palette &pal)
{
    drawItemBar(p, pal, QRectF(3.5, 3.5, 18, 5));
    fillOutlined(p, plusShape(QPointF(12.5, 16.5), 10, 4), pal.plus);
}

// New first child: plus hanging off the item bar by a tree line, indented.
void drawAddChild(QPainter &p, const Palette &pal)
{
    drawItemBar(p, pal, QRectF(2.5, 3.5, 18, 5));
    p.setPen(Qt::NoPen);
    p.setBrush(pal.branch);
    p.drawRect(QRectF(5, 9, 2, 9));
    p.drawRect(QRectF(5, 16, 7, 2));
    fillOutlined(p, plusShape(QPointF(16.5, 16.5), 10, 4), pal.plus);
}

void drawMoveUp(QPainter &p, const Palette &pal)
{
    fillOutlined(p, arrowShape(QPointF(12, 2.5), -90, 19, 17, 9, 7), pal.arrow);
}

void drawMoveDown(QPainter &p, const Palette &pal)
{
    fillOutlined(p, arrowShape(QPointF(12, 21.5), 90, 19, 17, 9, 7), pal.arrow);
}

// Indented text lines on the right; the arrow on the left says which way.
void drawTextLines(QPainter &p, const Palette &pal)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pal.text);
    // Spaced wide enough that the hover glow leaves silver between the lines.
    for (int y : {3, 10, 17})
        p.drawRect(QRect(16, y, 7, 3));
    // The margin the item moves relative to.
    p.drawRect(QRect(13, 2, 2, 20));
}

void drawMoveOut(QPainter &p, const Palette &pal)
{
    drawTextLines(p, pal);
    fillOutlined(p, arrowShape(QPointF(1.5, 11.5), 180, 10, 14, 6, 6), pal.arrow);
}

void drawMoveIn(QPainter &p, const Palette &pal)
{
    drawTextLines(p, pal);
    fillOutlined(p, arrowShape(QPointF(11.5, 11.5), 0, 10, 14, 6, 6), pal.arrow);
}

void drawDelete(QPainter &p, const Palette &pal)
{
    QPainterPath lines;
    lines.moveTo(5, 5);
    lines.lineTo(19, 19);
    lines.moveTo(19, 5);
    lines.lineTo(5, 19);
    QPainterPath cross = strokeOf(lines, 4.5, Qt::SquareCap);
    cross.setFillRule(Qt::WindingFill);
    fillOutlined(p, cross, pal.cross);
}

// A neutral dot: the button is there but does nothing.
void drawNone(QPainter &p, const Palette &pal)
{
    QPainterPath dot;
    dot.addEllipse(QPointF(12, 12), 3, 3);
    fillOutlined(p, dot, pal.dot);
}

// The power symbol: an open ring with a bar through the gap.
void drawQuit(QPainter &p, const Palette &pal)
{
    const QRectF ring(4.5, 5, 15, 15);
    QPainterPath arc;
    arc.arcMoveTo(ring, 125);
    arc.arcTo(ring, 125, 290);
    QPainterPath bar;
    bar.moveTo(12, 3);
    bar.lineTo(12, 11.5);
    QPainterPath shape = strokeOf(arc, 3.2, Qt::RoundCap).united(strokeOf(bar, 3.2, Qt::RoundCap));
    fillOutlined(p, shape, pal.power);
}

// A ring of arrow running clockwise, its head in the gap at the upper right.
void drawRefresh(QPainter &p, const Palette &pal)
{
    const QPointF centre(11.5, 13);
    const qreal radius = 7;
    const QRectF ring(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    const qreal start = 330;
    const qreal sweep = -275;
    QPainterPath arc;
    arc.arcMoveTo(ring, start);
    arc.arcTo(ring, start, sweep);
    QPainterPath shape = strokeOf(arc, 3.2, Qt::FlatCap);

    // Head at the arc's end, pointing along the direction of travel.
    const qreal end = (start + sweep) * std::numbers::pi / 180.0;
    const QPointF at(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
    const QPointF along(std::sin(end), std::cos(end)); // clockwise on screen
    const QPointF across(along.y(), -along.x());
    QPolygonF head;
    head << at + along * 6 << at + across * 5.5 << at - across * 5.5 << at + along * 6;
    QPainterPath headPath;
    headPath.addPolygon(head);
    headPath.closeSubpath();
    fillOutlined(p, shape.united(headPath), pal.refresh);
}

using Drawer = void (*)(QPainter &, const Palette &);

constexpr Drawer kDrawers[] = {
    drawAddBefore, drawAddAfter, drawAddChild, drawMoveUp,   drawMoveDown, drawMoveOut,
    drawMoveIn,    drawDelete,   drawNone,     drawQuit,     drawRefresh,
};
static_assert(std::size(kDrawers) == kGlyphCount && static_cast<int>(Glyph::Refresh) == kGlyphCount - 1);

// Lays the glyph (drawn on a clear layer) onto silver, with a ring of the
// given colour `reach` pixels wide around it. Returns RGB32.
QImage composeOnSilver(const QImage &glyph, QRgb ring, int reach)
{
    const int w = glyph.width();
    const int h = glyph.height();
    QImage out(w, h, QImage::Format_RGB32);
    out.fill(kTransparent);

    auto covered = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < w && y < h && qAlpha(glyph.pixel(x, y)) >= kCoverageThreshold;
    };

    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (covered(x, y)) {
                const QRgb c = glyph.pixel(x, y); // non-premultiplied ARGB
                const int a = qAlpha(c);
                auto mix = [a](int fg, int bg) { return (fg * a + bg * (255 - a) + 127) / 255; };
                QRgb rgb = qRgb(mix(qRed(c), 0xC0), mix(qGreen(c), 0xC0), mix(qBlue(c), 0xC0));
                // Silver would be masked out and punch a hole in the glyph.
                if (rgb == kTransparent)
                    rgb = qRgb(0xC0, 0xC0, 0xBF);
                out.setPixel(x, y, rgb);
            } else {
                bool nearGlyph = false;
                for (int dy = -reach; dy <= reach && !nearGlyph; ++dy)
                    for (int dx = -reach; dx <= reach && !nearGlyph; ++dx)
                        nearGlyph = covered(x + dx, y + dy);
                if (nearGlyph)
                    out.setPixel(x, y, ring);
            }
        }
    }
    // The ring can pinch a gap down to one silver pixel; fill it rather than
    // leave a speck that the mask turns into a pinhole.
    const QImage before = out;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            if (before.pixel(x, y) == kTransparent && before.pixel(x - 1, y) != kTransparent
                && before.pixel(x + 1, y) != kTransparent && before.pixel(x, y - 1) != kTransparent
                && before.pixel(x, y + 1) != kTransparent)
                out.setPixel(x, y, ring);
    return out;
}

} // namespace

QImage drawButtonPicture(Glyph glyph, bool highlighted, int scale)
{
    scale = std::clamp(scale, 1, 4);
    const int size = kPictureSize * scale;
    const int at = static_cast<int>(glyph);
    if (at < 0 || at >= kGlyphCount) {
        QImage blank(size, size, QImage::Format_RGB32);
        blank.fill(kTransparent);
        return blank;
    }

    QImage layer(size, size, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        // Drawn in the 24-pixel design's coordinates, so twice the size is
        // twice the detail, not a picture blown up.
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        kDrawers[at](p, highlighted ? highlightPalette() : normalPalette());
    }
    return composeOnSilver(layer.convertToFormat(QImage::Format_ARGB32), highlighted ? kGlow : kRim, scale);
}

QImage drawAppIcon()
{
    constexpr int kSize = 32;
    QImage art(kSize, kSize, QImage::Format_ARGB32);
    art.fill(Qt::transparent);
    {
        // No antialiasing: keeps the colour count small and the pixels crisp.
        QPainter p(&art);
        const QColor blue(0x1F, 0x4E, 0x9A);
        const QColor red(0xD0, 0x20, 0x20);
        const QColor line(0x30, 0x30, 0x30);

        auto bar = [&](QRect r, const QColor &fill) {
            p.setPen(fill.darker(170));
            p.setBrush(fill);
            p.drawRect(r.adjusted(0, 0, -1, -1));
            p.setPen(fill.lighter(150));
            p.drawLine(r.left() + 1, r.top() + 1, r.right() - 1, r.top() + 1);
        };

        // Tree lines first, so the bars sit on top of their ends.
        p.setPen(Qt::NoPen);
        p.setBrush(line);
        p.drawRect(QRect(6, 9, 2, 19));  // trunk
        p.drawRect(QRect(6, 16, 8, 2));  // to the middle bar
        p.drawRect(QRect(6, 26, 8, 2));  // to the bottom bar

        bar(QRect(2, 2, 28, 7), blue);
        bar(QRect(12, 13, 18, 7), red);
        bar(QRect(12, 23, 18, 7), blue);
    }

    // Exact palette of the colours used; fall back to Qt's quantiser only if
    // the drawing ever grows past what an 8-bit palette can hold.
    QHash<QRgb, int> index;
    QList<QRgb> table;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const QRgb c = art.pixel(x, y);
            if (!index.contains(c)) {
                index.insert(c, int(table.size()));
                table.append(c);
            }
        }
    }
    if (table.size() > 256)
        return art.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);

    QImage icon(kSize, kSize, QImage::Format_Indexed8);
    icon.setColorTable(table);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            icon.setPixel(x, y, uint(index.value(art.pixel(x, y))));
    return icon;
}

} // namespace toolkit::artwork
