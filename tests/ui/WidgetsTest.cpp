// The toast, the tray icon and the settings window's own widgets.
#include "support/TestSupport.h"
#include "ui/CopiedToast.h"
#include "ui/TrayIcon.h"
#include "ui/widgets/SegmentedControl.h"
#include "ui/widgets/ToggleSwitch.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QVBoxLayout>

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

// Return is left to the window: SettingsViewTest.ReturnClosesTheWindowWhereverTheFocusIs.
TEST(WidgetsTest, SwitchTogglesWithSpaceAndClick)
{
    QWidget window;
    auto* toggle = new ToggleSwitch(&window);
    QSignalSpy toggled(toggle, &QAbstractButton::toggled);
    showAndActivate(window);
    toggle->setFocus();

    QTest::keyClick(toggle, Qt::Key_Space);
    EXPECT_TRUE(toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(toggled.size(), 2);

    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(toggle);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), QAccessible::CheckBox);
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
    auto* before = new QLineEdit(&window);
    auto* control = new SegmentedControl(&window);
    auto* after = new QLineEdit(&window);
    auto* layout = new QVBoxLayout(&window);
    for (QWidget* widget : std::initializer_list<QWidget*>{before, control, after})
        layout->addWidget(widget);
    for (const char* format : {"png", "jpg", "pdf"})
        control->addSegment(QString::fromLatin1(format).toUpper(), QString::fromLatin1(format));
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control);
    const auto checkedNames = [face] {
        QStringList names;
        for (int i = 0; i < face->childCount(); ++i)
            if (face->child(i)->state().checked)
                names.append(face->child(i)->text(QAccessible::Name));
        return names;
    };
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
    return makeTrayIcon(pending, darkPanel).pixmap(size).toImage();
}

// Only the lower right changes, and only while screenshots are pending; the count is spelled up to 99.
TEST(TrayIconTest, BadgeAtTheLowerRightCountsWhatIsPending)
{
    const QRect lowerRight(11, 11, 11, 11);
    for (const bool dark : {false, true}) {
        const QImage plain = render(0, dark);
        for (const int pending : {-3, 1, 42, 150}) {
            const QImage image = render(pending, dark);
            EXPECT_EQ(image.copy(lowerRight) == plain.copy(lowerRight), pending <= 0) << pending;
            EXPECT_EQ(image.copy(0, 0, 22, 8), plain.copy(0, 0, 22, 8)) << pending;
        }
    }
    EXPECT_NE(render(1, false), render(7, false));
    EXPECT_NE(render(9, false), render(99, false));
    EXPECT_EQ(render(150, false), render(99, false));
}

// Runs xprop on the window (another X client, as a window manager is); returns what it printed.
QString xprop(QWidget& window, const QStringList& arguments)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), QStringList{"-id", QString::number(window.winId())} + arguments);
    EXPECT_TRUE(xprop.waitForFinished(5000));
    return QString::fromUtf8(xprop.readAllStandardOutput());
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
    showAndActivate(other);
    CopiedToast toast;
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    toast.show(centre);
    QWidget* panel = toast.panel();
    test::processEventsFor(300ms);
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowTransparentForInput));
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
    toast.show(centre);
    test::processEventsFor(100ms);
    EXPECT_EQ(toast.panel(), panel) << "the panel is kept, not made anew";
    EXPECT_TRUE(xprop(*panel, {"_NET_WM_DESKTOP"}).contains(u"= 4294967295")) << "on every desktop";
}

} // namespace
