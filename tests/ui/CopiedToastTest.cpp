#include "ui/CopiedToast.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>

#include <span>
using namespace quillary;
using namespace std::chrono_literals;

namespace {

// Runs xprop on the window (another X client, as a window manager is); returns what it printed.
QString xprop(QWidget& window, const QStringList& arguments)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), QStringList{"-id", QString::number(window.winId())} + arguments);
    EXPECT_TRUE(xprop.waitForFinished(5000));
    return QString::fromUtf8(xprop.readAllStandardOutput());
}

QPoint primaryCentre()
{
    return QGuiApplication::primaryScreen()->geometry().center();
}

TEST(CopiedToastTest, CentresOnTheAvailableAreaOfTheScreenUnderThePointer)
{
    // A 1920×1080 screen with a 28 px menu bar and a 2560×1440 screen to its right with a dock below.
    const QList<QRect> screens{{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}};
    const QList<QRect> available{{0, 28, 1920, 1052}, {1920, 0, 2560, 1380}};
    const QPoint previous(77, 88);
    const std::tuple<const char*, QPoint, QPoint> cases[] = {
        {"first screen", {100, 500}, {830, 531}},
        {"second screen", {1920, 0}, {1920 + 1150, 667}},
        {"second screen, inside its dock", {3000, 1439}, {1920 + 1150, 667}},
        {"outside every screen keeps the previous spot", {-5, 500}, previous}};
    for (const auto& [what, pointer, expected] : cases)
        EXPECT_EQ(copiedToastTopLeft(screens, available, pointer, CopiedToast::panelSize, previous), expected)
            << what;
}

// Offscreen activates every window it shows; on X11 the window manager decides from the window's
// properties (ctest runs this binary once more under xvfb-run).
TEST(CopiedToastTest, PanelFloatsOnTopWithoutTakingFocusOrClicks)
{
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == &other; }));
    CopiedToast toast;
    toast.show(primaryCentre());
    QWidget* panel = toast.panel();
    test::processEventsFor(300ms);
    for (const Qt::WindowType flag : {Qt::Tool, Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                                      Qt::WindowDoesNotAcceptFocus, Qt::WindowTransparentForInput})
        EXPECT_TRUE(panel->windowFlags().testFlag(flag)) << flag;
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(panel->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(panel->geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        return;
    if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
        GTEST_SKIP() << "xprop is not installed";
    EXPECT_EQ(QApplication::activeWindow(), &other);
    const QString properties = xprop(*panel, {"WM_HINTS", "_NET_WM_USER_TIME", "_NET_WM_STATE"});
    EXPECT_TRUE(properties.contains(u"Client accepts input or input focus: False"))
        << properties.toStdString();
    EXPECT_TRUE(properties.contains(u"_NET_WM_USER_TIME(CARDINAL) = 0\n")) << "not activated on map";
    EXPECT_TRUE(properties.contains(u"_NET_WM_STATE_ABOVE")) << properties.toStdString();

    // Hiding withdraws the window, and window managers then drop its desktop: set again on each show.
    toast.hide();
    ASSERT_TRUE(test::waitUntil([&] { return !panel->isVisible(); }));
    xprop(*panel, {"-f", "_NET_WM_DESKTOP", "32c", "-set", "_NET_WM_DESKTOP", "3"});
    toast.show(primaryCentre());
    test::processEventsFor(100ms);
    EXPECT_EQ(toast.panel(), panel) << "the panel is kept, not made anew";
    EXPECT_TRUE(xprop(*panel, {"_NET_WM_DESKTOP"}).contains(u"= 4294967295")) << "on every desktop";
}

// The tinted clipboard symbol and the white label, at one and two device pixels per pixel.
TEST(CopiedToastTest, DrawsItsSymbolAndLabel)
{
    CopiedToast toast;
    toast.show(primaryCentre());
    for (const qreal ratio : {1.0, 2.0}) {
        QImage image(toast.panel()->size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        toast.panel()->render(&image, {}, {}, QWidget::DrawChildren);
        image.convertTo(QImage::Format_ARGB32);
        int blue = 0, white = 0;
        const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
        for (const QRgb c : std::span(pixels, image.width() * image.height())) {
            blue += qAlpha(c) > 200 && qBlue(c) > 200 && qRed(c) < 80 && qGreen(c) > 90 && qGreen(c) < 170;
            white += qAlpha(c) > 200 && qRed(c) > 230 && qGreen(c) > 230 && qBlue(c) > 230;
        }
        EXPECT_GT(blue, int(60 * ratio * ratio)) << "the tinted clipboard symbol";
        EXPECT_GT(white, int(60 * ratio * ratio)) << "the label";
    }
}

} // namespace
