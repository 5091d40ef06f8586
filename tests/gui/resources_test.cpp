// The program's pictures, cursors and icon as the gui library serves them.

#include "gui/resources.h"

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QSet>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace sonavik;

namespace {

// Sets a button face no picture uses, so that replaced pixels can be told apart from drawn ones.
class FaceColour {
public:
    explicit FaceColour(QColor face) : saved_(QApplication::palette())
    {
        QPalette p = saved_;
        p.setColor(QPalette::Button, face);
        QApplication::setPalette(p);
    }
    ~FaceColour() { QApplication::setPalette(saved_); }

private:
    QPalette saved_;
};

QImage rgb(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

QSet<QRgb> coloursOf(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return colours;
}

QImage rawPicture(int id)
{
    buttonPicture(302); // makes sure the resources are registered
    return QImage(QStringLiteral(":/sonavik/pictures/%1.xpm").arg(id)).convertToFormat(QImage::Format_ARGB32);
}

int expectedSide(int id) { return id <= 318 ? 16 : 24; }

const QRgb kWhite = qRgb(255, 255, 255);

} // namespace

TEST(ButtonPictures, EveryPictureHasItsSizeAtMostSixteenColoursAndWhiteAsTheFace)
{
    const QColor face(0x3A, 0x6B, 0x9C);
    FaceColour guard(face);
    for (int id = 302; id <= 336; ++id) {
        SCOPED_TRACE(id);
        const QImage raw = rawPicture(id);
        const QImage shown = rgb(buttonPicture(id));
        ASSERT_FALSE(shown.isNull());
        ASSERT_EQ(shown.size(), QSize(expectedSide(id), expectedSide(id)));
        ASSERT_EQ(raw.size(), shown.size());
        EXPECT_LE(coloursOf(raw).size(), 16);
        EXPECT_LE(coloursOf(shown).size(), 16);
        int replaced = 0;
        for (int y = 0; y < raw.height(); ++y)
            for (int x = 0; x < raw.width(); ++x) {
                const QRgb before = raw.pixel(x, y);
                const QRgb after = shown.pixel(x, y);
                ASSERT_EQ(qAlpha(before), 255) << "pictures are opaque; white is their background";
                if (before == kWhite) {
                    ASSERT_EQ(after, face.rgb()) << x << "," << y;
                    ++replaced;
                } else {
                    ASSERT_EQ(after, before) << x << "," << y << ": only pure white may change";
                }
            }
        // The corner pixel is background in every picture, so each one blends with its button.
        EXPECT_EQ(shown.pixel(0, 0), face.rgb());
        EXPECT_GT(replaced, 0);
    }
}

TEST(ButtonPictures, FollowTheFaceColourOfTheMoment)
{
    for (QColor face : {QColor(0xEF, 0xEF, 0xEF), QColor(0x30, 0x30, 0x30)}) {
        FaceColour guard(face);
        EXPECT_EQ(rgb(buttonPicture(316)).pixel(8, 8), face.rgb()); // the blank one
        EXPECT_EQ(rgb(buttonPicture(320)).pixel(0, 0), face.rgb());
    }
}

TEST(ButtonPictures, BigButtonStatesShareTheDrawingAndTheDisabledOneIsGrey)
{
    for (int first = 319; first <= 334; first += 3) {
        SCOPED_TRACE(first);
        const QImage active = rawPicture(first), normal = rawPicture(first + 1), disabled = rawPicture(first + 2);
        bool coloursDiffer = false;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x) {
                const bool bg = normal.pixel(x, y) == kWhite;
                ASSERT_EQ(active.pixel(x, y) == kWhite, bg) << x << "," << y;
                ASSERT_EQ(disabled.pixel(x, y) == kWhite, bg) << x << "," << y;
                const QRgb d = disabled.pixel(x, y);
                ASSERT_TRUE(qRed(d) == qGreen(d) && qGreen(d) == qBlue(d)) << x << "," << y;
                coloursDiffer |= active.pixel(x, y) != normal.pixel(x, y);
            }
        EXPECT_TRUE(coloursDiffer) << "the active picture should stand out from the normal one";
    }
}

