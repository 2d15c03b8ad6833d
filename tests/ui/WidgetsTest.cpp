#include "support/TestSupport.h"
#include "ui/widgets/SegmentedControl.h"
#include "ui/widgets/SymbolIcon.h"
#include "ui/widgets/ToggleSwitch.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace quillary;

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

} // namespace

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
