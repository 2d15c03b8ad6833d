// The toast, the tray icon and the settings window's own widgets.
#include "support/TestSupport.h"
#include "ui/CopiedToast.h"
#include "ui/TrayIcon.h"
#include "ui/widgets/SegmentedControl.h"
#include "ui/widgets/SymbolIcon.h"
#include "ui/widgets/ToggleSwitch.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <numeric>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

// A window that records the keys its children leave unhandled.
class KeyRecorder final : public QWidget {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { keys.append(event->key()); }
};

void showAndActivate(QWidget& window)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == &window; }));
}

TEST(WidgetsTest, EverySymbolOfTheSettingsWindowDrawsInItsTint)
{
    const QColor tint(255, 0, 0);
    for (const QString& name :
         QStringLiteral(
             "gearshape speaker.wave.2 folder folder.badge.gearshape exclamationmark.triangle.fill "
             "camera.viewfinder timer plus.square arrow.right.square pencil.line bell doc.on.clipboard "
             "folder.badge.plus folder.badge.questionmark checkmark.circle.fill circle "
             "slider.horizontal.3 trash plus xmark "
             // the icons the standard folders are stored with
             "folder.fill doc.text.fill arrow.down.circle.fill photo.fill")
             .split(u' ')) {
        ASSERT_TRUE(hasSymbol(name)) << name.toStdString();
        const QImage image = symbolIcon(name, tint, 15).pixmap(15, 15).toImage();
        qreal ink = 0; // in whole pixels
        int offTint = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                ink += pixel.alphaF();
                offTint += pixel.alpha() == 255 && pixel.rgb() != tint.rgb();
            }
        EXPECT_GE(ink, 15) << name.toStdString();
        EXPECT_EQ(offTint, 0) << name.toStdString();
    }
}

TEST(WidgetsTest, SwitchTogglesWithSpaceAndClickAndLeavesReturnToTheWindow)
{
    KeyRecorder window;
    auto* toggle = new ToggleSwitch(&window);
    toggle->setAccessibleName(QStringLiteral("Launch at Login"));
    QSignalSpy toggled(toggle, &QAbstractButton::toggled);
    showAndActivate(window);
    toggle->setFocus();

    QTest::keyClick(toggle, Qt::Key_Space);
    EXPECT_TRUE(toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(toggled.size(), 2);
    QTest::keyClick(toggle, Qt::Key_Return);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(window.keys, QList<int>{Qt::Key_Return});

    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(toggle);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), QAccessible::CheckBox);
    EXPECT_EQ(face->text(QAccessible::Name), QStringLiteral("Launch at Login"));
    toggle->setChecked(true);
    EXPECT_TRUE(face->state().checked);
}

// The switch draws the state it holds, also when it was set with its signals blocked (as the preference
// bindings do) and when it was turned back while its knob was still sliding; a shown knob slides.
TEST(WidgetsTest, SwitchDrawsTheStateItHolds)
{
    ToggleSwitch reference;
    reference.resize(reference.sizeHint());
    const QImage off = reference.grab().toImage();
    reference.setChecked(true);
    const QImage on = reference.grab().toImage();
    ASSERT_NE(on, off);
    for (const bool shown : {false, true}) {
        ToggleSwitch toggle;
        toggle.setFocusPolicy(Qt::NoFocus); // no focus ring in the picture
        toggle.resize(toggle.sizeHint());
        toggle.move(QCursor::pos() + QPoint(50, 50)); // nor hover
        toggle.setVisible(shown);
        {
            const QSignalBlocker quiet(&toggle);
            toggle.setChecked(true);
        }
        EXPECT_TRUE(test::waitUntil([&] { return toggle.grab().toImage() == on; })) << shown;
        toggle.click();
        EXPECT_EQ(toggle.grab().toImage() == on, shown) << "a shown knob slides, a hidden one jumps";
        QTest::qWait(30);
        toggle.click();
        EXPECT_TRUE(toggle.isChecked());
        EXPECT_TRUE(test::waitUntil([&] { return toggle.grab().toImage() == on; })) << shown;
    }
}

// One tab stop whose arrows choose, and screen readers hear which segment is chosen.
TEST(WidgetsTest, SegmentedControlIsOneTabStopWhoseArrowsChoose)
{
    KeyRecorder window;
    auto* layout = new QVBoxLayout(&window);
    auto* before = new QLineEdit(&window);
    auto* control = new SegmentedControl(&window);
    auto* after = new QLineEdit(&window);
    layout->addWidget(before);
    layout->addWidget(control);
    layout->addWidget(after);
    for (const char* format : {"png", "jpg", "pdf"})
        control->addSegment(QString::fromLatin1(format).toUpper(), QString::fromLatin1(format));
    control->setAccessibleName(QStringLiteral("Format"));
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control);
    EXPECT_EQ(face->role(), QAccessible::Grouping);
    EXPECT_EQ(face->text(QAccessible::Name), QStringLiteral("Format"));
    const auto checkedNames = [face] {
        QStringList names;
        for (int i = 0; i < face->childCount(); ++i) {
            EXPECT_EQ(face->child(i)->role(), QAccessible::RadioButton);
            if (face->child(i)->state().checked)
                names.append(face->child(i)->text(QAccessible::Name));
        }
        return names;
    };
    control->setValue(QStringLiteral("gif")); // no such segment
    EXPECT_EQ(control->value(), QString());
    EXPECT_EQ(checkedNames(), QStringList());
    control->setValue(QStringLiteral("jpg"));
    EXPECT_EQ(checkedNames(), QStringList{"JPG"});
    QSignalSpy activated(control, &SegmentedControl::activated);
    showAndActivate(window);
    before->setFocus();

    QTest::keyClick(before, Qt::Key_Tab);
    ASSERT_TRUE(control->isAncestorOf(QApplication::focusWidget()));
    const std::pair<Qt::Key, const char*> steps[] = {
        {Qt::Key_Right, "pdf"}, {Qt::Key_Right, "pdf"}, {Qt::Key_Left, "jpg"}, {Qt::Key_Up, "png"}};
    for (const auto& [key, expected] : steps) {
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(control->value(), QString::fromLatin1(expected)) << key;
    }
    EXPECT_EQ(checkedNames(), QStringList{"PNG"});
    QStringList heard; // nothing for the step past the last segment
    for (const QList<QVariant>& signal : activated)
        heard.append(signal.at(0).toString());
    EXPECT_EQ(heard, (QStringList{"pdf", "jpg", "png"}));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(window.keys, QList<int>{Qt::Key_Return});
    // One stop each way, though the segments were made after the field that follows.
    const std::pair<Qt::Key, QWidget*> tabs[] = {
        {Qt::Key_Tab, after}, {Qt::Key_Backtab, control}, {Qt::Key_Backtab, before}};
    for (const auto& [key, expected] : tabs) {
        QTest::keyClick(QApplication::focusWidget(), key);
        QWidget* focused = QApplication::focusWidget();
        EXPECT_TRUE(focused == expected || expected->isAncestorOf(focused)) << key;
    }
}

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

} // namespace
