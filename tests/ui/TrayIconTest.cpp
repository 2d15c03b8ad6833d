#include "ui/TrayIcon.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <functional>
#include <numeric>

using namespace quillary;

namespace {

QImage render(int pending, bool darkPanel, int size = 22)
{
    return makeTrayIcon(pending, darkPanel).pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The mean of `value` over the pixels of `image` (in QImage::Format_ARGB32).
double mean(const QImage& image, const std::function<double(QColor)>& value)
{
    const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
    const qsizetype count = image.width() * image.height();
    return std::transform_reduce(pixels, pixels + count, 0.0, std::plus<>(),
                                 [&](QRgb c) { return value(QColor::fromRgba(c)); }) /
           double(count);
}

// The share of the lower right quarter in the badge's red.
double badgeRed(const QImage& image)
{
    return mean(image.copy(11, 11, 11, 11), [](QColor c) {
        return c.alpha() > 200 && c.red() > 190 && c.green() < 100 && c.blue() < 100;
    });
}

TEST(TrayIconTest, EverySizeIsDrawnForItself)
{
    for (const bool dark : {false, true}) {
        const QIcon icon = makeTrayIcon(5, dark);
        QList<int> sizes;
        for (const QSize& size : icon.availableSizes())
            sizes.append(size.width() == size.height() ? size.width() : -1);
        std::sort(sizes.begin(), sizes.end());
        EXPECT_EQ(sizes, QList<int>(trayIconSizes.begin(), trayIconSizes.end()));
        // The 64 px one has more than a scaled-up 22 px one's detail.
        EXPECT_NE(render(5, dark, 64), render(5, dark, 22).scaled(64, 64));
    }
}

// Only the lower right changes, and only while screenshots are pending; the count is spelled up to 99.
TEST(TrayIconTest, BadgeAtTheLowerRightCountsWhatIsPending)
{
    const QRect lowerRight(11, 11, 11, 11), topRows(0, 0, 22, 8); // the badge is at most 60 % high
    for (const bool dark : {false, true}) {
        const QImage plain = render(0, dark);
        EXPECT_EQ(badgeRed(plain), 0);
        for (const int pending : {-3, 0, 1, 7, 42, 150}) {
            const QImage image = render(pending, dark);
            EXPECT_EQ(badgeRed(image) > 0.25, pending > 0) << pending;
            EXPECT_EQ(image.copy(lowerRight) == plain.copy(lowerRight), pending <= 0) << pending;
            EXPECT_EQ(image.copy(topRows), plain.copy(topRows)) << pending;
        }
    }
    EXPECT_NE(render(1, false), render(7, false));
    EXPECT_NE(render(9, false), render(99, false));
    EXPECT_EQ(render(150, false), render(99, false));
    EXPECT_EQ(render(100, true, 64), render(99, true, 64));
}

// The glyph takes the colour that suits the panel the session suggests (dark for a light one), over a
// halo that keeps it legible on the other: either icon stands out on either panel, in the same shape.
TEST(TrayIconTest, LegibleOnLightAndDarkPanelsWhicheverColourWasGuessed)
{
    for (const int size : trayIconSizes) {
        const QImage forLight = render(0, false, size), forDark = render(0, true, size);
        const auto coverage = [](const QImage& icon) {
            return mean(icon, [](QColor c) { return c.alphaF(); });
        };
        const auto ink = [](const QImage& icon) { // mean lightness of the opaque strokes
            return mean(icon, [](QColor c) { return c.alphaF() > 0.98 ? c.lightnessF() : 0; }) /
                   mean(icon, [](QColor c) { return c.alphaF() > 0.98; });
        };
        EXPECT_LT(ink(forLight) + 0.3, ink(forDark)) << size;
        EXPECT_GT(coverage(forLight), 0.15) << size;
        EXPECT_NEAR(coverage(forLight), coverage(forDark), 0.01) << size << " same shape, other colour";
        for (const QImage* icon : {&forLight, &forDark}) {
            for (const QColor& background : {QColor(0x2e, 0x34, 0x40), QColor(0xec, 0xef, 0xf4)}) {
                QImage panel(icon->size(), QImage::Format_ARGB32);
                panel.fill(background);
                QPainter(&panel).drawImage(0, 0, *icon);
                const auto change = [&](QColor c) {
                    return std::abs(c.lightnessF() - background.lightnessF());
                };
                EXPECT_GT(mean(panel, change), 0.08) << size << " must show on either panel";
            }
        }
    }
}

} // namespace
