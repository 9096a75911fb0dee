#include "toolkit/artwork.h"

#include <QImage>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace artwork = toolkit::artwork;
using artwork::kPictureSize;
using artwork::kTransparent;

int glyphPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) != kTransparent;
    return count;
}

class ButtonPicture : public ::testing::TestWithParam<int> {};

TEST_P(ButtonPicture, HasSizeSilverBackgroundAndAGlyph)
{
    for (bool highlighted : {false, true}) {
        SCOPED_TRACE(highlighted ? "highlighted" : "normal");
        const QImage image = artwork::drawButtonPicture(static_cast<artwork::Glyph>(GetParam()), highlighted);
        ASSERT_EQ(image.size(), QSize(kPictureSize, kPictureSize));
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        const int last = kPictureSize - 1;
        EXPECT_EQ(image.pixel(0, 0), kTransparent);
        EXPECT_EQ(image.pixel(last, 0), kTransparent);
        EXPECT_EQ(image.pixel(0, last), kTransparent);
        EXPECT_EQ(image.pixel(last, last), kTransparent);
        // Even the quiet "no command" dot must be visible, and no glyph may
        // swallow the whole background.
        const int glyph = glyphPixels(image);
        EXPECT_GE(glyph, 12);
        EXPECT_LE(glyph, kPictureSize * kPictureSize * 3 / 4);
    }
}

// A silver pixel walled in by glyph on all four sides would be masked out and
// show as a pinhole through the picture.
TEST_P(ButtonPicture, HasNoSilverHoles)
{
    for (bool highlighted : {false, true}) {
        const QImage image = artwork::drawButtonPicture(static_cast<artwork::Glyph>(GetParam()), highlighted);
        for (int y = 1; y < kPictureSize - 1; ++y) {
            for (int x = 1; x < kPictureSize - 1; ++x) {
                if (image.pixel(x, y) != kTransparent)
                    continue;
                const bool walledIn = image.pixel(x - 1, y) != kTransparent
                    && image.pixel(x + 1, y) != kTransparent
                    && image.pixel(x, y - 1) != kTransparent
                    && image.pixel(x, y + 1) != kTransparent;
                EXPECT_FALSE(walledIn) << "hole at " << x << "," << y
                                       << (highlighted ? " (highlighted)" : "");
            }
        }
    }
}

TEST_P(ButtonPicture, HighlightedDiffersFromNormal)
{
    EXPECT_NE(artwork::drawButtonPicture(static_cast<artwork::Glyph>(GetParam()), false),
              artwork::drawButtonPicture(static_cast<artwork::Glyph>(GetParam()), true));
}

TEST_P(ButtonPicture, SurvivesBmpRoundTrip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (bool highlighted : {false, true}) {
        SCOPED_TRACE(highlighted ? "highlighted" : "normal");
        const QImage image = artwork::drawButtonPicture(static_cast<artwork::Glyph>(GetParam()), highlighted);
        const QString path = dir.filePath(QStringLiteral("picture.bmp"));
        ASSERT_TRUE(image.save(path, "BMP"));
        QImage loaded;
        ASSERT_TRUE(loaded.load(path, "BMP"));
        loaded = loaded.convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(loaded.size(), image.size());
        int silver = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                ASSERT_EQ(loaded.pixel(x, y), image.pixel(x, y)) << "at " << x << "," << y;
                silver += loaded.pixel(x, y) == kTransparent;
            }
        }
        // The mask colour must come back exactly, or the background would show.
        EXPECT_GT(silver, 0);
    }
}

// For a screen of twice the density the picture is drawn again at twice the
// size: detail inside every 2x2 block, not each pixel blown up.
TEST_P(ButtonPicture, DoubleSizeIsDrawnNotBlownUp)
{
    const QImage image = artwork::drawButtonPicture(static_cast<artwork::Glyph>(GetParam()), false, 2);
    ASSERT_EQ(image.size(), QSize(2 * kPictureSize, 2 * kPictureSize));
    int detailed = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            detailed += image.pixel(x, y) != image.pixel(x + 1, y) || image.pixel(x, y) != image.pixel(x, y + 1)
                || image.pixel(x, y) != image.pixel(x + 1, y + 1);
    EXPECT_GT(detailed, 20);
}

// A dark toolbar shows through the silver: the glyph's light rim must stand
// out from it, whatever the glyph's own colours.
TEST_P(ButtonPicture, StaysVisibleOnADarkToolbar)
{
    const QImage image = artwork::drawButtonPicture(static_cast<artwork::Glyph>(GetParam()), false);
    int light = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            light += image.pixel(x, y) != kTransparent && qGray(image.pixel(x, y)) > 0x30 + 0x90;
    EXPECT_GT(light, 20);
}

INSTANTIATE_TEST_SUITE_P(AllGlyphs, ButtonPicture, ::testing::Range(0, artwork::kGlyphCount));

TEST(ButtonPictures, NormalSetIsPairwiseDistinct)
{
    using artwork::Glyph;
    for (int a = 0; a < artwork::kGlyphCount; ++a)
        for (int b = a + 1; b < artwork::kGlyphCount; ++b)
            EXPECT_NE(artwork::drawButtonPicture(Glyph(a), false), artwork::drawButtonPicture(Glyph(b), false))
                << a << " vs " << b;
}

TEST(ButtonPictures, OutOfRangeGlyphIsPlainSilver)
{
    for (int command : {-1, artwork::kGlyphCount, 1000}) {
        for (bool highlighted : {false, true}) {
            const QImage image = artwork::drawButtonPicture(static_cast<artwork::Glyph>(command), highlighted);
            ASSERT_EQ(image.size(), QSize(kPictureSize, kPictureSize)) << command;
            EXPECT_EQ(glyphPixels(image), 0) << command;
        }
    }
}

TEST(AppIcon, IsSmallPalettedAndNotFlat)
{
    const QImage icon = artwork::drawAppIcon();
    EXPECT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_LE(icon.colorCount(), 256);
    QSet<QRgb> colours;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            colours.insert(icon.pixel(x, y));
    EXPECT_GE(colours.size(), 3);
    // One of the bars is red; a broken palette would lose it.
    const bool hasRed = std::any_of(colours.cbegin(), colours.cend(), [](QRgb c) {
        return qAlpha(c) == 255 && qRed(c) > 150 && qGreen(c) < 100 && qBlue(c) < 100;
    });
    EXPECT_TRUE(hasRed);
}

} // namespace
