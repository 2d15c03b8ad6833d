#include "ui/TrayIcon.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

using namespace quillary;

namespace {

QImage render(int pending, bool darkPanel, int size = 22)
{
    return makeTrayIcon(pending, darkPanel)
        .pixmap(size, size)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}

// Pixels of the badge's red within `area`.
int badgePixels(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.alpha() > 200 && c.red() > 190 && c.green() < 100 && c.blue() < 100;
        }
    }
    return count;
}

bool sameIn(const QImage& a, const QImage& b, const QRect& area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y))
                return false;
        }
    }
    return true;
}

TEST(TrayIconTest, HasEverySizeForBothPanels)
{
    for (const bool dark : {false, true}) {
        for (const int pending : {0, 5}) {
            const QIcon icon = makeTrayIcon(pending, dark);
            QList<int> sizes;
            for (const QSize& size : icon.availableSizes()) {
                EXPECT_EQ(size.width(), size.height());
                sizes.append(size.width());
            }
            std::sort(sizes.begin(), sizes.end());
            EXPECT_EQ(sizes, QList<int>(trayIconSizes.begin(), trayIconSizes.end()));
            // Each size is drawn for itself: the 64 px one has more than a scaled-up 22 px one's detail.
            const QImage big = icon.pixmap(64).toImage().convertToFormat(QImage::Format_ARGB32);
            EXPECT_EQ(big.size(), QSize(64, 64));
            EXPECT_NE(big, render(pending, dark, 22).scaled(64, 64));
        }
    }
}

struct BadgeCase {
    int pending;
    bool badge;
};

TEST(TrayIconTest, BadgeAtTheLowerRightOnlyWhilePending)
{
    const QRect lowerRight(11, 11, 11, 11);
    const QRect topRows(0, 0, 22, 8); // the badge is at most 60 % of the height
    for (const bool dark : {false, true}) {
        const QImage plain = render(0, dark);
        EXPECT_EQ(badgePixels(plain, plain.rect()), 0);
        for (const BadgeCase& c : {BadgeCase{-3, false}, BadgeCase{0, false}, BadgeCase{1, true},
                                   BadgeCase{7, true}, BadgeCase{42, true}, BadgeCase{150, true}}) {
            const QImage image = render(c.pending, dark);
            EXPECT_EQ(badgePixels(image, lowerRight) > 30, c.badge) << c.pending;
            EXPECT_EQ(sameIn(image, plain, lowerRight), !c.badge) << c.pending;
            EXPECT_TRUE(sameIn(image, plain, topRows)) << c.pending;
        }
    }
}

TEST(TrayIconTest, BadgeSpellsTheCountUpTo99)
{
    EXPECT_NE(render(1, false), render(7, false));
    EXPECT_NE(render(9, false), render(99, false));
    EXPECT_EQ(render(150, false), render(99, false));
    EXPECT_EQ(render(100, true, 64), render(99, true, 64));
}

// Mean lightness of the icon's ink, weighted by coverage, and how much of the icon is inked.
std::pair<double, double> ink(const QImage& image)
{
    double weight = 0;
    double lightness = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            weight += c.alphaF();
            lightness += c.alphaF() * c.lightnessF();
        }
    }
    return {weight > 0 ? lightness / weight : 0, weight / (image.width() * image.height())};
}

// How much the icon changes a panel of `background`: mean lightness change over the whole icon.
double standsOut(const QImage& icon, const QColor& background)
{
    QImage panel(icon.size(), QImage::Format_ARGB32_Premultiplied);
    panel.fill(background);
    QPainter(&panel).drawImage(0, 0, icon);
    double change = 0;
    for (int y = 0; y < panel.height(); ++y)
        for (int x = 0; x < panel.width(); ++x)
            change += std::abs(panel.pixelColor(x, y).lightnessF() - background.lightnessF());
    return change / (panel.width() * panel.height());
}

TEST(TrayIconTest, LegibleOnLightAndDarkPanelsWhicheverColourWasGuessed)
{
    const QColor darkPanel(0x2e, 0x34, 0x40);
    const QColor lightPanel(0xec, 0xef, 0xf4);
    for (const int size : trayIconSizes) {
        const QImage forLight = render(0, false, size);
        const QImage forDark = render(0, true, size);
        // The glyph itself takes the colour that suits the guessed panel: dark for a light one.
        int opaque = 0;
        int darkerForLight = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QColor a = forLight.pixelColor(x, y);
                const QColor b = forDark.pixelColor(x, y);
                if (a.alphaF() > 0.98 && b.alphaF() > 0.98) {
                    ++opaque;
                    darkerForLight += a.lightnessF() + 0.3 < b.lightnessF();
                }
            }
        }
        EXPECT_GT(darkerForLight, opaque * 0.8) << size;
        for (const QImage* icon : {&forLight, &forDark})
            for (const QColor& panel : {darkPanel, lightPanel})
                EXPECT_GT(standsOut(*icon, panel), 0.08) << size << " must show on either panel";
        const double lightPanelCover = ink(forLight).second;
        const double darkPanelCover = ink(forDark).second;
        EXPECT_GT(lightPanelCover, 0.15) << size;
        EXPECT_NEAR(lightPanelCover, darkPanelCover, 0.01) << size << " same shape, other colour";
    }

    const QString dir = qEnvironmentVariable("QUILLARY_SNAPSHOT_DIR");
    if (dir.isEmpty())
        return;
    ASSERT_TRUE(QDir(dir).mkpath("."));
    for (const int size : {22, 64}) {
        for (const bool dark : {false, true}) {
            for (const int pending : {0, 3, 42}) {
                const QString name = QStringLiteral("tray-%1-%2-pending%3.png")
                                         .arg(dark ? "dark" : "light")
                                         .arg(size)
                                         .arg(pending);
                EXPECT_TRUE(render(pending, dark, size).save(QDir(dir).filePath(name)));
            }
        }
    }
}

} // namespace