TEST(ProgramCursors, ShapesAreOutlinedAndHotSpotsLieOnThem)
{
    for (int id = 201; id <= 207; ++id) {
        SCOPED_TRACE(id);
        const QCursor cursor = programCursor(id);
        ASSERT_EQ(cursor.shape(), Qt::BitmapCursor);
        const QImage image = rgb(cursor.pixmap());
        ASSERT_EQ(image.size(), QSize(32, 32));
        const QPoint hot = cursor.hotSpot();
        ASSERT_EQ(std::optional<QPoint>(hot), cursorHotSpot(id));
        ASSERT_TRUE(image.rect().contains(hot));
        EXPECT_EQ(qAlpha(image.pixel(hot)), 255) << "the hot spot should be on the drawn shape";

        int black = 0, transparent = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const QRgb p = image.pixel(x, y);
                if (qAlpha(p) == 0) {
                    ++transparent;
                    continue;
                }
                ASSERT_TRUE(p == qRgb(0, 0, 0) || p == kWhite) << x << "," << y;
                if (p != qRgb(0, 0, 0))
                    continue;
                ++black;
                // Black never touches the transparent area, so the shape shows on a dark screen too.
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const QPoint n(x + dx, y + dy);
                        ASSERT_TRUE(image.rect().contains(n)) << "shape runs off the edge at " << x << "," << y;
                        ASSERT_NE(qAlpha(image.pixel(n)), 0) << "no outline at " << x << "," << y;
                    }
            }
        EXPECT_GT(black, 20);
        EXPECT_GT(transparent, 32 * 32 / 2);
    }
}

TEST(ProgramResources, UnknownIdsGiveNothingOrTheArrow)
{
    for (int id : {-1, 0, 201, 301, 337, 1000000}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(buttonPicture(id).isNull());
    }
    for (int id : {-1, 0, 200, 208, 301, 302}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(programCursor(id).shape(), Qt::ArrowCursor);
        EXPECT_FALSE(cursorHotSpot(id).has_value());
    }
}

TEST(ProgramResources, ApplicationIconHasBothSizesAndTransparentCorners)
{
    const QIcon icon = applicationIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(48, 48)));
    for (int side : {32, 48}) {
        const QImage image = rgb(icon.pixmap(side, side));
        ASSERT_EQ(image.size(), QSize(side, side));
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(image.pixel(side - 1, side - 1)), 0);
        EXPECT_EQ(qAlpha(image.pixel(side / 2, side / 2)), 255);
    }
}

// Everything at 4x and at real size on the button face, cursors on light and dark ground with the
// hot spot marked. Set SONAVIK_CONTACT_SHEET=/tmp/sheet.png to look at it.
TEST(ProgramResources, ContactSheet)
{
    const int scale = 4, gap = 8;
    const QColor face = QApplication::palette().color(QPalette::Button);
    QImage sheet(1100, 1040, QImage::Format_RGB32);
    sheet.fill(QColor(0x80, 0x80, 0x80));
    QPainter p(&sheet);
    p.setFont(QFont(QStringLiteral("sans"), 8));

    auto tile = [&](QPoint at, const QPixmap& pix, int id, QColor ground) {
        const QSize big = pix.size() * scale;
        p.fillRect(QRect(at, big), ground);
        p.drawPixmap(QRect(at, big), pix);
        p.fillRect(QRect(at + QPoint(0, big.height() + 2), pix.size() + QSize(4, 4)), ground);
        p.drawPixmap(at + QPoint(2, big.height() + 4), pix);
        p.setPen(Qt::black);
        p.drawText(at + QPoint(pix.width() + 8, big.height() + 14), QString::number(id));
        return big.width();
    };

    int x = gap, y = gap;
    for (int id = 302; id <= 318; ++id) {
        x += tile({x, y}, buttonPicture(id), id, face) + gap;
        if (id == 310) {
            x = gap;
            y += 16 * scale + 30;
        }
    }
    x = gap;
    y += 16 * scale + 30;
    for (int id = 319; id <= 336; ++id) {
        x += tile({x, y}, buttonPicture(id), id, face) + (id % 3 == 0 ? 3 * gap : 2);
        if (id == 327) {
            x = gap;
            y += 24 * scale + 30;
        }
    }
    x = gap;
    y += 24 * scale + 30;
    for (QColor ground : {QColor(0xF0, 0xF0, 0xF0), QColor(0x10, 0x18, 0x30)}) {
        x = gap;
        for (int id = 201; id <= 207; ++id) {
            const QCursor c = programCursor(id);
            tile({x, y}, c.pixmap(), id, ground);
            p.fillRect(QRect(QPoint(x, y) + c.hotSpot() * scale, QSize(scale, scale)), Qt::red);
            x += 32 * scale + gap;
        }
        y += 32 * scale + 30;
    }
    const QIcon icon = applicationIcon();
    x = gap;
    for (int side : {48, 32}) {
        x += tile({x, y}, icon.pixmap(side, side), 301, face) + gap;
    }
    p.end();
    if (const char* out = std::getenv("SONAVIK_CONTACT_SHEET")) {
        EXPECT_TRUE(sheet.save(QString::fromLocal8Bit(out)));
    }
}
