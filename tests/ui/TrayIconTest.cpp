#include "ui/TrayIcon.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPixmap>

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

// Only the lower right changes, and only while screenshots are pending; the count is spelled up to 99.
TEST(TrayIconTest, BadgeAtTheLowerRightCountsWhatIsPending)
{
    const QRect lowerRight(11, 11, 11, 11), topRows(0, 0, 22, 8); // the badge is at most 60 % high
    const auto badgeRed = [&](const QImage& image) {
        return mean(image.copy(lowerRight), [](QColor c) {
            return c.alpha() > 200 && c.red() > 190 && c.green() < 100 && c.blue() < 100;
        });
    };
    for (const bool dark : {false, true}) {
        const QImage plain = render(0, dark);
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

// The glyph takes the colour that suits the panel the session suggests, over a halo that keeps it
// legible on the other: either icon stands out on either panel, at every size.
TEST(TrayIconTest, LegibleOnLightAndDarkPanelsWhicheverColourWasGuessed)
{
    for (const int size : trayIconSizes) {
        const QImage forLight = render(0, false, size), forDark = render(0, true, size);
        const auto ink = [](const QImage& icon) { // mean lightness of the opaque strokes
            return mean(icon, [](QColor c) { return c.alphaF() > 0.98 ? c.lightnessF() : 0; }) /
                   mean(icon, [](QColor c) { return c.alphaF() > 0.98; });
        };
        EXPECT_LT(ink(forLight) + 0.3, ink(forDark)) << size;
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
