#include "ui/CopiedToast.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QScreen>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

xcb_connection_t* x11()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t x11Atom(const char* name)
{
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(x11(), xcb_intern_atom(x11(), 0, uint16_t(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A 32-bit property of the window, whatever its type; empty when unset.
QList<quint32> x11Cardinals(QWidget& window, const char* name)
{
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(x11(),
                               xcb_get_property(x11(), 0, xcb_window_t(window.winId()), x11Atom(name),
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                               nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const quint32*>(xcb_get_property_value(reply.get()));
    return QList<quint32>(data, data + xcb_get_property_value_length(reply.get()) / 4);
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
        {"outside every screen keeps the previous spot", {-5, 500}, previous},
    };
    for (const auto& [what, pointer, expected] : cases)
        EXPECT_EQ(copiedToastTopLeft(screens, available, pointer, CopiedToast::panelSize, previous), expected)
            << what;
}

TEST(CopiedToastTest, PanelIsClickThroughOnTopAndNeverTakesActivation)
{
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == &other; }));

    CopiedToast toast;
    EXPECT_EQ(toast.panel(), nullptr) << "made on first use only";
    toast.show(primaryCentre());
    QWidget* panel = toast.panel();
    ASSERT_NE(panel, nullptr);
    test::processEventsFor(300ms);
    for (const Qt::WindowType flag : {Qt::Tool, Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                                      Qt::WindowDoesNotAcceptFocus, Qt::WindowTransparentForInput})
        EXPECT_TRUE(panel->windowFlags().testFlag(flag)) << flag;
    for (const Qt::WidgetAttribute attribute :
         {Qt::WA_ShowWithoutActivating, Qt::WA_TransparentForMouseEvents})
        EXPECT_TRUE(panel->testAttribute(attribute)) << attribute;
    EXPECT_EQ(panel->geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());

    // Offscreen activates every window it shows; on X11 the window manager decides from these
    // properties (ctest runs this binary once more under xvfb-run).
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        return;
    EXPECT_EQ(QApplication::activeWindow(), &other);
    const QList<quint32> hints = x11Cardinals(*panel, "WM_HINTS");
    EXPECT_TRUE(hints.size() >= 2 && hints[0] & 1u && hints[1] == 0u) << "input hint: no focus";
    EXPECT_EQ(x11Cardinals(*panel, "_NET_WM_USER_TIME"), QList<quint32>{0u}) << "not activated on map";
    EXPECT_TRUE(x11Cardinals(*panel, "_NET_WM_STATE").contains(x11Atom("_NET_WM_STATE_ABOVE")));

    // Hiding withdraws the window, and window managers then drop its desktop: set again on each show.
    toast.hide();
    ASSERT_TRUE(test::waitUntil([&] { return !panel->isVisible(); }));
    const quint32 oneDesktop = 3;
    xcb_change_property(x11(), XCB_PROP_MODE_REPLACE, xcb_window_t(panel->winId()),
                        x11Atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1, &oneDesktop);
    toast.show(primaryCentre());
    EXPECT_EQ(x11Cardinals(*panel, "_NET_WM_DESKTOP"), QList<quint32>{0xFFFFFFFFu}) << "on every desktop";
}

// Fades in for 0.2 s; the first show's timer, never called off, starts a 0.35 s fade-out 1.5 s after
// it, even when the toast was shown again in between.
TEST(CopiedToastTest, FirstShowsTimerFadesOutAToastShownAgainSoonAfter)
{
    constexpr qint64 slack = 250; // a loaded machine's late ticks; timers never fire early
    CopiedToast toast;
    QElapsedTimer clock;
    const auto msUntil = [&](std::chrono::milliseconds timeout, const std::function<bool()>& condition) {
        return test::waitUntil(condition, timeout) ? clock.elapsed() : -1;
    };
    clock.start();
    toast.show(primaryCentre());
    QWidget* panel = toast.panel();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_LT(panel->windowOpacity(), 0.1);
    const qint64 opaque = msUntil(1s, [&] { return panel->windowOpacity() > 0.99; });
    EXPECT_TRUE(opaque >= 150 && opaque <= 300 + slack) << opaque;

    ASSERT_TRUE(test::waitUntil([&] { return clock.elapsed() >= 1000; }));
    toast.show(primaryCentre());
    const qint64 secondShow = clock.elapsed();
    EXPECT_EQ(toast.panel(), panel) << "the panel is kept, not made anew";
    EXPECT_LT(panel->windowOpacity(), 0.1) << "every show fades in from nothing";
    const qint64 opaqueAgain = msUntil(1s, [&] { return panel->windowOpacity() > 0.99; });
    EXPECT_TRUE(opaqueAgain >= secondShow + 150 && opaqueAgain <= secondShow + 300 + slack) << opaqueAgain;

    const qint64 fading = msUntil(3s, [&] { return panel->windowOpacity() < 0.99; });
    EXPECT_TRUE(fading >= 1500 && fading <= 1500 + slack) << fading;
    EXPECT_TRUE(panel->isVisible());
    const qint64 hidden = msUntil(3s, [&] { return !panel->isVisible(); });
    EXPECT_TRUE(hidden >= 1850 && hidden <= 1850 + slack) << hidden;

    // The second show's own timer comes later, finds the panel hidden and leaves it so.
    test::processEventsFor(std::chrono::milliseconds(secondShow + 1700 - clock.elapsed()));
    EXPECT_FALSE(panel->isVisible());
    toast.show(primaryCentre());
    EXPECT_TRUE(panel->isVisible()) << "a hidden panel shows again";
}

// Also writes the rendering into $QUILLARY_SNAPSHOT_DIR, when set, for the docs.
TEST(CopiedToastTest, DrawsAnOutlinedCapsuleWithABlueSymbolAndWhiteText)
{
    CopiedToast toast;
    toast.show(primaryCentre());
    QWidget* panel = toast.panel();
    const QString snapshots = qEnvironmentVariable("QUILLARY_SNAPSHOT_DIR");
    for (const qreal ratio : {1.0, 2.0}) {
        QImage image(panel->size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        panel->render(&image, {}, {}, QWidget::DrawChildren);
        const QImage plain = image.convertToFormat(QImage::Format_ARGB32);

        const auto at = [&](int x, int y) { return plain.pixelColor(int(x * ratio), int(y * ratio)); };
        EXPECT_EQ(at(0, 0).alpha() + at(259, 45).alpha(), 0) << "corners stay clear: a capsule, not a box";
        EXPECT_TRUE(at(130, 4).alpha() > 180 && at(130, 4).lightness() < 80) << "a dark capsule to read on";
        EXPECT_GT(at(130, 43).alpha(), 0) << "a shadow below the capsule";
        int blue = 0, white = 0;
        for (int y = 0; y < plain.height(); ++y)
            for (int x = 0; x < plain.width(); ++x) {
                const QColor c = plain.pixelColor(x, y);
                blue +=
                    c.alpha() > 200 && c.blue() > 200 && c.red() < 80 && c.green() > 90 && c.green() < 170;
                white += c.alpha() > 200 && c.red() > 230 && c.green() > 230 && c.blue() > 230;
            }
        EXPECT_GT(blue, int(60 * ratio * ratio)) << "the tinted clipboard symbol";
        EXPECT_GT(white, int(60 * ratio * ratio)) << "the label";

        const QString name = ratio > 1 ? "copied-toast@2x.png" : "copied-toast.png";
        EXPECT_TRUE(snapshots.isEmpty() ||
                    (QDir(snapshots).mkpath(".") && image.save(QDir(snapshots).filePath(name))));
    }
}

} // namespace
