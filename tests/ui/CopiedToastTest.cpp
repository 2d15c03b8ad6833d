#include "ui/CopiedToast.h"
#include "support/TestSupport.h"
#include "ui/CopiedToastView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

using namespace quillary;
using namespace std::chrono_literals;

namespace {

// Room for a loaded machine's late timer ticks in the upper bounds; timers never fire early.
constexpr qint64 slackMs = 250;

// Milliseconds on `clock` when `condition` first held, or -1 when it did not within `timeout`.
qint64 msUntil(const QElapsedTimer& clock, std::chrono::milliseconds timeout,
               const std::function<bool()>& condition)
{
    return test::waitUntil(condition, timeout) ? clock.elapsed() : -1;
}

#if QT_CONFIG(xcb)
xcb_connection_t* x11()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t x11Atom(const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(x11(), xcb_intern_atom(x11(), 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// A 32-bit property of the window, whatever its type; empty when unset.
QList<quint32> x11Cardinals(QWidget& window, const char* name)
{
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        x11(), 0, xcb_window_t(window.winId()), x11Atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 64);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(x11(), cookie, nullptr);
    QList<quint32> values;
    if (reply && reply->format == 32) {
        const auto* data = static_cast<const quint32*>(xcb_get_property_value(reply));
        values = QList<quint32>(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

void x11SetCardinal(QWidget& window, const char* name, quint32 value)
{
    xcb_change_property(x11(), XCB_PROP_MODE_REPLACE, xcb_window_t(window.winId()), x11Atom(name),
                        XCB_ATOM_CARDINAL, 32, 1, &value);
    xcb_flush(x11());
}
#endif

QPoint primaryCentre()
{
    return QGuiApplication::primaryScreen()->geometry().center();
}

// Writes `image` into $QUILLARY_SNAPSHOT_DIR, when set, for a look by eye.
void saveSnapshot(const QImage& image, const QString& name)
{
    const QString dir = qEnvironmentVariable("QUILLARY_SNAPSHOT_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(QDir(dir).mkpath(".") && image.save(QDir(dir).filePath(name)));
    }
}

struct PlacementCase {
    const char* what;
    QPoint pointer;
    QPoint expected;
};

TEST(CopiedToastTest, CentresOnTheAvailableAreaOfTheScreenUnderThePointer)
{
    // A 1920×1080 screen with a 28 px menu bar and a 2560×1440 screen to its right with a dock below.
    const QList<QRect> screens{{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}};
    const QList<QRect> available{{0, 28, 1920, 1052}, {1920, 0, 2560, 1380}};
    const QPoint previous(77, 88);
    const PlacementCase cases[] = {
        {"first screen, below its menu bar", {100, 500}, {830, 531}},
        {"first screen's last column", {1919, 0}, {830, 531}},
        {"second screen", {1920, 0}, {1920 + 1150, 667}},
        {"second screen, inside its dock", {3000, 1439}, {1920 + 1150, 667}},
        {"outside every screen keeps the previous spot", {-5, 500}, previous},
        {"below both screens", {2000, 1440}, previous},
    };
    for (const PlacementCase& c : cases) {
        EXPECT_EQ(copiedToastTopLeft(screens, available, c.pointer, CopiedToast::panelSize, previous),
                  c.expected)
            << c.what;
    }

    // Overlapping (mirrored) screens: the first in the list wins.
    const QList<QRect> mirrored{{0, 0, 1000, 800}, {0, 0, 1000, 800}};
    const QList<QRect> mirroredAvailable{{0, 0, 1000, 800}, {0, 100, 1000, 700}};
    EXPECT_EQ(copiedToastTopLeft(mirrored, mirroredAvailable, {10, 10}, {200, 40}, previous),
              QPoint(400, 380));
}

TEST(CopiedToastTest, PanelIsClickThroughOnTopAndNeverTakesActivation)
{
    QWidget other;
    other.resize(300, 200);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == &other; }));

    CopiedToast toast;
    EXPECT_EQ(toast.panel(), nullptr) << "made on first use only";
    toast.show(primaryCentre());
    QWidget* panel = toast.panel();
    ASSERT_NE(panel, nullptr);
    test::processEventsFor(300ms);
    EXPECT_TRUE(panel->isVisible());

    for (const Qt::WindowType flag : {Qt::Tool, Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                                      Qt::WindowDoesNotAcceptFocus, Qt::WindowTransparentForInput}) {
        EXPECT_TRUE(panel->windowFlags().testFlag(flag)) << flag;
    }
    for (const Qt::WidgetAttribute attribute :
         {Qt::WA_ShowWithoutActivating, Qt::WA_TransparentForMouseEvents, Qt::WA_TranslucentBackground}) {
        EXPECT_TRUE(panel->testAttribute(attribute)) << attribute;
    }
    EXPECT_EQ(panel->size(), QSize(260, 46));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(panel->geometry().center(), area.center());

#if QT_CONFIG(xcb)
    // The offscreen platform activates every window it shows, whatever the hints; on X11 the window
    // manager decides from these properties, so check what it will read.
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        return;
    EXPECT_FALSE(panel->isActiveWindow());
    EXPECT_EQ(QApplication::activeWindow(), &other);
    EXPECT_EQ(x11Cardinals(*panel, "_NET_WM_DESKTOP"), QList<quint32>{0xFFFFFFFFu}) << "on every desktop";
    const QList<quint32> hints = x11Cardinals(*panel, "WM_HINTS");
    ASSERT_GE(hints.size(), 2);
    EXPECT_TRUE(hints.at(0) & 1u) << "input hint present";
    EXPECT_EQ(hints.at(1), 0u) << "input hint says no focus";
    EXPECT_EQ(x11Cardinals(*panel, "_NET_WM_USER_TIME"), QList<quint32>{0u}) << "not activated on map";
    EXPECT_TRUE(x11Cardinals(*panel, "_NET_WM_STATE").contains(x11Atom("_NET_WM_STATE_ABOVE")));

    // Hiding withdraws the window, and window managers then drop its desktop: set again on each show.
    toast.hide();
    ASSERT_TRUE(test::waitUntil([&] { return !panel->isVisible(); }));
    x11SetCardinal(*panel, "_NET_WM_DESKTOP", 3);
    toast.show(primaryCentre());
    EXPECT_EQ(x11Cardinals(*panel, "_NET_WM_DESKTOP"), QList<quint32>{0xFFFFFFFFu});
#endif
}

TEST(CopiedToastTest, FadesInStaysThenFadesOutAndHides)
{
    CopiedToast toast;
    QElapsedTimer clock;
    clock.start();
    toast.show(primaryCentre());
    QWidget* panel = toast.panel();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_LT(panel->windowOpacity(), 0.1);

    const qint64 opaque = msUntil(clock, 1s, [&] { return panel->windowOpacity() > 0.99; });
    EXPECT_GE(opaque, 150);
    EXPECT_LE(opaque, 300 + slackMs);
    const qint64 fading = msUntil(clock, 3s, [&] { return panel->windowOpacity() < 0.99; });
    EXPECT_GE(fading, 1500);
    EXPECT_LE(fading, 1500 + slackMs);
    EXPECT_TRUE(panel->isVisible());
    const qint64 hidden = msUntil(clock, 2s, [&] { return !panel->isVisible(); });
    EXPECT_GE(hidden, 1850);
    EXPECT_LE(hidden, 1850 + slackMs);
}

TEST(CopiedToastTest, FirstShowsTimerHidesAToastShownAgainSoonAfter)
{
    CopiedToast toast;
    QElapsedTimer clock;
    clock.start();
    toast.show(primaryCentre());
    QWidget* panel = toast.panel();
    ASSERT_TRUE(test::waitUntil([&] { return clock.elapsed() >= 1000; }));

    toast.show(primaryCentre());
    const qint64 secondShow = clock.elapsed();
    EXPECT_EQ(toast.panel(), panel) << "the panel is kept, not made anew";
    EXPECT_LT(panel->windowOpacity(), 0.1) << "every show fades in from nothing";

    const qint64 opaqueAgain = msUntil(clock, 1s, [&] { return panel->windowOpacity() > 0.99; });
    EXPECT_GE(opaqueAgain, secondShow + 150);
    EXPECT_LE(opaqueAgain, secondShow + 300 + slackMs);
    // The first show's timer, 1.5 s after it, starts the fade: about 0.5 s into the second toast.
    const qint64 fading = msUntil(clock, 3s, [&] { return panel->windowOpacity() < 0.99; });
    EXPECT_GE(fading, 1500);
    EXPECT_LE(fading, 1500 + slackMs);
    const qint64 hidden = msUntil(clock, 3s, [&] { return !panel->isVisible(); });
    EXPECT_GE(hidden, 1850);
    EXPECT_LE(hidden, 1850 + slackMs);

    // The second show's own timer comes later, finds the panel hidden and leaves it so.
    test::processEventsFor(std::chrono::milliseconds(secondShow + 1700 - clock.elapsed()));
    EXPECT_FALSE(panel->isVisible());

    toast.show(primaryCentre());
    EXPECT_TRUE(panel->isVisible()) << "a hidden panel shows again";
    EXPECT_EQ(toast.panel(), panel);
}

TEST(CopiedToastTest, DrawsAnOutlinedCapsuleWithABlueSymbolAndWhiteText)
{
    CopiedToast toast;
    toast.show(primaryCentre());
    QWidget* panel = toast.panel();

    for (const qreal ratio : {1.0, 2.0}) {
        QImage image(panel->size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        panel->render(&image, {}, {}, QWidget::DrawChildren);
        const QImage plain = image.convertToFormat(QImage::Format_ARGB32);

        const auto scaled = [&](int x, int y) { return plain.pixelColor(int(x * ratio), int(y * ratio)); };
        EXPECT_EQ(scaled(0, 0).alpha(), 0) << "corners stay clear: a capsule, not a box";
        EXPECT_EQ(scaled(259, 45).alpha(), 0);
        const QColor middle = scaled(130, 4);
        EXPECT_GT(middle.alpha(), 180) << "capsule top edge is opaque enough to read on";
        EXPECT_LT(middle.lightness(), 80);
        EXPECT_GT(scaled(130, 43).alpha(), 0) << "a shadow below the capsule";

        int blue = 0;
        int white = 0;
        for (int y = 0; y < plain.height(); ++y) {
            for (int x = 0; x < plain.width(); ++x) {
                const QColor c = plain.pixelColor(x, y);
                if (c.alpha() > 200 && c.blue() > 200 && c.red() < 80 && c.green() > 90 && c.green() < 170)
                    ++blue;
                if (c.alpha() > 200 && c.red() > 230 && c.green() > 230 && c.blue() > 230)
                    ++white;
            }
        }
        EXPECT_GT(blue, int(60 * ratio * ratio)) << "the tinted clipboard symbol";
        EXPECT_GT(white, int(60 * ratio * ratio)) << "the label";

        const QString suffix = ratio > 1 ? QStringLiteral("@2x") : QString();
        saveSnapshot(image, QStringLiteral("copied-toast%1.png").arg(suffix));
        for (const auto& [name, backdrop] :
             {std::pair{"light", QColor(0xf2, 0xf2, 0xf2)}, std::pair{"dark", QColor(0x3a, 0x3f, 0x44)}}) {
            QImage onBackdrop(image.size(), QImage::Format_ARGB32_Premultiplied);
            onBackdrop.setDevicePixelRatio(ratio);
            onBackdrop.fill(backdrop);
            QPainter(&onBackdrop).drawImage(QPoint(), image.copy());
            saveSnapshot(onBackdrop, QStringLiteral("copied-toast-on-%1%2.png").arg(name, suffix));
        }
    }
}

} // namespace
